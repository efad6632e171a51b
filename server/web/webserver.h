#pragma once

#include "ports.h"
#include "webmember.h"

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class PageServer;
class RelayServer;

// The browser side of the server: the page (HTML, script and styles compiled
// in as resources, nothing fetched from elsewhere) over HTTP, and every
// WebSocket upgrade on the same port as one browser member (WebMember)
// bridged to the relay's own drawing and text ports.
class WebServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = protocol::ports::Page;

    // Where the relay listens, asked anew for every member (the relay may be
    // restarted on other ports).
    struct RelayPorts {
        std::function<quint16()> drawing;
        std::function<quint16()> text;
    };

    explicit WebServer(const RelayServer& relay, QObject* parent = nullptr);
    explicit WebServer(RelayPorts relay, QObject* parent = nullptr);
    ~WebServer() override;

    // Starts listening; the port actually used (0 picks one), or nullopt.
    std::optional<quint16> listen(const QHostAddress& address, quint16 port);
    void setLimits(const WebMember::Limits& limits) { m_limits = limits; }
    int memberCount() const { return m_members; }

    // "http://host:port/", the address people type on a phone.
    static QString pageAddress(const QString& host, quint16 port);

signals:
    void membersChanged(int count);

private:
    void acceptWebSockets();

    RelayPorts m_relay;
    std::unique_ptr<PageServer> m_http;
    WebMember::Limits m_limits;
    int m_members = 0;
};
