#include "canvas.h"

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
        emit changed(painted);
}

void Canvas::clearAll()
{
    m_image.fill(toArgb(Background));
    emit changed(m_image.rect());
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
