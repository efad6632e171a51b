// Every wire format the page speaks, each written once: the numbers, the
// drawing lines, the text messages, the command-7 snapshot request, the undo
// lines and the bridge's WebSocket messages. The builders write exactly what the desktop
// client writes; the readers read as the desktop client reads.
//
// Bridge messages (WebSocket text, both directions):
//   "r"              bridge -> page: both channels are connected
//   "d" lines        drawing lines, each followed by "\r\n"
//   "t" message      one text message without its "%EOT%"

import { WIDTH, HEIGHT } from './raster.js';

// Member tables on both channels: indices 0..20.
export const SLOTS = 21;
// The most base64 a picture sent over command 7 may take.
export const MAX_BASE64 = 16 * 1024 * 1024;

// ---- numbers ------------------------------------------------------------------
//
// Lenient reading: blanks (space, tab), an optional sign, digits with an
// optional fraction; reading stops at the first other character; no number
// reads 0. Integers are rounded halves to even; a value that does not fit
// reads as null.

const NUMBER = /^[ \t]*([+-]?)(\d*)(?:\.(\d*))?/;

export function readNumber(text) {
  const m = NUMBER.exec(text);
  const whole = m[2] || '';
  const fraction = m[3] || '';
  if (whole === '' && fraction === '') return 0;
  const value = Number(`${whole || '0'}.${fraction || '0'}`);
  return m[1] === '-' ? -value : value;
}

// Halves to even; null when the result leaves [lowest, highest].
export function roundWithin(value, lowest, highest) {
  if (!Number.isFinite(value)) return null;
  const floor = Math.floor(value);
  const rest = value - floor;
  let rounded = floor;
  if (rest > 0.5 || (rest === 0.5 && floor % 2 !== 0)) rounded = floor + 1;
  return rounded < lowest || rounded > highest ? null : rounded;
}

export const INT16_MIN = -32768;
export const INT16_MAX = 32767;
export const readInt16 = (text) => roundWithin(readNumber(text), INT16_MIN, INT16_MAX);
export const readInt32 = (text) => roundWithin(readNumber(text), -2147483648, 2147483647);

// The desktop client's form on the drawing channel: a blank before a number
// that is not negative (" 120"), a bare "-" before a negative one ("-3").
export const clientNumber = (value) => (value < 0 ? String(value) : ` ${value}`);

// ---- drawing channel ------------------------------------------------------------
//
//   upstream    command ":" argument "\r\n"
//   downstream  index ":" command ":" argument "\r\n"

export const Command = Object.freeze({
  PenUp: 0, // "0:0"          end of stroke
  PenDown: 1, // "1: x, y"    start of stroke, nothing drawn
  Draw: 2, // "2: x, y"       pencil segment to (x, y)
  ClearAll: 3, // "3: 0, 0"   clear the picture
  Color: 4, // "4: colour"    red + 256 green + 65536 blue
  Width: 5, // "5: width"     pen width value 0..3
  Erase: 6, // "6: x, y"      eraser segment to (x, y), drawn white
  Extension: 7, // "7:verb ..." ours only (snapshot, undo); described clients ignore it
  MemberCount: 8, // "8:member" upstream, "0:8:count" downstream
});

export const LINE_END = '\r\n';

const pointLine = (command, x, y) => `${command}:${clientNumber(x)},${clientNumber(y)}${LINE_END}`;

export const penUpLine = () => `${Command.PenUp}:0${LINE_END}`;
export const penDownLine = (x, y) => pointLine(Command.PenDown, x, y);
export const drawLine = (x, y) => pointLine(Command.Draw, x, y);
export const clearAllLine = () => pointLine(Command.ClearAll, 0, 0);
export const colorLine = (colour) => `${Command.Color}:${clientNumber(colour)}${LINE_END}`;
export const widthLine = (width) => `${Command.Width}:${clientNumber(width)}${LINE_END}`;
export const eraseLine = (x, y) => pointLine(Command.Erase, x, y);
export const memberRequestLine = () => `${Command.MemberCount}:member${LINE_END}`;

// One downstream line without its "\r\n": {index, command, argument} or null.
// Accepted with three or four ":"-separated fields and a command value below
// 9; index and command must fit 16 bits.
export function readDownLine(line) {
  const fields = line.split(':');
  if (fields.length > 4 || fields.length < 3) return null;
  const commandValue = readNumber(fields[1]);
  if (commandValue >= 9) return null;
  const index = readInt16(fields[0]);
  const command = roundWithin(commandValue, INT16_MIN, INT16_MAX);
  if (index === null || command === null) return null;
  return { index, command, argument: fields[2] };
}

// A point argument: x before the first ",", y up to the next "," (null
// without a comma).
export function splitPoint(argument) {
  const comma = argument.indexOf(',');
  if (comma < 0) return [argument, null];
  const next = argument.indexOf(',', comma + 1);
  return [argument.slice(0, comma), argument.slice(comma + 1, next < 0 ? argument.length : next)];
}

// ---- text channel ---------------------------------------------------------------
//
//   upstream    type "<:>" payload
//   downstream  index "<:>" type "<:>" payload
// (the bridge adds and removes the "%EOT%" that ends each message)

export const TextType = Object.freeze({
  Leave: 0, // "0<:>END"
  Join: 1, // "1<:>name"
  Remark: 2, // "2<:>remark", lines separated by "\r\n"
  Rename: 3, // "3<:>new name"
  MemberList: 4, // "4<:>member" upstream; names each followed by "\r\n" downstream
  Name: 5, // a member's name, sent to newcomers
  FontColor: 6, // "6<:>colour"
  FontSize: 7, // "7<:>points"
  FontFace: 8, // "8<:>face" (1 mincho, else gothic)
});

export const SEPARATOR = '<:>';

export const clientMessage = (type, payload) => `${type}${SEPARATOR}${payload}`;
export const leaveMessage = () => clientMessage(TextType.Leave, 'END');
export const memberListMessage = () => clientMessage(TextType.MemberList, 'member');
export const remarkMessage = (text) => clientMessage(TextType.Remark, text.replace(/\r?\n/g, '\r\n'));

// One downstream message: {index, type, payload} or null. Fewer than three
// fields are no message; further fields are dropped (a remark holding "<:>"
// is cut there). Index and type must fit 16 bits.
export function readDownMessage(message) {
  const fields = message.split(SEPARATOR);
  if (fields.length < 3) return null;
  const index = readInt16(fields[0]);
  const type = readInt16(fields[1]);
  if (index === null || type === null) return null;
  return { index, type, payload: fields[2] };
}

// ---- the text channel's code page ------------------------------------------------
//
// Text travels in Windows code page 932 (the bridge converts). What the code
// page cannot carry arrives as "?", or as a look-alike ("¥" as a backslash); the
// characters Windows writes in its own forms (the wave dash and a few more)
// count as carried. The carried set is read once from the browser's own
// decoder for the code page (Shift_JIS as the web knows it: windows-31j),
// over every byte and byte pair.

const WINDOWS_FORMS = new Map([
  [0x301c, 0xff5e], // wave dash: fullwidth tilde
  [0x2212, 0xff0d], // minus sign: fullwidth hyphen-minus
  [0x2016, 0x2225], // double vertical line: parallel to
  [0x00ac, 0xffe2], // not sign
  [0x00a2, 0xffe0], // cent sign
  [0x00a3, 0xffe1], // pound sign
  [0x2014, 0x2015], // em dash: horizontal bar
]);

let carried = null;

function carriedUnits() {
  if (carried) return carried;
  carried = new Set();
  for (let c = 0; c < 0x80; ++c) carried.add(c);
  const decoder = new TextDecoder('shift_jis');
  const take = (bytes) => {
    const text = decoder.decode(new Uint8Array(bytes));
    if (text.length === 1 && text !== '\ufffd') carried.add(text.charCodeAt(0));
  };
  for (let b = 0xa1; b <= 0xdf; ++b) take([b]); // half-width katakana
  for (let lead = 0x81; lead <= 0xfc; ++lead) {
    if (lead >= 0xa0 && lead <= 0xdf) continue;
    for (let trail = 0x40; trail <= 0xfc; ++trail) if (trail !== 0x7f) take([lead, trail]);
  }
  return carried;
}

// The characters of `text` the code page does not carry, as runs
// [{start, length}] in UTF-16 units; a surrogate pair is one character.
export function cp932Losses(text) {
  const units = carriedUnits();
  const losses = [];
  for (let i = 0; i < text.length;) {
    const c = text.charCodeAt(i);
    const pair =
      c >= 0xd800 && c <= 0xdbff && i + 1 < text.length && (text.charCodeAt(i + 1) & 0xfc00) === 0xdc00;
    const length = pair ? 2 : 1;
    if (pair || !units.has(WINDOWS_FORMS.get(c) ?? c)) {
      const last = losses[losses.length - 1];
      if (last && last.start + last.length === i) last.length += length;
      else losses.push({ start: i, length });
    }
    i += length;
  }
  return losses;
}

// ---- command 7: the board snapshot ------------------------------------------------
//
//   upstream    "7:snap <tok>"
//   downstream  "0:7:" verb " " <tok> [" " field]...   (see snapshot.js)

export const snapRequestLine = (token) => `${Command.Extension}:snap ${token}${LINE_END}`;

// The argument of a downstream command-7 line: {verb, token, fields}.
export function readExtension(argument) {
  const words = argument.split(' ');
  return { verb: words[0], token: words.length > 1 ? words[1] : null, fields: words.slice(2) };
}

// ---- command 7: the link (the server's half: server/linkkeeper.h) ----------------------
//
//   upstream    "7:session <id>"         claims the page's session on this connection
//               "7:ping <tok>"           a heartbeat
//   downstream  "0:7:session <id> <n>"   <n>: the session's lines taken before the claim
//               "0:7:pong <tok> <n>"     <n>: the session's lines durable so far
// <id> and <tok>: 1 to 16 characters of [0-9A-Za-z]; <n> plain decimal.

export const sessionLine = (id) => `${Command.Extension}:session ${id}${LINE_END}`;
export const pingLine = (token) => `${Command.Extension}:ping ${token}${LINE_END}`;

const LINK_TOKEN = /^[0-9A-Za-z]{1,16}$/;
const LINK_COUNT = /^\d{1,15}$/;

// The argument of a downstream command-7 line: {verb: 'session' | 'pong',
// token, count}, or null for anything else.
export function readLinkLine(argument) {
  const [verb, token, count, ...rest] = argument.split(' ');
  if ((verb !== 'session' && verb !== 'pong') || rest.length > 0) return null;
  if (!LINK_TOKEN.test(token ?? '') || !LINK_COUNT.test(count ?? '')) return null;
  return { verb, token, count: Number(count) };
}

// ---- command 7: the board is full
//
//   downstream  "0:7:full"   every pen slot is taken: what this member draws
//                            reaches nobody's picture

export const BOARD_FULL = 'full';

// ---- command 7: undo and redo -------------------------------------------------------
//
//   upstream    "7:me <id> <name>"   who this member is: <id> made once per page
//                                    load, <name> the chat name (below)
//               "7:undo <tok>", "7:redo <tok>"
//   downstream  "0:7:undo <tok> <outcome> <undos> <redos>"   the answer to us alone,
//               "0:7:redo <tok> <outcome> <undos> <redos>"   outcome done | none | busy
//               "0:7:can <undos> <redos>"                    our counts changed otherwise
//               "0:7:patch <x> <y> <w> <h> <bytes> <chunks> <checksum>", then <chunks>
//               lines "0:7:pdata <base64>" of at most 48000 characters: the rebuilt
//               rectangle as a PNG of <bytes> bytes, and the whole board's checksum
//               "0:7:cleared <index> <undoable> <name>"     a member cleared everyone's canvas
//               "0:7:restored <index> <name>"               ... and took it back
// <name>: the base64 of the UTF-8 name cut to 64 bytes, "-" for none.
// Numbers are plain decimal; anything that does not read is no line of ours.

export const MAX_NAME_BYTES = 64;
export const MAX_PATCH_CHUNK = 48000;
export const UNDO_VERBS = Object.freeze(['undo', 'redo', 'can', 'patch', 'pdata', 'cleared', 'restored']);

// Only the server speaks as index 0, and it writes both fields plainly: a
// member's "7.4:..." relayed as "0:7.4:..." is no reply.
export const SERVER_EXTENSION = `0:${Command.Extension}:`;

// The name field; a name cut at 64 bytes also loses the character the cut
// came near, as the desktop client cuts it.
export function nameField(name) {
  let utf8 = new TextEncoder().encode(name);
  if (utf8.length === 0) return '-';
  if (utf8.length > MAX_NAME_BYTES) {
    let end = MAX_NAME_BYTES;
    while (end > 0 && (utf8[end - 1] & 0xc0) === 0x80) --end;
    if (end > 0 && utf8[end - 1] >= 0xc0) --end;
    utf8 = utf8.subarray(0, end);
  }
  return btoa(String.fromCharCode(...utf8));
}

// The name of a name field ('' for "-"), or null.
export function readName(field) {
  if (field === '-') return '';
  if (!field || field.length > ((MAX_NAME_BYTES + 2) / 3) * 4 || !/^[A-Za-z0-9+/]*={0,2}$/.test(field))
    return null;
  let binary;
  try {
    binary = atob(field);
  } catch {
    return null;
  }
  return new TextDecoder().decode(Uint8Array.from(binary, (c) => c.charCodeAt(0)));
}

export const meLine = (id, name) => `${Command.Extension}:me ${id} ${nameField(name)}${LINE_END}`;
export const undoLine = (token) => `${Command.Extension}:undo ${token}${LINE_END}`;
export const redoLine = (token) => `${Command.Extension}:redo ${token}${LINE_END}`;

const TOKEN = /^[0-9A-Za-z]{1,16}$/;
const MAX_COUNT = 1 << 20;

// Plain decimal with an optional "-" within [lowest, highest], else null.
function decimal(text, lowest, highest) {
  if (text === undefined || text.length > 12 || !/^-?\d+$/.test(text)) return null;
  const value = Number(text);
  return value >= lowest && value <= highest ? value : null;
}

// The argument of one downstream undo line, read:
//   {verb: 'undo' | 'redo', token, outcome, undos, redos}, {verb: 'can', undos, redos},
//   {verb: 'patch', x, y, w, h, bytes, chunks, checksum}, {verb: 'pdata', data},
//   {verb: 'cleared', index, undoable, name}, {verb: 'restored', index, name};
// {verb, broken: true} for a patch or data line that does not read (it drops the
// patch being received); null for anything else.
export function readUndoLine(argument) {
  const f = argument.split(' ');
  const verb = f[0];
  const count = (i) => decimal(f[i], 0, MAX_COUNT);
  switch (verb) {
    case 'undo':
    case 'redo': {
      const [undos, redos] = [count(3), count(4)];
      if (f.length !== 5 || !TOKEN.test(f[1]) || !['done', 'none', 'busy'].includes(f[2])) return null;
      if (undos === null || redos === null) return null;
      return { verb, token: f[1], outcome: f[2], undos, redos };
    }
    case 'can': {
      const [undos, redos] = [count(1), count(2)];
      return f.length === 3 && undos !== null && redos !== null ? { verb, undos, redos } : null;
    }
    case 'cleared':
    case 'restored': {
      const cleared = verb === 'cleared';
      const index = decimal(f[1], 0, 65535);
      const name = readName(f[f.length - 1]);
      if (f.length !== (cleared ? 4 : 3) || index === null || name === null) return null;
      if (cleared && f[2] !== '0' && f[2] !== '1') return null;
      return cleared ? { verb, index, undoable: f[2] === '1', name } : { verb, index, name };
    }
    case 'patch':
      return readPatchHead(f);
    case 'pdata':
      return f.length === 2 && f[1] !== '' && f[1].length <= MAX_PATCH_CHUNK
        ? { verb, data: f[1] }
        : { verb, broken: true };
    default:
      return null;
  }
}

// A rectangle inside the board, a PNG size whose base64 fits the snapshot
// limit, in exactly <chunks> lines.
function readPatchHead(f) {
  const broken = { verb: 'patch', broken: true };
  if (f.length !== 8) return broken;
  const [x, y] = [decimal(f[1], 0, WIDTH - 1), decimal(f[2], 0, HEIGHT - 1)];
  const [w, h] = [decimal(f[3], 1, WIDTH), decimal(f[4], 1, HEIGHT)];
  const bytes = decimal(f[5], 1, MAX_BASE64);
  const chunks = decimal(f[6], 1, MAX_BASE64);
  const checksum = decimal(f[7], 0, 4294967295);
  if ([x, y, w, h, bytes, chunks, checksum].includes(null)) return broken;
  const length = Math.floor((bytes + 2) / 3) * 4;
  if (x + w > WIDTH || y + h > HEIGHT || length > MAX_BASE64) return broken;
  if (chunks !== Math.ceil(length / MAX_PATCH_CHUNK)) return broken;
  return { verb: 'patch', x, y, w, h, bytes, chunks, checksum };
}

// ---- bridge messages --------------------------------------------------------------

export const Bridge = Object.freeze({ Ready: 'r', Drawing: 'd', Text: 't' });

export const drawingMessage = (lines) => Bridge.Drawing + lines.join('');
export const textMessage = (message) => Bridge.Text + message;

// {kind, body} of a message from the bridge, or null for one that is not text.
export function readBridgeMessage(data) {
  if (typeof data !== 'string' || data === '') return null;
  return { kind: data[0], body: data.slice(1) };
}

// The complete lines of a "d" message, without their "\r\n".
export const splitLines = (body) => body.split(LINE_END).filter((line) => line !== '');
