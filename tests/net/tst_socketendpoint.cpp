#include "cp932.h"
#include "framesplitter.h"
#include "socketendpoint.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using net::SocketEndpoint;

// A listening endpoint that accepts every request on a second endpoint, the
// way the relay hands connections over.
struct Acceptor {
    SocketEndpoint listener;
    SocketEndpoint carrier;
    Acceptor() {
        listener.setLocalPort(0);
        QObject::connect(&listener, &SocketEndpoint::connectionRequest, &carrier,
                         [this](qintptr id) { carrier.accept(id); });
    }
};

class TestSocketEndpoint : public QObject {
    Q_OBJECT
private slots:
    void connectSendReceiveClose();
    void acceptOnTheListeningEndpoint();
    void failedConnectEndsInError();
    void connectOnlyFromClosed();
    void splitCharacterArrivesWhole();
    void unacceptedRequestIsRefused();
    void outputCapIsReported();
    void closedEndpointStillFlushesThenLetsGo();
    void keepAliveTimersReachTheConnection();
};

void TestSocketEndpoint::connectSendReceiveClose() {
    Acceptor server;
    QVERIFY(server.listener.listen(QHostAddress::LocalHost));
    QCOMPARE(server.listener.state(), SocketEndpoint::Listening);
    QVERIFY(server.listener.localPort() != 0);

    SocketEndpoint client;
    QCOMPARE(client.state(), SocketEndpoint::Closed);
    QSignalSpy connectedSpy(&client, &SocketEndpoint::connected);
    QVERIFY(client.connectTo("127.0.0.1", server.listener.localPort()));
    QVERIFY(client.state() == SocketEndpoint::ResolvingHost ||
            client.state() == SocketEndpoint::Connecting);
    QVERIFY(connectedSpy.wait());
    QCOMPARE(client.state(), SocketEndpoint::Connected);
    QTRY_COMPARE(server.carrier.state(), SocketEndpoint::Connected);
    QCOMPARE(server.carrier.remoteHostIP(), QString("127.0.0.1"));
    QCOMPARE(server.carrier.remotePort(), client.localPort());

    QSignalSpy arrival(&server.carrier, &SocketEndpoint::dataArrival);
    QVERIFY(client.sendBytes("2: 120, 45\r\n"));
    QVERIFY(arrival.wait());
    QCOMPARE(server.carrier.getData(), QByteArray("2: 120, 45\r\n"));

    // Text goes out as CP932.
    QVERIFY(server.carrier.sendBytes(protocol::toCp932(QStringLiteral("ユーザー"))));
    QSignalSpy back(&client, &SocketEndpoint::dataArrival);
    QVERIFY(back.wait());
    QCOMPARE(client.getData(), protocol::toCp932(QStringLiteral("ユーザー")));

    // The peer's close reaches the other side as closed() and state 8.
    QSignalSpy closedSpy(&server.carrier, &SocketEndpoint::closed);
    client.close();
    QCOMPARE(client.state(), SocketEndpoint::Closed);
    QVERIFY(!client.sendBytes("x"));
    QVERIFY(closedSpy.wait());
    QCOMPARE(server.carrier.state(), SocketEndpoint::Closing);
    server.carrier.close();
    QCOMPARE(server.carrier.state(), SocketEndpoint::Closed);
}

void TestSocketEndpoint::acceptOnTheListeningEndpoint() {
    // Close the listener inside its own request handler and accept on it.
    SocketEndpoint listener;
    listener.setLocalPort(0);
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    const quint16 port = listener.localPort();
    connect(&listener, &SocketEndpoint::connectionRequest, &listener, [&](qintptr id) {
        listener.close();
        QVERIFY(listener.accept(id));
    });
    SocketEndpoint client;
    QSignalSpy connectedSpy(&client, &SocketEndpoint::connected);
    client.connectTo("127.0.0.1", port);
    QVERIFY(connectedSpy.wait());
    QTRY_COMPARE(listener.state(), SocketEndpoint::Connected);
    QSignalSpy arrival(&listener, &SocketEndpoint::dataArrival);
    client.sendBytes("hello");
    QVERIFY(arrival.wait());
    QCOMPARE(listener.getData(), QByteArray("hello"));
}

void TestSocketEndpoint::failedConnectEndsInError() {
    // Find a port nobody listens on.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    SocketEndpoint client;
    QVERIFY(client.connectTo("127.0.0.1", port));
    QTRY_COMPARE(client.state(), SocketEndpoint::Error);
    // A failed endpoint refuses Connect until it is closed.
    QVERIFY(!client.connectTo("127.0.0.1", port));
    client.close();
    QCOMPARE(client.state(), SocketEndpoint::Closed);
    QVERIFY(client.connectTo("127.0.0.1", port));
    QTRY_COMPARE(client.state(), SocketEndpoint::Error);
}

void TestSocketEndpoint::connectOnlyFromClosed() {
    Acceptor server;
    QVERIFY(server.listener.listen(QHostAddress::LocalHost));
    SocketEndpoint client;
    QVERIFY(client.connectTo("127.0.0.1", server.listener.localPort()));
    QVERIFY(!client.connectTo("127.0.0.1", server.listener.localPort())); // still connecting
    QTRY_COMPARE(client.state(), SocketEndpoint::Connected);
    QVERIFY(!client.connectTo("127.0.0.1", server.listener.localPort())); // connected
    QVERIFY(!server.listener.listen());                                   // already listening
    QVERIFY(!server.carrier.accept(1));                                   // carrying a connection
}

void TestSocketEndpoint::splitCharacterArrivesWhole() {
    Acceptor server;
    QVERIFY(server.listener.listen(QHostAddress::LocalHost));
    SocketEndpoint client;
    client.connectTo("127.0.0.1", server.listener.localPort());
    QTRY_COMPARE(client.state(), SocketEndpoint::Connected);
    QTRY_COMPARE(server.carrier.state(), SocketEndpoint::Connected);

    const QByteArray message = "0<:>2<:>" + protocol::toCp932(QStringLiteral("髙")) + "%EOT%";
    protocol::FrameSplitter splitter("%EOT%");
    QStringList received;
    connect(&server.carrier, &SocketEndpoint::dataArrival, this, [&] {
        for (const QByteArray& piece : splitter.feed(server.carrier.getData()))
            received << protocol::fromCp932(piece);
    });
    // Cut between the two bytes of the character, in two separate writes.
    const int cut = message.indexOf('\xfb') + 1;
    client.sendBytes(message.left(cut));
    QTRY_VERIFY(splitter.pendingSize() == cut);
    client.sendBytes(message.mid(cut));
    QTRY_COMPARE(received, QStringList{QStringLiteral("0<:>2<:>髙")});
}

void TestSocketEndpoint::unacceptedRequestIsRefused() {
    SocketEndpoint listener;
    listener.setLocalPort(0);
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    QSignalSpy requests(&listener, &SocketEndpoint::connectionRequest);
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, listener.localPort());
    QVERIFY(requests.wait());
    QCOMPARE(listener.state(), SocketEndpoint::Listening);
    QTRY_COMPARE(raw.state(), QAbstractSocket::UnconnectedState);
}

void TestSocketEndpoint::outputCapIsReported() {
    // A peer that never reads: the sender's queue passes the cap, which is
    // reported once, and further sends fail instead of growing memory.
    QTcpServer raw;
    QVERIFY(raw.listen(QHostAddress::LocalHost, 0));
    SocketEndpoint client;
    client.setOutputCap(256 * 1024);
    client.connectTo("127.0.0.1", raw.serverPort());
    QTRY_COMPARE(client.state(), SocketEndpoint::Connected);
    QTRY_VERIFY(raw.hasPendingConnections());
    QTcpSocket* silent = raw.nextPendingConnection();
    silent->setReadBufferSize(1); // stop reading

    QSignalSpy capSpy(&client, &SocketEndpoint::outputCapExceeded);
    const QByteArray chunk(64 * 1024, 'x');
    bool refused = false;
    for (int i = 0; i < 2000 && !refused; ++i) {
        refused = !client.sendBytes(chunk);
        if (i % 16 == 0)
            QCoreApplication::processEvents();
    }
    QVERIFY(refused);
    QCOMPARE(capSpy.count(), 1);
    QVERIFY(client.pendingOutput() <= client.outputCap() + chunk.size());
}

// Output queued when the endpoint is closed still reaches a peer that reads
// it; the connection then ends and nothing of it stays behind. A socket
// still flushing when the program ends goes with the application object.
void TestSocketEndpoint::closedEndpointStillFlushesThenLetsGo() {
    QTcpServer raw;
    QVERIFY(raw.listen(QHostAddress::LocalHost, 0));
    auto client = std::make_unique<SocketEndpoint>();
    client->connectTo("127.0.0.1", raw.serverPort());
    QTRY_COMPARE(client->state(), SocketEndpoint::Connected);
    QTRY_VERIFY(raw.hasPendingConnections());
    QTcpSocket* peer = raw.nextPendingConnection();
    peer->setReadBufferSize(1); // not reading yet

    const QByteArray chunk(64 * 1024, 'y');
    for (int i = 0; i < 64; ++i)
        QVERIFY(client->sendBytes(chunk));
    QVERIFY(client->pendingOutput() > 0);
    const auto lingering = [] {
        return QCoreApplication::instance()
            ->findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)
            .size();
    };
    const qsizetype before = lingering();
    client.reset(); // closes with output still queued
    QCOMPARE(lingering(), before + 1);

    QByteArray received;
    QObject::connect(peer, &QTcpSocket::readyRead, [&] { received += peer->readAll(); });
    peer->setReadBufferSize(0);
    received += peer->readAll();
    QTRY_COMPARE(received.size(), 64 * chunk.size());
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(lingering(), before);
}

namespace {

int option(qintptr fd, int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    ::getsockopt(int(fd), level, name, &value, &size);
    return value;
}

} // namespace

// Set before the connection comes (accepted) and after it is there (the
// outgoing one): both carry the timers.
void TestSocketEndpoint::keepAliveTimersReachTheConnection() {
    const SocketEndpoint::KeepAlive timers{7, 2, 4, 15000};
    Acceptor server;
    server.carrier.setKeepAlive(timers);
    QVERIFY(server.listener.listen(QHostAddress::LocalHost));
    SocketEndpoint client;
    QSignalSpy connectedSpy(&client, &SocketEndpoint::connected);
    client.connectTo("127.0.0.1", server.listener.localPort());
    QVERIFY(connectedSpy.wait());
    QTRY_COMPARE(server.carrier.state(), SocketEndpoint::Connected);
    client.setKeepAlive(timers);
    const SocketEndpoint* const ends[] = {&server.carrier, &client};
    for (const SocketEndpoint* end : ends) {
        const qintptr fd = end->socketDescriptor();
        QCOMPARE(option(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
        QCOMPARE(option(fd, IPPROTO_TCP, TCP_KEEPIDLE), 7);
        QCOMPARE(option(fd, IPPROTO_TCP, TCP_KEEPINTVL), 2);
        QCOMPARE(option(fd, IPPROTO_TCP, TCP_KEEPCNT), 4);
        QCOMPARE(option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), 15000);
    }
}

QTEST_GUILESS_MAIN(TestSocketEndpoint)
#include "tst_socketendpoint.moc"
