#pragma once

#include "clock.h"
#include "endpointarray.h"
#include "relayserver.h"
#include "testpeer.h"

#include <QTemporaryDir>
#include <memory>
#include <vector>

// A clock the test sets.
class FixedClock : public Clock {
public:
    QDateTime moment{QDate(2004, 5, 1), QTime(13, 45, 10)};
    QDateTime now() const override { return moment; }
};

// A relay server on ephemeral loopback ports with its log files in a
// temporary directory, and helpers to bring clients in.
struct ServerFixture {
    QTemporaryDir dir;
    FixedClock clock;
    std::unique_ptr<RelayServer> server;
    RelayServer::Journal journal;

    explicit ServerFixture(RelayServer::Journal journal = RelayServer::Journal::On)
        : journal(journal) {
        startServer();
    }

    void startServer() {
        server = std::make_unique<RelayServer>(0, 0, dir.path(), &clock, journal);
        server->setListenAddress(QHostAddress::LocalHost);
        server->start();
    }
    // The server goes without its clean end (as in a crash, after its last
    // write) and a new one starts in the same directory.
    void restart() {
        server.reset();
        startServer();
    }

    quint16 drawingPort() const { return server->drawingPort(); }
    quint16 textPort() const { return server->textPort(); }

    // A drawing client after its greeting (40 pen lines and one count) has
    // arrived; each of `others` (all on slots 0..20) gets one count line,
    // which is taken as well.
    std::unique_ptr<TestPeer> joinDrawing(const std::vector<TestPeer*>& others = {}) {
        auto peer = std::make_unique<TestPeer>(drawingPort(), "\r\n");
        if (!peer->waitConnected() || peer->next(41).size() != 41)
            return nullptr;
        for (TestPeer* other : others)
            if (!other->nextOne().startsWith("0:8:"))
                return nullptr;
        return peer;
    }

    // A text client once the server has accepted it (its name is its address).
    std::unique_ptr<TestPeer> connectText() {
        auto peer = std::make_unique<TestPeer>(textPort(), "%EOT%");
        if (!peer->waitConnected())
            return nullptr;
        const quint16 port = peer->localPort();
        if (!QTest::qWaitFor([&] { return indexOf(server->textEndpoints(), port) >= 0; },
                             WaitGuardMs))
            return nullptr;
        return peer;
    }

    static int indexOf(const EndpointArray& array, quint16 peerPort) {
        for (int i = 0; i <= array.highestIndex(); ++i)
            if (array.isConnected(i) && array.peer(i).port == peerPort)
                return i;
        return -1;
    }
    int drawingIndex(const TestPeer& peer) {
        return indexOf(server->drawingEndpoints(), peer.localPort());
    }
    int textIndex(const TestPeer& peer) {
        return indexOf(server->textEndpoints(), peer.localPort());
    }
};
