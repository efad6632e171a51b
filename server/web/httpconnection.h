#pragma once

#include "httprequest.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// A file of the page: its type and bytes, keyed by its path ("/app.js").
struct PageFile {
    QByteArray mime;
    QByteArray data;
};
using PageFiles = QHash<QByteArray, PageFile>;

// One connection on the page port, from its first byte until it ends or
// becomes a WebSocket. Requests are read one after the other (pipelined ones
// wait in the socket, whose read buffer is bounded): GET and HEAD of a page
// file, the WebSocket upgrade on "/ws" (decided by whoever handles
// upgradeRequested), and clear refusals for everything else.
//
// What one connection may cost:
// - a request head of at most headLimit bytes (431 and closed beyond);
// - a body of at most bodyLimit bytes, read and thrown away (413 and closed
//   beyond; chunked bodies: 501 and closed);
// - no head completed and no output taken for timeoutMs: closed (so a head
//   that never ends, or a peer that stops reading, goes away);
// - responses queued: no further request is read while more than sendWindow
//   bytes wait, and a response that would take the queue past sendCap cuts
//   the connection.
class HttpConnection : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qsizetype headLimit = 16 * 1024;
        qint64 bodyLimit = 16 * 1024;
        int timeoutMs = 15000;
        qint64 sendWindow = 64 * 1024;
        qint64 sendCap = 1024 * 1024;
    };

    HttpConnection(QTcpSocket* socket, const PageFiles& files, const Limits& limits,
                   QObject* parent = nullptr);
    ~HttpConnection() override;

    QHostAddress peerAddress() const;

    // While upgradeRequested() is handled: writes the 101 answer and hands
    // the socket over (with anything that came after the request); this
    // connection is then done.
    QTcpSocket* acceptUpgrade(QByteArray& early);
    // ... or answers `status` and closes.
    void refuseUpgrade(int status);

signals:
    // A well-formed WebSocket handshake on "/ws" (method, version, key
    // checked); the handler must accept or refuse it before returning.
    void upgradeRequested(const http::Request& request);
    void finished(); // the connection ended (not after acceptUpgrade)

private:
    void process();
    bool readBody();
    void handle(const http::Request& request);
    void handleUpgrade(const http::Request& request);
    void respond(int status, const QList<std::pair<QByteArray, QByteArray>>& headers,
                 const QByteArray& body, bool withBody, bool close);
    void refuse(int status);
    void end();

    QTcpSocket* m_socket;
    const PageFiles& m_files;
    Limits m_limits;
    QTimer m_timeout;
    QByteArray m_in;
    QByteArray m_upgradeKey;
    qint64 m_bodyLeft = 0;
    bool m_closing = false;
    bool m_upgraded = false;
    bool m_ended = false;
    bool m_upgradeDecided = false;
};
