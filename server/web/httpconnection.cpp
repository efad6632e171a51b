#include "httpconnection.h"

#include "websocketframes.h"

#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QTcpSocket>

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 101:
        return "Switching Protocols";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Content Too Large";
    case 426:
        return "Upgrade Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

QByteArray httpDate() {
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc(),
                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket* socket, const PageFiles& files, const Limits& limits,
                               QObject* parent)
    : QObject(parent), m_socket(socket), m_files(files), m_limits(limits) {
    m_socket->setParent(this);
    // Requests that wait behind the one being answered stay in the kernel.
    m_socket->setReadBufferSize(m_limits.headLimit);
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(m_limits.timeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_socket->abort();
        end();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::process);
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        m_timeout.start(); // output is being taken
        process();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::end);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            end();
    });
    m_timeout.start();
    QMetaObject::invokeMethod(this, &HttpConnection::process, Qt::QueuedConnection);
}

HttpConnection::~HttpConnection() = default;

QHostAddress HttpConnection::peerAddress() const {
    return m_socket ? m_socket->peerAddress() : QHostAddress();
}

void HttpConnection::end() {
    if (m_ended || m_upgraded)
        return;
    m_ended = true;
    m_timeout.stop();
    emit finished();
}

// Reads requests while the queued answers leave room for more.
void HttpConnection::process() {
    QPointer<HttpConnection> self(this);
    while (self && !m_ended && !m_upgraded && !m_closing) {
        if (m_bodyLeft > 0 && !readBody())
            return;
        if (m_socket->bytesToWrite() > m_limits.sendWindow)
            return; // bytesWritten() comes back here
        const qsizetype room = m_limits.headLimit + 1 - m_in.size();
        if (room > 0)
            m_in += m_socket->read(room);
        const qsizetype end = http::headEnd(m_in);
        if (end < 0 || end > m_limits.headLimit) {
            if (m_in.size() > m_limits.headLimit)
                refuse(431);
            return;
        }
        const QByteArray head = m_in.left(end);
        m_in.remove(0, end);
        m_timeout.start(); // a whole head came: the next one has its own time
        const http::Parsed parsed = http::parseHead(head);
        if (!parsed.request) {
            refuse(parsed.status);
            return;
        }
        handle(*parsed.request);
    }
}

// The body of the last request is thrown away as it comes.
bool HttpConnection::readBody() {
    const qint64 fromBuffer = qMin<qint64>(m_bodyLeft, m_in.size());
    m_in.remove(0, qsizetype(fromBuffer));
    m_bodyLeft -= fromBuffer;
    while (m_bodyLeft > 0 && m_socket->bytesAvailable() > 0) {
        const QByteArray chunk = m_socket->read(qMin<qint64>(m_bodyLeft, 16 * 1024));
        m_bodyLeft -= chunk.size();
        m_timeout.start();
    }
    return m_bodyLeft == 0;
}

void HttpConnection::handle(const http::Request& request) {
    if (request.hasHeader("transfer-encoding"))
        return refuse(501);
    const std::optional<qint64> length = request.contentLength();
    if (!length)
        return refuse(400);
    if (*length > m_limits.bodyLimit)
        return refuse(413);
    m_bodyLeft = *length;
    if (request.hasToken("upgrade", "websocket"))
        return handleUpgrade(request);
    const bool head = request.method == "HEAD";
    if (request.method != "GET" && !head) {
        respond(405, {{"Allow", "GET, HEAD"}}, {}, false, true);
        return;
    }
    const bool close = request.minor == 0 || request.hasToken("connection", "close");
    const auto file = m_files.constFind(request.path);
    if (file == m_files.constEnd()) {
        respond(404, {{"Content-Type", "text/plain; charset=utf-8"}}, "Not Found", !head, close);
        return;
    }
    // The page is part of the server binary: a new server brings a new page.
    respond(200,
            {{"Content-Type", file->mime},
             {"Cache-Control", "no-cache"},
             {"X-Content-Type-Options", "nosniff"},
             {"Content-Security-Policy",
              "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data: blob:"}},
            file->data, !head, close);
}

void HttpConnection::handleUpgrade(const http::Request& request) {
    if (request.path != "/ws")
        return refuse(404);
    if (request.method != "GET" || request.minor != 1 || !request.hasHeader("host") ||
        !request.hasToken("connection", "upgrade") ||
        !websocket::isValidKey(request.header("sec-websocket-key")))
        return refuse(400);
    if (request.header("sec-websocket-version") != "13") {
        respond(426, {{"Sec-WebSocket-Version", "13"}}, {}, false, true);
        return;
    }
    m_upgradeKey = request.header("sec-websocket-key");
    m_upgradeDecided = false;
    emit upgradeRequested(request);
    if (!m_upgradeDecided)
        refuse(403);
}

QTcpSocket* HttpConnection::acceptUpgrade(QByteArray& early) {
    m_upgradeDecided = true;
    m_upgraded = true;
    m_timeout.stop();
    m_socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                    "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                    websocket::acceptKey(m_upgradeKey) + "\r\n\r\n");
    early = std::exchange(m_in, QByteArray());
    m_socket->disconnect(this);
    m_socket->setParent(nullptr);
    m_socket->setReadBufferSize(0);
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    deleteLater();
    return socket;
}

void HttpConnection::refuseUpgrade(int status) {
    m_upgradeDecided = true;
    refuse(status);
}

void HttpConnection::refuse(int status) {
    respond(status, {{"Content-Type", "text/plain; charset=utf-8"}}, reasonPhrase(status), true,
            true);
}

void HttpConnection::respond(int status, const QList<std::pair<QByteArray, QByteArray>>& headers,
                             const QByteArray& body, bool withBody, bool close) {
    if (m_closing || m_ended || !m_socket)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    out += "Date: " + httpDate() + "\r\n";
    for (const auto& [name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (close)
        out += "Connection: close\r\n";
    out += "\r\n";
    if (withBody)
        out += body;
    if (m_socket->bytesToWrite() + out.size() > m_limits.sendCap) {
        m_socket->abort();
        end();
        return;
    }
    m_socket->write(out);
    if (close) {
        m_closing = true;
        m_socket->disconnectFromHost();
    }
}
