// Every wire format the page speaks, each written once: the numbers, the
// drawing lines, the text messages, the command-7 snapshot request and the
// bridge's WebSocket messages. The builders write exactly what the desktop
// client writes; the readers read as the desktop client reads.
//
// Bridge messages (WebSocket text, both directions):
//   "r"              bridge -> page: both channels are connected
//   "d" lines        drawing lines, each followed by "\r\n"
//   "t" message      one text message without its "%EOT%"

// Member tables on both channels: indices 0..20.
export const SLOTS = 21;

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
  Extension: 7, // "7:verb ..." ours only (the snapshot); described clients ignore it
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

// ---- command 7: the board is full
//
//   downstream  "0:7:full"   every pen slot is taken: what this member draws
//                            reaches nobody's picture

export const BOARD_FULL = 'full';

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
