// Undo and redo of the page's own strokes and clear-alls, which the server
// keeps and rebuilds (the lines: protocol.js). The page asks, pastes what
// comes back and shows what it is told, as the desktop client does:
// - who it is: an id made once per page load and the chat name, announced
//   when the connection is up and again after a rename;
// - what can be taken back: the counts of the server's answers and "can"
//   lines, nothing until the server says or while not connected;
// - patches: gathered here in stream order; a complete one goes to the feed,
//   which pastes it before anything that came after it. One that fails a
//   check is dropped;
// - "cleared" and "restored": notices for the chat.

import { meLine, readUndoLine, redoLine, undoLine } from './protocol.js';

const LETTERS = '0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz';

export function newMemberId() {
  return Array.from(crypto.getRandomValues(new Uint32Array(16)), (r) => LETTERS[r % 62]).join('');
}

// The text the chat shows for a "cleared" or "restored" line.
export function noticeText({ verb, index, undoable, name }) {
  const who = name ? `${name} さん` : `${index} 番の参加者`;
  if (verb === 'restored') return `${who}が全消しを取り消しました`;
  if (!undoable) return `${who}が全員のキャンバスを消去しました`;
  return `${who}が全員のキャンバスを消去しました（消した人は「元に戻す」で取り消せます）`;
}

export class Undo {
  // send(line): one upstream line; changed(): what can be taken back
  // changed; notice(text): a line for the chat.
  constructor({ send, changed = () => {}, notice = () => {} }) {
    Object.assign(this, { send, changed, notice });
    this.id = newMemberId();
    this.ready = false; // connected: requests go out
    this.offered = false; // the server spoke of undo on this connection
    this.undos = 0;
    this.redos = 0;
    this.requests = 0; // makes each request's token
    this.patch = null; // the patch being received
  }

  // The connection is up (after the pen and the snapshot request).
  begin(name) {
    this.ready = true;
    this.patch = null;
    this.setCounts(false, 0, 0);
    this.announce(name);
  }

  announce(name) {
    if (this.ready) this.send(meLine(this.id, name));
  }

  closed() {
    this.ready = false;
    this.patch = null;
    this.setCounts(false, 0, 0);
  }

  // Requests while one is on its way go out too: each takes back one more,
  // and the server answers "none" to those past the end.
  undo() {
    if (this.ready && this.undos > 0) this.send(undoLine((++this.requests).toString(36)));
  }

  redo() {
    if (this.ready && this.redos > 0) this.send(redoLine((++this.requests).toString(36)));
  }

  // The argument of one "0:7:" line with an undo verb. Returns a complete
  // patch {x, y, w, h, bytes, checksum, base64} to paste now, else null.
  take(argument) {
    const line = readUndoLine(argument);
    if (line && line.verb === 'pdata') return this.patch ? this.addData(line) : null;
    this.patch = null; // a patch is one block: nothing of ours comes between
    if (!line || line.broken) return null;
    switch (line.verb) {
      case 'undo':
      case 'redo':
      case 'can':
        this.setCounts(true, line.undos, line.redos);
        break;
      case 'patch':
        this.patch = { ...line, parts: [], length: 0, seen: 0 };
        break;
      case 'cleared':
      case 'restored':
        this.notice(noticeText(line));
        break;
      default:
        break;
    }
    return null;
  }

  addData(line) {
    const p = this.patch;
    const expected = Math.floor((p.bytes + 2) / 3) * 4;
    if (line.broken || line.data.length > expected - p.length) {
      this.patch = null;
      return null;
    }
    p.parts.push(line.data);
    p.length += line.data.length;
    if (++p.seen < p.chunks) return null;
    this.patch = null;
    if (p.length !== expected) return null;
    const { x, y, w, h, bytes, checksum } = p;
    return { x, y, w, h, bytes, checksum, base64: p.parts.join('') };
  }

  setCounts(offered, undos, redos) {
    Object.assign(this, { offered, undos, redos });
    this.changed();
  }
}
