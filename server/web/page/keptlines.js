// The page's half of the lossless resend (the server's half and the steps:
// server/linkkeeper.h), without sockets, as the desktop client keeps it:
// which drawing lines (commands 0 to 6) the server may still lose, which
// were drawn while there was no connection (or while the page held its
// drawing back), and the pen as the server last durably saw it.
//
// Lines of the session are numbered as the server counts them: the lines
// sent after a claim are numbered only once its answer says how many came
// before. Kept lines are dropped as pongs report them durable; what is left
// when a connection is made again goes out after the shared picture,
// preceded by the pen as it was after the last line the server has (colour,
// width, and a pen-down where an unfinished stroke had got to), so a stroke
// cut by the outage goes on where it stopped.
//
// On a connection whose claim went unanswered (not a server of ours after
// all) nothing is numbered: every line sent moves the pen the server saw.
//
// Bounded: at most MAX_KEPT lines are kept, sent and offline together.
// Beyond that nothing more is kept (the page's own picture still shows it)
// and `incomplete` says so until the next shared picture; dropping the
// oldest instead would send strokes that start in the middle.

import { Command, colorLine, penDownLine, readInt16, readInt32, splitPoint, widthLine } from './protocol.js';

export const MAX_KEPT = 200000;

const commandOf = (line) => {
  const colon = line.indexOf(':');
  return colon > 0 ? readInt16(line.slice(0, colon)) : null;
};
const argumentOf = (line) => line.slice(line.indexOf(':') + 1).replace(/\r\n$/, '');

// Commands 0 to 6: the lines that draw or set the pen.
export const isDrawing = (line) => {
  const command = commandOf(line);
  return command !== null && command >= Command.PenUp && command <= Command.Erase;
};

// The pen as `line` leaves it.
export function advance(pen, line) {
  const argument = argumentOf(line);
  const point = () => {
    const [x, y] = splitPoint(argument);
    if (y === null) return false;
    pen.x = readInt16(x) ?? 0;
    pen.y = readInt16(y) ?? 0;
    return true;
  };
  switch (commandOf(line)) {
    case Command.PenUp:
      pen.down = false;
      break;
    case Command.PenDown:
      if (point()) pen.down = true;
      break;
    case Command.Draw:
    case Command.Erase:
      point();
      break;
    case Command.Color:
      pen.colour = readInt32(argument) ?? 0;
      break;
    case Command.Width:
      pen.width = readInt16(argument) ?? 0;
      break;
    default:
      break;
  }
}

const newPen = (colour = 0, width = 0) => ({ colour, width, down: false, x: 0, y: 0 });

export class KeptLines {
  constructor(max = MAX_KEPT) {
    this.max = max;
    this.kept = []; // {number, line}, oldest first
    this.fresh = []; // sent since the unanswered claim: numbered from 1
    this.resend = []; // kept lines the server turned out to lack
    this.offline = []; // not sent yet
    this.waiting = false; // a claim without its answer
    this.sinceClaim = 0;
    this.next = 1; // number of the next line once answered
    this.pen = newPen(); // after the last line the server has
    this.incomplete = false;
  }

  // The pen announced at the start of a connection, before its claim: the
  // starting point when nothing older is kept.
  announced(colour, width) {
    if (this.empty) this.pen = newPen(colour, width);
  }

  // A claim went out: lines sent from now on wait for its answer's count.
  // Lines of a claim that was never answered may or may not have arrived:
  // they go again, a stroke drawn twice being better than one lost.
  claimed() {
    this.offline.unshift(...this.fresh.map((kept) => kept.line));
    this.fresh = [];
    this.waiting = true;
    this.sinceClaim = 0;
  }

  // A line went out after the claim (any command: each is counted).
  sent(line) {
    const number = this.waiting ? ++this.sinceClaim : this.next++;
    if (!isDrawing(line) || !this.room()) return;
    (this.waiting ? this.fresh : this.kept).push({ number, line });
  }

  // A line went out on a connection without a session.
  sentPlain(line) {
    if (isDrawing(line)) advance(this.pen, line);
  }

  // A line that could not go out now, to be sent after the resend; false
  // when it is not kept.
  keep(line) {
    if (!isDrawing(line) || !this.room()) return false;
    this.offline.push(line);
    return true;
  }

  // The session answer: `taken` of the session's lines reached the server
  // before the claim. Drops what it has; what it lacks waits in takeResend().
  answered(taken) {
    if (!this.waiting) return;
    this.waiting = false;
    this.durable(taken);
    this.resend.push(...this.kept.map((kept) => kept.line));
    this.kept = this.fresh.map(({ number, line }) => ({ number: taken + number, line }));
    this.fresh = [];
    this.next = taken + this.sinceClaim + 1;
  }

  // A pong: the session's lines up to `upTo` are safe.
  durable(upTo) {
    let i = 0;
    while (i < this.kept.length && this.kept[i].number <= upTo) advance(this.pen, this.kept[i++].line);
    if (i > 0) this.kept.splice(0, i);
  }

  // The lines to send, in order: the pen after the last line the server
  // has, the kept lines it lacks, then what was drawn offline; none when
  // there is nothing to send again. Empties both.
  takeResend() {
    if (!this.hasResend) return [];
    const { colour, width, down, x, y } = this.pen;
    const out = [colorLine(colour), widthLine(width)];
    if (down) out.push(penDownLine(x, y));
    out.push(...this.resend, ...this.offline);
    this.resend = [];
    this.offline = [];
    return out;
  }

  // The claim went unanswered: the server is taken to have what was sent
  // (the pen follows it) and gets what was drawn offline as it is; nothing
  // is numbered any more on this connection.
  giveUp() {
    for (const { line } of [...this.kept, ...this.fresh]) advance(this.pen, line);
    this.kept = [];
    this.fresh = [];
    this.waiting = false;
    const out = this.takeResend();
    out.forEach((line) => advance(this.pen, line));
    return out;
  }

  // A shared picture was taken: what was not kept is no longer missing.
  pictureTaken() {
    this.incomplete = false;
  }

  get hasResend() {
    return this.resend.length > 0 || this.offline.length > 0;
  }

  // Nothing held at all: a new connection need not hold its drawing back.
  get empty() {
    return this.kept.length === 0 && this.fresh.length === 0 && !this.hasResend;
  }

  get size() {
    return this.kept.length + this.fresh.length + this.resend.length + this.offline.length;
  }

  room() {
    if (this.size < this.max) return true;
    this.incomplete = true;
    return false;
  }
}
