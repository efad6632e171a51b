#include "board.h"

#include "drawingline.h"
#include "numbers.h"

#include <algorithm>
#include <cstring>
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

Board::Step Board::readStep(qint16 i, qint16 cmd, QStringView arg) {
    Step step;
    step.index = i;
    switch (cmd) {
    case drawing::PenDown:
        return penDown(i, arg);
    case drawing::Draw:
        return draw(i, arg);
    case drawing::ClearAll:
        step.kind = Step::Clear;
        break;
    case drawing::Color:
        if (const auto colour = readInt32(arg); colour && protocol::hasSlot(i)) {
            step.kind = Step::Color;
            step.value = *colour;
        }
        break;
    case drawing::Width:
        if (const auto width = readInt16(arg); width && protocol::hasSlot(i)) {
            step.kind = Step::Width;
            step.value = *width;
        }
        break;
    case drawing::Erase:
        return erase(i, arg);
    default: // pen up, member count, command 7: nothing on the picture
        break;
    }
    return step;
}

QRect Board::apply(const Step& step) {
    if (step.kind == Step::Clear) {
        const QRect area = m_dirty; // all a clear changes: what was painted since the last one
        clearAll();
        return area;
    }
    if (step.kind == Step::None || !protocol::hasSlot(step.index))
        return {};
    Pen& pen = m_pens[step.index];
    switch (step.kind) {
    case Step::PenDown:
        if (step.axes & Step::X)
            pen.x = step.x;
        if (step.axes & Step::Y)
            pen.y = step.y;
        return {};
    case Step::MoveX:
        pen.x = step.x;
        return {};
    case Step::Color:
        pen.color = step.value;
        return {};
    case Step::Width:
        pen.size = qint16(step.value);
        return {};
    case Step::Draw:
        return segment(pen, step.x, step.y, pen.color);
    case Step::Erase:
        return segment(pen, step.x, step.y, EraseColor);
    default:
        return {};
    }
}

// A segment from the pen to (x, y); the pen moves there.
QRect Board::segment(Pen& pen, qint16 x, qint16 y, qint32 colour) {
    QRect area;
    const int r = StrokeRenderer::penRadius(pen.size);
    const QRect reach = QRect(QPoint(std::min(pen.x, x), std::min(pen.y, y)),
                              QPoint(std::max(pen.x, x), std::max(pen.y, y)))
                            .adjusted(-r, -r, r, r);
    if (m_clip.isNull() || reach.intersects(m_clip))
        area = lineWrite(pen.x, pen.y, x, y, pen.size, colour);
    pen.x = x;
    pen.y = y;
    return area;
}

void Board::paste(const QImage& pixels, QPoint at) {
    const QRect target = QRect(at, pixels.size()).intersected(m_image.rect());
    if (target.isEmpty())
        return;
    const QImage source = pixels.format() == QImage::Format_RGB32
                              ? pixels
                              : pixels.convertToFormat(QImage::Format_RGB32);
    const qsizetype rowBytes = qsizetype(target.width()) * 4;
    for (int y = target.top(); y <= target.bottom(); ++y)
        memcpy(m_image.scanLine(y) + qsizetype(target.left()) * 4,
               source.constScanLine(y - at.y()) + qsizetype(target.left() - at.x()) * 4,
               size_t(rowBytes));
    painted(target);
}

// Pen down moves the pen without drawing; each coordinate is its own step, so
// "1: 10" moves only x.
Board::Step Board::penDown(qint16 i, QStringView arg) {
    Step step;
    step.index = i;
    if (!protocol::hasSlot(i))
        return step;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (const auto x = readInt16(point.x)) {
        step.axes |= Step::X;
        step.x = *x;
    }
    if (point.y) {
        if (const auto y = readInt16(*point.y)) {
            step.axes |= Step::Y;
            step.y = *y;
        }
    }
    if (step.axes)
        step.kind = Step::PenDown;
    return step;
}

// A pencil segment needs a non-blank argument of at most 15 characters with a
// non-blank second coordinate; both coordinates must fit 16 bits.
Board::Step Board::draw(qint16 i, QStringView arg) {
    Step step;
    step.index = i;
    if (arg.size() > 15 || isBlankText(arg))
        return step;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (!point.y || isBlankText(*point.y))
        return step;
    const auto x = readInt16(point.x);
    const auto y = readInt16(*point.y);
    if (!x || !y || !protocol::hasSlot(i))
        return step;
    step.kind = Step::Draw;
    step.x = *x;
    step.y = *y;
    return step;
}

// The eraser has no blank or length check. Without a second coordinate
// nothing is drawn but x still moves; a coordinate that does not fit stops
// the whole step.
Board::Step Board::erase(qint16 i, QStringView arg) {
    Step step;
    step.index = i;
    if (!protocol::hasSlot(i))
        return step;
    const drawing::PointText point = drawing::splitPoint(arg);
    const auto x = readInt16(point.x);
    if (!x)
        return step;
    step.x = *x;
    if (!point.y) {
        step.kind = Step::MoveX;
        return step;
    }
    const auto y = readInt16(*point.y);
    if (!y)
        return step;
    step.kind = Step::Erase;
    step.y = *y;
    return step;
}
