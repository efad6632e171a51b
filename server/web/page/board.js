// The shared picture as the desktop client keeps it: the 1600 x 1200 image,
// one pen (position, colour, width) per sender index 0..20, the member
// count, and the rules that apply one received drawing line (read by
// protocol.js's readDownLine). A coordinate, width or count that does not
// fit 16 bits (a colour: 32 bits) makes its step fail.

import { WIDTH, HEIGHT, paintSegment, pixelOf, checksum } from './raster.js';
import { Command, SLOTS, readDownLine, readInt16, readInt32, splitPoint } from './protocol.js';

export const WHITE = 16777215;

// The characters the desktop client counts as blanks.
function isSpace(code) {
  return (
    (code >= 9 && code <= 13) ||
    code === 0x20 ||
    code === 0x85 ||
    code === 0xa0 ||
    code === 0x1680 ||
    (code >= 0x2000 && code <= 0x200a) ||
    code === 0x2028 ||
    code === 0x2029 ||
    code === 0x202f ||
    code === 0x205f ||
    code === 0x3000
  );
}

const isBlank = (text) => {
  for (let i = 0; i < text.length; ++i) if (!isSpace(text.charCodeAt(i))) return false;
  return true;
};

export class Board {
  constructor() {
    // RGBA bytes as ImageData keeps them; pix views the same memory.
    this.bytes = new Uint8ClampedArray(WIDTH * HEIGHT * 4);
    this.pix = new Uint32Array(this.bytes.buffer);
    this.penX = new Int16Array(SLOTS);
    this.penY = new Int16Array(SLOTS);
    this.penColor = new Int32Array(SLOTS);
    this.penSize = new Int16Array(SLOTS);
    this.memCount = 0;
    this.dirty = null; // [left, top, right, bottom] painted since takeDirty()
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

  // Copies w x h pixels (as the board keeps them) onto the board at (x, y).
  paste(pixels, x, y, w, h) {
    for (let row = 0; row < h; ++row)
      this.pix.set(pixels.subarray(row * w, (row + 1) * w), (y + row) * WIDTH + x);
    this.markDirty([x, y, x + w - 1, y + h - 1]);
  }

  markDirty(box) {
    if (!box) return;
    const d = this.dirty;
    this.dirty = d
      ? [Math.min(d[0], box[0]), Math.min(d[1], box[1]), Math.max(d[2], box[2]), Math.max(d[3], box[3])]
      : box;
  }

  takeDirty() {
    const d = this.dirty;
    this.dirty = null;
    return d;
  }

  checksum() {
    return checksum(this.pix);
  }

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
      case Command.PenDown:
        this.penDown(i, arg, slot);
        break;
      case Command.Draw:
        this.draw(i, arg, slot);
        break;
      case Command.ClearAll:
        this.clearAll();
        break;
      case Command.Color: {
        const c = readInt32(arg);
        if (c !== null && slot) this.penColor[i] = c;
        break;
      }
      case Command.Width: {
        const w = readInt16(arg);
        if (w !== null && slot) this.penSize[i] = w;
        break;
      }
      case Command.Erase:
        this.erase(i, arg, slot);
        break;
      case Command.MemberCount: {
        const n = readInt16(arg);
        if (n !== null) this.memCount = n;
        break;
      }
      // PenUp only refreshes the desktop preview; Extension lines are the feed's.
      default:
        break;
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
    if (ys === null) {
      this.penX[i] = x;
      return;
    }
    const y = readInt16(ys);
    if (y === null) return;
    this.lineWrite(this.penX[i], this.penY[i], x, y, this.penSize[i], WHITE);
    this.penX[i] = x;
    this.penY[i] = y;
  }
}
