#include "canvas.h"

#include <algorithm>
#include <utility>

Canvas::Canvas(QObject* parent)
    : QObject(parent), m_image(Width, Height, QImage::Format_RGB32)
{
    m_image.fill(toArgb(Background));
}

quint32 Canvas::toArgb(qint32 value)
{
    const quint32 v = quint32(value);
    return 0xff000000u | ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu);
}

qint32 Canvas::fromArgb(quint32 argb)
{
    return qint32(((argb >> 16) & 0xffu) | (argb & 0xff00u) | ((argb & 0xffu) << 16));
}

void Canvas::lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB)
{
    if (!isColorValue(tRGB))
        return;
    const QRect painted = m_renderer.paint(m_image, ox, oy, x, y, wdt, toArgb(tRGB));
    if (!painted.isEmpty())
        addChanged(painted);
}

void Canvas::clearAll()
{
    m_image.fill(toArgb(Background));
    addChanged(m_image.rect());
}

// Runs for every segment drawn: a plain union, and the signal only for the
// first area of a batch.
void Canvas::addChanged(const QRect& area)
{
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

QRect Canvas::takeChangedArea()
{
    return std::exchange(m_changedArea, QRect());
}

qint32 Canvas::pixelValue(int x, int y) const
{
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        return -1;
    const auto* line = reinterpret_cast<const quint32*>(m_image.constScanLine(y));
    return fromArgb(line[x]);
}

bool Canvas::setForeColor(qint32 value)
{
    if (!isColorValue(value))
        return false;
    m_foreColor = value;
    return true;
}
