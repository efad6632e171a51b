// What reaches the board from the drawing channel, in stream order, around
// the snapshot asked for at each connection: command-7 lines go to the
// snapshot being received; lines after its end wait until its picture is in
// place; own paints since the request are painted again over it (the server
// took the picture before any of our later lines, which come back on top of
// it at every other member).

import { BOARD_FULL, Command, readDownLine } from './protocol.js';
import { SnapshotReceiver } from './snapshot.js';

// The outcome of the latest snapshot: 'none' (not asked, or never
// answered), 'waiting', 'applied' or 'failed'.
export class BoardFeed {
  constructor(
    board,
    { now = () => performance.now(), afterPaint = (f) => f(), changed = () => {}, full = () => {} } = {},
  ) {
    this.board = board;
    this.full = full; // the server said that every pen slot is taken
    this.now = now;
    this.afterPaint = afterPaint; // runs f once the current picture is on the screen
    this.changed = changed; // after lines were applied later than they arrived
    this.snapshot = null; // SnapshotReceiver while one is expected
    this.held = null; // lines received while a complete snapshot decodes
    this.ownSince = null; // own paints since the request, replayed over the snapshot
    this.result = 'none';
    this.appliedAt = null; // now() when the snapshot's picture was in place
    this.paintedAt = null; // ... and on the screen
  }

  // A snapshot with this token was asked for.
  expect(token) {
    this.snapshot = new SnapshotReceiver(token);
    this.held = null;
    this.ownSince = [];
    this.result = 'waiting';
  }

  // Nothing came in time for the snapshot with this token (a described
  // server never answers).
  giveUp(token) {
    const snapshot = this.snapshot;
    if (snapshot && snapshot.token === token && snapshot.state === 'waiting') this.end('none');
  }

  // Paints locally and remembers the paint while a snapshot may replace the picture.
  paintOwn(paint) {
    paint();
    if (this.ownSince) this.ownSince.push(paint);
  }

  // Complete downstream lines without their "\r\n".
  take(lines) {
    for (const line of lines) {
      const fields = readDownLine(line);
      if (fields && fields.command === Command.Extension && fields.argument === BOARD_FULL) this.full();
      else if (fields && fields.command === Command.Extension)
        this.takeSnapshotLine(fields.index, fields.argument);
      else if (this.held) this.held.push(line);
      else this.board.applyLine(line);
    }
  }

  takeSnapshotLine(index, argument) {
    const snapshot = this.snapshot;
    if (!snapshot) return;
    const state = snapshot.take(index, argument);
    if (state === 'failed') {
      this.end('failed');
    } else if (state === 'complete') {
      this.held = [];
      snapshot.decode().then((pixels) => {
        if (this.snapshot !== snapshot) return;
        if (pixels) {
          this.board.replace(pixels, snapshot.pens);
          for (const paint of this.ownSince) paint();
        }
        this.end(pixels ? 'applied' : 'failed');
      });
    }
  }

  end(result) {
    this.snapshot = null;
    this.ownSince = null;
    this.result = result;
    if (result === 'applied') {
      this.appliedAt = this.now();
      this.afterPaint(() => {
        this.paintedAt = this.now();
      });
    }
    const held = this.held || [];
    this.held = null;
    held.forEach((line) => this.board.applyLine(line));
    this.changed();
  }
}
