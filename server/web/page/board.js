// The shared picture as the desktop client keeps it: the 1600 x 1200 image,
// one pen (position, colour, width) per sender index 0..20, the member
// count, and the rules that apply one received drawing line.
//
// Downstream drawing line: index ":" command ":" argument ["\r\n"]
//   0 pen up, 1 pen down "x,y", 2 draw "x,y", 3 clear all, 4 colour,
//   5 width, 6 erase "x,y", 7 extensions (snapshot replies), 8 member count.
// A line is accepted with three or four ":"-separated fields and a command
// below 9; index and command must fit 16 bits. Numbers are read leniently
// (blanks, an optional sign, digits with an optional fraction; reading stops
// at the first other character; no number reads 0) and rounded halves to
// even; a coordinate, width or count that does not fit 16 bits (a colour:
// 32 bits) makes its step fail.

import { WIDTH, HEIGHT, paintSegment, pixelOf, checksum } from './raster.js';

export const SLOTS = 21;
export const WHITE = 16777215;

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

export const readInt16 = (text) => roundWithin(readNumber(text), -32768, 32767);
export const readInt32 = (text) => roundWithin(readNumber(text), -2147483648, 2147483647);

// The characters the desktop client counts as blanks.
function isSpace(code) {
  return (code >= 9 && code <= 13) || code === 0x20 || code === 0x85 || code === 0xa0 ||
         code === 0x1680 || (code >= 0x2000 && code <= 0x200a) || code === 0x2028 ||
         code === 0x2029 || code === 0x202f || code === 0x205f || code === 0x3000;
}

const isBlank = (text) => {
  for (let i = 0; i < text.length; ++i) if (!isSpace(text.charCodeAt(i))) return false;
  return true;
};

// First coordinate before the first ",", second up to the next "," (null
// without a comma).
function splitPoint(arg) {
  const comma = arg.indexOf(',');
  if (comma < 0) return [arg, null];
  const next = arg.indexOf(',', comma + 1);
  return [arg.slice(0, comma), arg.slice(comma + 1, next < 0 ? arg.length : next)];
}

// {index, command, argument} or null, by the acceptance rules above.
export function readDownLine(line) {
  const fields = line.split(':');
  if (fields.length > 4 || fields.length < 3) return null;
  const commandValue = readNumber(fields[1]);
  if (commandValue >= 9) return null;
  const index = readInt16(fields[0]);
  const command = roundWithin(commandValue, -32768, 32767);
  if (index === null || command === null) return null;
  return { index, command, argument: fields[2] };
}

export class Board {
  constructor() {
    this.image = new ImageData(WIDTH, HEIGHT);
    this.pix = new Uint32Array(this.image.data.buffer);
    this.penX = new Int16Array(SLOTS);
    this.penY = new Int16Array(SLOTS);
    this.penColor = new Int32Array(SLOTS);
    this.penSize = new Int16Array(SLOTS);
    this.memCount = 0;
    this.dirty = null; // [left, top, right, bottom] painted since takeDirty()
    this.onExtension = null; // (index, argument) for command-7 lines
    this.clearAll();
  }

  // One segment with the square pen; colour values outside 0..16777215 paint nothing.
  lineWrite(ox, oy, x, y, wdt, value) {
    if (!(value >= 0 && value <= WHITE)) return;
    this.markDirty(paintSegment(this.pix, ox, oy, x, y, wdt, pixelOf(value)));
  }

  clearAll() {
    this.pix.fill(pixelOf(WHITE));
    this.markDirty([0, 0, WIDTH - 1, HEIGHT - 1]);
  }

  // Replaces picture and pens at once (a verified snapshot).
  replace(pixels, pens) {
    this.pix.set(pixels);
    for (const p of pens) {
      this.penX[p.index] = p.x;
      this.penY[p.index] = p.y;
      this.penColor[p.index] = p.colour;
      this.penSize[p.index] = p.width;
    }
    this.markDirty([0, 0, WIDTH - 1, HEIGHT - 1]);
  }

  markDirty(box) {
    if (!box) return;
    const d = this.dirty;
    this.dirty = d ? [Math.min(d[0], box[0]), Math.min(d[1], box[1]),
                      Math.max(d[2], box[2]), Math.max(d[3], box[3])] : box;
  }

  takeDirty() {
    const d = this.dirty;
    this.dirty = null;
    return d;
  }

  checksum() { return checksum(this.pix); }

  // Colour value of a pixel, -1 outside the picture.
  pixelValue(x, y) {
    if (x < 0 || y < 0 || x >= WIDTH || y >= HEIGHT) return -1;
    return this.pix[y * WIDTH + x] & 0xffffff;
  }

  // Complete lines without their "\r\n".
  applyLine(line) {
    if (line === '') return;
    const fields = readDownLine(line);
    if (fields) this.drawLineProc(fields.index, fields.command, fields.argument);
  }

  drawLineProc(i, cmd, arg) {
    const slot = i >= 0 && i < SLOTS;
    switch (cmd) {
    case 1: this.penDown(i, arg, slot); break;
    case 2: this.draw(i, arg, slot); break;
    case 3: this.clearAll(); break;
    case 4: { const c = readInt32(arg); if (c !== null && slot) this.penColor[i] = c; break; }
    case 5: { const w = readInt16(arg); if (w !== null && slot) this.penSize[i] = w; break; }
    case 6: this.erase(i, arg, slot); break;
    case 7: if (this.onExtension) this.onExtension(i, arg); break;
    case 8: { const n = readInt16(arg); if (n !== null) this.memCount = n; break; }
    default: break; // 0 (pen up) only refreshes the desktop preview
    }
  }

  penDown(i, arg, slot) {
    if (!slot) return;
    const [xs, ys] = splitPoint(arg);
    const x = readInt16(xs);
    if (x !== null) this.penX[i] = x;
    if (ys === null) return;
    const y = readInt16(ys);
    if (y !== null) this.penY[i] = y;
  }

  draw(i, arg, slot) {
    if (arg.length > 15 || isBlank(arg)) return;
    const [xs, ys] = splitPoint(arg);
    if (ys === null || isBlank(ys)) return;
    const x = readInt16(xs);
    const y = readInt16(ys);
    if (x === null || y === null || !slot) return;
    this.lineWrite(this.penX[i], this.penY[i], x, y, this.penSize[i], this.penColor[i]);
    this.penX[i] = x;
    this.penY[i] = y;
  }

  erase(i, arg, slot) {
    if (!slot) return;
    const [xs, ys] = splitPoint(arg);
    const x = readInt16(xs);
    if (x === null) return;
    if (ys === null) { this.penX[i] = x; return; }
    const y = readInt16(ys);
    if (y === null) return;
    this.lineWrite(this.penX[i], this.penY[i], x, y, this.penSize[i], WHITE);
    this.penX[i] = x;
    this.penY[i] = y;
  }
}
