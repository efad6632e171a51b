#include "drawingsender.h"

#include "drawingline.h"
#include "socketendpoint.h"

namespace dl = protocol::drawing;

bool DrawingSender::connected() const {
    return m_ws.state() == net::SocketEndpoint::Connected;
}

void DrawingSender::send(const QByteArray& line) {
    m_ws.sendBytes(line); // a failed send is ignored, like every send of the drawing channel
}

void DrawingSender::sendColor(qint32 clrvalue) {
    send(dl::colorLine(clrvalue));
}

void DrawingSender::sendSize(qint16 sizevalue) {
    send(dl::widthLine(sizevalue));
}

void DrawingSender::sendPenDown(int x, int y) {
    send(dl::penDownLine(x, y));
}

void DrawingSender::sendRestart(int x, int y) {
    send(dl::restartLine(x, y));
}

void DrawingSender::sendDraw(int x, int y) {
    send(dl::drawLine(x, y));
}

void DrawingSender::sendErase(int x, int y) {
    send(dl::eraseLine(x, y));
}

void DrawingSender::sendPenUp() {
    send(dl::penUpLine());
}

void DrawingSender::sendClearAll() {
    send(dl::clearAllLine());
}
