// The square-pen stroke renderer, pixel for pixel the desktop client's.
//
// A segment with pen radius r is the union of (2r+1)^2 one-pixel lines: the
// segment and every copy shifted by (dx, dy), |dx|, |dy| <= r, each clipped
// per pixel. The one-pixel line is integer Bresenham over all octants from
// (x0, y0) to (x1, y1) with both end points set (length 0 sets its point).
// A copy whose shifted end points leave the signed 16-bit range is left out.
//
// The line is translation invariant, so the union is the line swept by a
// filled square: for each row of the line near the picture the x-run is
// computed in closed form (a segment may run 65536 pixels far outside the
// picture), and each picture row gets one span, the runs of the line rows
// within r of it widened by r. With A = |x1 - x0|, B = |y1 - y0| and the
// walk after p steps in x and q steps in y:
//  - A >= B: row q holds p = py(q) + 1 .. py(q + 1), where
//    py(q + 1) = ceil(A(2q + 1) / 2B) - 1 (row 0 starts at 0, row B ends at A)
//  - A < B: row q holds one pixel, p = floor((2Aq + B) / 2B).
// Products stay below 2^35, exact in doubles.

export const WIDTH = 1600;
export const HEIGHT = 1200;

const INT16_MIN = -32768;
const INT16_MAX = 32767;

const fits16 = (v) => v >= INT16_MIN && v <= INT16_MAX;

// Width value 0..2 as given, anything else draws like 3.
export const penRadius = (wdt) => (wdt >= 0 && wdt <= 2 ? wdt : 3);

// Colour value (red + 256 green + 65536 blue) as a pixel of a Uint32Array view
// on ImageData (bytes R, G, B, A in memory: little-endian 0xAABBGGRR).
export const pixelOf = (value) => (0xff000000 | value) >>> 0;

const runsX0 = new Int32Array(HEIGHT + 16);
const runsX1 = new Int32Array(HEIGHT + 16);

// Fills runsX0/runsX1 for the line rows inside [lowRow, highRow], ascending;
// returns [firstRow, count].
function collectRuns(ox, oy, x, y, lowRow, highRow) {
  const a = Math.abs(x - ox);
  const b = Math.abs(y - oy);
  const sx = ox < x ? 1 : -1;
  const sy = oy < y ? 1 : -1;
  let qLow = sy > 0 ? lowRow - oy : oy - highRow;
  let qHigh = sy > 0 ? highRow - oy : oy - lowRow;
  qLow = Math.max(qLow, 0);
  qHigh = Math.min(qHigh, b);
  if (qLow > qHigh) return [0, 0];
  const leaveRow = (q) => Math.floor((a * (2 * q + 1) + 2 * b - 1) / (2 * b)) - 1;
  let n = 0;
  const put = (q) => {
    let first = 0;
    let last = a;
    if (b > 0 && a >= b) {
      first = q === 0 ? 0 : leaveRow(q - 1) + 1;
      last = q === b ? a : leaveRow(q);
    } else if (b > 0) {
      first = last = Math.floor((2 * a * q + b) / (2 * b));
    }
    const xa = ox + sx * first;
    const xb = ox + sx * last;
    runsX0[n] = Math.min(xa, xb);
    runsX1[n] = Math.max(xa, xb);
    ++n;
  };
  if (sy > 0) {
    for (let q = qLow; q <= qHigh; ++q) put(q);
    return [oy + qLow, n];
  }
  for (let q = qHigh; q >= qLow; --q) put(q);
  return [oy - qHigh, n];
}

// Returns the painted box [left, top, right, bottom] or null.
function sweep(pix, ox, oy, x, y, r, pixel) {
  const [firstRow, n] = collectRuns(ox, oy, x, y, -r, HEIGHT - 1 + r);
  if (n === 0) return null;
  const lastRow = firstRow + n - 1;
  let left = Infinity,
    right = -Infinity,
    top = Infinity,
    bottom = -Infinity;
  const rowBegin = Math.max(0, firstRow - r);
  const rowEnd = Math.min(HEIGHT - 1, lastRow + r);
  for (let row = rowBegin; row <= rowEnd; ++row) {
    const i0 = Math.max(0, row - r - firstRow);
    const i1 = Math.min(n - 1, row + r - firstRow);
    let lo = Infinity,
      hi = -Infinity;
    for (let i = i0; i <= i1; ++i) {
      if (runsX0[i] < lo) lo = runsX0[i];
      if (runsX1[i] > hi) hi = runsX1[i];
    }
    lo = Math.max(0, lo - r);
    hi = Math.min(WIDTH - 1, hi + r);
    if (lo > hi) continue;
    pix.fill(pixel, row * WIDTH + lo, row * WIDTH + hi + 1);
    left = Math.min(left, lo);
    right = Math.max(right, hi);
    top = Math.min(top, row);
    bottom = Math.max(bottom, row);
  }
  return left > right ? null : [left, top, right, bottom];
}

function unite(box, more) {
  if (!more) return box;
  if (!box) return more;
  return [
    Math.min(box[0], more[0]),
    Math.min(box[1], more[1]),
    Math.max(box[2], more[2]),
    Math.max(box[3], more[3]),
  ];
}

// Paints one segment; the coordinates and wdt are 16-bit values. Returns the
// painted box or null.
export function paintSegment(pix, ox, oy, x, y, wdt, pixel) {
  const r = penRadius(wdt);
  const allCopiesFit =
    fits16(Math.min(ox, x) - r) &&
    fits16(Math.max(ox, x) + r) &&
    fits16(Math.min(oy, y) - r) &&
    fits16(Math.max(oy, y) + r);
  if (allCopiesFit) return sweep(pix, ox, oy, x, y, r, pixel);
  let painted = null;
  for (let dy = -r; dy <= r; ++dy) {
    for (let dx = -r; dx <= r; ++dx) {
      if (!fits16(ox + dx) || !fits16(oy + dy) || !fits16(x + dx) || !fits16(y + dy)) continue;
      painted = unite(painted, sweep(pix, ox + dx, oy + dy, x + dx, y + dy, 0, pixel));
    }
  }
  return painted;
}

// The picture checksum both sides agree on: FNV-1a style over the colour
// values in row-major order, 32 bits unsigned.
export function checksum(pix) {
  let h = 2166136261;
  for (let i = 0; i < pix.length; ++i) h = Math.imul(h ^ (pix[i] & 0xffffff), 16777619) >>> 0;
  return h;
}
