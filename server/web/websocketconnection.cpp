#include "websocketconnection.h"

#include <QPointer>
#include <QTimer>

namespace {

// Read from the socket in slices of this size, so one arrival never sits in
// memory twice over.
constexpr qint64 ReadSlice = 64 * 1024;
// A close that the browser does not answer by closing its side ends anyway.
constexpr int CloseWaitMs = 3000;

} // namespace

WebSocketConnection::WebSocketConnection(QTcpSocket* socket, QByteArray early, const Limits& limits,
                                         QObject* parent)
    : QObject(parent), m_socket(socket), m_reader(limits.messageCap), m_limits(limits),
      m_peer(socket->peerAddress()) {
    m_socket->setParent(nullptr);
    m_socket->disconnect();
    m_socket->setReadBufferSize(ReadSlice);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &WebSocketConnection::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::bytesWritten, this, &WebSocketConnection::bytesWritten);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &WebSocketConnection::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            onDisconnected();
    });
    if (!early.isEmpty()) {
        QMetaObject::invokeMethod(
            this,
            [this, early] {
                for (const websocket::Event& event : m_reader.feed(early))
                    handle(event);
                onReadyRead();
            },
            Qt::QueuedConnection);
    }
}

WebSocketConnection::~WebSocketConnection() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

qint64 WebSocketConnection::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

bool WebSocketConnection::sendTextMessage(const QString& message) {
    return m_open && queue(websocket::textFrame(message));
}

// The one place output is admitted.
bool WebSocketConnection::queue(const QByteArray& frame) {
    if (m_ended || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (m_socket->bytesToWrite() + frame.size() > m_limits.outputCap) {
        abort();
        return false;
    }
    m_socket->write(frame);
    return true;
}

void WebSocketConnection::onReadyRead() {
    QPointer<WebSocketConnection> self(this);
    while (self && !m_ended && m_socket->bytesAvailable() > 0 && !m_reader.failed()) {
        const QByteArray bytes = m_socket->read(ReadSlice);
        for (const websocket::Event& event : m_reader.feed(bytes)) {
            handle(event);
            if (!self || m_ended)
                return;
        }
    }
    // After a close or an error nothing more is read.
    if (self && m_reader.failed() && m_socket->bytesAvailable() > 0)
        m_socket->readAll();
}

void WebSocketConnection::handle(const websocket::Event& event) {
    using websocket::Event;
    switch (event.kind) {
    case Event::TextMessage:
        if (m_open)
            emit textMessageReceived(event.text);
        break;
    case Event::PingFrame:
        queue(websocket::frame(websocket::Pong, event.payload));
        break;
    case Event::CloseFrame:
        // Answered with the same code (or plain 1000), then the socket closes.
        close(event.code == 1005 ? 1000 : event.code);
        break;
    case Event::Error:
        close(event.code);
        break;
    case Event::BinaryMessage:
    case Event::PongFrame:
        break;
    }
}

void WebSocketConnection::close(quint16 code) {
    if (!m_open || m_ended)
        return;
    m_open = false;
    queue(websocket::closeFrame(code));
    if (m_ended)
        return;
    m_socket->disconnectFromHost();
    QTimer::singleShot(CloseWaitMs, this, [this] { abort(); });
}

void WebSocketConnection::abort() {
    if (m_ended)
        return;
    m_open = false;
    m_socket->abort();
    onDisconnected();
}

void WebSocketConnection::onDisconnected() {
    if (m_ended)
        return;
    m_ended = true;
    m_open = false;
    emit disconnected();
}
