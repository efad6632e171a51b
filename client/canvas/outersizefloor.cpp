#include "outersizefloor.h"

#include <QWidget>
#include <algorithm>

void keepOuterSizeAtLeast(QWidget& window, int floor) {
    if (window.isMinimized())
        return;
    const QSize extra = window.frameGeometry().size() - window.size();
    const QSize least(floor - extra.width(), floor - extra.height());
    if (window.minimumSize() != least)
        window.setMinimumSize(least);
    if (window.width() < least.width() || window.height() < least.height())
        window.resize(std::max(window.width(), least.width()),
                      std::max(window.height(), least.height()));
}
