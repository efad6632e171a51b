// The desktop client's side of the comparisons: the built webcheck tool
// (SKETORA_WEBCHECK, else build/bin/webcheck of this tree), and a seeded
// random source so that every run draws the same cases.

import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

const WEBCHECK =
  process.env.SKETORA_WEBCHECK || fileURLToPath(new URL('../../../build/bin/webcheck', import.meta.url));

// Runs webcheck with `args`, `input` on its standard input; its output as text.
export function webcheck(args, input = '') {
  if (!existsSync(WEBCHECK)) throw new Error(`${WEBCHECK} is missing: build the tree first (make build)`);
  return execFileSync(WEBCHECK, args, { input, encoding: 'latin1', maxBuffer: 64 * 1024 * 1024 });
}

// mulberry32: integers in [lowest, highest] and picks from a list.
export function random(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (lowest, highest) => lowest + Math.floor(next() * (highest - lowest + 1));
  return { int, pick: (list) => list[int(0, list.length - 1)] };
}
