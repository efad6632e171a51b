#include "canvas.h"
#include "colorvalue.h"

#include <algorithm>
#include <utility>

Canvas::Canvas(QObject* parent) : QObject(parent) {
    m_board.setPaintObserver([this](const QRect& area) { addChanged(area); });
}

void Canvas::lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB) {
    if (!m_board.lineWrite(ox, oy, x, y, wdt, tRGB).isEmpty())
        emit localSegment(ox, oy, x, y, wdt, tRGB);
}

void Canvas::clearAll() {
    m_board.clearAll();
    emit localCleared();
}

// Runs for every segment drawn: a plain union, and the signal only for the
// first area of a batch.
void Canvas::addChanged(const QRect& area) {
    if (m_changedArea.isEmpty()) {
        m_changedArea = area;
        emit changed();
        return;
    }
    m_changedArea.setCoords(std::min(m_changedArea.left(), area.left()),
                            std::min(m_changedArea.top(), area.top()),
                            std::max(m_changedArea.right(), area.right()),
                            std::max(m_changedArea.bottom(), area.bottom()));
}

QRect Canvas::takeChangedArea() {
    return std::exchange(m_changedArea, QRect());
}

bool Canvas::setForeColor(qint32 value) {
    if (!protocol::isColorValue(value))
        return false;
    m_foreColor = value;
    return true;
}
