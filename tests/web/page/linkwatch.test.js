// The page's heartbeat on a clock of its own: a ping at once and then every
// pingMs, the link dead once no pong came for deadMs, told once.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { LinkWatch } from '../../../server/web/page/linkwatch.js';

test('pings while pongs come; dead after deadMs without one', () => {
  let now = 0;
  const pings = [];
  let deaths = 0;
  const watch = new LinkWatch({ ping: (token) => pings.push(token), dead: () => ++deaths, now: () => now });
  watch.timing = { pingMs: 5000, deadMs: 20000 };
  watch.start();
  assert.deepEqual(pings, ['p1']);
  now = 4999;
  watch.tick();
  now = 5000;
  watch.tick();
  assert.deepEqual(pings, ['p1', 'p2']);
  now = 19000;
  watch.heard();
  now = 39000;
  watch.tick();
  assert.equal(deaths, 0);
  now = 39001;
  watch.tick();
  assert.equal(deaths, 1);
  assert.equal(watch.watching, false);
  watch.heard(); // a late pong revives nothing
  watch.tick();
  assert.equal(deaths, 1);
});
