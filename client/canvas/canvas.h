#pragma once

#include "board.h"

#include <QImage>
#include <QObject>
#include <QRect>

// The drawing area: the shared board (a 1600 x 1200 Format_RGB32 image, white
// at start, and the pens of the other members) plus the pen colour ("fore
// colour") the local tools paint with. The local tools paint through
// lineWrite and clearAll; received and replayed lines paint the board
// directly. Both end in the board's one stroke renderer, so equal drawing
// lines give equal pixels on every client.
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
    static constexpr int Width = Board::Width, Height = Board::Height;
    static constexpr qint32 Background = Board::Background;

    explicit Canvas(QObject* parent = nullptr);

    // One stroke segment of the local pen with the square pen of width value
    // wdt (0..3, others like 3), clipped to the drawing area.
    void lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB);
    void clearAll(); // the local clear: fill with Background
    // Colour value of a pixel, -1 outside the drawing area.
    qint32 pixelValue(int x, int y) const { return m_board.pixelValue(x, y); }
    const QImage& image() const { return m_board.image(); }
    Board& board() { return m_board; }
    const Board& board() const { return m_board; }
    // The union of the areas painted since the last call, in drawing-area
    // pixels; empty when nothing was painted. The next paint signals again.
    QRect takeChangedArea();

    qint32 foreColor() const { return m_foreColor; }
    // False (and no change) for a value that is not a colour.
    bool setForeColor(qint32 value);

signals:
    void changed(); // something was painted and the changed area was empty
    // The local pen painted (whatever reached the picture): lets a holder
    // put the member's own recent drawing back over a newer shared picture.
    void localSegment(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB);
    void localCleared();

private:
    void addChanged(const QRect& area);

    Board m_board;
    qint32 m_foreColor = 0;
    QRect m_changedArea;
};
