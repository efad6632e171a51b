// The page: one WebSocket to the server carries both channels of a member
// ("d" drawing lines with their "\r\n", "t" one chat message, "r" ready; see
// the bridge). Drawing lines go up in the desktop client's form, numbers with
// a leading blank ("2: 120, 45"); the picture is painted by the same rules.

import { Board, WHITE, readDownLine } from './board.js';
import { Chat } from './chat.js';
import { SnapshotReceiver, newToken } from './snapshot.js';
import { WIDTH, HEIGHT } from './raster.js';

const PALETTE = [255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0];
const PEN_SIZES = [1, 3, 5, 7]; // width values 0..3
const MEMBER_POLL_MS = 15000;
const SNAPSHOT_WAIT_MS = 5000; // a described server never answers
const DEFAULT_NAME = 'Sketoraユーザー';
const FONT_SIZE = 10;

const $ = (id) => document.getElementById(id);
const num = (v) => (v < 0 ? String(v) : ` ${v}`);
const clamp16 = (v) => Math.max(-32768, Math.min(32767, v));
const hexOf = (value) =>
  '#' + [value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff]
    .map((c) => c.toString(16).padStart(2, '0')).join('');

const board = new Board();
const chat = new Chat($('log'));
const canvas = $('board');
const context = canvas.getContext('2d');
const viewport = $('viewport');

const state = {
  ws: null,
  ready: false,
  joined: false,
  name: '',
  tool: 'pencil',
  colour: 0,
  width: 0,
  stroke: null,       // {x, y} of the last point while a stroke is in progress
  gesture: null,      // two-finger pan / zoom
  idle: false,        // fingers left after a gesture draw nothing until all are up
  pointers: new Map(),
  view: { scale: 1, tx: 0, ty: 0 },
  snapshot: null,     // SnapshotReceiver while one is expected
  held: null,         // lines received while a complete snapshot decodes
  ownSince: null,     // own paints since the snapshot request, replayed over it
  snapshotResult: 'none',
  snapshotAppliedAt: null,   // performance.now() when the picture was in place
  snapshotPaintedAt: null,   // ... and on the screen
  connectedAt: null,         // performance.now() of the WebSocket's opening
  timers: [],
};

// ---- connection -------------------------------------------------------------

function sendDrawing(...lines) {
  if (state.ready) state.ws.send('d' + lines.map((l) => l + '\r\n').join(''));
}

function sendText(message) {
  if (state.ready) state.ws.send('t' + message);
}

function connect() {
  setStatus('接続中…');
  state.connectedAt = performance.now();
  const ws = new WebSocket(`ws://${location.host}/ws`);
  state.ws = ws;
  ws.onmessage = (event) => {
    if (typeof event.data !== 'string' || event.data === '') return;
    const body = event.data.slice(1);
    switch (event.data[0]) {
    case 'r': onReady(); break;
    case 'd': receiveDrawing(body); break;
    case 't': if (chat.receive(body)) noteUnread(); break;
    default: break;
    }
  };
  ws.onclose = () => {
    state.ready = false;
    state.joined = false;
    state.timers.forEach(clearInterval);
    state.timers = [];
    setStatus('切断されました');
    $('reconnect').hidden = false;
  };
}

// The desktop client's order after connecting: colour, then width; then the
// picture as it is now, and the member count (asked again every 15 s).
function onReady() {
  state.ready = true;
  setStatus('接続しました');
  $('reconnect').hidden = true;
  const token = newToken();
  state.snapshot = new SnapshotReceiver(token);
  state.snapshotResult = 'waiting';
  state.ownSince = [];
  sendDrawing('4:' + num(state.colour), '5:' + num(state.width), `7:snap ${token}`, '8:member');
  setTimeout(() => { if (state.snapshot && state.snapshot.state === 'waiting') endSnapshot('none'); },
             SNAPSHOT_WAIT_MS);
  state.timers.push(setInterval(() => sendDrawing('8:member'), MEMBER_POLL_MS));
  // The chat window's announcement: name, size, colour, face.
  sendText(`1<:>${state.name}`);
  sendText(`7<:>${FONT_SIZE}`);
  sendText('6<:>0');
  sendText('8<:>0');
  state.joined = true;
}

function receiveDrawing(text) {
  for (const line of text.split('\r\n')) {
    if (line === '') continue;
    const fields = readDownLine(line);
    if (fields && fields.command === 7 && fields.argument === 'full') {
      // Every pen slot is taken: what this member draws reaches nobody.
      setStatus('満員です（描いた線はほかの人には届きません）');
    } else if (fields && fields.command === 7) {
      takeSnapshotLine(fields.index, fields.argument);
    } else if (state.held) {
      state.held.push(line);
    } else {
      board.applyLine(line);
    }
  }
  showMembers();
}

// Lines after the snapshot's end wait until its picture is in place.
function takeSnapshotLine(index, argument) {
  const snapshot = state.snapshot;
  if (!snapshot) return;
  const result = snapshot.take(index, argument);
  if (result === 'failed') {
    endSnapshot('failed');
  } else if (result === 'complete') {
    state.held = [];
    snapshot.decode().then((pixels) => {
      if (state.snapshot !== snapshot) return;
      if (pixels) {
        // The server took the picture before any of our later lines: they
        // come back on top of it, as they will at every other member.
        board.replace(pixels, snapshot.pens);
        for (const paint of state.ownSince) paint();
      }
      endSnapshot(pixels ? 'applied' : 'failed');
    });
  }
}

function endSnapshot(result) {
  state.snapshot = null;
  state.ownSince = null;
  state.snapshotResult = result;
  if (result === 'applied') {
    state.snapshotAppliedAt = performance.now();
    requestAnimationFrame(() => requestAnimationFrame(() => { state.snapshotPaintedAt = performance.now(); }));
  }
  const held = state.held || [];
  state.held = null;
  held.forEach((line) => board.applyLine(line));
  showMembers();
}

const drawingBlocked = () => !state.ready;

// Paints locally and remembers the paint while a snapshot may replace the picture.
function paintOwn(paint) {
  paint();
  if (state.ownSince) state.ownSince.push(paint);
}

// ---- status -----------------------------------------------------------------

function setStatus(text) { $('status').textContent = text; }
function showMembers() { $('members').textContent = `メンバ: ${board.memCount}`; }
function noteUnread() {
  if (document.body.classList.contains('chat-closed')) $('chatToggle').classList.add('unread');
}

// ---- pen, colour, width -----------------------------------------------------

function setColour(value) {
  if (!(value >= 0 && value <= WHITE)) return;
  state.colour = value;
  $('current').style.background = hexOf(value);
  $('chooser').value = hexOf(value);
  sendDrawing('4:' + num(value));
}

function setWidth(value) {
  state.width = value;
  for (const b of document.querySelectorAll('#widths button')) b.classList.toggle('on', +b.dataset.width === value);
  sendDrawing('5:' + num(value));
}

function setTool(tool) {
  state.tool = tool;
  for (const b of document.querySelectorAll('#tools [data-tool]')) b.classList.toggle('on', b.dataset.tool === tool);
  viewport.dataset.tool = tool;
}

function buildControls() {
  const palette = $('palette');
  PALETTE.forEach((value, i) => {
    const cell = document.createElement('button');
    cell.className = 'cell';
    cell.title = `色 ${i + 1}`;
    cell.style.background = hexOf(value);
    cell.addEventListener('click', () => setColour(value));
    palette.insertBefore(cell, $('chooser'));
  });
  $('chooser').addEventListener('change', (e) => {
    const hex = e.target.value;
    setColour(parseInt(hex.slice(1, 3), 16) + 256 * parseInt(hex.slice(3, 5), 16) +
              65536 * parseInt(hex.slice(5, 7), 16));
  });
  const widths = $('widths');
  PEN_SIZES.forEach((size, value) => {
    const b = document.createElement('button');
    b.dataset.width = value;
    b.textContent = `${size}`;
    b.title = `${size}x${size}ドット`;
    b.addEventListener('click', () => setWidth(value));
    widths.append(b);
  });
  for (const b of document.querySelectorAll('#tools [data-tool]'))
    b.addEventListener('click', () => setTool(b.dataset.tool));
  $('clear').addEventListener('click', () => {
    if (!window.confirm('全消去しますか？')) return;
    paintOwn(() => board.clearAll());
    sendDrawing('3:' + num(0) + ',' + num(0));
  });
  $('reconnect').addEventListener('click', () => location.reload());
  $('chatToggle').addEventListener('click', () => {
    document.body.classList.toggle('chat-closed');
    $('chatToggle').classList.remove('unread');
  });
  setColour(0);
  setWidth(0);
  setTool('pencil');
}

// ---- drawing with pointers ---------------------------------------------------

function boardPoint(e) {
  const rect = canvas.getBoundingClientRect();
  return {
    x: clamp16(Math.floor(((e.clientX - rect.left) * WIDTH) / rect.width)),
    y: clamp16(Math.floor(((e.clientY - rect.top) * HEIGHT) / rect.height)),
  };
}

function pick(p) {
  const value = board.pixelValue(p.x, p.y);
  if (value >= 0) setColour(value);
  else sendDrawing('4:' + num(value));
}

function strokeTo(p) {
  const last = state.stroke;
  if (p.x === last.x && p.y === last.y) return;
  if (state.tool === 'pencil') {
    const [w, c] = [state.width, state.colour];
    paintOwn(() => board.lineWrite(last.x, last.y, p.x, p.y, w, c));
    sendDrawing('2:' + num(p.x) + ',' + num(p.y));
  } else if (state.tool === 'eraser') {
    const w = state.width;
    paintOwn(() => board.lineWrite(last.x, last.y, p.x, p.y, w, WHITE));
    sendDrawing('6:' + num(p.x) + ',' + num(p.y));
  }
  state.stroke = p;
}

function endStroke() {
  if (!state.stroke) return;
  state.stroke = null;
  sendDrawing('0:0');
}

function pinchOf() {
  const [a, b] = [...state.pointers.values()];
  return { x: (a.x + b.x) / 2, y: (a.y + b.y) / 2, d: Math.hypot(a.x - b.x, a.y - b.y) || 1 };
}

function onPointerDown(e) {
  viewport.setPointerCapture(e.pointerId);
  state.pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
  if (state.pointers.size >= 2) {
    endStroke();
    state.gesture = { start: pinchOf(), view: { ...state.view } };
    state.idle = true;
    return;
  }
  if (state.idle || e.button !== 0) return;
  if (state.tool === 'hand') {
    state.gesture = { start: { x: e.clientX, y: e.clientY, d: 1 }, view: { ...state.view }, hand: true };
    return;
  }
  if (drawingBlocked()) return;
  const p = boardPoint(e);
  state.stroke = p;
  if (state.tool === 'picker') pick(p);
  else sendDrawing('1:' + num(p.x) + ',' + num(p.y));
}

function onPointerMove(e) {
  if (!state.pointers.has(e.pointerId)) return;
  state.pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
  if (state.gesture) {
    const g = state.gesture;
    const now = g.hand ? { x: e.clientX, y: e.clientY, d: 1 } : pinchOf();
    const scale = Math.max(0.1, Math.min(16, g.view.scale * (now.d / g.start.d)));
    const k = scale / g.view.scale;
    const origin = viewport.getBoundingClientRect();
    const sx = g.start.x - origin.left;
    const sy = g.start.y - origin.top;
    setView(scale, now.x - origin.left - (sx - g.view.tx) * k, now.y - origin.top - (sy - g.view.ty) * k);
    return;
  }
  if (!state.stroke) return;
  const events = e.getCoalescedEvents ? e.getCoalescedEvents() : [];
  for (const one of events.length ? events : [e]) {
    const p = boardPoint(one);
    if (state.tool === 'picker') pick(p);
    else strokeTo(p);
  }
}

function onPointerUp(e) {
  if (!state.pointers.delete(e.pointerId)) return;
  if (state.pointers.size < 2 && state.gesture && !state.gesture.hand) state.gesture = null;
  if (state.pointers.size === 0) {
    state.gesture = null;
    state.idle = false;
    if (state.stroke) endStroke();
  }
}

function setView(scale, tx, ty) {
  state.view = { scale, tx, ty };
  canvas.style.transform = `translate(${tx}px, ${ty}px) scale(${scale})`;
  canvas.classList.toggle('pixelated', scale >= 2);
}

function fitView() {
  const r = viewport.getBoundingClientRect();
  const scale = Math.min(1, r.width / WIDTH, r.height / HEIGHT) || 1;
  setView(scale, 0, 0);
}

function onWheel(e) {
  e.preventDefault();
  const v = state.view;
  if (e.ctrlKey) {
    const origin = viewport.getBoundingClientRect();
    const scale = Math.max(0.1, Math.min(16, v.scale * Math.exp(-e.deltaY / 300)));
    const k = scale / v.scale;
    const px = e.clientX - origin.left;
    const py = e.clientY - origin.top;
    setView(scale, px - (px - v.tx) * k, py - (py - v.ty) * k);
  } else {
    setView(v.scale, v.tx - e.deltaX, v.ty - e.deltaY);
  }
}

function paint() {
  const d = board.takeDirty();
  if (d) context.putImageData(board.image, 0, 0, d[0], d[1], d[2] - d[0] + 1, d[3] - d[1] + 1);
  requestAnimationFrame(paint);
}

// ---- chat ------------------------------------------------------------------

function buildChat() {
  const remark = $('remark');
  $('say').addEventListener('submit', (e) => {
    e.preventDefault();
    const text = remark.value;
    if (text === '' || !state.ready) return;
    sendText(`2<:>${text.replace(/\r?\n/g, '\r\n')}`);
    remark.value = '';
    remark.focus();
  });
  remark.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && !e.shiftKey && !e.ctrlKey && !e.isComposing) {
      e.preventDefault();
      $('say').requestSubmit();
    }
  });
  $('memberList').addEventListener('click', () => sendText('4<:>member'));
  $('rename').addEventListener('click', () => {
    const name = (window.prompt('新しい名前', state.name) || '').trim();
    if (!name) return;
    state.name = name;
    localStorage.setItem('sketora.name', name);
    sendText(`3<:>${name}`);
  });
}

// ---- start -----------------------------------------------------------------

function askName() {
  const dialog = $('nameDialog');
  const input = $('name');
  input.value = localStorage.getItem('sketora.name') || DEFAULT_NAME;
  dialog.addEventListener('close', () => {
    state.name = input.value.trim() || DEFAULT_NAME;
    localStorage.setItem('sketora.name', state.name);
    $('myName').textContent = state.name;
    connect();
  }, { once: true });
  dialog.showModal();
}

buildControls();
buildChat();
viewport.addEventListener('pointerdown', onPointerDown);
viewport.addEventListener('pointermove', onPointerMove);
viewport.addEventListener('pointerup', onPointerUp);
viewport.addEventListener('pointercancel', onPointerUp);
viewport.addEventListener('wheel', onWheel, { passive: false });
window.addEventListener('resize', fitView);
window.addEventListener('pagehide', () => {
  // The chat window's close: leave, then the connection ends.
  if (state.joined) sendText('0<:>END');
  state.joined = false;
  if (state.ws) state.ws.close();
});
if (window.matchMedia('(max-width: 700px)').matches) document.body.classList.add('chat-closed');
fitView();
showMembers();
requestAnimationFrame(paint);
askName();

// For the page's own tests and for people curious in the console.
window.sketora = { board, chat, state, setTool, setColour, setWidth, fitView };
