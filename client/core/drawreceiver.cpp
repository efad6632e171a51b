#include "drawreceiver.h"

#include "canvas.h"
#include "drawingline.h"
#include "numbers.h"

#include <algorithm>
#include <utility>

using namespace protocol;

DrawReceiver::DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview)
    : m_board(canvas.board()), m_refreshPreview(std::move(refreshPreview)),
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
    m_board.drawLineProc(i, cmd, arg);
    switch (cmd) {
    case drawing::PenUp:
        // Log playback refreshes once at its end instead of per stroke.
        if (flag != 1 && m_refreshPreview)
            m_refreshPreview();
        break;
    case drawing::ClearAll:
        if (m_refreshPreview)
            m_refreshPreview();
        break;
    case drawing::Extension:
        // Only the server speaks as index 0; a log holds no replies to us.
        if (flag == 0 && i == 0 && m_command7)
            m_command7(arg);
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
