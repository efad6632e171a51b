#pragma once

#include "framesplitter.h"

#include <QByteArrayView>
#include <QStringView>
#include <array>
#include <functional>

class Canvas;

// Applies downstream drawing lines to the canvas. It keeps one pen per sender
// index (position, colour, width; slots 0..20) and the member count last
// announced by the server. Network arrivals and played-back log lines go
// through the same two procedures, drawDataProc and drawLineProc; the flag
// says which (0 network, 1 log playback) and only decides whether a pen-up
// line refreshes the preview.
//
// Every line is applied step by step: a step that cannot be carried out (a
// sender index beyond 20, a number that does not fit its integer width, a
// missing field) is skipped and nothing is reported. Network bytes are framed
// with reassembly, so a line split by TCP is applied once, whole.
class DrawReceiver {
public:
    static constexpr int Slots = 21;          // sender indices 0..20
    static constexpr qint32 EraseColor = 16777215; // white, whatever the background

    DrawReceiver(Canvas& canvas, std::function<void()> refreshPreview);

    // Network arrival on the drawing socket: frames at "\r\n" (keeping an
    // incomplete tail for the next arrival), decodes CP932 and applies each
    // complete line with flag 0.
    void receive(QByteArrayView arrival);
    // Drops a kept tail, for a new connection.
    void resetFraming();

    // Splits `data` at "\r\n" and applies every non-empty piece in order.
    void drawDataProc(QStringView data, int flag);
    // Applies one accepted line: sender index i, command, argument text.
    void drawLineProc(qint16 i, qint16 cmd, QStringView arg, int flag);

    qint16 penX(int i) const { return m_penX.at(i); }
    qint16 penY(int i) const { return m_penY.at(i); }
    qint32 penColor(int i) const { return m_penColor.at(i); }
    qint16 penSize(int i) const { return m_penSize.at(i); }
    qint16 memCount() const { return m_memCount; }

private:
    static bool isSlot(int i) { return i >= 0 && i < Slots; }
    void applyPiece(QStringView piece, int flag);
    void penDown(int i, QStringView arg);
    void draw(int i, QStringView arg);
    void erase(int i, QStringView arg);

    Canvas& m_canvas;
    std::function<void()> m_refreshPreview;
    protocol::FrameSplitter m_splitter;
    std::array<qint16, Slots> m_penX{};
    std::array<qint16, Slots> m_penY{};
    std::array<qint32, Slots> m_penColor{};
    std::array<qint16, Slots> m_penSize{};
    qint16 m_memCount = 0;
};
