// The page: one member of the board through the server's bridge. This file
// wires the parts together and owns the page's controls; the wire formats are
// protocol.js's, the connection's state is connection.js's, the pen's and the
// pointers' input.js's, the view's view.js's.

import { Board } from './board.js';
import { Chat, notice } from './chat.js';
import { ChatView } from './chatview.js';
import { Connection } from './connection.js';
import { BoardFeed } from './feed.js';
import { PenInput, Tool } from './input.js';
import { cp932Losses, memberListMessage, remarkMessage } from './protocol.js';
import { Undo } from './undo.js';
import { View } from './view.js';

const PALETTE = [255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0];
const PEN_SIZES = [1, 3, 5, 7]; // width values 0..3
const DEFAULT_NAME = 'Sketoraユーザー';
const NAME_KEY = 'sketora.name';
const STATUS = {
  connecting: '接続中…',
  ready: '接続しました',
  closed: '切断されました',
  reconnecting: 'サーバとの接続が切れました。再接続しています…',
};
// The clear question as the desktop client asks it.
const CLEAR_QUESTION = {
  alone: '全消去しますか？',
  everyone: '全員のキャンバスを消去しますか？',
  undoable: '全員のキャンバスを消去しますか？\n消した人は「元に戻す」(Ctrl+Z) で取り消せます。',
};

const $ = (id) => document.getElementById(id);
const hexOf = (value) =>
  '#' +
  [value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff]
    .map((c) => c.toString(16).padStart(2, '0'))
    .join('');
const valueOfHex = (hex) =>
  parseInt(hex.slice(1, 3), 16) + 256 * parseInt(hex.slice(3, 5), 16) + 65536 * parseInt(hex.slice(5, 7), 16);

const board = new Board();
const chat = new Chat();
const chatView = new ChatView($('log'));
const viewport = $('viewport');
const view = new View(board, $('board'), viewport);

// Everybody connected to the board, desktop and browser; the chat's member
// list shows only those who joined the chat.
const showMembers = () => {
  $('members').textContent = `描画 ${board.memCount}人`;
};
const afterPaint = (f) => requestAnimationFrame(() => requestAnimationFrame(f));
// Every pen slot is taken: what this member draws reaches nobody.
const full = () => {
  $('status').textContent = '満員です（描いた線はほかの人には届きません）';
};
const showInChat = (entries) => {
  if (chatView.show(entries) && document.body.classList.contains('chat-closed'))
    $('chatToggle').classList.add('unread');
};
const undo = new Undo({
  send: (line) => connection.sendDrawing(line),
  changed: () => {
    $('undo').disabled = undo.undos === 0;
    $('redo').disabled = undo.redos === 0;
  },
  notice: (text) => showInChat([notice(text)]),
});
const feed = new BoardFeed(board, { afterPaint, changed: showMembers, undo, full });

const connection = new Connection({
  url: `ws://${location.host}/ws`,
  feed,
  pen: () => ({ colour: input.colour, width: input.width }),
  changed: (state) => {
    $('status').textContent = STATUS[state];
    $('reconnect').hidden = state !== 'closed';
    document.body.classList.toggle('reconnecting', state === 'reconnecting');
    if (state === 'closed' || state === 'reconnecting') undo.closed();
  },
  drawn: showMembers,
  text: (message) => showInChat(chat.receive(message)),
  announced: () => undo.begin(connection.name),
});

const input = new PenInput({ board, feed, connection, view, changed: showPen });

// ---- controls -------------------------------------------------------------------

function showPen() {
  $('current').style.background = hexOf(input.colour);
  $('chooser').value = hexOf(input.colour);
  for (const b of document.querySelectorAll('#widths button'))
    b.classList.toggle('on', +b.dataset.width === input.width);
  for (const b of document.querySelectorAll('#tools [data-tool]'))
    b.classList.toggle('on', b.dataset.tool === input.tool);
  viewport.dataset.tool = input.tool;
}

function buildControls() {
  const palette = $('palette');
  PALETTE.forEach((value, i) => {
    const cell = document.createElement('button');
    cell.className = 'cell';
    cell.title = `色 ${i + 1}`;
    cell.style.background = hexOf(value);
    cell.addEventListener('click', () => input.setColour(value));
    palette.insertBefore(cell, $('chooser'));
  });
  $('chooser').addEventListener('change', (e) => input.setColour(valueOfHex(e.target.value)));
  const widths = $('widths');
  PEN_SIZES.forEach((size, value) => {
    const b = document.createElement('button');
    b.dataset.width = value;
    b.textContent = `${size}`;
    b.title = `${size}x${size}ドット`;
    b.addEventListener('click', () => input.setWidth(value));
    widths.append(b);
  });
  for (const b of document.querySelectorAll('#tools [data-tool]'))
    b.addEventListener('click', () => input.setTool(b.dataset.tool));
  $('clear').addEventListener('click', () => {
    const question = !connection.ready ? 'alone' : undo.offered ? 'undoable' : 'everyone';
    if (window.confirm(CLEAR_QUESTION[question])) input.clearAll();
  });
  $('undo').addEventListener('click', () => undo.undo());
  $('redo').addEventListener('click', () => undo.redo());
  // Ctrl+Z / Ctrl+Y (and Ctrl+Shift+Z) everywhere but in text, which keeps its own.
  document.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.altKey || e.isComposing) return;
    if (e.target instanceof Element && e.target.closest('input, textarea')) return;
    const key = e.key.toLowerCase();
    if (key !== 'z' && key !== 'y') return;
    e.preventDefault();
    if (key === 'z' && !e.shiftKey) undo.undo();
    else undo.redo();
  });
  $('reconnect').addEventListener('click', () => location.reload());
  $('chatToggle').addEventListener('click', () => {
    document.body.classList.toggle('chat-closed');
    $('chatToggle').classList.remove('unread');
    view.fit(); // on a phone the board takes the chat's place, or gives it back
  });
  input.setColour(0);
  input.setWidth(0);
  input.setTool(Tool.Pencil);
}

function buildPointers() {
  viewport.addEventListener('pointerdown', (e) => {
    viewport.setPointerCapture(e.pointerId);
    input.down(e);
  });
  viewport.addEventListener('pointermove', (e) => input.move(e));
  viewport.addEventListener('pointerup', (e) => input.up(e));
  viewport.addEventListener('pointercancel', (e) => input.up(e));
  viewport.addEventListener('wheel', (e) => view.wheel(e), { passive: false });
  window.addEventListener('resize', () => view.fit());
}

// The characters of `text` in `losses`, each once, in order.
const lostCharacters = (text, losses) => [
  ...new Set(losses.flatMap(({ start, length }) => [...text.slice(start, start + length)])),
];

// Characters the text channel cannot carry would reach everybody as "?":
// the note under the box names them while they are there.
function showLosses() {
  const remark = $('remark');
  const note = $('remarkNote');
  const lost = lostCharacters(remark.value, cp932Losses(remark.value));
  remark.classList.toggle('lossy', lost.length > 0);
  note.hidden = lost.length === 0;
  const marks = lost.map((c) => Object.assign(document.createElement('mark'), { textContent: c }));
  note.replaceChildren('送れない文字: ', ...marks, ' （「?」で届きます）');
}

// A remark with such characters goes out only once the sender agrees; the
// first of them is selected in the box meanwhile.
function agreesToLosses(text) {
  const losses = cp932Losses(text);
  if (losses.length === 0) return true;
  const remark = $('remark');
  remark.setSelectionRange(losses[0].start, losses[0].start + losses[0].length);
  const lost = lostCharacters(text, losses).join(' ');
  return window.confirm(`${lost} は送れません。「?」に置き換えて送りますか？`);
}

function buildChat() {
  const remark = $('remark');
  $('say').addEventListener('submit', (e) => {
    e.preventDefault();
    if (remark.value === '' || !connection.ready) return;
    if (!agreesToLosses(remark.value)) return;
    connection.sendText(remarkMessage(remark.value));
    remark.value = '';
    showLosses();
    remark.focus();
  });
  remark.addEventListener('input', showLosses);
  remark.addEventListener('keydown', (e) => {
    if (e.key === 'Enter' && !e.shiftKey && !e.ctrlKey && !e.isComposing) {
      e.preventDefault();
      $('say').requestSubmit();
    }
  });
  $('memberList').addEventListener('click', () => connection.sendText(memberListMessage()));
  $('rename').addEventListener('click', () => {
    const name = (window.prompt('新しい名前', connection.name) || '').trim();
    if (!name) return;
    localStorage.setItem(NAME_KEY, name);
    connection.rename(name);
    undo.announce(name);
  });
}

// ---- start ----------------------------------------------------------------------

function askName() {
  const dialog = $('nameDialog');
  const field = $('name');
  field.value = localStorage.getItem(NAME_KEY) || DEFAULT_NAME;
  dialog.addEventListener(
    'close',
    () => {
      connection.name = field.value.trim() || DEFAULT_NAME;
      localStorage.setItem(NAME_KEY, connection.name);
      $('myName').textContent = connection.name;
      connection.open();
    },
    { once: true },
  );
  dialog.showModal();
}

buildControls();
buildPointers();
buildChat();
window.addEventListener('pagehide', () => connection.leave());
// A phone that wakes up, a network that returns: try again at once.
document.addEventListener('visibilitychange', () => {
  if (document.visibilityState === 'visible') connection.retryNow();
});
window.addEventListener('online', () => connection.retryNow());
// Where the chat would cover the board, it starts closed; upright on a phone
// it has the space below the board.
if (window.matchMedia('(max-width: 700px) and (orientation: landscape)').matches)
  document.body.classList.add('chat-closed');
view.fit();
showMembers();
view.startPainting();
askName();

// For the page's own tests and for people curious in the console.
window.sketora = {
  board,
  chat,
  feed,
  connection,
  input,
  undo,
  view,
  setTool: (tool) => input.setTool(tool),
  setColour: (value) => input.setColour(value),
  setWidth: (value) => input.setWidth(value),
  fitView: () => view.fit(),
};
