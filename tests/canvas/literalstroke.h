#pragma once

#include "canvas.h"
#include "colorvalue.h"
#include "lineraster.h"

#include <QImage>

// The stroke picture drawn the long way, exactly as the pen is defined: the
// one-pixel segment, then each shifted copy of the rings of radius 1, 2 and 3
// in their fixed order, every copy its own clipped one-pixel line. A copy whose
// shifted coordinates leave the signed 16-bit range is skipped on its own.
inline void literalLineWrite(QImage& image, qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt,
                             qint32 tRGB, bool skipOutOfRange = true) {
    if (!protocol::isColorValue(tRGB))
        return;
    const quint32 argb = protocol::argbFromValue(tRGB);
    auto fits = [](int v) { return v >= -32768 && v <= 32767; };
    auto copy = [&](int dx, int dy) {
        if (skipOutOfRange && (!fits(ox + dx) || !fits(oy + dy) || !fits(x + dx) || !fits(y + dy)))
            return;
        forEachLinePixel(ox + dx, oy + dy, x + dx, y + dy, [&](int px, int py) {
            if (px >= 0 && py >= 0 && px < image.width() && py < image.height())
                image.setPixel(px, py, argb);
        });
    };
    copy(0, 0);
    if (wdt == 0)
        return;
    const int ring1[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    for (const auto& d : ring1)
        copy(d[0], d[1]);
    if (wdt == 1)
        return;
    for (int i = 0; i <= 4; ++i) {
        copy(-2 + i, -2);
        copy(-2 + i, 2);
    }
    for (int j = 0; j <= 2; ++j) {
        copy(-2, -1 + j);
        copy(2, -1 + j);
    }
    if (wdt == 2)
        return;
    for (int i = 0; i <= 6; ++i) {
        copy(-3 + i, -3);
        copy(-3 + i, 3);
    }
    for (int j = 0; j <= 4; ++j) {
        copy(-3, -2 + j);
        copy(3, -2 + j);
    }
}
