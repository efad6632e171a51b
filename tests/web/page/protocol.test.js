// The page's wire formats: what it sends is byte for byte what the desktop
// client's builders write, and its readers take numbers, lines, messages and
// bridge messages as the desktop client does.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import * as p from '../../../server/web/page/protocol.js';
import { random, webcheck } from './desktop.js';

test('upstream lines are the desktop client’s, blanks and signs included', () => {
  const r = random(3);
  const number = () => r.pick([0, 1, -1, 32767, -32768, r.int(-2000, 2000), r.int(-32768, 32767)]);
  const calls = [['penUp'], ['clearAll'], ['memberRequest'], ['snapRequest', 'w0aZ9'], ['color', -1]];
  for (let i = 0; i < 300; ++i) {
    const name = r.pick(['penDown', 'draw', 'erase', 'color', 'width']);
    if (name === 'color') calls.push([name, r.pick([0, 16777215, r.int(0, 16777215), -r.int(1, 99999)])]);
    else if (name === 'width') calls.push([name, r.int(-3, 5)]);
    else calls.push([name, number(), number()]);
  }
  const build = {
    penUp: p.penUpLine,
    penDown: p.penDownLine,
    draw: p.drawLine,
    clearAll: p.clearAllLine,
    color: p.colorLine,
    width: p.widthLine,
    erase: p.eraseLine,
    memberRequest: p.memberRequestLine,
    snapRequest: p.snapRequestLine,
  };
  const desktop = webcheck(['upstream'], calls.map((c) => c.join(' ')).join('\n') + '\n');
  assert.equal(calls.map(([name, ...args]) => build[name](...args)).join(''), desktop);
});

test('numbers are read leniently and rounded halves to even within 16 bits', () => {
  const read = ['', 'abc', '-', '.', '120abc', '1.5e', ' \t7', '+3', '-2.5', '.5', '0032767.5', '-32768.5'];
  assert.deepEqual(read.map(p.readInt16), [0, 0, 0, 0, 120, 2, 7, 3, -2, 0, null, -32768]);
  assert.equal(p.readInt16('32767.4'), 32767);
  assert.equal(p.readInt16('-32769'), null);
  assert.equal(p.readInt32('4294967295'), null);
  assert.equal(p.readInt32('-2147483648'), -2147483648);
});

test('downstream lines need three or four fields and a command below 9', () => {
  assert.deepEqual(p.readDownLine('3:2: 10, 20'), { index: 3, command: 2, argument: ' 10, 20' });
  assert.deepEqual(p.readDownLine('3:2:1,2:extra'), { index: 3, command: 2, argument: '1,2' });
  assert.equal(p.readDownLine('3:2'), null);
  assert.equal(p.readDownLine('3:2:1:2:3'), null);
  assert.equal(p.readDownLine('3:9:1,2'), null);
  assert.equal(p.readDownLine('70000:2:1,2'), null);
  // The command is compared before rounding: 8.5 is 8, 8.9 is below 9 and rounds to 9.
  assert.equal(p.readDownLine('0:8.5:3').command, 8);
  assert.equal(p.readDownLine('0:8.9:3').command, 9);
  assert.deepEqual(p.splitPoint(' 1, 2, 3'), [' 1', ' 2']);
  assert.deepEqual(p.splitPoint('7'), ['7', null]);
});

test('text messages and bridge messages', () => {
  assert.equal(p.remarkMessage('a\nb\r\nc'), '2<:>a\r\nb\r\nc');
  assert.deepEqual(p.readDownMessage('3<:>2<:>hi<:>cut'), { index: 3, type: 2, payload: 'hi' });
  assert.equal(p.readDownMessage('3<:>2'), null);
  assert.equal(p.readDownMessage('x<:>70000<:>a'), null);

  assert.equal(p.drawingMessage([p.penDownLine(1, -2), p.penUpLine()]), 'd1: 1,-2\r\n0:0\r\n');
  assert.deepEqual(p.readBridgeMessage('d0:8:2\r\n'), { kind: 'd', body: '0:8:2\r\n' });
  assert.equal(p.readBridgeMessage(''), null);
  assert.equal(p.readBridgeMessage(new ArrayBuffer(2)), null);
  assert.deepEqual(p.splitLines('1:0:0\r\n\r\n2:8:1\r\n'), ['1:0:0', '2:8:1']);
  assert.deepEqual(p.readExtension('end T 42'), { verb: 'end', token: 'T', fields: ['42'] });
});

test('the link lines: a claim and a ping out, their answers read strictly', () => {
  assert.equal(p.sessionLine('ab12'), '7:session ab12\r\n');
  assert.equal(p.pingLine('p1'), '7:ping p1\r\n');
  assert.deepEqual(p.readLinkLine('session ab12 0'), { verb: 'session', token: 'ab12', count: 0 });
  assert.deepEqual(p.readLinkLine('pong p1 123456789012'), {
    verb: 'pong',
    token: 'p1',
    count: 123456789012,
  });
  for (const odd of [
    'pong p1',
    'pong p1 -1',
    'pong p1 1 2',
    'pong p-1 1',
    'pong p1 1.5',
    'ping p1 1',
    'session  1',
  ])
    assert.equal(p.readLinkLine(odd), null, odd);
  assert.equal(p.readLinkLine(`session ${'a'.repeat(17)} 1`), null);
});

test('the characters the text channel cannot carry are the desktop client’s', () => {
  // Every character of the Basic Multilingual Plane, control characters
  // aside, then mixtures with pairs, look-alikes and neighbours.
  let all = '';
  for (let c = 0x20; c < 0x10000; ++c) if (c < 0xd800 || c > 0xdfff) all += String.fromCharCode(c);
  const r = random(21);
  const pieces = ['a', '絵', '😀', '한', '¥', '〜', '～', '①', '髙', 'ｶ', '\\', 'ñ', '\r\n', '👩‍👩‍👧', 'é'];
  const mixtures = [];
  for (let i = 0; i < 40; ++i)
    mixtures.push(Array.from({ length: r.int(1, 12) }, () => r.pick(pieces)).join(''));
  for (const text of [all, ...mixtures]) {
    const desktop = webcheck(['losses'], Buffer.from(text, 'utf8'))
      .split('\n')
      .filter((line) => line !== '')
      .map((line) => line.split(' ').map(Number));
    assert.deepEqual(
      p.cp932Losses(text).map(({ start, length }) => [start, length]),
      desktop,
      text.length < 100 ? text : 'all characters',
    );
  }
  assert.deepEqual(p.cp932Losses('今日は😀と한'), [
    { start: 3, length: 2 },
    { start: 6, length: 1 },
  ]);
});
