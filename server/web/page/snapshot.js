// Receiving the board snapshot on the drawing channel's command 7.
//
//   upstream   "7:snap <tok>"
//   downstream "0:7:board <tok> <width> <height> <bytes> <chunks>"
//              "0:7:data <tok> <base64>"        <chunks> lines, <= 48000 characters each
//              "0:7:pen <tok> <index> <x> <y> <colour> <width>"   indices 0..20, ascending
//              "0:7:end <tok> <checksum>"
// The base64 joined is a PNG of the picture. Nothing is applied before "end",
// and only when every field matched: sizes, chunk count, the PNG decoding to
// exactly 1600 x 1200 and the picture's checksum. Anything else drops the
// whole snapshot; the board stays as it was.

import { WIDTH, HEIGHT, checksum } from './raster.js';
import { INT16_MAX, INT16_MIN, MAX_BASE64, SLOTS, readExtension } from './protocol.js';

const MAX_CHUNK = 48000;
const DECIMAL = /^\d{1,10}$/;
const SIGNED = /^-?\d{1,10}$/;

export function newToken() {
  const letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789';
  let token = 'w';
  for (let i = 0; i < 11; ++i) token += letters[Math.floor(Math.random() * letters.length)];
  return token;
}

export class SnapshotReceiver {
  constructor(token) {
    this.token = token;
    this.state = 'waiting'; // waiting, receiving, complete, failed
    this.chunks = [];
    this.pens = [];
    this.length = 0;
  }

  fail() {
    this.state = 'failed';
    this.chunks = [];
    return this.state;
  }

  // One command-7 line; returns the new state. Lines for other tokens and
  // relayed requests of described servers ("k:7:snap ...") are not ours.
  take(index, argument) {
    const { verb, token, fields: numbers } = readExtension(argument);
    if (index !== 0 || token !== this.token) return this.state;
    if (this.state !== 'waiting' && this.state !== 'receiving') return this.state;
    switch (verb) {
      case 'board':
        if (this.state !== 'waiting' || numbers.length !== 4 || !numbers.every((n) => DECIMAL.test(n)))
          return this.fail();
        [this.width, this.height, this.bytes, this.expectedChunks] = numbers.map(Number);
        if (
          this.width !== WIDTH ||
          this.height !== HEIGHT ||
          this.bytes < 1 ||
          this.expectedChunks < 1 ||
          this.expectedChunks * MAX_CHUNK < (this.bytes * 4) / 3
        )
          return this.fail();
        this.state = 'receiving';
        return this.state;
      case 'data': {
        const data = numbers.length === 1 ? numbers[0] : '';
        if (
          this.state !== 'receiving' ||
          numbers.length !== 1 ||
          data.length > MAX_CHUNK ||
          this.chunks.length >= this.expectedChunks ||
          this.length + data.length > MAX_BASE64
        )
          return this.fail();
        this.chunks.push(data);
        this.length += data.length;
        return this.state;
      }
      case 'pen': {
        if (this.state !== 'receiving' || numbers.length !== 5 || !numbers.every((n) => SIGNED.test(n)))
          return this.fail();
        const [i, x, y, colour, width] = numbers.map(Number);
        if (i !== this.pens.length || i >= SLOTS) return this.fail();
        const int16 = (v) => v >= INT16_MIN && v <= INT16_MAX;
        if (!int16(x) || !int16(y) || !int16(width) || colour < -2147483648 || colour > 2147483647)
          return this.fail();
        this.pens.push({ index: i, x, y, colour, width });
        return this.state;
      }
      case 'end':
        if (
          this.state !== 'receiving' ||
          numbers.length !== 1 ||
          !DECIMAL.test(numbers[0]) ||
          this.chunks.length !== this.expectedChunks ||
          this.pens.length !== SLOTS
        )
          return this.fail();
        this.checksum = Number(numbers[0]);
        this.state = 'complete';
        return this.state;
      default:
        return this.state; // requests relayed by a described server, later kinds
    }
  }

  // After 'complete': the picture's pixels (Uint32Array as the board keeps
  // them) when the PNG decodes to the announced picture, else null.
  async decode() {
    const base64 = this.chunks.join('');
    this.chunks = [];
    const pixels = await decodePng(base64, this.bytes, WIDTH, HEIGHT);
    return pixels && checksum(pixels) === this.checksum ? pixels : null;
  }
}

// The pixels of a base64 PNG of `bytes` bytes that must be `width` x
// `height` (Uint32Array as the board keeps them), or null.
export async function decodePng(base64, bytes, width, height) {
  let binary;
  try {
    binary = atob(base64);
  } catch {
    return null;
  }
  if (binary.length !== bytes) return null;
  const data = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) data[i] = binary.charCodeAt(i);
  let bitmap;
  try {
    bitmap = await createImageBitmap(new Blob([data], { type: 'image/png' }), {
      colorSpaceConversion: 'none',
      premultiplyAlpha: 'none',
    });
  } catch {
    return null;
  }
  if (bitmap.width !== width || bitmap.height !== height) {
    bitmap.close();
    return null;
  }
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return new Uint32Array(context.getImageData(0, 0, width, height).data.buffer);
}
