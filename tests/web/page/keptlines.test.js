// The page's kept lines: numbered as the server counts them, dropped once
// durable, and sent again after a reconnect in the server's order: the pen
// after its last line (a cut stroke going on where it stopped), the kept
// lines it lacks, what was drawn offline. Unanswered claims, a session given
// up and the cap.
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
  pingLine,
  snapRequestLine,
  widthLine,
} from '../../../server/web/page/protocol.js';

test('kept lines are numbered, dropped once durable and resent after the pen the server has', () => {
  const kept = new KeptLines();
  kept.announced(255, 2);
  kept.claimed();
  // Every line after the claim is counted (1 to 6); only drawing lines are kept.
  for (const line of [
    penDownLine(10, 20),
    drawLine(30, -4),
    snapRequestLine('t'),
    drawLine(40, 5),
    penUpLine(),
  ])
    kept.sent(line);
  kept.answered(0);
  kept.sent(pingLine('p1'));
  kept.durable(2);
  assert.equal(kept.size, 2);
  // Closed: what is drawn is kept, requests are not.
  assert.equal(kept.keep(clearAllLine()), true);
  assert.equal(kept.keep(memberRequestLine()), false);
  // Again: the announced pen is not the one the server has; the server
  // took lines 1 to 4 before the claim (5 and 6 were lost).
  kept.announced(0, 0);
  kept.claimed();
  kept.sent(snapRequestLine('u'));
  assert.equal(kept.keep(penDownLine(50, 6)), true); // drawn while holding
  kept.answered(4);
  const resend = kept.takeResend();
  assert.deepEqual(resend, [
    colorLine(255),
    widthLine(2),
    penDownLine(40, 5),
    penUpLine(),
    clearAllLine(),
    penDownLine(50, 6),
  ]);
  assert.deepEqual(kept.takeResend(), []);
  // What is resent is kept again; numbering goes on after the snap request (5).
  resend.forEach((line) => kept.sent(line)); // 6 to 11
  kept.sent(drawLine(60, 7)); // 12
  kept.durable(11);
  assert.equal(kept.size, 1);
  kept.durable(12);
  assert.equal(kept.size, 0);
  assert.deepEqual(kept.pen, { colour: 255, width: 2, down: true, x: 60, y: 7 });
});

test('lines of an unanswered claim go again; a session given up sends what was drawn as it is', () => {
  const kept = new KeptLines();
  kept.announced(0, 1);
  kept.claimed();
  kept.sent(penDownLine(1, 1));
  kept.sent(drawLine(2, 2));
  kept.keep(drawLine(3, 3));
  kept.announced(0, 1);
  kept.claimed();
  assert.deepEqual(kept.giveUp(), [
    colorLine(0),
    widthLine(1),
    penDownLine(1, 1),
    drawLine(2, 2),
    drawLine(3, 3),
  ]);
  // Without a session every line sent moves the pen the server saw.
  kept.sentPlain(colorLine(5));
  kept.sentPlain(drawLine(4, 4));
  kept.keep(drawLine(5, 5));
  kept.announced(9, 9);
  kept.claimed();
  kept.answered(0);
  assert.deepEqual(kept.takeResend(), [colorLine(5), widthLine(1), penDownLine(4, 4), drawLine(5, 5)]);
});

test('only drawing lines are kept, sent and offline together up to the cap', () => {
  assert.equal(isDrawing('7:snap t\r\n'), false);
  assert.equal(isDrawing('8:member\r\n'), false);
  assert.equal(isDrawing(drawLine(1, 2)), true);
  const kept = new KeptLines(3);
  kept.claimed();
  kept.sent(penDownLine(1, 1));
  kept.answered(0);
  kept.sent(drawLine(2, 2));
  assert.equal(kept.keep(drawLine(3, 3)), true);
  assert.equal(kept.incomplete, false);
  assert.equal(kept.keep(drawLine(4, 4)), false);
  kept.sent(drawLine(5, 5));
  assert.equal(kept.size, 3);
  assert.equal(kept.incomplete, true);
  kept.pictureTaken();
  assert.equal(kept.incomplete, false);
  kept.durable(1);
  assert.equal(kept.keep(drawLine(6, 6)), true);
});
