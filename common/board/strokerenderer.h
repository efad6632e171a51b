#pragma once

#include <QImage>
#include <QRect>
#include <QtGlobal>
#include <vector>

// Paints stroke segments with the square pen into a Format_RGB32 image.
//
// The picture is defined as the union of (2r+1)^2 one-pixel lines (see
// lineraster.h): the segment itself and every copy shifted by (dx, dy) with
// |dx|, |dy| <= r, each clipped per pixel. A copy whose shifted end points
// leave the signed 16-bit range is left out; the other copies still count.
//
// Because the one-pixel line is translation invariant, that union equals the
// one-pixel line swept by a filled square. The renderer computes one x-run
// for each row of the line within reach of the image (in closed form, never
// walking the parts outside it, so a received segment costs at most about one
// image height of work however long it is), and fills for every image row a
// single span: the rows of the line within r of the image row, widened by r.
// The span is contiguous because consecutive line pixels touch (8-connected).
// Segments near the edge of the 16-bit range, where some copies are left out,
// are drawn copy by copy with the same runs instead.
class StrokeRenderer {
public:
    // Pen radius for a width value: 0..2 as given, anything else draws like 3.
    static int penRadius(qint16 wdt) { return wdt >= 0 && wdt <= 2 ? wdt : 3; }

    // Paints one segment in `argb` (0xffRRGGBB) and returns the bounding box of
    // the pixels set (empty when nothing was inside the image).
    QRect paint(QImage& image, qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, quint32 argb);

private:
    struct Run {
        int x0;
        int x1;
    };

    QRect sweep(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb);
    QRect copyByCopy(QImage& image, int ox, int oy, int x, int y, int r, quint32 argb);
    int collectRuns(int ox, int oy, int x, int y, int rowLimitLow, int rowLimitHigh);

    std::vector<Run> m_runs; // one per line row, ascending rows; reused between calls
};
