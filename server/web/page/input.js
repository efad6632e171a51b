// The pen and the pointers: the tool, colour and width as the desktop
// client's pen has them, and what pointers do with them. One pointer draws,
// erases or picks with the tool ("hand" pans); two pan and zoom, and fingers
// left after such a gesture draw nothing until all are up. Every paint is
// painted here at once and sent as the desktop client sends it.
//
// A finger on a touch screen starts its stroke only when it moves: a second
// finger that lands first makes the touch a gesture, and nothing at all was
// sent for it (no empty pen-down and pen-up). A tap with the picker picks.

import { WHITE } from './board.js';
import {
  clearAllLine,
  colorLine,
  drawLine,
  eraseLine,
  penDownLine,
  penUpLine,
  widthLine,
} from './protocol.js';

export const Tool = Object.freeze({ Pencil: 'pencil', Eraser: 'eraser', Picker: 'picker', Hand: 'hand' });

export class PenInput {
  // changed(): the tool, colour or width changed.
  constructor({ board, feed, connection, view, changed }) {
    Object.assign(this, { board, feed, connection, view, changed });
    this.tool = Tool.Pencil;
    this.colour = 0;
    this.width = 0; // width value 0..3
    this.stroke = null; // {x, y} of the last point while a stroke is in progress
    this.pending = null; // {x, y} where a finger is down that has not moved yet
    this.gesture = null; // pan / zoom in progress: the view's gesture, and whether by the hand tool
    this.idle = false;
    this.pointers = new Map(); // pointerId -> {x, y} in client coordinates
  }

  // Colour values outside 0..16777215 are not taken.
  setColour(value) {
    if (!(value >= 0 && value <= WHITE)) return;
    this.colour = value;
    this.connection.sendDrawing(colorLine(value));
    this.changed();
  }

  setWidth(value) {
    this.width = value;
    this.connection.sendDrawing(widthLine(value));
    this.changed();
  }

  setTool(tool) {
    this.tool = tool;
    this.changed();
  }

  clearAll() {
    this.feed.paintOwn(() => this.board.clearAll());
    this.connection.sendDrawing(clearAllLine());
  }

  // Picking outside the picture sends its -1 without taking it.
  pick(p) {
    const value = this.board.pixelValue(p.x, p.y);
    if (value >= 0) this.setColour(value);
    else this.connection.sendDrawing(colorLine(value));
  }

  strokeTo(p) {
    const last = this.stroke;
    if (p.x === last.x && p.y === last.y) return;
    const w = this.width;
    if (this.tool === Tool.Pencil) {
      const c = this.colour;
      this.feed.paintOwn(() => this.board.lineWrite(last.x, last.y, p.x, p.y, w, c));
      this.connection.sendDrawing(drawLine(p.x, p.y));
    } else if (this.tool === Tool.Eraser) {
      this.feed.paintOwn(() => this.board.lineWrite(last.x, last.y, p.x, p.y, w, WHITE));
      this.connection.sendDrawing(eraseLine(p.x, p.y));
    }
    this.stroke = p;
  }

  endStroke() {
    this.pending = null;
    if (!this.stroke) return;
    this.stroke = null;
    this.connection.sendDrawing(penUpLine());
  }

  pinch() {
    const [a, b] = [...this.pointers.values()];
    return { x: (a.x + b.x) / 2, y: (a.y + b.y) / 2, d: Math.hypot(a.x - b.x, a.y - b.y) || 1 };
  }

  down(e) {
    this.pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (this.pointers.size >= 2) {
      this.endStroke();
      this.gesture = { view: this.view.beginGesture(this.pinch()), hand: false };
      this.idle = true;
      return;
    }
    if (this.idle || e.button !== 0) return;
    if (this.tool === Tool.Hand) {
      this.gesture = { view: this.view.beginGesture({ x: e.clientX, y: e.clientY, d: 1 }), hand: true };
      return;
    }
    if (!this.connection.canDraw) return;
    const p = this.view.boardPoint(e);
    if (e.pointerType === 'touch') this.pending = p;
    else this.beginStroke(p);
  }

  beginStroke(p) {
    this.pending = null;
    this.stroke = p;
    if (this.tool === Tool.Picker) this.pick(p);
    else this.connection.sendDrawing(penDownLine(p.x, p.y));
  }

  move(e) {
    if (!this.pointers.has(e.pointerId)) return;
    this.pointers.set(e.pointerId, { x: e.clientX, y: e.clientY });
    if (this.gesture) {
      const now = this.gesture.hand ? { x: e.clientX, y: e.clientY, d: 1 } : this.pinch();
      this.view.follow(this.gesture.view, now);
      return;
    }
    if (this.pending) {
      const p = this.view.boardPoint(e);
      if (p.x === this.pending.x && p.y === this.pending.y) return; // not moved yet
      this.beginStroke(this.pending);
    }
    if (!this.stroke) return;
    const events = e.getCoalescedEvents ? e.getCoalescedEvents() : [];
    for (const one of events.length ? events : [e]) {
      const p = this.view.boardPoint(one);
      if (this.tool === Tool.Picker) this.pick(p);
      else this.strokeTo(p);
    }
  }

  up(e) {
    if (!this.pointers.delete(e.pointerId)) return;
    if (this.pointers.size < 2 && this.gesture && !this.gesture.hand) this.gesture = null;
    if (this.pointers.size === 0) {
      if (this.pending && this.tool === Tool.Picker) this.beginStroke(this.pending);
      this.gesture = null;
      this.idle = false;
      this.endStroke();
    }
  }
}
