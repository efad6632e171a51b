#pragma once

#include "strokerenderer.h"

#include <QImage>
#include <QObject>
#include <QRect>

// The drawing area: a 1600 x 1200 Format_RGB32 image, white at start, plus
// the pen colour ("fore colour") the local tools paint with. Every stroke that
// reaches the picture, local, received or replayed, goes through lineWrite, so
// equal drawing lines give equal pixels on every client.
//
// Painted areas are gathered, not announced one by one: `changed` fires on
// the first paint after the view last took the changed area, so a thousand
// segments drawn between two repaints cost one signal and one repaint.
//
// Colour values are red + 256*green + 65536*blue. Values outside
// 0..16777215 are not colours: lineWrite paints nothing with them and
// setForeColor keeps the previous colour.
class Canvas : public QObject {
    Q_OBJECT
public:
    static constexpr int Width = 1600, Height = 1200;
    static constexpr qint32 Background = 16777215; // white

    explicit Canvas(QObject* parent = nullptr);

    // One stroke segment with the square pen of width value wdt (0..3, others
    // like 3), clipped to the drawing area.
    void lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB);
    void clearAll(); // fill with Background
    // Colour value of a pixel, -1 outside the drawing area.
    qint32 pixelValue(int x, int y) const;
    const QImage& image() const { return m_image; }
    // The union of the areas painted since the last call, in drawing-area
    // pixels; empty when nothing was painted. The next paint signals again.
    QRect takeChangedArea();

    qint32 foreColor() const { return m_foreColor; }
    // False (and no change) for a value that is not a colour.
    bool setForeColor(qint32 value);

    static bool isColorValue(qint32 value) { return value >= 0 && value <= Background; }
    static quint32 toArgb(qint32 value);
    static qint32 fromArgb(quint32 argb);

signals:
    void changed(); // something was painted and the changed area was empty

private:
    void addChanged(const QRect& area);

    QImage m_image;
    qint32 m_foreColor = 0;
    StrokeRenderer m_renderer;
    QRect m_changedArea;
};
