// The page's membership: one WebSocket to the bridge, which carries both
// channels of one member. After the bridge says both are connected the page
// does what the desktop client does after connecting: colour, then width;
// then asks for the picture as it is now and the member count (asked again
// every 15 s); and the chat window's announcement: name, size, colour, face;
// then whatever announced() sends (who we are for undo).
// Nothing is sent before that or after the close.

import {
  Bridge,
  TextType,
  clientMessage,
  colorLine,
  drawingMessage,
  leaveMessage,
  memberRequestLine,
  readBridgeMessage,
  snapRequestLine,
  splitLines,
  textMessage,
  widthLine,
} from './protocol.js';
import { newToken } from './snapshot.js';

const MEMBER_POLL_MS = 15000;
const FONT_SIZE = 10;

export class Connection {
  // feed: the BoardFeed that takes the drawing lines; pen(): the current
  // {colour, width}; changed(state): 'connecting', 'ready' or 'closed';
  // drawn(): lines were applied; text(message): one downstream text message;
  // announced(): the announcements went out, others may follow.
  constructor({ url, feed, pen, changed, drawn, text, announced = () => {}, now = () => performance.now() }) {
    Object.assign(this, { url, feed, pen, changed, drawn, text, announced, now });
    this.name = '';
    this.snapshotWaitMs = 5000; // a described server never answers
    this.ws = null;
    this.ready = false; // both channels connected: sending goes out
    this.joined = false; // the chat announcement went out: leaving is said
    this.connectedAt = null; // now() when the WebSocket was opened
    this.timers = [];
  }

  open() {
    this.changed('connecting');
    this.connectedAt = this.now();
    const ws = new WebSocket(this.url);
    this.ws = ws;
    ws.onmessage = (event) => this.receive(event.data);
    ws.onclose = () => this.closed();
  }

  // The chat window's close: leave, then the connection ends.
  leave() {
    if (this.joined) this.sendText(leaveMessage());
    this.joined = false;
    if (this.ws) this.ws.close();
  }

  // Complete drawing lines, each with its "\r\n", in one message.
  sendDrawing(...lines) {
    if (this.ready) this.ws.send(drawingMessage(lines));
  }

  sendText(message) {
    if (this.ready) this.ws.send(textMessage(message));
  }

  rename(name) {
    this.name = name;
    this.sendText(clientMessage(TextType.Rename, name));
  }

  receive(data) {
    const message = readBridgeMessage(data);
    if (!message) return;
    switch (message.kind) {
      case Bridge.Ready:
        this.begin();
        break;
      case Bridge.Drawing:
        this.feed.take(splitLines(message.body));
        this.drawn();
        break;
      case Bridge.Text:
        this.text(message.body);
        break;
      default:
        break;
    }
  }

  begin() {
    this.ready = true;
    this.changed('ready');
    const token = newToken();
    this.feed.expect(token);
    const { colour, width } = this.pen();
    this.sendDrawing(colorLine(colour), widthLine(width), snapRequestLine(token), memberRequestLine());
    setTimeout(() => this.feed.giveUp(token), this.snapshotWaitMs);
    this.timers.push(setInterval(() => this.sendDrawing(memberRequestLine()), MEMBER_POLL_MS));
    this.sendText(clientMessage(TextType.Join, this.name));
    this.sendText(clientMessage(TextType.FontSize, FONT_SIZE));
    this.sendText(clientMessage(TextType.FontColor, 0));
    this.sendText(clientMessage(TextType.FontFace, 0));
    this.joined = true;
    this.announced();
  }

  closed() {
    this.ready = false;
    this.joined = false;
    this.timers.forEach(clearInterval);
    this.timers = [];
    this.changed('closed');
  }
}
