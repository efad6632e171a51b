#pragma once

#include "addresslimiter.h"
#include "httpconnection.h"
#include "ports.h"
#include "webmember.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <functional>
#include <optional>

class PeerAddressBook;
class RelayServer;

// The browser side of the server: the page (HTML, script and styles compiled
// in as resources, nothing fetched from elsewhere) over HTTP, and every
// WebSocket upgrade on "/ws" of the same port as one browser member
// (WebMember) bridged to the relay's own drawing and text ports.
//
// Each address may hold at most Limits::connectionsPerAddress connections on
// this port and Limits::membersPerAddress of them as members; a connection
// past the first is closed at once, an upgrade past the second is answered
// 429. Only our own page (or a program that names no page) may make its
// visitor a member. The costs of one connection are bounded by
// HttpConnection, WebSocketConnection and WebMember.
class WebServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = protocol::ports::Page;

    // Where the relay listens, asked anew for every member (the relay may be
    // restarted on other ports), and where the bridge notes whom its
    // loopback connections stand for (may be null).
    struct RelayPorts {
        std::function<quint16()> drawing;
        std::function<quint16()> text;
        PeerAddressBook* addressBook = nullptr;
    };
    struct Limits {
        int connectionsPerAddress = 16; // 0: no limit
        int membersPerAddress = 8;      // 0: no limit
        HttpConnection::Limits http;
    };

    explicit WebServer(RelayServer& relay, QObject* parent = nullptr);
    explicit WebServer(RelayPorts relay, QObject* parent = nullptr);
    ~WebServer() override;

    // Starts listening; the port actually used (0 picks one), or nullopt.
    std::optional<quint16> listen(const QHostAddress& address, quint16 port);
    void setLimits(const WebMember::Limits& limits) { m_memberLimits = limits; }
    void setPortLimits(const Limits& limits);
    int memberCount() const { return m_members; }

    // "http://host:port/", the address people type on a phone.
    static QString pageAddress(const QString& host, quint16 port);

signals:
    void membersChanged(int count);

private:
    void onNewConnection();
    void onUpgrade(HttpConnection* connection, const http::Request& request);

    RelayPorts m_relay;
    QTcpServer m_server;
    PageFiles m_files;
    Limits m_limits;
    WebMember::Limits m_memberLimits;
    AddressLimiter m_connections;
    AddressLimiter m_memberAddresses;
    int m_members = 0;
};
