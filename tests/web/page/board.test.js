// Received drawing lines as the desktop client applies them: a random stream
// of well-formed and malformed lines, numbers read leniently, lines near the
// 15-character limit of a draw, indices beyond the pens, fields that do not
// fit; the page's picture must end as the desktop client's.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Board } from '../../../server/web/page/board.js';
import { random, webcheck } from './desktop.js';

test('a downstream stream leaves the picture the desktop client shows', () => {
  const r = random(11);
  const pieces = [];
  for (let n = 0; n < 4000; ++n) {
    const i = r.pick(['3', '5', '0', '25', ' 4', '3.5', '-1', 'x', '70000']);
    const c = r.pick(['1', '2', '2', '2', '6', '4', '5', '8', '9', '7', '2.5', ' 2', '1.5']);
    const [x, y] = [r.int(-100, 1700), r.int(-100, 1300)];
    const point = `${x}, ${y}`;
    const nearLimit = ' '.repeat(Math.max(0, 15 - point.length + r.int(-1, 2))) + point;
    const arg = r.pick([
      nearLimit,
      nearLimit,
      ` ${x}, ${y}`,
      `${x},${y}`,
      `${x}`,
      ` ${x},  `,
      `${x}.5,${y}.5`,
      `${x}   ,   ${y}`,
      `99999,${y}`,
      `${r.int(0, 16777216)}`,
      `${r.int(-1, 4)}`,
      `${x},${y},7`,
      ' ',
      `${x}abc,${y}e3`,
      `${x},` + ' '.repeat(r.int(5, 12)),
    ]);
    pieces.push(`${i}:${c}:${arg}${r.pick(['', '', '', ':z', ':a:b'])}`);
    if (pieces.length === 1000) pieces.push('25:3: 0, 0'); // clears, although no pen has index 25
  }
  const stream = pieces.join('\r\n') + '\r\n';
  const board = new Board();
  stream.split('\r\n').forEach((line) => board.applyLine(line));
  assert.equal(board.checksum(), Number(webcheck(['replay'], stream)));
});
