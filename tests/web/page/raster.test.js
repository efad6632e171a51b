// The page's stroke renderer against the desktop client's, pixel for pixel:
// ordinary segments, segments reaching 65536 pixels far outside the picture,
// pens past the 16-bit range, odd widths and colours that paint nothing.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Board } from '../../../server/web/page/board.js';
import { random, webcheck } from './desktop.js';

const EVERY = 50; // webcheck prints the checksum after every 50th segment

test('segments paint the pixels the desktop client paints', () => {
  const r = random(7);
  const segments = [];
  for (let i = 0; i < 3000; ++i) {
    const far = i % 5 === 0;
    const x = () => (far ? r.int(-32768, 32767) : r.int(-60, 1660));
    const y = () => (far ? r.int(-32768, 32767) : r.int(-60, 1260));
    const colour = r.pick([r.int(0, 16777215), r.int(0, 16777215), -1, 16777216]);
    segments.push([x(), y(), x(), y(), r.int(-2, 8), colour]);
  }
  for (const edge of [-32768, 32767]) {
    segments.push([edge, 100, edge, 900, 3, 255]);
    segments.push([100, edge, 1500, edge + (edge < 0 ? 3 : -3), 2, 65280]);
  }

  const folder = mkdtempSync(join(tmpdir(), 'raster-'));
  let desktop;
  try {
    const file = join(folder, 'segments.txt');
    writeFileSync(file, segments.map((s) => s.join(' ')).join('\n') + '\n');
    desktop = webcheck(['segments', file]).split('\n').filter(Boolean).map(Number);
  } finally {
    rmSync(folder, { recursive: true });
  }

  const board = new Board();
  const page = [];
  segments.forEach((s, i) => {
    board.lineWrite(...s);
    if ((i + 1) % EVERY === 0 || i + 1 === segments.length) page.push(board.checksum());
  });
  assert.equal(page.length, desktop.length);
  page.forEach((sum, i) =>
    assert.equal(sum, desktop[i], `first difference within segments ${i * EVERY}..${i * EVERY + EVERY - 1}`),
  );
});
