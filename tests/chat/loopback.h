#pragma once

#include "socketendpoint.h"

#include <QByteArray>
#include <QHostAddress>
#include <QTest>

// A text channel over loopback for the chat tests: `client` plays the main
// window's text endpoint, `peer` the relay's end of the connection. Every byte
// the client sends is collected in `sent`.
struct LoopbackChannel {
    net::SocketEndpoint listener;
    net::SocketEndpoint peer;
    net::SocketEndpoint client;
    QByteArray sent;

    bool open() { return openFor(client); }

    // Connects `endpoint` (another text endpoint, a main window's for
    // example) instead of `client`.
    bool openFor(net::SocketEndpoint& endpoint) {
        listener.setLocalPort(0);
        QObject::connect(&listener, &net::SocketEndpoint::connectionRequest, &peer,
                         [this](qintptr id) { peer.accept(id); });
        QObject::connect(&peer, &net::SocketEndpoint::dataArrival, &peer,
                         [this] { sent += peer.getData(); });
        if (!listener.listen(QHostAddress::LocalHost))
            return false;
        if (!endpoint.connectTo(QStringLiteral("127.0.0.1"), listener.localPort()))
            return false;
        return QTest::qWaitFor([this, &endpoint] {
            return endpoint.state() == net::SocketEndpoint::Connected &&
                   peer.state() == net::SocketEndpoint::Connected;
        });
    }

    // Waits until `sent` holds at least `bytes` bytes.
    bool waitSent(qsizetype bytes) {
        return QTest::qWaitFor([&] { return sent.size() >= bytes; });
    }
};
