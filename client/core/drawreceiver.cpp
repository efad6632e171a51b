#include "drawreceiver.h"

#include "canvas.h"
#include "drawingline.h"
#include "numbers.h"

#include <utility>

using namespace protocol;

DrawReceiver::DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview)
    : m_board(canvas.board()), m_refreshPreview(std::move(refreshPreview)) {}

void DrawReceiver::drawDataProc(QStringView data, Source source) {
    const QStringView terminator = u"\r\n";
    qsizetype from = 0;
    while (from <= data.size()) {
        qsizetype end = data.indexOf(terminator, from);
        if (end < 0)
            end = data.size();
        const QStringView piece = data.sliced(from, end - from);
        if (!piece.isEmpty())
            applyLine(piece, source);
        from = end + terminator.size();
    }
}

void DrawReceiver::applyLine(QStringView line, Source source) {
    const std::optional<drawing::DownLineView> fields = drawing::readDownLine(line);
    if (!fields)
        return;
    drawLineProc(fields->index, fields->command, fields->argument, source);
    // Only the server speaks as index 0, and it writes both fields plainly.
    // A member on index 0 may send a command that merely rounds to 7
    // ("7.4:..."), which the server relays like any line: never a reply.
    if (fields->command == drawing::Extension && source == Source::Network && m_extension &&
        line.startsWith(ServerExtensionPrefix))
        m_extension(fields->argument);
}

void DrawReceiver::drawLineProc(qint16 i, qint16 cmd, QStringView arg, Source source) {
    m_board.drawLineProc(i, cmd, arg);
    switch (cmd) {
    case drawing::PenUp:
        if (source == Source::Network && m_refreshPreview)
            m_refreshPreview();
        break;
    case drawing::ClearAll:
        if (m_refreshPreview)
            m_refreshPreview();
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
