#include "board.h"

#include "drawingline.h"
#include "numbers.h"

#include <algorithm>
#include <utility>

using namespace protocol;

namespace {

// Empty or blanks only, as QStringView::trimmed() sees blanks; the check runs
// for every pencil segment, so it stops at the first other character
// instead of building the trimmed view.
bool isBlankText(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

} // namespace

Board::Board() : m_image(Width, Height, QImage::Format_RGB32) {
    m_image.fill(protocol::argbFromValue(Background));
}

QRect Board::lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB) {
    if (!protocol::isColorValue(tRGB))
        return {};
    const QRect area = m_renderer.paint(m_image, ox, oy, x, y, wdt, protocol::argbFromValue(tRGB));
    if (!area.isEmpty())
        painted(area);
    return area;
}

// Only what was painted since the last clearing needs filling: a clear costs
// what was drawn, and nothing at all on a board that is already white.
void Board::clearAll() {
    if (m_dirty.isEmpty())
        return;
    const QRect area = std::exchange(m_dirty, QRect());
    const quint32 white = protocol::argbFromValue(Background);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* line = reinterpret_cast<quint32*>(m_image.scanLine(y));
        std::fill(line + area.left(), line + area.right() + 1, white);
    }
    ++m_revision;
    if (m_observer)
        m_observer(area);
}

void Board::replace(const QImage& image, const Pens& pens) {
    if (image.size() != m_image.size())
        return;
    m_image = image.convertToFormat(QImage::Format_RGB32);
    m_pens = pens;
    painted(m_image.rect());
}

void Board::painted(const QRect& area) {
    ++m_revision;
    m_dirty |= area;
    if (m_observer)
        m_observer(area);
}

qint32 Board::pixelValue(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        return -1;
    const auto* line = reinterpret_cast<const quint32*>(m_image.constScanLine(y));
    return protocol::valueFromArgb(line[x]);
}

bool Board::isBlank(const QImage& picture) {
    const quint32 white = protocol::argbFromValue(Background);
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(picture.constScanLine(y));
        if (!std::all_of(line, line + picture.width(), [white](quint32 p) { return p == white; }))
            return false;
    }
    return true;
}

int Board::applyLine(QStringView line) {
    const std::optional<drawing::DownLineView> fields = drawing::readDownLine(line);
    if (!fields)
        return -1;
    drawLineProc(fields->index, fields->command, fields->argument);
    return fields->command;
}

void Board::drawLineProc(qint16 i, qint16 cmd, QStringView arg) {
    switch (cmd) {
    case drawing::PenDown:
        penDown(i, arg);
        break;
    case drawing::Draw:
        draw(i, arg);
        break;
    case drawing::ClearAll:
        clearAll();
        break;
    case drawing::Color:
        if (const auto colour = readInt32(arg); colour && protocol::hasSlot(i))
            m_pens[i].color = *colour;
        break;
    case drawing::Width:
        if (const auto width = readInt16(arg); width && protocol::hasSlot(i))
            m_pens[i].size = *width;
        break;
    case drawing::Erase:
        erase(i, arg);
        break;
    default: // pen up, member count, command 7: nothing on the picture
        break;
    }
}

// Pen down moves the pen without drawing; each coordinate is its own step, so
// "1: 10" moves only x.
void Board::penDown(int i, QStringView arg) {
    if (!protocol::hasSlot(i))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (const auto x = readInt16(point.x))
        m_pens[i].x = *x;
    if (!point.y)
        return;
    if (const auto y = readInt16(*point.y))
        m_pens[i].y = *y;
}

// A pencil segment needs a non-blank argument of at most 15 characters with a
// non-blank second coordinate; both coordinates must fit 16 bits.
void Board::draw(int i, QStringView arg) {
    if (arg.size() > 15 || isBlankText(arg))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (!point.y || isBlankText(*point.y))
        return;
    const auto x = readInt16(point.x);
    const auto y = readInt16(*point.y);
    if (!x || !y || !protocol::hasSlot(i))
        return;
    Pen& pen = m_pens[i];
    lineWrite(pen.x, pen.y, *x, *y, pen.size, pen.color);
    pen.x = *x;
    pen.y = *y;
}

// The eraser has no blank or length check. Without a second coordinate
// nothing is drawn but x still moves; a coordinate that does not fit stops
// the whole step.
void Board::erase(int i, QStringView arg) {
    if (!protocol::hasSlot(i))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    const auto x = readInt16(point.x);
    if (!x)
        return;
    Pen& pen = m_pens[i];
    if (!point.y) {
        pen.x = *x;
        return;
    }
    const auto y = readInt16(*point.y);
    if (!y)
        return;
    lineWrite(pen.x, pen.y, *x, *y, pen.size, EraseColor);
    pen.x = *x;
    pen.y = *y;
}
