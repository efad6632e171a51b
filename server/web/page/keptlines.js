// What the page draws while its connection is down, to be sent once it is
// back, after the shared picture has been asked for: the lines in order,
// preceded by the pen as the server last saw it from this page (colour,
// width, and a pen-down where an unfinished stroke had got to), so a stroke
// cut by the outage goes on where it stopped.
//
// Bounded: at most MAX_KEPT lines are kept. Beyond that nothing more is kept
// (the page's own picture still shows it) and `incomplete` says so; dropping
// the oldest instead would send strokes that start in the middle.

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

export class KeptLines {
  constructor(max = MAX_KEPT) {
    this.max = max;
    this.pen = { colour: 0, width: 0, down: false, x: 0, y: 0 };
    this.offline = [];
    this.incomplete = false;
  }

  // A drawing line went out.
  sent(line) {
    if (isDrawing(line)) advance(this.pen, line);
  }

  // A line that could not go out; false when it is not kept.
  keep(line) {
    if (!isDrawing(line)) return false;
    if (this.offline.length >= this.max) {
      this.incomplete = true;
      return false;
    }
    this.offline.push(line);
    return true;
  }

  get size() {
    return this.offline.length;
  }

  // The lines to send, in order, or none; empties the offline lines.
  takeResend() {
    if (this.offline.length === 0) return [];
    const { colour, width, down, x, y } = this.pen;
    const out = [colorLine(colour), widthLine(width)];
    if (down) out.push(penDownLine(x, y));
    out.push(...this.offline);
    this.offline = [];
    return out;
  }
}
