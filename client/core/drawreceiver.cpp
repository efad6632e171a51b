#include "drawreceiver.h"

#include "canvas.h"
#include "drawingline.h"
#include "numbers.h"

#include <algorithm>
#include <utility>

using namespace protocol;

namespace {

// Empty or blanks only, as QStringView::trimmed() sees blanks; the check runs
// for every pencil segment, so it stops at the first other character
// instead of building the trimmed view.
bool isBlank(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

} // namespace

DrawReceiver::DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview)
    : m_canvas(canvas), m_refreshPreview(std::move(refreshPreview)),
      m_splitter(QByteArray(drawing::Terminator)) {}

void DrawReceiver::receive(QByteArrayView arrival) {
    const QList<QByteArray> pieces = m_splitter.feed(arrival);
    for (const QByteArray& piece : pieces)
        applyLine(drawing::decodeText(piece), 0);
}

void DrawReceiver::resetFraming() {
    m_splitter.reset();
}

void DrawReceiver::drawDataProc(QStringView data, int flag) {
    const QStringView terminator = u"\r\n";
    qsizetype from = 0;
    while (from <= data.size()) {
        qsizetype end = data.indexOf(terminator, from);
        if (end < 0)
            end = data.size();
        const QStringView piece = data.sliced(from, end - from);
        if (!piece.isEmpty())
            applyLine(piece, flag);
        from = end + terminator.size();
    }
}

// A piece is accepted with three or four fields, a command below 9 and index
// and command that fit 16 bits; anything else is dropped silently.
void DrawReceiver::applyLine(QStringView line, int flag) {
    const std::optional<drawing::DownLineView> fields = drawing::readDownLine(line);
    if (fields)
        drawLineProc(fields->index, fields->command, fields->argument, flag);
}

void DrawReceiver::drawLineProc(qint16 i, qint16 cmd, QStringView arg, int flag) {
    switch (cmd) {
    case drawing::PenUp:
        // Log playback refreshes once at its end instead of per stroke.
        if (flag != 1 && m_refreshPreview)
            m_refreshPreview();
        break;
    case drawing::PenDown:
        penDown(i, arg);
        break;
    case drawing::Draw:
        draw(i, arg);
        break;
    case drawing::ClearAll:
        m_canvas.clearAll();
        if (m_refreshPreview)
            m_refreshPreview();
        break;
    case drawing::Color:
        if (const auto colour = readInt32(arg); colour && isSlot(i))
            m_penColor[i] = *colour;
        break;
    case drawing::Width:
        if (const auto width = readInt16(arg); width && isSlot(i))
            m_penSize[i] = *width;
        break;
    case drawing::Erase:
        erase(i, arg);
        break;
    case drawing::MemberCount:
        // Whatever the index: the server sends the count as index 0.
        if (const auto count = readInt16(arg))
            m_memCount = *count;
        break;
    default:
        break;
    }
}

// Pen down moves the pen without drawing; each coordinate is its own step, so
// "1: 10" moves only x.
void DrawReceiver::penDown(int i, QStringView arg) {
    if (!isSlot(i))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (const auto x = readInt16(point.x))
        m_penX[i] = *x;
    if (!point.y)
        return;
    if (const auto y = readInt16(*point.y))
        m_penY[i] = *y;
}

// A pencil segment needs a non-blank argument of at most 15 characters with a
// non-blank second coordinate; both coordinates must fit 16 bits.
void DrawReceiver::draw(int i, QStringView arg) {
    if (arg.size() > 15 || isBlank(arg))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    if (!point.y || isBlank(*point.y))
        return;
    const auto x = readInt16(point.x);
    const auto y = readInt16(*point.y);
    if (!x || !y || !isSlot(i))
        return;
    m_canvas.lineWrite(m_penX[i], m_penY[i], *x, *y, m_penSize[i], m_penColor[i]);
    m_penX[i] = *x;
    m_penY[i] = *y;
}

// The eraser has no blank or length check. Without a second coordinate
// nothing is drawn but x still moves; a coordinate that does not fit stops
// the whole step.
void DrawReceiver::erase(int i, QStringView arg) {
    if (!isSlot(i))
        return;
    const drawing::PointText point = drawing::splitPoint(arg);
    const auto x = readInt16(point.x);
    if (!x)
        return;
    if (!point.y) {
        m_penX[i] = *x;
        return;
    }
    const auto y = readInt16(*point.y);
    if (!y)
        return;
    m_canvas.lineWrite(m_penX[i], m_penY[i], *x, *y, m_penSize[i], EraseColor);
    m_penX[i] = *x;
    m_penY[i] = *y;
}
