#pragma once

#include "board.h"
#include "framesplitter.h"

#include <QByteArrayView>
#include <QStringView>
#include <array>
#include <functional>

class Canvas;

// Applies downstream drawing lines to the canvas's board, which keeps one pen
// per sender index (position, colour, width; slots 0..20) and paints by the
// drawing rules. This class adds what belongs to the client: framing of the
// network bytes, the preview refresh on pen-up and clear-all, the member count
// last announced by the server, and handing command-7 lines from the network
// to whoever listens (the shared-picture replies). Network arrivals and
// played-back log lines go through the same two procedures, drawDataProc and
// drawLineProc; the flag says which (0 network, 1 log playback) and decides
// whether a pen-up line refreshes the preview and whether command 7 is heard.
//
// Network bytes are framed with reassembly, so a line split by TCP is applied
// once, whole.
class DrawReceiver {
public:
    static constexpr int Slots = Board::Slots;
    static constexpr qint32 EraseColor = Board::EraseColor;

    DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview);

    // Network arrival on the drawing socket: frames at "\r\n" (keeping an
    // incomplete tail for the next arrival), decodes CP932 and applies each
    // complete line with flag 0.
    void receive(QByteArrayView arrival);
    // Drops a kept tail, for a new connection.
    void resetFraming();

    // Splits `data` at "\r\n" and applies every non-empty piece in order.
    void drawDataProc(QStringView data, int flag);
    // One piece of drawDataProc: a single line without its terminator.
    void applyLine(QStringView line, int flag);
    // Applies one accepted line: sender index i, command, argument text.
    void drawLineProc(qint16 i, qint16 cmd, QStringView arg, int flag);

    qint16 penX(int i) const { return m_board.pen(i).x; }
    qint16 penY(int i) const { return m_board.pen(i).y; }
    qint32 penColor(int i) const { return m_board.pen(i).color; }
    qint16 penSize(int i) const { return m_board.pen(i).size; }
    qint16 memCount() const { return m_memCount; }
    Board& board() { return m_board; }

    // Hears the argument of every command-7 line from the network with
    // sender index 0 (the server's own replies), in stream order.
    void setCommand7Handler(std::function<void(QStringView)> handler) {
        m_command7 = std::move(handler);
    }

private:
    Board& m_board;
    std::function<void()> m_refreshPreview;
    std::function<void(QStringView)> m_command7;
    protocol::FrameSplitter m_splitter;
    qint16 m_memCount = 0;
};
