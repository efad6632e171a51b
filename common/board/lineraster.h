#pragma once

#include <cstdlib>

// The one-pixel line primitive every stroke on the canvas is built from.
//
// Integer Bresenham over all octants, walking from (x0, y0) to (x1, y1).
// End-point rule: both end points are set; a segment of length 0 sets its one
// point. Consecutive segments of a stroke therefore overlap in one pixel.
//
// Invariants the stroke renderer relies on:
// - Translation invariance: the walk depends only on (x1 - x0, y1 - y0) and is
//   offset by the start point, so moving both ends by (dx, dy) moves every
//   pixel by exactly (dx, dy).
// - Each step changes x and y by at most 1, and each of them only in one
//   direction (x and y are monotonic along the walk).
// - No clipping here: callers skip the pixels outside their image, so a
//   clipped segment sets exactly the inside pixels of the unclipped one.
//
// Coordinates are 16-bit canvas values (possibly shifted by a pen offset), so
// every difference and the error term fit comfortably in int.
template <typename Plot> void forEachLinePixel(int x0, int y0, int x1, int y1, Plot&& plot) {
    const int dx = std::abs(x1 - x0);
    const int sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0);
    const int sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        plot(x0, y0);
        if (x0 == x1 && y0 == y1)
            return;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}
