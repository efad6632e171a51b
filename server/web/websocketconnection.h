#pragma once

#include "websocketframes.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <memory>

// One WebSocket from a browser after its handshake, over the TCP socket the
// page port accepted (framing in websocketframes.h). Text messages come out
// as textMessageReceived(); binary messages and pongs are dropped; pings are
// answered; a close is answered and ends the connection; a frame against the
// rules ends it with its close code.
//
// Every frame queued for the browser — messages, pongs, the close — counts
// against the output cap at the moment it is queued: one that would pass it
// cuts the connection there. Input is read as it comes and holds at most one
// message of up to the message cap.
class WebSocketConnection : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qint64 messageCap = 64 * 1024;
        qint64 outputCap = 8 * 1024 * 1024;
    };

    // Takes the socket over; `early` is what arrived after the handshake.
    WebSocketConnection(QTcpSocket* socket, QByteArray early, const Limits& limits,
                        QObject* parent = nullptr);
    ~WebSocketConnection() override;

    // False when the connection is closing or the message would pass the cap.
    bool sendTextMessage(const QString& message);
    qint64 bytesToWrite() const;
    bool isOpen() const { return m_open; }
    QHostAddress peerAddress() const { return m_peer; }

    // Sends a close frame and ends the connection once it is out.
    void close(quint16 code = 1000);
    // Ends the connection at once.
    void abort();

signals:
    void textMessageReceived(const QString& message);
    void bytesWritten(qint64 bytes);
    void disconnected(); // once, however the connection ended

private:
    void onReadyRead();
    void handle(const websocket::Event& event);
    bool queue(const QByteArray& frame);
    void onDisconnected();

    std::unique_ptr<QTcpSocket> m_socket;
    websocket::FrameReader m_reader;
    Limits m_limits;
    QHostAddress m_peer;
    bool m_open = true;
    bool m_ended = false;
};
