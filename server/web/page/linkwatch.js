// The page's heartbeat on its connection (the verbs: protocol.js, the
// server's half: server/linkkeeper.h): a ping every pingMs while watching,
// and the link is dead when no pong has come for deadMs since the watch
// began or the last pong. The connection watches only once the server has
// answered its session claim, so a server that never pongs is one that has
// gone, not one that does not speak the verb.

export const LINK_TIMING = Object.freeze({ pingMs: 5000, deadMs: 20000 });

export class LinkWatch {
  // ping(token) sends one ping; dead() is told once, and the watch stops.
  constructor({ ping, dead, now = () => performance.now() }) {
    Object.assign(this, { ping, dead, now });
    this.timing = LINK_TIMING;
    this.timer = null;
    this.serial = 0;
  }

  // Pings from now on (a first one at once), until stop().
  start() {
    this.stop();
    this.lastPong = this.now();
    this.lastPing = null;
    // Checked often enough to notice death within a second of its deadline.
    this.timer = setInterval(() => this.tick(), Math.min(this.timing.pingMs, 1000));
    this.tick();
  }

  stop() {
    clearInterval(this.timer);
    this.timer = null;
  }

  get watching() {
    return this.timer !== null;
  }

  // A pong arrived on the watched connection.
  heard() {
    if (this.watching) this.lastPong = this.now();
  }

  tick() {
    if (!this.watching) return;
    const now = this.now();
    if (now - this.lastPong > this.timing.deadMs) {
      this.stop();
      this.dead();
      return;
    }
    if (this.lastPing !== null && now - this.lastPing < this.timing.pingMs) return;
    this.lastPing = now;
    this.ping(`p${(++this.serial).toString(36)}`);
  }
}
