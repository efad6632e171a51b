#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace net {
class SocketEndpoint;
}

// The local side of the drawing channel: builds the upstream lines and sends
// each in one send on the drawing socket. The send* functions send
// unconditionally (a send on a socket that is not connected simply fails);
// every caller checks connected() first, so that nothing is sent while the
// client runs stand-alone.
class DrawingSender {
public:
    explicit DrawingSender(net::SocketEndpoint& ws) : m_ws(ws) {}

    bool connected() const; // drawing socket in state 7

    void sendColor(qint32 clrvalue); // "4: 255"
    void sendSize(qint16 sizevalue); // "5: 2"
    void sendPenDown(int x, int y);  // "1: 120, 45"
    void sendRestart(int x, int y);  // "1:120,45" (no blanks)
    void sendDraw(int x, int y);     // "2: 120, 45"
    void sendErase(int x, int y);    // "6: 120, 45"
    void sendPenUp();                // "0:0"
    void sendClearAll();             // "3: 0, 0"

private:
    void send(const QByteArray& line);

    net::SocketEndpoint& m_ws;
};
