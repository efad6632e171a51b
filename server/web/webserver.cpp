#include "webserver.h"

#include "relayserver.h"

#include <QAbstractHttpServer>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpSocket>

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

} // namespace

// The HTTP side: GET of a page file, and the hand-over of WebSocket upgrades
// on "/ws" (this Qt hands an upgrade over only when the request counts as
// handled, and then nothing may be written to it). Everything else: 404.
class PageServer : public QAbstractHttpServer {
public:
    PageServer() {
        QDirIterator files(PageRoot, QDir::Files);
        while (files.hasNext()) {
            const QString path = files.next();
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                m_files.insert(QLatin1Char('/') + QFileInfo(path).fileName(),
                               {mimeType(path), file.readAll()});
        }
        if (m_files.contains(QStringLiteral("/index.html")))
            m_files.insert(QStringLiteral("/"), m_files.value(QStringLiteral("/index.html")));
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const QString path = request.url().path();
        if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
            return path == u"/ws";
        if (request.method() != QHttpServerRequest::Method::Get)
            return false;
        const auto file = m_files.constFind(path);
        if (file == m_files.constEnd())
            return false;
        // The page is part of the server binary: a new server brings a new page.
        makeResponder(request, socket)
            .write(
                file->data,
                {{"Content-Type", file->mime},
                 {"Cache-Control", "no-cache"},
                 {"X-Content-Type-Options", "nosniff"},
                 {"Content-Security-Policy",
                  "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data: blob:"}});
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    struct File {
        QByteArray mime;
        QByteArray data;
    };
    QHash<QString, File> m_files;
};

WebServer::WebServer(const RelayServer& relay, QObject* parent)
    : WebServer(RelayPorts{[&relay] { return relay.drawingPort(); },
                           [&relay] { return relay.textPort(); }},
                parent) {}

WebServer::WebServer(RelayPorts relay, QObject* parent)
    : QObject(parent), m_relay(std::move(relay)), m_http(std::make_unique<PageServer>()) {
    connect(m_http.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &WebServer::acceptWebSockets);
}

WebServer::~WebServer() = default;

std::optional<quint16> WebServer::listen(const QHostAddress& address, quint16 port) {
    const quint16 bound = m_http->listen(address, port);
    if (bound == 0)
        return std::nullopt;
    return bound;
}

namespace {

// A browser names the page that opens a WebSocket. Only our own page may make
// its visitor a member: another site opened on a phone in the same network
// must not draw or talk through it. Programs that send no origin are let in,
// as they could use the TCP ports directly anyway.
bool fromOwnPage(const QWebSocket& socket) {
    if (socket.origin().isEmpty())
        return true;
    const QUrl origin(socket.origin());
    const QUrl request = socket.requestUrl();
    return origin.scheme() == u"http" &&
           origin.host().compare(request.host(), Qt::CaseInsensitive) == 0 &&
           origin.port(80) == request.port(80);
}

} // namespace

// The page upgrades "/ws"; other paths are refused before they get here.
void WebServer::acceptWebSockets() {
    while (m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (!socket)
            continue;
        if (!fromOwnPage(*socket)) {
            socket->abort();
            continue;
        }
        auto* member =
            new WebMember(std::move(socket), m_relay.drawing(), m_relay.text(), m_limits, this);
        ++m_members;
        emit membersChanged(m_members);
        connect(member, &WebMember::finished, this, [this, member] {
            --m_members;
            emit membersChanged(m_members);
            member->deleteLater();
        });
    }
}

QString WebServer::pageAddress(const QString& host, quint16 port) {
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}
