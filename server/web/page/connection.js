// The page's membership: one WebSocket to the bridge, which carries both
// channels of one member. After the bridge says both are connected the page
// does what the desktop client does after connecting: colour, then width;
// then asks for the picture as it is now and the member count (asked again
// every 15 s); and the chat window's announcement: name, size, colour, face;
// then whatever announced() sends (who we are for undo).
// Nothing is sent before that or after the close.
//
// Once it has been connected the page keeps trying to connect again after a
// close, quickly at first and then every few seconds (RETRY_MS, then the
// last value for ever), and at once when the page becomes visible again or
// the network comes back (retryNow); only leave() ends that. What is drawn
// while closed is kept (keptlines.js) and sent on the next connection right
// after the request for the shared picture, so the server takes it after
// the picture it sends, then the current pen.

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
import { KeptLines } from './keptlines.js';
import { newToken } from './snapshot.js';

export const RETRY_MS = Object.freeze([500, 1000, 2000, 3000]);
const MEMBER_POLL_MS = 15000;
const FONT_SIZE = 10;

export class Connection {
  // feed: the BoardFeed that takes the drawing lines; pen(): the current
  // {colour, width}; changed(state): 'connecting', 'ready' or 'closed';
  // drawn(): lines were applied; text(message): one downstream text message;
  // announced(): the announcements went out, others may follow. changed()
  // also says 'reconnecting' while the page is trying to connect again.
  constructor({ url, feed, pen, changed, drawn, text, announced = () => {}, now = () => performance.now() }) {
    Object.assign(this, { url, feed, pen, changed, drawn, text, announced, now });
    this.name = '';
    this.snapshotWaitMs = 5000; // a described server never answers
    this.ws = null;
    this.ready = false; // both channels connected: sending goes out
    this.joined = false; // the chat announcement went out: leaving is said
    this.connectedAt = null; // now() when the WebSocket was opened
    this.timers = [];
    this.kept = new KeptLines();
    this.wasReady = false; // connected once: closes are retried, drawing is kept
    this.wanted = true; // until leave()
    this.attempt = 0;
    this.retry = null;
  }

  // Drawing goes somewhere: out now, or kept for the next connection.
  get canDraw() {
    return this.ready || (this.wasReady && this.wanted);
  }

  open() {
    this.changed(this.wasReady ? 'reconnecting' : 'connecting');
    this.connectedAt = this.now();
    const ws = new WebSocket(this.url);
    this.ws = ws;
    ws.onmessage = (event) => this.receive(event.data);
    ws.onclose = () => this.closed();
  }

  // The chat window's close: leave, then the connection ends.
  leave() {
    this.wanted = false;
    clearTimeout(this.retry);
    if (this.joined) this.sendText(leaveMessage());
    this.joined = false;
    if (this.ws) this.ws.close();
  }

  // A closed page tries again now (it became visible, the network is back).
  retryNow() {
    if (!this.wasReady || !this.wanted || this.ready) return;
    if (this.ws && this.ws.readyState === WebSocket.CONNECTING) return;
    clearTimeout(this.retry);
    this.retry = null;
    this.open();
  }

  // Complete drawing lines, each with its "\r\n", in one message.
  sendDrawing(...lines) {
    if (this.ready) {
      this.ws.send(drawingMessage(lines));
      lines.forEach((line) => this.kept.sent(line));
    } else if (this.canDraw) {
      lines.forEach((line) => this.kept.keep(line));
    }
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
    this.wasReady = true;
    this.attempt = 0;
    this.changed('ready');
    const token = newToken();
    this.feed.expect(token);
    const { colour, width } = this.pen();
    // Taken before the announcement, which moves the pen the server sees.
    const resend = this.kept.takeResend();
    this.sendDrawing(colorLine(colour), widthLine(width), snapRequestLine(token), memberRequestLine());
    if (resend.length > 0) this.sendDrawing(...resend, colorLine(colour), widthLine(width));
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
    this.feed.closed();
    if (this.wasReady && this.wanted) {
      this.changed('reconnecting');
      const delay = RETRY_MS[Math.min(this.attempt, RETRY_MS.length - 1)];
      ++this.attempt;
      clearTimeout(this.retry);
      this.retry = setTimeout(() => this.retryNow(), delay);
    } else {
      this.changed('closed');
    }
  }
}
