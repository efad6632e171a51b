// The page port over real loopback sockets, spoken to byte by byte as a
// hostile or simply odd peer would: request heads and bodies within their
// limits, pipelining, timeouts, HEAD, the WebSocket framing rules (masks,
// fragments, UTF-8, sizes, pings) and the per-address limits. The bridge's
// members also carry the browser's own address into the relay.

#include "serverfixture.h"
#include "textrelay.h"
#include "webserver.h"
#include "websocketframes.h"

#include <QTcpSocket>
#include <QTest>

namespace {

// A raw client of the page port, from a loopback address of the test's choice.
class Raw {
public:
    explicit Raw(quint16 port, const QString& from = QStringLiteral("127.0.0.1")) {
        socket.bind(QHostAddress(from), 0);
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { got += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    bool waitFor(const QByteArray& part, int ms = 5000) {
        return QTest::qWaitFor([&] { return got.contains(part); }, ms);
    }
    bool waitClosed(int ms = 5000) {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                               ms);
    }
    // Opens a WebSocket; true once the server switched protocols.
    bool upgrade(const QByteArray& extra = {}) {
        send("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
             "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
             "Sec-WebSocket-Version: 13\r\n" +
             extra + "\r\n");
        return waitFor("\r\n\r\n") && got.startsWith("HTTP/1.1 101 ");
    }
    QTcpSocket socket;
    QByteArray got;
};

// A client frame; masked unless told otherwise.
QByteArray clientFrame(quint8 first, const QByteArray& payload, bool mask = true) {
    QByteArray out(1, char(first));
    const char key[4] = {0x11, 0x22, 0x33, 0x44};
    const char maskBit = mask ? char(0x80) : char(0);
    if (payload.size() < 126) {
        out += char(maskBit | payload.size());
    } else if (payload.size() <= 0xffff) {
        out += char(maskBit | 126);
        out += char(payload.size() >> 8);
        out += char(payload.size() & 0xff);
    } else {
        out += char(maskBit | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            out += char((quint64(payload.size()) >> shift) & 0xff);
    }
    if (!mask)
        return out + payload;
    out.append(key, 4);
    for (qsizetype i = 0; i < payload.size(); ++i)
        out += char(payload[i] ^ key[i & 3]);
    return out;
}

// The close code of the server's close frame in `bytes`, 0 if none.
int closeCode(const QByteArray& bytes) {
    const qsizetype at = bytes.indexOf(QByteArray("\x88\x02", 2));
    if (at < 0 || at + 4 > bytes.size())
        return 0;
    return (quint8(bytes[at + 2]) << 8) | quint8(bytes[at + 3]);
}

struct Page : ServerFixture {
    WebServer web{*server};
    quint16 port = 0;
    explicit Page(const WebServer::Limits& limits = {}) {
        web.setPortLimits(limits);
        port = web.listen(QHostAddress::LocalHost, 0).value_or(0);
    }
};

} // namespace

class TestPagePort : public QObject {
    Q_OBJECT
private slots:
    void pipelinedRequestsAreAnsweredInOrder();
    void headsAndBodiesHaveLimits();
    void idleAndEndlessHeadsAreClosed();
    void framesAgainstTheRulesCloseTheSocket_data();
    void framesAgainstTheRulesCloseTheSocket();
    void fragmentsAndPingsAreAnswered();
    void pongsCountAgainstTheOutputCap();
    void addressesHaveLimitsAndReachTheRelay();
};

// GET and HEAD of page files (HEAD: the same head, no body), 404 for others,
// 405 for other methods, one answer per request in the order asked.
void TestPagePort::pipelinedRequestsAreAnsweredInOrder() {
    Page p;
    Raw raw(p.port);
    raw.send(
        "GET / HTTP/1.1\r\nHost: x\r\n\r\nHEAD /app.js HTTP/1.1\r\nHost: x\r\n\r\n"
        "GET /missing HTTP/1.1\r\nHost: x\r\n\r\nGET /style.css?v=2 HTTP/1.1\r\nHost: x\r\n\r\n");
    QVERIFY(raw.waitFor("text/css"));
    const QList<QByteArray> starts = {"HTTP/1.1 200 OK", "HTTP/1.1 200 OK", "HTTP/1.1 404 ",
                                      "HTTP/1.1 200 OK"};
    qsizetype at = 0;
    for (const QByteArray& start : starts) {
        at = raw.got.indexOf(start, at);
        QVERIFY2(at >= 0, start.constData());
        at += start.size();
    }
    const qsizetype head = raw.got.indexOf("HTTP/1.1", raw.got.indexOf("</html>"));
    const QByteArray headAnswer = raw.got.mid(head, raw.got.indexOf("HTTP/1.1 404") - head);
    QVERIFY(headAnswer.contains("Content-Type: text/javascript"));
    QVERIFY(!headAnswer.contains("Content-Length: 0\r\n"));
    QVERIFY(headAnswer.endsWith("\r\n\r\n")); // no body after HEAD's head
    raw.send("DELETE / HTTP/1.1\r\nHost: x\r\n\r\n");
    QVERIFY(raw.waitFor("HTTP/1.1 405 "));
    QVERIFY(raw.got.contains("Allow: GET, HEAD"));
    QVERIFY(raw.waitClosed());
}

void TestPagePort::headsAndBodiesHaveLimits() {
    Page p;
    const QByteArray big(20 * 1024, 'a');
    const QList<std::pair<QByteArray, QByteArray>> cases = {
        {"GET / HTTP/1.1\r\nHost: x\r\nX-Long: " + big + "\r\n\r\n", "431 "},
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000000\r\n\r\n", "413 "},
        {"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", "501 "},
        {"GET / HTTP/2.0\r\nHost: x\r\n\r\n", "505 "},
        {"GET / HTTP/1.1\r\nHost: x\r\n folded\r\n\r\n", "400 "},
        {"GET http://x/ HTTP/1.1\r\n\r\n", "400 "},
        {"GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Key: short\r\nSec-WebSocket-Version: 13\r\n\r\n",
         "400 "},
    };
    for (const auto& [request, status] : cases) {
        Raw raw(p.port);
        raw.send(request);
        QVERIFY2(raw.waitFor("HTTP/1.1 " + status), request.left(40).constData());
        QVERIFY(raw.waitClosed());
    }
    // A small body is read and thrown away; the next request is framed after it.
    Raw raw(p.port);
    raw.send("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nGET /HEAD / HTTP/1.1\r\n"
             "Host: x\r\n\r\n");
    QVERIFY(raw.waitFor("HTTP/1.1 405 "));
}

// No head completed and nothing taken for the timeout: closed. A head that
// keeps coming a byte at a time is no exception.
void TestPagePort::idleAndEndlessHeadsAreClosed() {
    WebServer::Limits limits;
    limits.http.timeoutMs = 300;
    Page p(limits);
    Raw idle(p.port);
    Raw dripping(p.port);
    dripping.send("GET / HTTP/1.1\r\nHost: x\r\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1000 && dripping.socket.state() == QAbstractSocket::ConnectedState) {
        dripping.send("X");
        QTest::qWait(20);
    }
    QVERIFY(dripping.waitClosed());
    QVERIFY(idle.waitClosed());
    QVERIFY(!dripping.got.contains("200 OK"));
}

void TestPagePort::framesAgainstTheRulesCloseTheSocket_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("code");
    QTest::newRow("unmasked") << clientFrame(0x81, "d2: 1, 1\r\n", false) << 1002;
    QTest::newRow("rsv bit") << clientFrame(0xc1, "d") << 1002;
    QTest::newRow("unknown opcode") << clientFrame(0x83, "d") << 1002;
    QTest::newRow("stray continuation") << clientFrame(0x80, "d") << 1002;
    QTest::newRow("fragmented ping") << clientFrame(0x09, "p") << 1002;
    QTest::newRow("not utf-8") << clientFrame(0x81, "t2<:>\xff\xfe") << 1007;
    QTest::newRow("over the cap") << clientFrame(0x81, QByteArray(70000, 'd')) << 1009;
}

// Frames a client may not send close the WebSocket with the right code, and
// nothing of them reaches the relay.
void TestPagePort::framesAgainstTheRulesCloseTheSocket() {
    QFETCH(QByteArray, frame);
    QFETCH(int, code);
    Page p;
    auto desk = p.joinDrawing();
    QVERIFY(desk);
    Raw raw(p.port);
    QVERIFY(raw.upgrade());
    QVERIFY(desk->nextOne().startsWith("0:8:")); // the member is in
    raw.send(frame);
    QVERIFY(raw.waitClosed());
    QCOMPARE(closeCode(raw.got), code);
    QVERIFY(desk->nextOne().startsWith("0:8:")); // the member's close
    QTest::qWait(100);
    QVERIFY(!desk->received().contains(":2:"));
}

// A text message in fragments with a ping between them: the ping is answered
// with its payload, the message reaches the relay whole; a close is answered.
void TestPagePort::fragmentsAndPingsAreAnswered() {
    Page p;
    auto desk = p.joinDrawing();
    QVERIFY(desk);
    Raw raw(p.port);
    QVERIFY(raw.upgrade());
    QVERIFY(desk->nextOne().startsWith("0:8:"));
    const int k = p.server->drawingEndpoints().highestIndex();
    raw.send(clientFrame(0x01, "d2: 1") + clientFrame(0x89, "hello") + clientFrame(0x00, "2, 3"));
    QVERIFY(raw.waitFor(websocket::frame(websocket::Pong, "hello")));
    QTest::qWait(100);
    QCOMPARE(desk->available(), 0); // no FIN yet: no message
    raw.send(clientFrame(0x80, "4\r\n"));
    QCOMPARE(desk->nextOne(), QByteArray::number(k) + ":2: 12, 34");
    raw.send(clientFrame(0x88, QByteArray("\x03\xe8", 2)));
    QVERIFY(raw.waitClosed());
    QCOMPARE(closeCode(raw.got), 1000);
}

// Pings never read: their pongs are queued output like any other, and the
// cap cuts the socket instead of holding gigabytes.
void TestPagePort::pongsCountAgainstTheOutputCap() {
    Page p;
    WebMember::Limits limits;
    limits.outputCap = 256 * 1024;
    p.web.setLimits(limits);
    Raw raw(p.port);
    raw.socket.setReadBufferSize(1);
    QVERIFY(raw.upgrade());
    QTRY_COMPARE(p.web.memberCount(), 1);
    const QByteArray pings = clientFrame(0x89, QByteArray(125, 'p')).repeated(512);
    qint64 sent = 0;
    while (raw.socket.state() == QAbstractSocket::ConnectedState && sent < 512LL * 1024 * 1024) {
        if (raw.socket.bytesToWrite() < 4 * pings.size()) {
            raw.socket.write(pings);
            sent += pings.size();
        }
        QTest::qWait(1);
    }
    QVERIFY2(sent < 64LL * 1024 * 1024, qPrintable(QString::number(sent)));
    QTRY_COMPARE(p.web.memberCount(), 0);
}

// Members and connections per address are limited; a member's relay
// connections are listed under the browser's address.
void TestPagePort::addressesHaveLimitsAndReachTheRelay() {
    WebServer::Limits limits;
    limits.membersPerAddress = 2;
    limits.connectionsPerAddress = 3;
    Page p(limits);
    Raw first(p.port, QStringLiteral("127.0.0.2"));
    Raw second(p.port, QStringLiteral("127.0.0.2"));
    QVERIFY(first.upgrade() && second.upgrade());
    Raw third(p.port, QStringLiteral("127.0.0.2"));
    QVERIFY(!third.upgrade());
    QVERIFY(third.got.startsWith("HTTP/1.1 429 "));
    QVERIFY(third.waitClosed());
    Raw fourth(p.port, QStringLiteral("127.0.0.2"));
    Raw fifth(p.port, QStringLiteral("127.0.0.2")); // past three connections
    QVERIFY(fifth.waitClosed());
    QVERIFY(fifth.got.isEmpty());
    Raw elsewhere(p.port, QStringLiteral("127.0.0.3"));
    QVERIFY(elsewhere.upgrade());

    QTRY_COMPARE(p.server->table().rows().size(), 3);
    QStringList addresses;
    for (const ConnectionTable::Row& row : p.server->table().rows())
        addresses << row.address;
    addresses.sort();
    QCOMPARE(addresses, QStringList({"127.0.0.2", "127.0.0.2", "127.0.0.3"}));
    QTRY_COMPARE(p.server->text().member(p.server->textEndpoints().highestIndex()).name,
                 QByteArray("127.0.0.3"));
}

QTEST_MAIN(TestPagePort)
#include "tst_pageport.moc"
