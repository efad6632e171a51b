// Receiving the board snapshot: the order and the counts its lines must keep
// before it may be decoded (the decoding itself needs a browser and is
// tested there), and the feed that holds later lines back until the picture
// is in place and paints the page's own strokes again over it.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Board, WHITE } from '../../../server/web/page/board.js';
import { BoardFeed } from '../../../server/web/page/feed.js';
import { SLOTS } from '../../../server/web/page/protocol.js';
import { SnapshotReceiver, newToken } from '../../../server/web/page/snapshot.js';

const pens = Array.from({ length: SLOTS }, (_, i) => `pen T ${i} ${i * 3} ${-i} ${i * 1000} ${i % 4}`);
const good = ['board T 1600 1200 100 2', 'data T AAAA', 'data T BBBB', ...pens, 'end T 42'];

function outcome(lines, token = 'T') {
  const r = new SnapshotReceiver(token);
  return lines.map((line) => r.take(0, line)).pop();
}

test('a snapshot completes only with every line in order and every count kept', () => {
  assert.equal(outcome(['snap T', ...good]), 'complete'); // a relayed request is not a reply
  const r = new SnapshotReceiver('T');
  good.forEach((line) => r.take(0, line));
  assert.equal(r.checksum, 42);
  assert.deepEqual(r.pens[20], { index: 20, x: 60, y: -20, colour: 20000, width: 0 });

  const broken = {
    'data before board': good.slice(1),
    'board twice': [good[0], ...good],
    'too few chunks': [good[0], good[1], ...pens, 'end T 42'],
    'too many chunks': [good[0], good[1], good[2], good[2], ...pens, 'end T 42'],
    'pens out of order': [good[0], good[1], good[2], pens[1], pens[0], ...pens.slice(2), 'end T 42'],
    'a pen missing': [...good.slice(0, -2), 'end T 42'],
    'a pen beyond the tables': [...good.slice(0, -1), 'pen T 21 0 0 0 0', 'end T 42'],
    'a coordinate beyond 16 bits': [good[0], good[1], good[2], 'pen T 0 32768 0 0 0'],
    'another size': ['board T 1599 1200 100 2'],
    'too few chunks for the bytes': ['board T 1600 1200 96001 1'],
    'a chunk too long': [good[0], 'data T ' + 'A'.repeat(48001)],
    'a number that is not one': ['board T 1600 1200 1e2 2'],
    'a negative checksum': [...good.slice(0, -1), 'end T -42'],
  };
  for (const [name, lines] of Object.entries(broken)) assert.equal(outcome(lines), 'failed', name);
});

test('lines of other snapshots and other senders are not the snapshot’s', () => {
  const r = new SnapshotReceiver('T');
  assert.equal(r.take(0, 'board U 1600 1200 100 2'), 'waiting');
  assert.equal(r.take(3, good[0]), 'waiting');
  assert.equal(r.take(0, 'board'), 'waiting');
  assert.equal(r.take(0, 'later T 1 2'), 'waiting'); // a later kind of reply
  assert.equal(r.take(0, 'end T'), 'failed');
  assert.equal(r.take(0, good[0]), 'failed'); // nothing after a failure counts
  assert.match(newToken(), /^[0-9A-Za-z]{12}$/);
});

// A feed whose snapshot decodes to `pixels` (null: fails to decode) when the
// test resolves it.
function feedWithDecode() {
  const board = new Board();
  let changes = 0;
  const feed = new BoardFeed(board, { now: () => 7, changed: () => ++changes });
  feed.expect('T');
  let resolve;
  feed.snapshot.decode = () => new Promise((r) => (resolve = r));
  return { board, feed, decode: (pixels) => resolve(pixels), changes: () => changes };
}

const reply = good.map((line) => `0:7:${line}`);
const blue = () => new Uint32Array(1600 * 1200).fill(0xffff0000);

test('lines after the snapshot wait for its picture; own paints go on top of it', async () => {
  const { board, feed, decode, changes } = feedWithDecode();
  feed.take(['0:8:3']); // before the snapshot's end: applied at once
  assert.equal(board.memCount, 3);
  feed.paintOwn(() => board.lineWrite(0, 0, 9, 0, 0, 255));
  feed.take([...reply, '0:8:4', '1:4: 65280', '1:1: 0, 5', '1:2: 9, 5']);
  assert.equal(board.memCount, 3, 'a line after the end was applied before the picture');
  assert.equal(feed.result, 'waiting');

  decode(blue());
  await new Promise((r) => setImmediate(r));
  assert.equal(feed.result, 'applied');
  assert.equal(feed.appliedAt, 7);
  assert.equal(feed.paintedAt, 7);
  assert.equal(board.memCount, 4);
  assert.equal(board.pixelValue(5, 0), 255, 'own paint not replayed over the snapshot');
  assert.equal(board.pixelValue(5, 5), 65280, 'held stroke not applied');
  assert.equal(board.pixelValue(5, 9), 0xff0000); // the snapshot's blue
  assert.equal(board.penY[20], -20);
  assert.equal(changes(), 1);
  feed.paintOwn(() => board.clearAll());
  assert.equal(feed.ownSince, null, 'own paints kept after the snapshot');
});

test('a snapshot that fails leaves the picture and applies what was held', async () => {
  const { board, feed, decode } = feedWithDecode();
  board.lineWrite(0, 0, 3, 0, 0, 255);
  feed.take([...reply, '1:3: 0, 0']);
  decode(null);
  await new Promise((r) => setImmediate(r));
  assert.equal(feed.result, 'failed');
  assert.equal(board.pixelValue(1, 0), WHITE, 'the held clear-all was not applied');

  const late = feedWithDecode();
  late.feed.giveUp('another token');
  assert.equal(late.feed.result, 'waiting');
  late.feed.giveUp('T');
  assert.equal(late.feed.result, 'none');
});

test('the server saying the board is full is heard, and touches neither picture nor snapshot', () => {
  const board = new Board();
  let full = 0;
  const feed = new BoardFeed(board, { full: () => ++full });
  feed.expect('T');
  feed.take(['0:7:full', '3:1: 5, 5', '3:2: 9, 9']);
  assert.equal(full, 1);
  assert.equal(feed.result, 'waiting');
  assert.notEqual(board.pixelValue(9, 9), WHITE);
});
