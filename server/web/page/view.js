// How the board shows in the viewport: a scale and an offset (the canvas is
// moved by a CSS transform, the picture is never resampled), the mapping from
// screen points to board pixels, pan and zoom, and the paint loop that copies
// what the board painted since the last frame.

import { WIDTH, HEIGHT } from './raster.js';
import { INT16_MAX, INT16_MIN } from './protocol.js';

const MIN_SCALE = 0.1;
const MAX_SCALE = 16;
const PIXELATED_FROM = 2; // scales at which each pixel shows as a square
const WHEEL_ZOOM = 300; // wheel delta per factor e

const clamp16 = (v) => Math.max(INT16_MIN, Math.min(INT16_MAX, v));
const clampScale = (s) => Math.max(MIN_SCALE, Math.min(MAX_SCALE, s));

export class View {
  constructor(board, canvas, viewport) {
    this.board = board;
    this.canvas = canvas;
    this.viewport = viewport;
    this.context = canvas.getContext('2d');
    this.image = new ImageData(board.bytes, WIDTH, HEIGHT); // the board's own memory
    this.scale = 1;
    this.tx = 0;
    this.ty = 0;
  }

  set(scale, tx, ty) {
    Object.assign(this, { scale, tx, ty });
    this.canvas.style.transform = `translate(${tx}px, ${ty}px) scale(${scale})`;
    this.canvas.classList.toggle('pixelated', scale >= PIXELATED_FROM);
  }

  // The whole board in the viewport, inside its border, never enlarged.
  fit() {
    const { clientWidth: w, clientHeight: h } = this.viewport;
    this.set(Math.min(1, w / WIDTH, h / HEIGHT) || 1, 0, 0);
  }

  // The board pixel under a pointer event, as a 16-bit point.
  boardPoint(e) {
    const rect = this.canvas.getBoundingClientRect();
    return {
      x: clamp16(Math.floor(((e.clientX - rect.left) * WIDTH) / rect.width)),
      y: clamp16(Math.floor(((e.clientY - rect.top) * HEIGHT) / rect.height)),
    };
  }

  // A pan and zoom that starts at `start` {x, y, d}: client coordinates and
  // the fingers' distance (1 for one pointer).
  beginGesture(start) {
    return { start, from: { scale: this.scale, tx: this.tx, ty: this.ty } };
  }

  // The gesture's point `now` stays over the board point that was under its start.
  follow(gesture, now) {
    const { start, from } = gesture;
    const scale = clampScale(from.scale * (now.d / start.d));
    const k = scale / from.scale;
    const origin = this.viewport.getBoundingClientRect();
    const sx = start.x - origin.left;
    const sy = start.y - origin.top;
    this.set(scale, now.x - origin.left - (sx - from.tx) * k, now.y - origin.top - (sy - from.ty) * k);
  }

  // Ctrl + wheel zooms around the pointer; the wheel alone pans.
  wheel(e) {
    e.preventDefault();
    if (!e.ctrlKey) {
      this.set(this.scale, this.tx - e.deltaX, this.ty - e.deltaY);
      return;
    }
    const origin = this.viewport.getBoundingClientRect();
    const scale = clampScale(this.scale * Math.exp(-e.deltaY / WHEEL_ZOOM));
    const k = scale / this.scale;
    const px = e.clientX - origin.left;
    const py = e.clientY - origin.top;
    this.set(scale, px - (px - this.tx) * k, py - (py - this.ty) * k);
  }

  // Every frame: what the board painted since the last one.
  startPainting() {
    const paint = () => {
      const d = this.board.takeDirty();
      if (d) this.context.putImageData(this.image, 0, 0, d[0], d[1], d[2] - d[0] + 1, d[3] - d[1] + 1);
      requestAnimationFrame(paint);
    };
    requestAnimationFrame(paint);
  }
}
