// The chat as the desktop client shows it. Downstream text message (without
// its "%EOT%"): index "<:>" type "<:>" text; fewer than three fields are
// ignored, further fields dropped (a remark holding "<:>" is cut there).
// Types: 0 left, 1 joined (name), 2 remark, 3 renamed, 4 member list,
// 5 name (no notice), 6 text colour, 7 font size (points), 8 face (1 mincho).
// Names and remarks are shown as text, never as markup.

import { SLOTS, readInt16, readInt32 } from './board.js';

const NOTICE_COLOUR = 'rgb(50, 50, 50)';

const cssColour = (value) =>
  `rgb(${value & 0xff}, ${(value >> 8) & 0xff}, ${(value >> 16) & 0xff})`;

export class Chat {
  constructor(log) {
    this.log = log; // the element the conversation is appended to
    this.names = new Array(SLOTS).fill('');
    this.colours = new Int32Array(SLOTS);
    this.sizes = new Int16Array(SLOTS);
    this.faces = new Int16Array(SLOTS);
  }

  // One downstream message; returns true when something was shown.
  receive(message) {
    const fields = message.split('<:>');
    if (fields.length < 3) return false;
    const index = readInt16(fields[0]);
    const type = readInt16(fields[1]);
    const text = fields[2];
    // Connections beyond the member tables cannot join; their messages are dropped.
    if (index === null || type === null || index < 0 || index >= SLOTS) return false;
    const name = this.names[index];
    switch (type) {
    case 0: return this.notice(`${name} さんが退室しました`);
    case 1:
      this.names[index] = text;
      return this.notice(`${text} さんが入室しました`);
    case 2:
      this.notice(`${name} の発言 :`);
      return this.remark(index, text);
    case 3:
      this.names[index] = text;
      return this.notice(`${name} は ${text} に名前変更しました`);
    case 4: return this.notice(`\r\n現在のメンバ : \r\n${text}`);
    case 5: this.names[index] = text; return false;
    case 6: { const v = readInt32(text); if (v !== null) this.colours[index] = v; return false; }
    case 7: { const v = readInt16(text); if (v !== null) this.sizes[index] = v; return false; }
    case 8: { const v = readInt16(text); if (v !== null) this.faces[index] = v; return false; }
    default: return false;
    }
  }

  paragraph(className, text) {
    const p = document.createElement('p');
    p.className = className;
    p.textContent = text.replace(/\r\n/g, '\n');
    const atEnd = this.log.scrollTop + this.log.clientHeight >= this.log.scrollHeight - 8;
    this.log.append(p);
    if (atEnd) this.log.scrollTop = this.log.scrollHeight;
    return p;
  }

  notice(text) {
    this.paragraph('notice', text).style.color = NOTICE_COLOUR;
    return true;
  }

  remark(index, text) {
    const p = this.paragraph('remark', text);
    p.style.color = cssColour(this.colours[index]);
    if (this.sizes[index] > 0) p.style.fontSize = `${Math.min(this.sizes[index], 72)}pt`;
    p.classList.add(this.faces[index] === 1 ? 'mincho' : 'gothic');
    return true;
  }
}
