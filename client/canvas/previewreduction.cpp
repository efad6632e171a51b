#include "previewreduction.h"

#include <algorithm>
#include <vector>

void reduceByAnd(const QImage& source, QSize sourceSize, QImage& target) {
    const int tw = target.width();
    const int th = target.height();
    const int sw = sourceSize.width();
    const int sh = sourceSize.height();
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0)
        return;
    const int usedWidth = std::min(sw, source.width());
    const int usedHeight = std::min(sh, source.height());

    std::vector<int> column(usedWidth);
    for (int sx = 0; sx < usedWidth; ++sx)
        column[sx] = int(qint64(sx) * tw / sw);

    std::vector<quint32> acc(tw);
    int sy = 0;
    for (int ty = 0; ty < th; ++ty) {
        std::fill(acc.begin(), acc.end(), 0xffffffffu);
        for (; sy < usedHeight && qint64(sy) * th / sh == ty; ++sy) {
            const auto* in = reinterpret_cast<const quint32*>(source.constScanLine(sy));
            for (int sx = 0; sx < usedWidth; ++sx)
                acc[column[sx]] &= in[sx];
        }
        auto* out = reinterpret_cast<quint32*>(target.scanLine(ty));
        for (int tx = 0; tx < tw; ++tx)
            out[tx] = acc[tx] | 0xff000000u;
    }
}
