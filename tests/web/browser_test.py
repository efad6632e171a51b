#!/usr/bin/python3
"""The browser page in headless chromium against the built sketoraServer.

A desktop member (raw sockets here; its picture computed by webcheck from the
desktop client's own classes) and the page must end with the same pixels,
hear each other in the chat, and see each other come and go.

The page's pure modules are tested under node (tests/web/page); here is
what needs the browser: decoding the snapshot's PNG, the chat on the screen,
pointers, touch and the whole page against the server.

SKETORA_BIN_DIR names the built programs. SKETORA_SCREENSHOTS=<dir> also saves
a desktop-sized and a phone-sized screenshot of the page there.
"""

import base64
import itertools
import os
import random
import shutil
import signal
import struct
import zlib
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

CHROMEDRIVER = '/usr/bin/chromedriver'


def missing_tools():
    """What the browser tests need and this machine lacks."""
    missing = []
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append('python3-selenium (selenium for /usr/bin/python3)')
    if not os.access(CHROMEDRIVER, os.X_OK):
        missing.append(f'chromium-driver ({CHROMEDRIVER})')
    if not shutil.which('chromium'):
        missing.append('chromium')
    return missing


if missing_tools():
    sys.exit('browser tests cannot run, missing: ' + ', '.join(missing_tools()) +
             '; `make deps` installs them')

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

BIN = os.environ.get('SKETORA_BIN_DIR', os.path.join(os.path.dirname(__file__), '../../build/bin'))
WEBCHECK = os.path.join(BIN, 'webcheck')
SERVER = os.path.join(BIN, 'sketoraServer')
OWN_INDEX = b'20'  # the desktop member's own lines replay as this index


def wait_for(condition, timeout=120.0, what='condition'):
    """Polls until `condition` holds; the timeout only guards against a hang."""
    end = time.time() + timeout
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError(f'timed out waiting for {what}')


class Server:
    """The built sketoraServer in `folder` on ports found free, started again at will on the same
    ports. A port taken between the probe and the first start is said on stderr; the server is then
    started on other ports."""

    def __init__(self, folder):
        self.folder = folder
        for _ in range(20):
            self.ports = free_ports(3)
            draw_port, text_port, http_port = self.ports
            self.args = [SERVER, '--draw-port', str(draw_port), '--text-port', str(text_port),
                         '--http-port', str(http_port)]
            if self.start():
                return
            self.stop()
        raise AssertionError('no free ports for the server')

    def start(self):
        """False when the server could not listen on one of its ports."""
        self.process = subprocess.Popen(self.args, cwd=self.folder, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE,
                                        env=dict(os.environ, QT_QPA_PLATFORM='offscreen'))
        self.stderr = b''
        process = self.process

        def read_stderr():
            for line in process.stderr:
                if process is self.process:
                    self.stderr += line
        threading.Thread(target=read_stderr, daemon=True).start()
        refusals = ['待ち受けできません'.encode(), 'ページを開けません'.encode()]
        refused = lambda: any(r in self.stderr for r in refusals)
        wait_for(lambda: b'http://' in self.stderr or refused() or self.process.poll() is not None,
                 what='the page address on stderr')
        if self.process.poll() is not None:
            raise AssertionError(f'the server ended at its start: {self.stderr.decode(errors="replace")}')
        return not refused()

    def start_again(self):
        if not self.start():
            raise AssertionError(f'the server could not listen again: {self.stderr.decode(errors="replace")}')

    def kill(self):
        self.process.kill()
        self.process.wait(120)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)
            self.process.terminate()
        self.process.wait(120)


def free_ports(n):
    """Ports free now, from below the system's range for outgoing connections: one of those could
    be taken as the local end of another program's connection before a server is started again."""
    with open('/proc/sys/net/ipv4/ip_local_port_range') as f:
        low = int(f.read().split()[0])
    first = 20000
    ports = []
    candidate = random.randrange(max(low - first, 1))
    while len(ports) < n and candidate < 2 * (low - first):
        port = first + candidate % (low - first)
        candidate += 1
        with socket.socket() as s:
            try:
                s.bind(('0.0.0.0', port))
            except OSError:
                continue
        if port not in ports:
            ports.append(port)
    if len(ports) < n:
        raise AssertionError('no free ports below the ephemeral range')
    return ports


class Channel:
    """One raw TCP channel of the desktop member; keeps everything received."""

    def __init__(self, port, log=None):
        self.sock = socket.create_connection(('127.0.0.1', port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.data = b''
        self.lock = threading.Lock()
        self.log = log  # ordered record of ('in', bytes) / ('out', line)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            with self.lock:
                self.data += chunk
                if self.log is not None:
                    self.log.append(('in', chunk))

    def send(self, data):
        with self.lock:
            if self.log is not None:
                self.log.append(('out', data))
        self.sock.sendall(data)

    def received(self):
        with self.lock:
            return self.data


class Desk:
    """A desktop member: both channels, lines as the desktop client writes them."""

    def __init__(self, draw_port, text_port):
        self.events = []
        self.draw = Channel(draw_port, self.events)
        self.text = Channel(text_port)

    def line(self, line):
        self.draw.send(line.encode('ascii') + b'\r\n')

    @staticmethod
    def stroke_lines(colour, width, points):
        n = lambda v: str(v) if v < 0 else f' {v}'
        return ([f'4:{n(colour)}', f'5:{n(width)}', f'1:{n(points[0][0])},{n(points[0][1])}'] +
                [f'2:{n(x)},{n(y)}' for x, y in points[1:]] + ['0:0'])

    def stroke(self, colour, width, points):
        for line in self.stroke_lines(colour, width, points):
            self.line(line)

    def say(self, message):
        self.text.send(message.encode('cp932') + b'%EOT%')

    def picture_checksum(self):
        """The picture a desktop client with this member's lines would show."""
        stream = b''
        with self.draw.lock:
            for kind, data in self.events:
                if kind == 'in':
                    stream += data
                else:
                    stream += b'\r\n'.join(OWN_INDEX + b':' + l for l in data.split(b'\r\n') if l)
                    stream += b'\r\n'
        out = subprocess.run([WEBCHECK, 'replay'], input=stream, capture_output=True, check=True)
        return int(out.stdout)

    def texts(self):
        return [m.decode('cp932', 'replace') for m in self.text.received().split(b'%EOT%') if m]

    def replay(self, own_lines):
        """The picture a desktop client shows after only these lines of this member."""
        stream = b''.join(OWN_INDEX + b':' + line.encode('ascii') + b'\r\n' for line in own_lines)
        out = subprocess.run([WEBCHECK, 'replay'], input=stream, capture_output=True, check=True)
        return int(out.stdout)

    def member_count(self):
        before = self.draw.received().count(b'0:8:')
        self.line('8:member')
        wait_for(lambda: self.draw.received().count(b'0:8:') > before, what='member count')
        return int(self.draw.received().rsplit(b'0:8:', 1)[1].split(b'\r\n')[0])


def fnv(pixels_rgb):
    """The picture checksum over RGB bytes in row-major order."""
    h = 2166136261
    for i in range(0, len(pixels_rgb), 3):
        v = pixels_rgb[i] | (pixels_rgb[i + 1] << 8) | (pixels_rgb[i + 2] << 16)
        h = ((h ^ v) * 16777619) & 0xFFFFFFFF
    return h


def png_rgb(width, height, rows):
    """An ordinary 8-bit RGB PNG without colour chunks."""
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    raw = b''.join(b'\x00' + row for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 6)) + chunk(b'IEND', b''))


def join(browser, name=None, before=''):
    """Enters the page's name form and waits until the snapshot is answered.

    Our server always answers; the page's waits for a server that never does
    are made longer than any run, so a busy machine is not taken for one.
    `before` is script run on the page before it connects."""
    wait_for(lambda: browser.execute_script('return !!window.sketora'), what='page script')
    browser.execute_script('const c = window.sketora.connection; c.snapshotWaitMs = 24 * 3600 * 1000;'
                           'c.timing.answerWaitMs = 24 * 3600 * 1000;' + before)
    if name is not None:
        field = browser.find_element(By.ID, 'name')
        field.clear()
        field.send_keys(name)
    browser.find_element(By.ID, 'enter').click()
    wait_for(lambda: browser.execute_script('return window.sketora.connection.ready'), what='page connected')
    wait_for(lambda: browser.execute_script('return window.sketora.feed.result') != 'waiting',
             what='snapshot answer')


def next_frame(browser):
    """Returns once the page has painted twice more."""
    browser.execute_async_script(
        'const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(() => done()));')


def start_browser(width, height):
    options = Options()
    for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', f'--window-size={width},{height}'):
        options.add_argument(arg)
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.server = Server(cls.tmp.name)
        cls.draw_port, cls.text_port, cls.http_port = cls.server.ports
        cls.url = f'http://127.0.0.1:{cls.http_port}/'
        cls.browser = start_browser(1280, 900)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.server.stop()
        cls.tmp.cleanup()

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def open_page(self, name):
        self.browser.get(self.url)
        join(self.browser, name)

    def page_checksum(self):
        return self.js('return window.sketora.board.checksum()')

    def canvas_point(self, x, y):
        """Client coordinates of board pixel (x, y)."""
        r = self.js('const r = document.getElementById("board").getBoundingClientRect();'
                    'return [r.left, r.top, r.width, r.height];')
        return r[0] + (x + 0.5) * r[2] / 1600, r[1] + (y + 0.5) * r[3] / 1200

    def test_address_printed_and_files_served(self):
        self.assertIn(f':{self.http_port}/'.encode(), self.server.stderr)
        self.browser.get(self.url + 'missing.js')
        self.assertNotIn('Sketora', self.browser.page_source)

    def test_snapshot_reader(self):
        rng = random.Random(5)
        rows = [bytes((x * 7 + y) % 256 for x in range(1600 * 3)) if y % 8 else rng.randbytes(1600 * 3)
                for y in range(1200)]  # some noise: the PNG needs several chunks
        png = png_rgb(1600, 1200, rows)
        good_sum = fnv(b''.join(rows))
        b64 = base64.b64encode(png).decode()
        chunks = [b64[i:i + 48000] for i in range(0, len(b64), 48000)]
        pens = [f'pen T {i} {i * 3} {-i} {i * 1000} {i % 4}' for i in range(21)]
        good = [f'board T 1600 1200 {len(png)} {len(chunks)}'] + [f'data T {c}' for c in chunks] + pens + [f'end T {good_sum}']
        odd = png_rgb(1599, 1200, [r[:1599 * 3] for r in rows])
        odd_b64 = base64.b64encode(odd).decode()
        cases = {
            'good': good,
            'checksum': good[:-1] + [f'end T {good_sum ^ 1}'],
            'chunks': [good[0]] + good[2:],
            'bytes': [f'board T 1600 1200 {len(png) + 1} {len(chunks)}'] + good[1:],
            'long line': [good[0], 'data T ' + chunks[0] + chunks[1][:1]] + good[2:],
            'pens': good[:-2] + [f'end T {good_sum}'],
            'size': [f'board T 1600 1200 {len(odd)} 1', 'data T ' + odd_b64] + pens + [f'end T {good_sum}'],
        }
        self.browser.get(self.url + 'style.css')
        results = self.browser.execute_async_script('''
            const [cases, done] = arguments;
            Promise.all([import('/snapshot.js'), import('/board.js')]).then(async ([{ SnapshotReceiver }, { Board }]) => {
              const out = {};
              for (const [name, lines] of Object.entries(cases)) {
                const r = new SnapshotReceiver('T');
                let state = r.take(0, 'snap T');  // a relayed request is not a reply
                for (const line of lines) state = r.take(0, line);
                const pixels = state === 'complete' ? await r.decode() : null;
                let sum = null;
                if (pixels) { const b = new Board(); b.replace(pixels, r.pens); sum = [b.checksum(), b.penX[20], b.penColor[20]]; }
                out[name] = [state, sum];
              }
              done(out);
            }).catch((e) => done(String(e)));''', cases)
        self.assertGreater(len(chunks), 2)
        self.assertEqual(results['good'], ['complete', [good_sum, 60, 20000]])
        for name in cases:
            if name != 'good':
                self.assertIsNone(results[name][1], name)

    def test_chat_rules(self):
        """The desktop chat's reading of downstream messages, as the page shows them."""
        self.browser.get(self.url + 'style.css')
        shown = self.browser.execute_async_script('''
            const [messages, done] = arguments;
            Promise.all([import('/chat.js'), import('/chatview.js')]).then(([{ Chat }, { ChatView }]) => {
              const log = document.createElement('div');
              const chat = new Chat();
              const view = new ChatView(log);
              messages.forEach((m) => view.show(chat.receive(m)));
              done([...log.children].map((p) => [p.className, p.textContent, p.style.color]));
            }).catch((e) => done(String(e)));''', [
            '3<:>5<:>taro', '3<:>6<:>255', '3<:>2<:>hello<:>cut here', '3<:>3<:>jiro', '3<:>9<:>nine',
            '3<:>2', '25<:>1<:>outside', '4<:>1<:>  hanako ', '0<:>4<:>taro\r\nhanako\r\n',
            '3<:>0<:>2', 'x<:>2<:>index 0'])
        self.assertEqual(shown, [
            ['notice', 'taro の発言 :', 'rgb(50, 50, 50)'],
            ['remark gothic', 'hello', 'rgb(255, 0, 0)'],
            ['notice', 'taro は jiro に名前変更しました', 'rgb(50, 50, 50)'],
            ['notice', '  hanako  さんが入室しました', 'rgb(50, 50, 50)'],
            ['notice', '\n現在のメンバ : \ntaro\nhanako\n', 'rgb(50, 50, 50)'],
            ['notice', 'jiro さんが退室しました', 'rgb(50, 50, 50)'],
            ['notice', ' の発言 :', 'rgb(50, 50, 50)'],
            ['remark gothic', 'index 0', 'rgb(0, 0, 0)'],
        ])

    def test_first_paint_of_a_full_board(self):
        desk = Desk(self.draw_port, self.text_port)
        wait_for(lambda: desk.draw.received().count(b'\r\n') >= 40, what='greeting')
        desk.line('7:sum probe')
        desk.member_count()  # answered after the probe: a server that answers it has
        if b'0:7:sum probe' not in desk.draw.received():
            self.skipTest('this server does not answer command 7')
        desk.line('3: 0, 0')  # what other tests drew is not in this member's view
        rng = random.Random(3)
        for _ in range(600):
            points = [(rng.randint(0, 1599), rng.randint(0, 1199)) for _ in range(6)]
            desk.stroke(rng.randint(0, 16777215), 3, points)
        desk.member_count()
        self.open_page('全面')
        wait_for(lambda: self.js('return window.sketora.feed.paintedAt'), what='painted')
        self.assertEqual(self.page_checksum(), desk.picture_checksum())
        # A figure, not a limit: how fast the page is belongs to bench/, not to a test.
        timing = self.js('''const s = window.sketora; const nav = performance.getEntriesByType('navigation')[0];
                           return [nav.domContentLoadedEventEnd, s.feed.paintedAt - s.connection.connectedAt];''')
        print(f'first paint of a full board: page loaded in {timing[0]:.0f} ms, picture on screen '
              f'{timing[1]:.0f} ms after connecting', file=sys.stderr)

    def test_desktop_and_page_draw_and_talk(self):
        desk = Desk(self.draw_port, self.text_port)
        wait_for(lambda: desk.draw.received().count(b'\r\n') >= 40, what='greeting')
        desk.say('1<:>机')
        wait_for(lambda: any('<:>1<:>机' in t for t in desk.texts()), what='own join')
        desk.stroke(255, 2, [(100, 100), (400, 300), (420, 900)])
        desk.member_count()  # the stroke has reached the server

        start = time.time()
        self.open_page('花子')
        snapshot = self.js('return window.sketora.feed.result')
        if snapshot == 'applied':  # the server answers command 7
            print(f'first paint of the board: {self.js("return window.sketora.feed.appliedAt"):.0f} ms '
                  f'after navigation ({time.time() - start:.2f} s including the name form)', file=sys.stderr)
            self.assertEqual(self.page_checksum(), desk.picture_checksum())
        else:
            self.assertEqual(snapshot, 'none')
        wait_for(lambda: desk.member_count() == 2, what='two members at the desk')
        wait_for(lambda: self.js('return document.getElementById("members").textContent') == '描画 2人',
                 what='member count on the page')
        desk.line('3: 0, 0')  # both sides blank from here, whatever the server version
        blank = desk.picture_checksum()
        wait_for(lambda: self.page_checksum() == blank, what='the clear-all on the page')

        # A stroke drawn with the mouse in the page reaches the desk.
        self.js('window.sketora.setWidth(1); window.sketora.setColour(16711680)')
        drawing = self.browser.find_element(By.ID, 'viewport')
        before = desk.draw.received().count(b':0:0\r\n')
        chain = ActionChains(self.browser)
        x0, y0 = self.canvas_point(300, 300)
        chain.move_by_offset(0, 0)
        chain.w3c_actions.pointer_action.move_to_location(int(x0), int(y0))
        chain.w3c_actions.pointer_action.pointer_down()
        for k in range(1, 12):
            x, y = self.canvas_point(300 + 60 * k, 300 + (25 * k) % 140)
            chain.w3c_actions.pointer_action.move_to_location(int(x), int(y))
        chain.w3c_actions.pointer_action.pointer_up()
        chain.perform()
        wait_for(lambda: desk.draw.received().count(b':0:0\r\n') > before, what='the page stroke')
        self.assertRegex(desk.draw.received().decode(), r'\d+:2: \d+, \d+\r\n')
        self.assertNotEqual(self.page_checksum(), blank, 'the page stroke painted nothing')
        wait_for(lambda: self.page_checksum() == desk.picture_checksum(), what='same pixels after the page stroke')

        # A desk stroke reaches the page.
        desk.stroke(65280, 3, [(50, 1000), (1500, 1100), (1590, 20)])
        wait_for(lambda: self.page_checksum() == desk.picture_checksum(), what='same pixels after the desk stroke')

        # One finger of a touch screen draws; two fingers pan and zoom.
        self.browser.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 5})
        before = desk.draw.received().count(b':0:0\r\n')
        points = [self.canvas_point(200 + 40 * k, 700 - 20 * k) for k in range(10)]
        touch = lambda kind, pts: self.browser.execute_cdp_cmd(
            'Input.dispatchTouchEvent', {'type': kind, 'touchPoints': [{'x': x, 'y': y, 'id': i} for i, (x, y) in enumerate(pts)]})
        touch('touchStart', points[:1])
        for p in points[1:]:
            touch('touchMove', [p])
        touch('touchEnd', [])
        wait_for(lambda: desk.draw.received().count(b':0:0\r\n') > before, what='the touch stroke')
        wait_for(lambda: self.page_checksum() == desk.picture_checksum(), what='same pixels after touch')
        lines_before = desk.draw.received().count(b'\r\n')
        scale_before = self.js('return window.sketora.view.scale')
        a, b = self.canvas_point(600, 600), self.canvas_point(800, 600)
        touch('touchStart', [a])
        touch('touchStart', [a, b])
        for k in range(1, 8):
            touch('touchMove', [(a[0] - 10 * k, a[1]), (b[0] + 10 * k, b[1])])
        touch('touchEnd', [])
        wait_for(lambda: self.js('return window.sketora.view.scale') > scale_before, what='the pinch zooming')
        # The page's next line reaches the desk after anything the pinch sent.
        colour_line = b':4: 16711680\r\n'
        colours_before = desk.draw.received().count(colour_line)
        self.js('window.sketora.setColour(16711680)')
        wait_for(lambda: desk.draw.received().count(colour_line) > colours_before, what='the line after the pinch')
        self.assertEqual(self.page_checksum(), desk.picture_checksum(), 'a pinch painted something')
        new = desk.draw.received().split(b'\r\n')[lines_before:]
        self.assertFalse([l for l in new if b':2:' in l or b':6:' in l], new)
        # Nor did the second finger leave an empty stroke (pen down, pen up).
        commands = [l.split(b':')[1] for l in new if l.count(b':') >= 2]
        self.assertFalse([c for c in commands if c in (b'0', b'1')], new)

        # Chat both ways, Japanese text, shown as text.
        desk.say('2<:>こんにちは、<b>ブラウザ</b>')
        wait_for(lambda: 'こんにちは、<b>ブラウザ</b>' in self.js('return document.getElementById("log").textContent'),
                 what='the desk remark on the page')
        self.assertEqual(self.js('return document.querySelectorAll("#log b").length'), 0)
        self.assertIn('机 の発言 :', self.js('return document.getElementById("log").textContent'))
        remark = self.browser.find_element(By.ID, 'remark')
        remark.send_keys('やあ、机さん')
        remark.send_keys(Keys.ENTER)
        wait_for(lambda: any(t.endswith('<:>2<:>やあ、机さん') for t in desk.texts()), what='the page remark at the desk')
        self.assertTrue(any(t.endswith('<:>1<:>花子') for t in desk.texts()))

        if os.environ.get('SKETORA_SCREENSHOTS'):
            self.screenshots(desk)

        # Closing the tab: the chat leave, then one member fewer.
        self.browser.switch_to.new_window('tab')
        keep = self.browser.current_window_handle
        self.browser.switch_to.window(self.browser.window_handles[0])
        self.browser.close()
        self.browser.switch_to.window(keep)
        wait_for(lambda: any(t.endswith('<:>0<:>END') for t in desk.texts()), what='the leave notice')
        wait_for(lambda: desk.member_count() == 1, what='one member after the tab closed')

    def mouse_stroke(self, points):
        chain = ActionChains(self.browser)
        chain.move_by_offset(0, 0)
        for k, (x, y) in enumerate(points):
            cx, cy = self.canvas_point(x, y)
            chain.w3c_actions.pointer_action.move_to_location(int(cx), int(cy))
            if k == 0:
                chain.w3c_actions.pointer_action.pointer_down()
        chain.w3c_actions.pointer_action.pointer_up()
        chain.perform()

    def ctrl(self, key):
        ActionChains(self.browser).key_down(Keys.CONTROL).send_keys(key).key_up(Keys.CONTROL).perform()

    def test_undo_and_redo_on_the_page(self):
        """The page takes back its own stroke under a later desk stroke, and hears of a clear."""
        desk = Desk(self.draw_port, self.text_port)
        wait_for(lambda: desk.draw.received().count(b'\r\n') >= 40, what='greeting')
        desk.line('7:me deskmember01 ' + base64.b64encode('机'.encode()).decode())
        wait_for(lambda: b'0:7:can ' in desk.draw.received(), what='the desk announced')
        self.open_page('花子')
        wait_for(lambda: self.js('return window.sketora.undo.offered'), what='the page announced')
        buttons = lambda: self.js('return [document.getElementById("undo").disabled,'
                                  ' document.getElementById("redo").disabled]')
        self.assertEqual(buttons(), [True, True])
        log = lambda: self.js('return document.getElementById("log").textContent')
        clear = '3: 0, 0'
        desk.line(clear)
        wait_for(lambda: '机 さんが全員のキャンバスを消去しました（' in log(), what='the clear notice')
        wait_for(lambda: self.page_checksum() == desk.replay([clear]), what='the clear on the page')

        self.js('window.sketora.setTool("pencil"); window.sketora.setWidth(2); window.sketora.setColour(255)')
        self.mouse_stroke([(300, 300), (700, 320), (720, 700)])
        wait_for(lambda: buttons() == [False, True], what='undo offered for the page stroke')
        later = Desk.stroke_lines(65280, 3, [(200, 500), (1000, 450)])
        for line in later:
            desk.line(line)
        drawn = wait_for(lambda: self.page_checksum() == desk.picture_checksum() and self.page_checksum(),
                         what='both strokes on the page')
        without = desk.replay([clear] + later)
        self.assertNotEqual(drawn, without)

        self.browser.find_element(By.ID, 'undo').click()
        wait_for(lambda: self.page_checksum() == without, what='the page stroke taken back')
        wait_for(lambda: desk.picture_checksum() == without, what='taken back at the desk')
        wait_for(lambda: buttons() == [True, False], what='redo offered')
        self.ctrl('y')
        wait_for(lambda: self.page_checksum() == drawn == desk.picture_checksum(), what='Ctrl+Y')
        self.ctrl('z')
        wait_for(lambda: self.page_checksum() == without == desk.picture_checksum(), what='Ctrl+Z')
        self.assertGreaterEqual(self.js('return window.sketora.feed.patches'), 3)

    def test_reconnect_through_a_killed_and_a_stopped_server(self):
        """The page draws on through a server killed mid-stroke and started
        again in its folder, then through one that stops answering (a dead
        link the page finds by its pings): each time it says so, reconnects
        by itself, and the server's board ends equal to the page's canvas
        with every segment the page drew."""
        folder = tempfile.TemporaryDirectory()
        server = Server(folder.name)
        ports = server.ports
        try:
            self.browser.get(f'http://127.0.0.1:{ports[2]}/')
            join(self.browser, '再接続', 'c.timing.pingMs = 200;')
            # What the pointer makes the page send, from the input itself.
            self.js('''const s = window.sketora, c = s.connection; window.drawn = [];
                       s.input.connection = { get canDraw() { return c.canDraw; },
                         sendDrawing: (...lines) => { window.drawn.push(...lines); c.sendDrawing(...lines); } };''')
            self.js('window.sketora.setTool("pencil"); window.sketora.setWidth(2); window.sketora.setColour(255)')
            mouse = lambda kind, x, y: self.browser.execute_cdp_cmd('Input.dispatchMouseEvent', {
                'type': kind, 'x': self.canvas_point(x, y)[0], 'y': self.canvas_point(x, y)[1],
                'button': 'left', 'buttons': 0 if kind == 'mouseReleased' else 1, 'clickCount': 1})
            status = lambda: self.js('return document.getElementById("status").textContent')
            kept = lambda: self.js('return window.sketora.connection.kept.size')
            reconnecting = 'サーバとの接続が切れました。再接続しています…'

            def back_again(what):
                wait_for(lambda: status() == '接続しました' and
                         self.js('return window.sketora.connection.phase') == 'open', what=what)

            tokens = itertools.count(1)

            def board_at_server(desk):
                token = f's{next(tokens)}'
                desk.line(f'7:snap {token}')
                end = f'0:7:end {token} '.encode()
                received = wait_for(lambda: end in desk.draw.received() and desk.draw.received(),
                                    what='the server picture')
                return int(received.split(end, 1)[1].split(b'\r\n', 1)[0])

            def all_agree(desk, what):
                lines = [l.removesuffix('\r\n') for l in self.js('return window.drawn')]
                expected = desk.replay(lines)
                wait_for(lambda: board_at_server(desk) == expected, what=what)
                self.assertEqual(self.page_checksum(), expected, what)

            mouse('mousePressed', 200, 200)
            for k in range(1, 6):
                mouse('mouseMoved', 200 + 50 * k, 200 + 30 * (k % 2))
            wait_for(lambda: kept() == 0, what='the first lines durable')
            for k in range(6, 12):
                mouse('mouseMoved', 200 + 50 * k, 200 + 30 * (k % 2))
            server.kill()
            wait_for(lambda: status() == reconnecting, what='the page telling of the outage')
            for k in range(12, 18):
                mouse('mouseMoved', 200 + 50 * k, 200 + 30 * (k % 2))
            mouse('mouseReleased', 1050, 230)
            self.js('window.sketora.setColour(65280)')
            mouse('mousePressed', 300, 600)
            for k in range(1, 8):
                mouse('mouseMoved', 300 + 40 * k, 600 - 35 * k)
            mouse('mouseReleased', 580, 355)
            # A phone asleep runs no timers: nothing waits to try again but
            # its waking up (visibilitychange), which tries at once.
            wait_for(lambda: self.js('''const c = window.sketora.connection;
                       if (c.retry === null || c.ws.readyState !== WebSocket.CLOSED) return false;
                       clearTimeout(c.retry); c.retry = null; return true;'''),
                     what='an attempt waiting for its time')
            server.start_again()
            self.js('document.dispatchEvent(new Event("visibilitychange"))')
            back_again('the page back on the started server')
            desk = Desk(ports[0], ports[1])
            all_agree(desk, 'the page and the started server agree')

            # A server that stops answering: the page's pings find it, it
            # draws on and comes back when the server does.
            self.js('window.sketora.connection.watch.timing = { pingMs: 200, deadMs: 2000 }')
            server.process.send_signal(signal.SIGSTOP)
            wait_for(lambda: status() == reconnecting, what='the dead link found')
            self.js('window.sketora.setColour(16711680)')
            mouse('mousePressed', 100, 1000)
            for k in range(1, 8):
                mouse('mouseMoved', 100 + 120 * k, 1000 + 20 * (k % 3))
            mouse('mouseReleased', 940, 1020)
            server.process.send_signal(signal.SIGCONT)
            back_again('the page back on the server that went on')
            all_agree(desk, 'the page and the server agree after the dead link')
        finally:
            server.stop()
            folder.cleanup()

    def test_phone_upright_and_sideways(self):
        """A 390 x 844 phone: fingers' targets, a header that keeps its words,
        the board filling its space either way up, and a remark with
        characters the chat cannot carry."""
        desk = Desk(self.draw_port, self.text_port)
        wait_for(lambda: desk.draw.received().count(b'\r\n') >= 40, what='greeting')
        desk.say('1<:>机')
        phone = start_browser(500, 900)
        try:
            def metrics(width, height):
                phone.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                      {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': True})
            metrics(390, 844)
            phone.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 5})
            phone.get(self.url)
            join(phone, 'スマホ')
            js = phone.execute_script
            small = js("""
                return [...document.querySelectorAll('button, input, #palette .cell')]
                  .filter((e) => e.getClientRects().length && !e.closest('dialog'))
                  .map((e) => [e.id || e.textContent || e.title, e.getBoundingClientRect()])
                  .filter(([, r]) => r.width < 44 || r.height < 44)
                  .map(([name, r]) => `${name} ${r.width}x${r.height}`);""")
            self.assertEqual(small, [])
            js('document.getElementById("status").textContent = "切断されました";'
               'document.getElementById("reconnect").hidden = false;')
            broken = js("""
                return [...document.querySelectorAll('#bar > *, button')]
                  .filter((e) => e.getClientRects().length)
                  .filter((e) => {
                    const range = document.createRange();
                    range.selectNodeContents(e);
                    return new Set([...range.getClientRects()].map((r) => Math.round(r.top))).size > 1;
                  })
                  .map((e) => e.textContent);""")
            self.assertEqual(broken, [])

            def fitted():
                js('window.sketora.fitView()')
                next_frame(phone)
                return js("""
                    const v = document.getElementById('viewport'), b = document.getElementById('board');
                    const r = v.getBoundingClientRect(), c = b.getBoundingClientRect();
                    return [v.clientWidth, v.clientHeight, c.width, c.height,
                            c.left - r.left - v.clientLeft, c.top - r.top - v.clientTop];""")
            # Upright the board is as wide as the screen and its viewport no taller.
            w, h, bw, bh, left, top = fitted()
            self.assertAlmostEqual(bw, w, delta=1)
            self.assertLessEqual(bh, h + 1)
            self.assertGreater(bh, h - 4, 'space left empty below the board')
            self.assertEqual((round(left), round(top)), (0, 0))
            # Sideways it is as tall as the space and whole in view.
            metrics(844, 390)
            w, h, bw, bh, left, top = fitted()
            self.assertAlmostEqual(bh, h, delta=1)
            self.assertLessEqual(bw, w + 1)

            # Emoji and Hangul: named under the box; sent only once agreed.
            metrics(390, 844)
            js('const r = document.getElementById("remark"); r.value = "今日は😀と한";'
               'r.dispatchEvent(new Event("input"));')
            note = phone.find_element(By.ID, 'remarkNote')
            self.assertTrue(note.is_displayed())
            self.assertIn('😀', note.text)
            self.assertIn('한', note.text)
            remark = phone.find_element(By.ID, 'remark')
            remark.send_keys(Keys.ENTER)
            alert = wait_for(lambda: self.alert(phone), what='the question')
            self.assertIn('😀 한', alert.text)
            alert.dismiss()
            self.assertEqual(js('return document.getElementById("remark").value'), '今日は😀と한')
            remark.send_keys(Keys.ENTER)
            wait_for(lambda: self.alert(phone), what='the question again').accept()
            wait_for(lambda: any(t.endswith('<:>2<:>今日は?と?') for t in desk.texts()), what='the remark at the desk')
            self.assertFalse(note.is_displayed())
            self.assertEqual(sum('今日は' in t for t in desk.texts()), 1)
        finally:
            phone.quit()

    @staticmethod
    def alert(browser):
        try:
            return browser.switch_to.alert
        except Exception:  # no question shown yet
            return None

    def screenshots(self, desk):
        folder = os.environ['SKETORA_SCREENSHOTS']
        sketch = [
            (16711680, 2, [(120, 620), (300, 420), (520, 560), (760, 380), (960, 600)]),
            (255, 3, [(200, 150), (260, 120), (330, 150), (300, 230), (230, 240), (200, 150)]),
            (32768, 1, [(700, 120), (800, 300), (600, 300), (700, 120)]),
        ]
        for colour, width, points in sketch:
            desk.stroke(colour, width, points)
        wait_for(lambda: self.page_checksum() == desk.picture_checksum(), what='picture for the screenshot')
        self.js('window.sketora.setTool("pencil"); window.sketora.fitView()')
        next_frame(self.browser)
        self.browser.save_screenshot(os.path.join(folder, 'web-desktop.png'))
        phone = start_browser(500, 900)
        try:
            phone.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                                  {'width': 390, 'height': 844, 'deviceScaleFactor': 1, 'mobile': True})
            phone.get(self.url)
            join(phone)
            if phone.execute_script('return window.sketora.feed.result') != 'applied':
                desk.line('3: 0, 0')  # a server without snapshots: start both from blank
                for colour, width, points in sketch:
                    desk.stroke(colour, width, points)
            desk.say('2<:>スマホからも描けます')
            wait_for(lambda: phone.execute_script('return window.sketora.board.checksum()') == desk.picture_checksum(),
                     what='picture on the phone')
            phone.execute_script('window.sketora.fitView()')
            next_frame(phone)
            phone.save_screenshot(os.path.join(folder, 'web-phone.png'))
        finally:
            phone.quit()


if __name__ == '__main__':
    unittest.main(verbosity=2)
