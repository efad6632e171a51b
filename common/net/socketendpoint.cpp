#include "socketendpoint.h"

#include "acceptbackoff.h"

#include <QCoreApplication>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {
namespace {

// A listener that hands the raw descriptor of each incoming connection to
// its endpoint instead of wrapping it in a socket itself, so the endpoint
// that handles the request decides who carries the connection.
class DescriptorServer : public QTcpServer {
public:
    std::function<void(qintptr)> onIncoming;

protected:
    void incomingConnection(qintptr descriptor) override {
        if (onIncoming)
            onIncoming(descriptor);
        else
            ::close(int(descriptor));
    }
};

// Descriptors taken by accept() while their request signal is being handled.
QSet<qintptr>& acceptedDescriptors() {
    static QSet<qintptr> taken;
    return taken;
}

// How long a closed connection may keep flushing queued output in the
// background before it is cut.
constexpr int LingerMs = 5000;

} // namespace

SocketEndpoint::SocketEndpoint(QObject* parent) : QObject(parent) {}

SocketEndpoint::~SocketEndpoint() {
    close();
}

quint16 SocketEndpoint::localPort() const {
    if (m_server)
        return m_server->serverPort();
    if (m_socket)
        return m_socket->localPort();
    return m_localPort;
}

bool SocketEndpoint::connectTo(const QString& host, quint16 port) {
    if (m_state != Closed)
        return false;
    auto* socket = new QTcpSocket(this);
    adoptSocket(socket);
    connect(socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::HostLookupState)
            m_state = ResolvingHost;
        else if (s == QAbstractSocket::ConnectingState)
            m_state = Connecting;
    });
    connect(socket, &QTcpSocket::connected, this, [this] {
        m_state = Connected;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        applyKeepAlive();
        emit connected();
    });
    m_state = ResolvingHost;
    socket->connectToHost(host, port);
    return true;
}

bool SocketEndpoint::listen(const QHostAddress& address) {
    if (m_state != Closed)
        return false;
    auto* server = new DescriptorServer;
    server->setParent(this);
    server->onIncoming = [this](qintptr d) { onIncoming(d); };
    if (!server->listen(address, m_localPort)) {
        m_listenError = server->errorString();
        delete server;
        m_state = Error;
        return false;
    }
    m_listenError.clear();
    new AcceptBackoff(server);
    m_server = server;
    m_localPort = server->serverPort();
    m_state = Listening;
    return true;
}

void SocketEndpoint::onIncoming(qintptr descriptor) {
    m_state = ConnectionPending;
    QPointer<SocketEndpoint> self(this);
    emit connectionRequest(descriptor);
    if (self && m_state == ConnectionPending)
        m_state = Listening;
    // Nobody took it: refuse the connection.
    if (!acceptedDescriptors().remove(descriptor))
        ::close(int(descriptor));
}

bool SocketEndpoint::accept(qintptr requestId) {
    if (m_state != Closed)
        return false;
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(requestId)) {
        delete socket;
        m_state = Error;
        return false;
    }
    acceptedDescriptors().insert(requestId);
    adoptSocket(socket);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    applyKeepAlive();
    m_state = Connected;
    return true;
}

void SocketEndpoint::adoptSocket(QTcpSocket* socket) {
    m_socket = socket;
    m_capReported = false;
    m_replySpans.clear();
    m_queuedTotal = 0;
    socket->setReadBufferSize(m_readBufferSize);
    connect(socket, &QTcpSocket::readyRead, this,
            [this] { emit dataArrival(m_socket ? m_socket->bytesAvailable() : 0); });
    connect(socket, &QTcpSocket::disconnected, this, &SocketEndpoint::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &SocketEndpoint::onSocketError);
    connect(socket, &QTcpSocket::bytesWritten, this, &SocketEndpoint::onBytesWritten);
}

void SocketEndpoint::onSocketError() {
    if (!m_socket)
        return;
    const auto error = m_socket->error();
    if (m_state == Connected) {
        // An orderly close from the peer arrives as disconnected(); anything
        // else breaks the connection, which the owner learns as a Close.
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        m_state = Error;
        emit closed();
        return;
    }
    if (m_state == ResolvingHost || m_state == Connecting)
        m_state = Error;
}

void SocketEndpoint::onDisconnected() {
    if (m_state != Connected)
        return;
    m_state = Closing;
    emit closed();
}

void SocketEndpoint::onBytesWritten() {
    if (m_socket && m_socket->bytesToWrite() <= m_outputCap)
        m_capReported = false;
    const bool hadReplies = !m_replySpans.empty();
    forgetWrittenReplies();
    emit outputWritten();
    if (hadReplies && m_replySpans.empty())
        emit repliesWritten();
}

bool SocketEndpoint::sendBytes(QByteArrayView bytes) {
    return queue(bytes, false);
}

bool SocketEndpoint::sendReply(QByteArrayView bytes) {
    return queue(bytes, true);
}

bool SocketEndpoint::queue(QByteArrayView bytes, bool reply) {
    if (m_state != Connected || !m_socket)
        return false;
    if (m_socket->bytesToWrite() > m_outputCap)
        return false;
    if (m_socket->write(bytes.data(), bytes.size()) != bytes.size())
        return false;
    const qint64 begin = m_queuedTotal;
    m_queuedTotal += bytes.size();
    if (reply && !bytes.isEmpty()) {
        if (!m_replySpans.empty() && m_replySpans.back().end == begin)
            m_replySpans.back().end = m_queuedTotal;
        else
            m_replySpans.push_back({begin, m_queuedTotal});
    }
    if (m_socket->bytesToWrite() > m_outputCap && !m_capReported) {
        m_capReported = true;
        emit outputCapExceeded();
    }
    return true;
}

// Everything queued before the socket's own queue has gone out.
void SocketEndpoint::forgetWrittenReplies() {
    if (m_replySpans.empty() || !m_socket)
        return;
    const qint64 written = m_queuedTotal - m_socket->bytesToWrite();
    size_t gone = 0;
    while (gone < m_replySpans.size() && m_replySpans[gone].end <= written)
        ++gone;
    m_replySpans.erase(m_replySpans.begin(), m_replySpans.begin() + qsizetype(gone));
}

qint64 SocketEndpoint::pendingReplyOutput() {
    forgetWrittenReplies();
    if (m_replySpans.empty())
        return 0;
    const qint64 written = m_queuedTotal - m_socket->bytesToWrite();
    qint64 pending = 0;
    for (const Span& span : m_replySpans)
        pending += span.end - qMax(span.begin, written);
    return pending;
}

QByteArray SocketEndpoint::getData() {
    return m_socket ? m_socket->readAll() : QByteArray();
}

QByteArray SocketEndpoint::getData(qint64 maxBytes) {
    return m_socket ? m_socket->read(maxBytes) : QByteArray();
}

qint64 SocketEndpoint::pendingOutput() const {
    return m_socket ? m_socket->bytesToWrite() : 0;
}

void SocketEndpoint::setReadBufferSize(qint64 bytes) {
    m_readBufferSize = bytes;
    if (m_socket)
        m_socket->setReadBufferSize(bytes);
}

void SocketEndpoint::setKeepAlive(const KeepAlive& keepAlive) {
    m_keepAlive = keepAlive;
    if (m_state == Connected)
        applyKeepAlive();
}

qintptr SocketEndpoint::socketDescriptor() const {
    return m_socket ? m_socket->socketDescriptor() : -1;
}

// Failures are left alone: a socket without the timers still works, it only
// notices a dead link later.
void SocketEndpoint::applyKeepAlive() {
    if (!m_socket || !m_keepAlive.isSet())
        return;
    const int fd = int(socketDescriptor());
    if (fd < 0)
        return;
    const auto set = [fd](int level, int option, int value) {
        ::setsockopt(fd, level, option, &value, sizeof value);
    };
    set(SOL_SOCKET, SO_KEEPALIVE, 1);
    set(IPPROTO_TCP, TCP_KEEPIDLE, m_keepAlive.idleSeconds);
    if (m_keepAlive.intervalSeconds > 0)
        set(IPPROTO_TCP, TCP_KEEPINTVL, m_keepAlive.intervalSeconds);
    if (m_keepAlive.probes > 0)
        set(IPPROTO_TCP, TCP_KEEPCNT, m_keepAlive.probes);
    if (m_keepAlive.userTimeoutMs > 0)
        set(IPPROTO_TCP, TCP_USER_TIMEOUT, m_keepAlive.userTimeoutMs);
}

qint64 SocketEndpoint::bytesAvailable() const {
    return m_socket ? m_socket->bytesAvailable() : 0;
}

void SocketEndpoint::dropSocket() {
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    m_replySpans.clear();
    socket->disconnect(this);
    // A lingering connection belongs to the application from here on, so a
    // program that ends while it still flushes releases it with the rest.
    socket->setParent(QCoreApplication::instance());
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        // Let queued output reach the peer, as a closed socket's stack would,
        // but never for longer than the linger time.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(LingerMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        socket->abort();
        socket->deleteLater();
    }
}

void SocketEndpoint::close() {
    if (m_socket)
        dropSocket();
    if (m_server) {
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    m_state = Closed;
}

QString SocketEndpoint::remoteHostIP() const {
    if (!m_socket)
        return QString();
    const QHostAddress peer = m_socket->peerAddress();
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : peer.toString();
}

quint16 SocketEndpoint::remotePort() const {
    return m_socket ? m_socket->peerPort() : 0;
}

} // namespace net
