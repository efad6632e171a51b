#pragma once

#include "framesplitter.h"
#include "websocketconnection.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <vector>

class PeerAddressBook;

// One browser member: a WebSocket from the page and two ordinary TCP
// connections to the relay's own drawing and text ports on the loopback, so
// the browser takes a drawing index and a text index like any desktop client
// and passes through exactly the same relay rules, flow control and caps.
//
// WebSocket text messages, both directions (binary messages are dropped):
//   "r"              bridge -> page: both channels are connected
//   "d" lines        drawing lines, each followed by "\r\n"; several lines
//                    may share one message (downstream batches them)
//   "t" message      one text-channel message without its "%EOT%": UTF-8 in
//                    the page, CP932 on the wire
//
// Only complete, well-formed items are forwarded: a drawing line must be
// printable ASCII (no CR or LF inside), a text message must not contain
// "%EOT%" or end in "%EOT" (either would shift the relay's framing), a
// message above the size cap closes the member. A page that stops reading
// makes the bridge stop reading the relay, so the relay sees a slow reader
// and deals with it by its own rules; a WebSocket past the output cap, or
// paused without progress for a while, is cut.
// When the page goes away the bridge sends the chat leave ("0<:>END") if the
// page had joined, as the desktop chat does when it closes, then closes both
// connections.
//
// The relay learns the browser's own address: before connecting, each of
// the two sockets takes its local port and notes it in the address book, so
// the relay's list, log and per-address limits see the browser.
class WebMember : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qint64 messageCap = 64 * 1024;        // one incoming WebSocket message
        qint64 pauseAbove = 256 * 1024;       // WebSocket unsent bytes: stop reading the relay
        qint64 resumeBelow = 64 * 1024;       // ... and read again
        qint64 outputCap = 8 * 1024 * 1024;   // WebSocket unsent bytes: cut
        qint64 upstreamCap = 4 * 1024 * 1024; // unsent bytes towards the relay: cut
        int stallMs = 10000;                  // paused without any progress of the WebSocket: cut
    };

    WebMember(std::unique_ptr<WebSocketConnection> socket, quint16 drawingPort, quint16 textPort,
              const Limits& limits, PeerAddressBook* book = nullptr, QObject* parent = nullptr);
    ~WebMember() override;

    QString peerAddress() const;

signals:
    void finished(); // every connection closed; the owner deletes the member

private:
    void onMessage(const QString& message);
    void forwardDrawing(QStringView lines);
    void forwardText(QStringView message);
    void readDrawing();
    void readText();
    void sendToPage(const QString& message);
    void onPageWritten();
    void onRelayConnected();
    void finish();
    void emitWhenClosed();
    void connectRelay(QTcpSocket& relay, quint16 port);

    std::unique_ptr<WebSocketConnection> m_ws;
    PeerAddressBook* m_book;
    std::vector<quint16> m_notedPorts;
    QTcpSocket m_draw;
    QTcpSocket m_text;
    QTimer m_stallTimer;
    protocol::FrameSplitter m_drawSplitter;
    protocol::FrameSplitter m_textSplitter;
    Limits m_limits;
    bool m_paused = false;
    bool m_joined = false; // the page's last join was not followed by a leave
    bool m_finishing = false;
    bool m_done = false;
};
