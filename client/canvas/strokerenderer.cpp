#include "strokerenderer.h"

#include "lineraster.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace {

constexpr int Int16Min = -32768;
constexpr int Int16Max = 32767;

bool fitsInt16(int v)
{
    return v >= Int16Min && v <= Int16Max;
}

} // namespace

QRect StrokeRenderer::paint(QImage& image, qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt,
                            quint32 argb)
{
    const int r = penRadius(wdt);
    const bool allCopiesFit = fitsInt16(std::min<int>(ox, x) - r) &&
                              fitsInt16(std::max<int>(ox, x) + r) &&
                              fitsInt16(std::min<int>(oy, y) - r) &&
                              fitsInt16(std::max<int>(oy, y) + r);
    if (allCopiesFit)
        return sweep(image, ox, oy, x, y, r, argb);
    return copyByCopy(image, ox, oy, x, y, r, argb);
}

// Walks the one-pixel line and records, for each of its rows inside
// [rowLimitLow, rowLimitHigh], the leftmost and rightmost pixel of that row.
// Rows are contiguous along the walk, so m_runs[i] belongs to row first + i.
// Returns the first row (meaningless when m_runs is empty).
int StrokeRenderer::collectRuns(int ox, int oy, int x, int y, int rowLimitLow, int rowLimitHigh)
{
    m_runs.clear();
    int firstRow = 0;
    int lastRow = INT_MIN;
    forEachLinePixel(ox, oy, x, y, [&](int px, int py) {
        if (py < rowLimitLow || py > rowLimitHigh)
            return;
        if (py != lastRow) {
            if (m_runs.empty())
                firstRow = py;
            m_runs.push_back({px, px});
            lastRow = py;
            return;
        }
        Run& run = m_runs.back();
        run.x0 = std::min(run.x0, px);
        run.x1 = std::max(run.x1, px);
    });
    if (m_runs.size() > 1 && lastRow < firstRow) {
        std::reverse(m_runs.begin(), m_runs.end());
        firstRow = lastRow;
    }
    return firstRow;
}

QRect StrokeRenderer::sweep(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb)
{
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
QRect StrokeRenderer::copyByCopy(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb)
{
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
