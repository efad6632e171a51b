// The conversation on the screen: each entry the chat reads becomes one
// paragraph, always as text, never as markup. The log keeps following the
// newest entry while it is scrolled to its end.

const NOTICE_COLOUR = 'rgb(50, 50, 50)';
const MAX_POINTS = 72;

const cssColour = (value) => `rgb(${value & 0xff}, ${(value >> 8) & 0xff}, ${(value >> 16) & 0xff})`;

export class ChatView {
  constructor(log) {
    this.log = log; // the element the conversation is appended to
  }

  // Shows the entries; true when there was any.
  show(entries) {
    for (const entry of entries) {
      const p = this.paragraph(entry.kind, entry.text);
      if (entry.kind === 'notice') {
        p.style.color = NOTICE_COLOUR;
      } else {
        p.style.color = cssColour(entry.colour);
        if (entry.size > 0) p.style.fontSize = `${Math.min(entry.size, MAX_POINTS)}pt`;
        p.classList.add(entry.face === 1 ? 'mincho' : 'gothic');
      }
    }
    return entries.length > 0;
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
}
