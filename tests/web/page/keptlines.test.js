// The page's kept lines: what is drawn while closed goes out after the pen
// the server last saw, a stroke cut mid-way going on where it stopped; the
// cap stops keeping and says so.
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { KeptLines, isDrawing } from '../../../server/web/page/keptlines.js';
import {
  clearAllLine,
  colorLine,
  drawLine,
  memberRequestLine,
  penDownLine,
  penUpLine,
  snapRequestLine,
  widthLine,
} from '../../../server/web/page/protocol.js';

test('the resend starts with the pen the server last had', () => {
  const kept = new KeptLines();
  for (const line of [
    colorLine(255),
    widthLine(2),
    penDownLine(10, 20),
    drawLine(30, -4),
    snapRequestLine('t'),
  ])
    kept.sent(line);
  assert.deepEqual(kept.takeResend(), []);
  assert.equal(kept.keep(drawLine(40, 5)), true);
  assert.equal(kept.keep(penUpLine()), true);
  assert.equal(kept.keep(memberRequestLine()), false);
  assert.equal(kept.keep(clearAllLine()), true);
  assert.deepEqual(kept.takeResend(), [
    colorLine(255),
    widthLine(2),
    penDownLine(30, -4),
    drawLine(40, 5),
    penUpLine(),
    clearAllLine(),
  ]);
  assert.equal(kept.size, 0);
  // Once sent, the stroke is closed: no pen-down next time.
  [penUpLine()].forEach((line) => kept.sent(line));
  kept.keep(drawLine(1, 1));
  assert.deepEqual(kept.takeResend(), [colorLine(255), widthLine(2), drawLine(1, 1)]);
});

test('only drawing lines are kept, up to the cap', () => {
  assert.equal(isDrawing('7:snap t\r\n'), false);
  assert.equal(isDrawing('8:member\r\n'), false);
  assert.equal(isDrawing(drawLine(1, 2)), true);
  const kept = new KeptLines(2);
  assert.equal(kept.keep(drawLine(1, 1)), true);
  assert.equal(kept.keep(drawLine(2, 2)), true);
  assert.equal(kept.incomplete, false);
  assert.equal(kept.keep(drawLine(3, 3)), false);
  assert.equal(kept.incomplete, true);
  assert.equal(kept.size, 2);
});
