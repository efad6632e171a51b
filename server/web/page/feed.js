// What reaches the board from the drawing channel, in stream order, around
// the snapshot asked for at each connection and the patches of undo and
// redo: the server's own command-7 lines go to the snapshot being received
// or to undo; lines after a complete snapshot or patch wait until its
// picture is in place (decoding a PNG takes its time in a browser); own
// paints made meanwhile are painted again over it (the server took the
// picture before any of our later lines, which come back on top of it at
// every other member).

import { BOARD_FULL, SERVER_EXTENSION, UNDO_VERBS, readDownLine } from './protocol.js';
import { SnapshotReceiver, decodePng } from './snapshot.js';

export class BoardFeed {
  constructor(
    board,
    {
      now = () => performance.now(),
      afterPaint = (f) => f(),
      changed = () => {},
      undo = null,
      full = () => {},
      decode = decodePng,
    } = {},
  ) {
    this.board = board;
    this.full = full; // the server said that every pen slot is taken
    this.undo = undo; // the Undo that reads the undo lines, if any
    this.decode = decode; // a patch's PNG to pixels (snapshot.js's decodePng)
    this.now = now;
    this.afterPaint = afterPaint; // runs f once the current picture is on the screen
    this.changed = changed; // after lines were applied later than they arrived
    this.snapshot = null; // SnapshotReceiver while one is expected
    this.held = null; // lines received while a complete snapshot decodes
    this.ownSince = null; // own paints since the request, replayed over the snapshot
    this.ownDuringPatch = null; // own paints while a patch decodes, replayed over it
    this.unsent = null; // own paints while closed: sent on the next connection
    this.patches = 0; // patches pasted
    this.settled = null; // told once the snapshot asked for is shown, refused or not coming
    this.result = 'none';
    this.appliedAt = null; // now() when the snapshot's picture was in place
    this.paintedAt = null; // ... and on the screen
  }

  // A snapshot with this token was asked for; settled() is told once its
  // picture is in place with what waited for it, or once it failed or
  // did not come.
  expect(token, settled = null) {
    this.snapshot = new SnapshotReceiver(token);
    this.settled = settled;
    this.held = null;
    this.ownSince = this.unsent || [];
    this.unsent = null;
    this.result = 'waiting';
  }

  // Nothing came in time for the snapshot with this token (a described
  // server never answers).
  giveUp(token) {
    const snapshot = this.snapshot;
    if (snapshot && snapshot.token === token && snapshot.state === 'waiting') this.end('none');
  }

  // Paints locally and remembers the paint while a snapshot or a patch may
  // replace the picture.
  paintOwn(paint) {
    paint();
    if (this.unsent) this.unsent.push(paint);
    if (this.ownSince) this.ownSince.push(paint);
    if (this.ownDuringPatch) this.ownDuringPatch.push(paint);
  }

  // The connection closed: own paints from now on wait for the next one.
  closed() {
    this.snapshot = null;
    this.settled = null;
    this.ownSince = null;
    this.held = null;
    this.unsent = this.unsent || [];
  }

  // Complete downstream lines without their "\r\n". Command-7 lines of
  // members (a described server relays them) and lines whose command only
  // rounds to 7 paint nothing on the board.
  take(lines) {
    for (let i = 0; i < lines.length; ++i) {
      if (this.held) {
        for (let j = i; j < lines.length; ++j) this.held.push(lines[j]);
        return;
      }
      const line = lines[i];
      const fields = line.startsWith(SERVER_EXTENSION) ? readDownLine(line) : null;
      if (fields) this.takeExtension(fields.argument);
      else this.board.applyLine(line);
    }
  }

  takeExtension(argument) {
    if (argument === BOARD_FULL) {
      this.full();
      return;
    }
    const verb = argument.split(' ', 1)[0];
    if (!this.undo || !UNDO_VERBS.includes(verb)) {
      this.takeSnapshotLine(argument);
      return;
    }
    const patch = this.undo.take(argument);
    if (!patch) return;
    this.held = [];
    this.ownDuringPatch = [];
    this.decode(patch.base64, patch.bytes, patch.w, patch.h).then((pixels) => {
      if (pixels) {
        this.board.paste(pixels, patch.x, patch.y, patch.w, patch.h);
        for (const paint of this.ownDuringPatch || []) paint();
        ++this.patches;
      }
      this.ownDuringPatch = null;
      this.release();
    });
  }

  takeSnapshotLine(argument) {
    const snapshot = this.snapshot;
    if (!snapshot) return;
    const state = snapshot.take(0, argument);
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
    const settled = this.settled;
    this.snapshot = null;
    this.settled = null;
    this.ownSince = null;
    this.result = result;
    if (result === 'applied') {
      this.appliedAt = this.now();
      this.afterPaint(() => {
        this.paintedAt = this.now();
      });
    }
    this.release();
    if (settled) settled();
  }

  // Own lines a shared picture replaced, painted again on top of it with a
  // pen of their own (a borrowed slot, given back as it was). Lines already
  // painted again over the picture may be among them: painted once more, in
  // order and last, they leave what the server's picture shows once it takes them.
  repaint(lines) {
    const board = this.board;
    const pen = [board.penX[0], board.penY[0], board.penColor[0], board.penSize[0]];
    board.penX[0] = board.penY[0] = board.penColor[0] = board.penSize[0] = 0;
    for (const line of lines) board.applyLine(`0:${line.replace(/\r\n$/, '')}`);
    [board.penX[0], board.penY[0], board.penColor[0], board.penSize[0]] = pen;
  }

  // What waited for a picture, in order (it may hold the next patch).
  release() {
    const held = this.held || [];
    this.held = null;
    this.take(held);
    this.changed();
  }
}
