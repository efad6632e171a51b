#include "strokerenderer.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int Int16Min = -32768;
constexpr int Int16Max = 32767;

bool fitsInt16(int v) {
    return v >= Int16Min && v <= Int16Max;
}

} // namespace

QRect StrokeRenderer::paint(QImage& image, qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt,
                            quint32 argb) {
    const int r = penRadius(wdt);
    const bool allCopiesFit =
        fitsInt16(std::min<int>(ox, x) - r) && fitsInt16(std::max<int>(ox, x) + r) &&
        fitsInt16(std::min<int>(oy, y) - r) && fitsInt16(std::max<int>(oy, y) + r);
    if (allCopiesFit)
        return sweep(image, ox, oy, x, y, r, argb);
    return copyByCopy(image, ox, oy, x, y, r, argb);
}

// Records, for each row of the one-pixel line inside [rowLimitLow,
// rowLimitHigh], the leftmost and rightmost pixel of that row, in ascending
// rows: m_runs[i] belongs to row first + i. Returns the first row
// (meaningless when m_runs is empty).
//
// The rows are computed, not walked: a segment may run 65536 pixels far
// outside the image, and walking it pixel by pixel would cost that much for
// every received line. With A = |x1 - x0|, B = |y1 - y0| and the walk of
// forEachLinePixel after p steps in x and q steps in y:
// - A >= B: the walk leaves row q - 1 at p = py(q) = ceil(A(2q - 1) / 2B) - 1
//   with a diagonal step, so row q holds p = py(q) + 1 .. py(q + 1) (row 0
//   starts at 0, row B ends at A);
// - A < B: every row holds one pixel, p = floor((2Aq + B) / 2B).
// Products stay below 2^35: 64-bit arithmetic.
int StrokeRenderer::collectRuns(int ox, int oy, int x, int y, int rowLimitLow, int rowLimitHigh) {
    m_runs.clear();
    const qint64 a = std::abs(x - ox);
    const qint64 b = std::abs(y - oy);
    const int sx = ox < x ? 1 : -1;
    const int sy = oy < y ? 1 : -1;
    // Steps q whose row lies inside the limits.
    qint64 qLow = sy > 0 ? rowLimitLow - oy : oy - rowLimitHigh;
    qint64 qHigh = sy > 0 ? rowLimitHigh - oy : oy - rowLimitLow;
    qLow = std::max<qint64>(qLow, 0);
    qHigh = std::min<qint64>(qHigh, b);
    if (qLow > qHigh)
        return 0;

    const auto leaveRow = [a, b](qint64 q) { // py(q + 1): last p of row q when a >= b
        return (a * (2 * q + 1) + 2 * b - 1) / (2 * b) - 1;
    };
    const auto run = [&](qint64 q) -> Run {
        qint64 first = 0;
        qint64 last = a;
        if (b > 0 && a >= b) {
            first = q == 0 ? 0 : leaveRow(q - 1) + 1;
            last = q == b ? a : leaveRow(q);
        } else if (b > 0) {
            first = last = (2 * a * q + b) / (2 * b);
        }
        const int xa = ox + sx * int(first);
        const int xb = ox + sx * int(last);
        return {std::min(xa, xb), std::max(xa, xb)};
    };
    m_runs.reserve(size_t(qHigh - qLow + 1));
    if (sy > 0) {
        for (qint64 q = qLow; q <= qHigh; ++q)
            m_runs.push_back(run(q));
        return oy + int(qLow);
    }
    for (qint64 q = qHigh; q >= qLow; --q)
        m_runs.push_back(run(q));
    return oy - int(qHigh);
}

QRect StrokeRenderer::sweep(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb) {
    const int width = image.width();
    const int height = image.height();
    const int firstRow = collectRuns(ox, oy, x, y, -r, height - 1 + r);
    if (m_runs.empty())
        return {};
    const int n = int(m_runs.size());
    const int lastRow = firstRow + n - 1;

    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    int left = INT_MAX, right = INT_MIN, top = INT_MAX, bottom = INT_MIN;
    const int rowBegin = std::max(0, firstRow - r);
    const int rowEnd = std::min(height - 1, lastRow + r);
    for (int row = rowBegin; row <= rowEnd; ++row) {
        // Line rows that a square of radius r centred on them reaches `row` from.
        const int i0 = std::max(0, row - r - firstRow);
        const int i1 = std::min(n - 1, row + r - firstRow);
        int lo = INT_MAX, hi = INT_MIN;
        for (int i = i0; i <= i1; ++i) {
            lo = std::min(lo, m_runs[i].x0);
            hi = std::max(hi, m_runs[i].x1);
        }
        lo = std::max(0, lo - r);
        hi = std::min(width - 1, hi + r);
        if (lo > hi)
            continue;
        auto* line = reinterpret_cast<quint32*>(bits + row * stride);
        std::fill(line + lo, line + hi + 1, argb);
        left = std::min(left, lo);
        right = std::max(right, hi);
        top = std::min(top, row);
        bottom = std::max(bottom, row);
    }
    if (left > right)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

// The literal definition, for segments whose pen reaches past the 16-bit
// range: every copy that fits is drawn as its own one-pixel line.
QRect StrokeRenderer::copyByCopy(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb) {
    QRect painted;
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
            if (!fitsInt16(ox + dx) || !fitsInt16(oy + dy) || !fitsInt16(x + dx) ||
                !fitsInt16(y + dy))
                continue;
            painted |= sweep(image, ox + dx, oy + dy, x + dx, y + dy, 0, argb);
        }
    }
    return painted;
}
