#pragma once

#include "board.h"

#include <QStringView>
#include <functional>

class Canvas;

// Applies downstream drawing lines (see drawingline.h) to the canvas's board,
// which keeps one pen per sender index (position, colour, width; slots 0..20)
// and paints by the drawing rules. This class adds what belongs to the
// client: the preview refresh on pen-up and clear-all, the member count last
// announced by the server, and handing the server's command-7 lines on.
//
// Lines come from the network (the drawing channel frames and decodes them)
// or from a log being played back. The source decides whether a pen-up line
// refreshes the preview (a playback refreshes once at its end) and whether
// command 7 is heard (a log holds no replies to us).
class DrawReceiver {
public:
    enum class Source { Network, Playback };
    static constexpr int Slots = Board::Slots;
    static constexpr QStringView ServerExtensionPrefix = u"0:7:";

    DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview);

    // Splits `data` at "\r\n" and applies every non-empty piece in order.
    void drawDataProc(QStringView data, Source source);
    // One piece of drawDataProc: a single line without its terminator.
    // Accepted with three or four fields, a command below 9 and index and
    // command that fit 16 bits; anything else is dropped silently.
    void applyLine(QStringView line, Source source);
    // Applies one accepted line: sender index i, command, argument text.
    // Command 7 paints nothing; only applyLine() can tell a server reply.
    void drawLineProc(qint16 i, qint16 cmd, QStringView arg, Source source);

    qint16 penX(int i) const { return m_board.pen(i).x; }
    qint16 penY(int i) const { return m_board.pen(i).y; }
    qint32 penColor(int i) const { return m_board.pen(i).color; }
    qint16 penSize(int i) const { return m_board.pen(i).size; }
    qint16 memCount() const { return m_memCount; }
    Board& board() { return m_board; }

    // Hears the argument of every line from the network whose index and
    // command fields are exactly "0" and "7" (the server's own replies), in
    // stream order.
    void setExtensionHandler(std::function<void(QStringView)> handler) {
        m_extension = std::move(handler);
    }

private:
    Board& m_board;
    std::function<void()> m_refreshPreview;
    std::function<void(QStringView)> m_extension;
    qint16 m_memCount = 0;
};
