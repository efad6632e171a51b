// Undo on the page: its requests are byte for byte the desktop client's, it
// reads the server's undo lines as the server's own builders write them and
// by the desktop client's rules, and the feed hands only the server's own
// command-7 lines on and holds what follows a patch until it is pasted.

import { test } from 'node:test';
import assert from 'node:assert/strict';

import { Board, WHITE } from '../../../server/web/page/board.js';
import { BoardFeed } from '../../../server/web/page/feed.js';
import * as p from '../../../server/web/page/protocol.js';
import { Undo, newMemberId } from '../../../server/web/page/undo.js';
import { webcheck } from './desktop.js';

const hex = (text) => Buffer.from(text, 'utf8').toString('hex');

test('the member, undo and redo lines are the desktop client’s', () => {
  const id = newMemberId();
  assert.match(id, /^[0-9A-Za-z]{16}$/);
  const names = [
    '',
    'taro',
    '花子',
    '①髙～ 😀',
    'あ'.repeat(21) + 'bc',
    'x'.repeat(63) + 'é',
    '😀'.repeat(17),
  ];
  const calls = names.map((name) => `me ${id} ${hex(name)}`).concat(['undo a1', 'redo Z9zz']);
  const page = names.map((name) => p.meLine(id, name)).join('') + p.undoLine('a1') + p.redoLine('Z9zz');
  assert.equal(page, webcheck(['upstream'], calls.join('\n') + '\n'));
  assert.equal(p.readName(p.nameField('①髙～ 😀')), '①髙～ 😀');
});

// The lines the server's builders write for `calls`, without "0:7:".
const serverLines = (calls) =>
  p.splitLines(webcheck(['undodown'], calls.join('\n') + '\n')).map((line) => {
    assert.ok(line.startsWith(p.SERVER_EXTENSION), line);
    return line.slice(p.SERVER_EXTENSION.length);
  });

function undoWith(lines) {
  const seen = { sent: [], notices: [], patches: [] };
  const undo = new Undo({ send: (l) => seen.sent.push(l), notice: (t) => seen.notices.push(t) });
  undo.begin('me');
  for (const line of lines) {
    const patch = undo.take(line);
    if (patch) seen.patches.push(patch);
  }
  return { undo, seen };
}

test('answers, counts and notices are read from the server’s own lines', () => {
  const lines = serverLines([
    'answer undo t1 done 3 1',
    'answer redo t2 busy 0 7',
    `cleared 4 1 ${hex('花子')}`,
    'cleared 12 0 ',
    `restored 4 ${hex('花子')}`,
    'can 2 5',
  ]);
  assert.deepEqual(lines.slice(0, 2).map(p.readUndoLine), [
    { verb: 'undo', token: 't1', outcome: 'done', undos: 3, redos: 1 },
    { verb: 'redo', token: 't2', outcome: 'busy', undos: 0, redos: 7 },
  ]);
  const { undo, seen } = undoWith(lines);
  assert.deepEqual([undo.offered, undo.undos, undo.redos], [true, 2, 5]);
  assert.deepEqual(seen.notices, [
    '花子 さんが全員のキャンバスを消去しました（消した人は「元に戻す」で取り消せます）',
    '12 番の参加者が全員のキャンバスを消去しました',
    '花子 さんが全消しを取り消しました',
  ]);
  undo.undo();
  undo.redo();
  assert.deepEqual(seen.sent.slice(1), [p.undoLine('1'), p.redoLine('2')]);
  undo.closed();
  undo.undo();
  assert.equal(seen.sent.length, 3, 'a request went out while not connected');
  assert.equal(undo.offered, false);
});

test('a patch is handed out whole, and only when every line of it kept the rules', () => {
  const [small, ...smallData] = serverLines(['patch 10 20 30 4 99']);
  const big = serverLines(['patch 0 0 1600 1200 4294967295']);
  assert.ok(big.length > 3, 'the big patch should need several data lines');
  const { seen } = undoWith([small, ...smallData, ...big]);
  assert.equal(seen.patches.length, 2);
  const [a, b] = seen.patches;
  assert.deepEqual([a.x, a.y, a.w, a.h, a.checksum], [10, 20, 30, 4, 99]);
  assert.deepEqual([b.w, b.h, b.checksum], [1600, 1200, 4294967295]);
  const png = Buffer.from(b.base64, 'base64');
  assert.equal(png.length, b.bytes);
  assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [1600, 1200]); // IHDR

  const broken = {
    'a line between': [big[0], big[1], 'can 1 1', ...big.slice(2)],
    'a data line missing': [big[0], ...big.slice(2)],
    'a data line too long': [big[0], big[1] + 'A', ...big.slice(2)],
    'beyond the board': ['patch 1590 0 11 4 1 1 5'],
    'chunks that do not fit the bytes': ['patch 0 0 1 1 100000 1 5', 'pdata ' + 'A'.repeat(48000)],
    'a number that is not plain': ['patch +1 0 1 1 4 1 5', 'pdata AAAAAAAA'],
  };
  for (const [name, lines] of Object.entries(broken))
    assert.equal(undoWith(lines).seen.patches.length, 0, name);
  for (const bad of [
    'can 1',
    'can -1 0',
    'undo t1 done 1',
    'redo t! none 0 0',
    'cleared 3 2 -',
    'restored x -',
  ])
    assert.equal(p.readUndoLine(bad), null, bad);
  assert.equal(p.readName('not base64!'), null);
  assert.equal(p.readName('A'.repeat(89)), null);
});

test('only the server’s own command-7 lines reach undo; what follows a patch waits for it', async () => {
  const board = new Board();
  const notices = [];
  const undo = new Undo({ send: () => {}, notice: (t) => notices.push(t) });
  let finish;
  const feed = new BoardFeed(board, {
    undo,
    decode: () => new Promise((resolve) => (finish = resolve)),
  });
  undo.begin('me');
  feed.take(['0:7.4:cleared 3 1 -', '00:7:cleared 3 1 -', '0:07:can 5 5', ' 0:7:can 5 5', '3:7:can 5 5']);
  assert.deepEqual([notices.length, undo.undos], [0, 0]);
  feed.take(['0:7:can 1 0']);
  assert.equal(undo.undos, 1);

  const [head, ...data] = serverLines(['patch 0 0 2 1 7']);
  feed.take(['1:4: 255', '1:1: 0, 0', `0:7:${head}`, ...data.map((d) => `0:7:${d}`), '1:2: 9, 0']);
  feed.paintOwn(() => board.lineWrite(0, 5, 9, 5, 0, 65280));
  assert.equal(board.pixelValue(5, 0), WHITE, 'a line after the patch was applied before it');
  const blue = new Uint32Array([0xffff0000, 0xffff0000]);
  finish(blue);
  await new Promise((r) => setImmediate(r));
  assert.equal(feed.patches, 1);
  assert.equal(board.pixelValue(1, 0), 255, 'the held stroke was not drawn over the patch');
  assert.equal(board.pixelValue(5, 5), 65280, 'the own paint was not painted again');
  assert.equal(feed.held, null);
});
