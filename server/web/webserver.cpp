#include "webserver.h"

#include "acceptbackoff.h"
#include "relayserver.h"
#include "websocketconnection.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QUrl>

namespace {

// Resource folder of the page; index.html is also served as "/".
const QString PageRoot = QStringLiteral(":/web");

QByteArray mimeType(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix();
    if (suffix == u"html")
        return "text/html; charset=utf-8";
    if (suffix == u"js")
        return "text/javascript; charset=utf-8";
    if (suffix == u"css")
        return "text/css; charset=utf-8";
    if (suffix == u"png")
        return "image/png";
    return "application/octet-stream";
}

PageFiles loadPage() {
    PageFiles files;
    QDirIterator it(PageRoot, QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert('/' + QFileInfo(path).fileName().toUtf8(),
                         {mimeType(path), file.readAll()});
    }
    if (files.contains("/index.html"))
        files.insert("/", files.value("/index.html"));
    return files;
}

QString addressText(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// A browser names the page that opens a WebSocket. Only our own page may make
// its visitor a member: another site opened on a phone in the same network
// must not draw or talk through it. Programs that send no origin are let in,
// as they could use the TCP ports directly anyway.
bool fromOwnPage(const http::Request& request) {
    const QByteArray origin = request.header("origin");
    if (origin.isEmpty())
        return true;
    const QUrl page(QString::fromLatin1(origin));
    const QUrl host(QStringLiteral("http://") + QString::fromLatin1(request.header("host")));
    return page.scheme() == u"http" && host.isValid() &&
           page.host().compare(host.host(), Qt::CaseInsensitive) == 0 &&
           page.port(80) == host.port(80);
}

} // namespace

WebServer::WebServer(RelayServer& relay, QObject* parent)
    : WebServer(RelayPorts{[&relay] { return relay.drawingPort(); },
                           [&relay] { return relay.textPort(); }, &relay.addressBook()},
                parent) {}

WebServer::WebServer(RelayPorts relay, QObject* parent)
    : QObject(parent), m_relay(std::move(relay)), m_files(loadPage()) {
    setPortLimits(m_limits);
    new AcceptBackoff(&m_server);
    connect(&m_server, &QTcpServer::newConnection, this, &WebServer::onNewConnection);
}

WebServer::~WebServer() = default;

void WebServer::setPortLimits(const Limits& limits) {
    m_limits = limits;
    m_connections.setLimit(limits.connectionsPerAddress);
    m_memberAddresses.setLimit(limits.membersPerAddress);
}

std::optional<quint16> WebServer::listen(const QHostAddress& address, quint16 port) {
    if (!m_server.listen(address, port))
        return std::nullopt;
    return m_server.serverPort();
}

void WebServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        const QString address = addressText(socket->peerAddress());
        if (!m_connections.admit(address)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // The count follows the socket, also once it carries a WebSocket.
        connect(socket, &QObject::destroyed, this,
                [this, address] { m_connections.release(address); });
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* connection = new HttpConnection(socket, m_files, m_limits.http, this);
        connect(
            connection, &HttpConnection::upgradeRequested, this,
            [this, connection](const http::Request& request) { onUpgrade(connection, request); });
        connect(connection, &HttpConnection::finished, connection, &QObject::deleteLater);
    }
}

void WebServer::onUpgrade(HttpConnection* connection, const http::Request& request) {
    if (!fromOwnPage(request)) {
        connection->refuseUpgrade(403);
        return;
    }
    const QString address = addressText(connection->peerAddress());
    if (!m_memberAddresses.admit(address)) {
        connection->refuseUpgrade(429);
        return;
    }
    QByteArray early;
    QTcpSocket* socket = connection->acceptUpgrade(early);
    auto ws = std::make_unique<WebSocketConnection>(
        socket, early,
        WebSocketConnection::Limits{m_memberLimits.messageCap, m_memberLimits.outputCap});
    auto* member = new WebMember(std::move(ws), m_relay.drawing(), m_relay.text(), m_memberLimits,
                                 m_relay.addressBook, this);
    ++m_members;
    emit membersChanged(m_members);
    connect(member, &WebMember::finished, this, [this, member, address] {
        m_memberAddresses.release(address);
        --m_members;
        emit membersChanged(m_members);
        member->deleteLater();
    });
}

QString WebServer::pageAddress(const QString& host, quint16 port) {
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}
