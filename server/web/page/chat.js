// The chat as the desktop client reads it: each member's name, text colour,
// size and face by index, and what a downstream text message shows. Messages
// of indices beyond the member tables are dropped (they cannot join).

import { SLOTS, TextType, readDownMessage, readInt16, readInt32 } from './protocol.js';

// What one message shows: notices are the chat's own grey lines; a remark
// carries its sender's colour value, size in points (0: the default) and face
// (1 mincho, else gothic).
export const notice = (text) => ({ kind: 'notice', text });
export const remark = (text, colour, size, face) => ({ kind: 'remark', text, colour, size, face });

export class Chat {
  constructor() {
    this.names = new Array(SLOTS).fill('');
    this.colours = new Int32Array(SLOTS);
    this.sizes = new Int16Array(SLOTS);
    this.faces = new Int16Array(SLOTS);
  }

  // One downstream message: the entries it shows, in order (often none).
  receive(message) {
    const m = readDownMessage(message);
    if (!m || m.index < 0 || m.index >= SLOTS) return [];
    const { index, payload } = m;
    const name = this.names[index];
    switch (m.type) {
      case TextType.Leave:
        return [notice(`${name} さんが退室しました`)];
      case TextType.Join:
        this.names[index] = payload;
        return [notice(`${payload} さんが入室しました`)];
      case TextType.Remark:
        return [
          notice(`${name} の発言 :`),
          remark(payload, this.colours[index], this.sizes[index], this.faces[index]),
        ];
      case TextType.Rename:
        this.names[index] = payload;
        return [notice(`${name} は ${payload} に名前変更しました`)];
      case TextType.MemberList:
        return [notice(`\r\n現在のメンバ : \r\n${payload}`)];
      case TextType.Name:
        this.names[index] = payload;
        return [];
      case TextType.FontColor:
        this.keep(this.colours, index, readInt32(payload));
        return [];
      case TextType.FontSize:
        this.keep(this.sizes, index, readInt16(payload));
        return [];
      case TextType.FontFace:
        this.keep(this.faces, index, readInt16(payload));
        return [];
      default:
        return [];
    }
  }

  keep(table, index, value) {
    if (value !== null) table[index] = value;
  }
}
