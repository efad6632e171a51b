// The page's membership: one WebSocket to the bridge, which carries both
// channels of one member. After the bridge says both are connected the page
// does what the desktop client does after connecting: colour, then width,
// then its session claim (below); then asks for the picture as it is now and
// the member count (asked again every 15 s); and the chat window's
// announcement: name, size, colour, face; then whatever announced() sends
// (who we are for undo).
// Nothing is sent before that or after the close.
//
// Once it has been connected the page keeps trying to connect again after a
// close, quickly at first and then every few seconds (RETRY_MS, then the
// last value for ever), and at once when the page becomes visible again or
// the network comes back (retryNow); only leave() ends that.
//
// The session (the verbs and the steps: server/linkkeeper.h). The page makes
// one id per page load and claims it on every connection right after its
// pen, before the request for the picture. From then on its lines are
// counted and its drawing lines kept until pongs say they are durable
// (keptlines.js); pings go out once the claim is answered, and a link
// without a pong for too long is closed here and tried again.
//
//   phase     drawing lines                 other lines
//   down      kept offline (once ready)     not sent
//   holding   kept offline until resent     sent, counted
//   open      sent, counted and kept        sent, counted
//   plain     sent                          sent
//
// Holding lasts from a connection with something to send again until the
// answer has come and the shared picture is shown (or refused, or not
// coming); then go, in order, the pen after the server's last line, the
// kept lines it lacks, what was drawn offline, and the current pen. A claim
// not answered within answerWaitMs gives the session up for the connection
// (plain): what was drawn offline goes out as it is.

import {
  Bridge,
  SERVER_EXTENSION,
  TextType,
  clientMessage,
  colorLine,
  drawingMessage,
  leaveMessage,
  memberRequestLine,
  pingLine,
  readBridgeMessage,
  readLinkLine,
  sessionLine,
  snapRequestLine,
  splitLines,
  textMessage,
  widthLine,
} from './protocol.js';
import { KeptLines, isDrawing } from './keptlines.js';
import { LINK_TIMING, LinkWatch } from './linkwatch.js';
import { newToken } from './snapshot.js';

export const RETRY_MS = Object.freeze([500, 1000, 2000, 3000]);
export const Phase = Object.freeze({ Down: 'down', Holding: 'holding', Open: 'open', Plain: 'plain' });
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
    // One session per page load: 16 characters of [0-9a-z].
    this.session = Array.from(crypto.getRandomValues(new Uint32Array(16)), (r) => (r % 36).toString(36)).join(
      '',
    );
    this.timing = { ...LINK_TIMING, answerWaitMs: 15000 };
    this.phase = Phase.Down;
    this.answered = false; // the claim of this connection
    this.pictureShown = false; // the picture asked for on this connection settled
    this.pictureReplaced = false; // ... and replaced the page's own
    this.answerWait = null;
    this.watch = new LinkWatch({
      ping: (token) => this.sendDrawing(pingLine(token)),
      dead: () => this.linkDead(),
      now,
    });
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

  // Complete drawing lines, each with its "\r\n", in one message, as the
  // phase says (the table above).
  sendDrawing(...lines) {
    if (!this.ready) {
      if (this.canDraw) lines.forEach((line) => this.kept.keep(line));
      return;
    }
    let out = lines;
    if (this.phase === Phase.Holding) {
      lines.filter(isDrawing).forEach((line) => this.kept.keep(line));
      out = lines.filter((line) => !isDrawing(line));
    }
    if (out.length === 0) return;
    this.ws.send(drawingMessage(out));
    if (this.phase === Phase.Plain) out.forEach((line) => this.kept.sentPlain(line));
    else out.forEach((line) => this.kept.sent(line));
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
        this.feed.take(splitLines(message.body).filter((line) => !this.takeLinkLine(line)));
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
    this.answered = this.pictureShown = this.pictureReplaced = false;
    this.feed.expect(token, () => this.shown());
    const { colour, width } = this.pen();
    this.kept.announced(colour, width);
    // The pen and the claim are no lines of the session.
    this.ws.send(drawingMessage([colorLine(colour), widthLine(width), sessionLine(this.session)]));
    this.kept.claimed();
    this.phase = this.kept.empty ? Phase.Open : Phase.Holding;
    this.answerWait = setTimeout(() => this.giveUp(), this.timing.answerWaitMs);
    this.sendDrawing(snapRequestLine(token), memberRequestLine());
    setTimeout(() => this.feed.giveUp(token), this.snapshotWaitMs);
    this.timers.push(setInterval(() => this.sendDrawing(memberRequestLine()), MEMBER_POLL_MS));
    this.sendText(clientMessage(TextType.Join, this.name));
    this.sendText(clientMessage(TextType.FontSize, FONT_SIZE));
    this.sendText(clientMessage(TextType.FontColor, 0));
    this.sendText(clientMessage(TextType.FontFace, 0));
    this.joined = true;
    this.announced();
  }

  // The server's answers on the link; true for a line of theirs.
  takeLinkLine(line) {
    if (!line.startsWith(SERVER_EXTENSION)) return false;
    const link = readLinkLine(line.slice(SERVER_EXTENSION.length));
    if (!link) return false;
    if (link.verb === 'pong') {
      this.watch.heard();
      if (this.answered) this.kept.durable(link.count);
    } else if (link.token === this.session && this.phase !== Phase.Plain && !this.answered) {
      this.answered = true;
      clearTimeout(this.answerWait);
      this.kept.answered(link.count);
      this.watch.timing = this.timing;
      this.watch.start();
      this.resend();
    }
    return true;
  }

  // The picture asked for is shown, refused or not coming.
  shown() {
    this.pictureShown = true;
    this.pictureReplaced = this.feed.result === 'applied';
    if (this.pictureReplaced) this.kept.pictureTaken();
    this.resend();
  }

  resend() {
    if (this.phase !== Phase.Holding || !this.answered || !this.pictureShown) return;
    this.phase = Phase.Open;
    const lines = this.kept.takeResend();
    if (this.pictureReplaced) this.feed.repaint(lines);
    this.sendCurrentPen(lines);
  }

  // Not a server of ours after all: what was drawn offline goes out as drawn.
  giveUp() {
    if (!this.ready || this.answered) return;
    this.phase = Phase.Plain;
    const lines = this.kept.giveUp();
    if (lines.length > 0) this.sendCurrentPen(lines);
  }

  sendCurrentPen(lines) {
    const { colour, width } = this.pen();
    this.sendDrawing(...lines, colorLine(colour), widthLine(width));
  }

  // No pong for too long: the link is taken for gone at once (a close
  // handshake over it would not end) and tried again.
  linkDead() {
    const ws = this.ws;
    ws.onclose = ws.onmessage = null;
    ws.close();
    this.closed();
  }

  closed() {
    this.ready = false;
    this.joined = false;
    this.phase = Phase.Down;
    this.watch.stop();
    clearTimeout(this.answerWait);
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
