// The browser bridge inside the server: a WebSocket member against desktop
// peers over real loopback sockets, through the real relay.

#include "cp932.h"
#include "serverfixture.h"
#include "webserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebSocket>

namespace {

// A page as the bridge sees it: a real WebSocket that keeps every message.
class Browser {
public:
    explicit Browser(quint16 port, const QString& origin = {}) : socket(origin) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& m) { messages.append(m); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
    }
    bool waitReady() {
        return QTest::qWaitFor([this] { return messages.contains(QStringLiteral("r")); },
                               WaitGuardMs);
    }
    // Everything of one kind received so far, concatenated (kind stripped).
    QString all(QChar kind) const {
        QString out;
        for (const QString& m : messages)
            if (m.startsWith(kind))
                out += m.sliced(1);
        return out;
    }
    bool waitFor(QChar kind, const QString& part) {
        return QTest::qWaitFor([&] { return all(kind).contains(part); }, WaitGuardMs);
    }
    QWebSocket socket;
    QStringList messages;
};

// Everything the relay sent `desk` before this point has arrived once the
// answer to a member list request has (its replies keep the stream's order):
// a check that nothing more came needs no waiting.
bool textBarrier(TestPeer& desk) {
    desk.send("4<:>member%EOT%");
    return desk.nextOne().contains("<:>4<:>");
}

struct Fixture : ServerFixture {
    WebServer web{*server};
    quint16 port = 0;
    Fixture() { port = web.listen(QHostAddress::LocalHost, 0).value_or(0); }
};

} // namespace

class TestWebBridge : public QObject {
    Q_OBJECT
private slots:
    void drawingLinesBothWays();
    void textInCp932BothWays();
    void badInputNeverReachesOthers();
    void oversizedMessageClosesTheMember();
    void leaveWhenThePageGoes();
    void pageThatStopsReadingIsCut();
    void onlyTheOwnPageMayConnect();
    void pageFloodingARelayThatHoldsBackIsCut();
};

// Upstream lines reach desktop members as relayed lines; downstream lines keep
// their "\r\n" framing, batched.
void TestWebBridge::drawingLinesBothWays() {
    Fixture f;
    auto desk = f.joinDrawing();
    QVERIFY(desk);
    Browser page(f.port);
    QVERIFY(page.waitReady());
    QVERIFY(desk->nextOne().startsWith("0:8:")); // the count after the page's arrival
    const int pageIndex = f.server->drawingEndpoints().highestIndex();

    page.socket.sendTextMessage(QStringLiteral("d1: 10, 20\r\n2: 30, 40\r\n"));
    page.socket.sendTextMessage(QStringLiteral("d0:0\r\n"));
    const QByteArray k = QByteArray::number(pageIndex);
    QCOMPARE(desk->next(3), QList<QByteArray>({k + ":1: 10, 20", k + ":2: 30, 40", k + ":0:0"}));

    desk->send("2: 5, 6\r\n1: 1, 1\r\n");
    const QString j = QString::number(f.drawingIndex(*desk));
    QVERIFY(
        page.waitFor('d', j + QStringLiteral(":2: 5, 6\r\n") + j + QStringLiteral(":1: 1, 1\r\n")));
    for (const QString& m : page.messages)
        if (m.startsWith('d'))
            QVERIFY2(m.endsWith(QStringLiteral("\r\n")), qPrintable(m));
}

// Characters whose Windows mapping differs from plain Shift_JIS come out as
// the desktop client writes them.
void TestWebBridge::textInCp932BothWays() {
    Fixture f;
    auto desk = f.connectText();
    QVERIFY(desk);
    desk->send(protocol::toCp932(QStringLiteral("1<:>机%EOT%")));
    QVERIFY(desk->nextOne().endsWith(protocol::toCp932(QStringLiteral("<:>1<:>机"))));
    Browser page(f.port);
    QVERIFY(page.waitReady());

    const QString name = QStringLiteral("髙橋①～");
    page.socket.sendTextMessage(QStringLiteral("t1<:>") + name);
    QCOMPARE(desk->nextOne(), QByteArray::number(f.server->textEndpoints().highestIndex()) +
                                  protocol::toCp932(QStringLiteral("<:>1<:>") + name));
    QVERIFY(page.waitFor('t', QStringLiteral("<:>5<:>机")));

    desk->send(protocol::toCp932(QStringLiteral("2<:>こんにちは～、髙①\r\n二行目%EOT%")));
    QVERIFY(page.waitFor('t', QStringLiteral("<:>2<:>こんにちは～、髙①\r\n二行目")));
}

// Nothing but complete, well-formed lines and messages is forwarded; what is
// dropped leaves the member connected.
void TestWebBridge::badInputNeverReachesOthers() {
    Fixture f;
    auto draw = f.joinDrawing();
    auto text = f.connectText();
    QVERIFY(draw && text);
    text->send("1<:>desk%EOT%");
    QVERIFY(!text->nextOne().isEmpty());
    Browser page(f.port);
    QVERIFY(page.waitReady());
    QVERIFY(draw->nextOne().startsWith("0:8:"));

    page.socket.sendBinaryMessage("2: 1, 1\r\n");
    for (const char* bad : {"d2: 1\n, 1\r\n", "d2: 1\r, 1\r\n", "d2: 7, 7", "d\r\n", "t2<:>a%EOT%b",
                            "t2<:>tail%EOT", "t", "x2: 1, 1\r\n"})
        page.socket.sendTextMessage(QString::fromLatin1(bad));
    page.socket.sendTextMessage(QStringLiteral("d2: 3, 4\u00e9\r\n"));
    page.socket.sendTextMessage(QStringLiteral("d2: 9, 9\r\n"));
    page.socket.sendTextMessage(QStringLiteral("t2<:>ok%EO"));
    page.socket.sendTextMessage(QStringLiteral("t2<:>end"));

    // A last line and message behind all of it: nothing else comes first.
    page.socket.sendTextMessage(QStringLiteral("d0:0\r\n"));
    page.socket.sendTextMessage(QStringLiteral("t2<:>last"));

    const QByteArray k = QByteArray::number(f.server->drawingEndpoints().highestIndex());
    QCOMPARE(draw->next(2), QList<QByteArray>({k + ":2: 9, 9", k + ":0:0"}));
    const QByteArray t = QByteArray::number(f.server->textEndpoints().highestIndex());
    QCOMPARE(text->next(3),
             QList<QByteArray>({t + "<:>2<:>ok%EO", t + "<:>2<:>end", t + "<:>2<:>last"}));
    QCOMPARE(page.socket.state(), QAbstractSocket::ConnectedState);
}

void TestWebBridge::oversizedMessageClosesTheMember() {
    Fixture f;
    auto draw = f.joinDrawing();
    QVERIFY(draw);
    Browser page(f.port);
    QVERIFY(page.waitReady());
    const int index = f.server->drawingEndpoints().highestIndex();
    QString huge = QStringLiteral("d");
    while (huge.size() <= 70 * 1024)
        huge += QStringLiteral("2: 1, 1\r\n");
    page.socket.sendTextMessage(huge);
    QTRY_COMPARE_WITH_TIMEOUT(page.socket.state(), QAbstractSocket::UnconnectedState, WaitGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(!f.server->drawingEndpoints().isConnected(index), WaitGuardMs);
    // The relay has handled the member's close, so whatever it relayed from
    // the member went out before its answer to this request.
    draw->send("7:sum after\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(draw->received().contains("\r\n0:7:sum after "), WaitGuardMs);
    QVERIFY(!draw->received().contains(":2: 1, 1"));
}

// The chat leave goes out when a page that joined goes away, once, even if
// the page sent its own; a page that never joined leaves without a word.
void TestWebBridge::leaveWhenThePageGoes() {
    Fixture f;
    auto desk = f.connectText();
    QVERIFY(desk);
    desk->send("1<:>desk%EOT%");
    QVERIFY(!desk->nextOne().isEmpty());

    for (bool pageSaysLeave : {false, true}) {
        Browser page(f.port);
        QVERIFY(page.waitReady());
        const QByteArray t = QByteArray::number(f.server->textEndpoints().highestIndex());
        page.socket.sendTextMessage(QStringLiteral("t1<:>花子"));
        QCOMPARE(desk->nextOne(), t + protocol::toCp932(QStringLiteral("<:>1<:>花子")));
        if (pageSaysLeave)
            page.socket.sendTextMessage(QStringLiteral("t0<:>END"));
        page.socket.close();
        QCOMPARE(desk->nextOne(), t + "<:>0<:>END");
        QTRY_COMPARE_WITH_TIMEOUT(f.server->textEndpoints().isConnected(t.toInt()), false,
                                  WaitGuardMs);
        QVERIFY(textBarrier(*desk)); // and no second leave before it
    }

    Browser quiet(f.port);
    QVERIFY(quiet.waitReady());
    const int t = f.server->textEndpoints().highestIndex();
    const int d = f.server->drawingEndpoints().highestIndex();
    quiet.socket.close();
    QTRY_VERIFY_WITH_TIMEOUT(!f.server->textEndpoints().isConnected(t), WaitGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(!f.server->drawingEndpoints().isConnected(d), WaitGuardMs);
    QVERIFY(textBarrier(*desk)); // and no leave before it
}

// A page that stops reading: the bridge stops reading the relay instead of
// buffering (the relay's own cap and the bridge's stall limit cut it), and
// the others keep receiving everything.
void TestWebBridge::pageThatStopsReadingIsCut() {
    Fixture f;
    f.server->setOutputCap(1024 * 1024);
    // The desktop reader, slow on a busy machine, must never count as one that
    // stopped: the relay holds the sender back for it instead of cutting it.
    // The bridge is then cut by its own stall limit.
    f.server->drawingEndpoints().flowControl().setStallMs(24 * 3600 * 1000);
    WebMember::Limits limits;
    limits.outputCap = 256 * 1024 * 1024; // no cut for the size of the WebSocket's queue
    limits.stallMs = 2000;
    f.web.setLimits(limits);
    auto sender = f.joinDrawing();
    auto reader = f.joinDrawing({sender.get()});
    QVERIFY(sender && reader);

    // A WebSocket opened by hand that never reads after the handshake.
    QTcpSocket stalled;
    stalled.setReadBufferSize(1);
    stalled.connectToHost(QHostAddress::LocalHost, f.port);
    QVERIFY(stalled.waitForConnected(WaitGuardMs));
    stalled.write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(f.web.memberCount(), 1, WaitGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(f.server->drawingEndpoints().highestIndex() >= 2, WaitGuardMs);
    const int bridge = f.server->drawingEndpoints().highestIndex();

    const QByteArray line = "2: 1234, 1234\r\n";
    const QByteArray block = line.repeated(4096);
    const qint64 total = qint64(block.size()) * 400; // 24 MB
    qint64 sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (sent < total && clock.elapsed() < 240000) { // a guard against a hang only
        if (sender->socket().bytesToWrite() < 4 * block.size()) {
            sender->send(block);
            sent += block.size();
        }
        QTest::qWait(1);
    }
    QCOMPARE(sent, total);
    sender->send("2: 7, 7\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(reader->received().endsWith(":2: 7, 7\r\n"), WaitGuardMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.web.memberCount(), 0, WaitGuardMs);
    QTRY_VERIFY_WITH_TIMEOUT(!f.server->drawingEndpoints().isConnected(bridge), WaitGuardMs);
}

// A page of another site must not make its visitor a member.
void TestWebBridge::onlyTheOwnPageMayConnect() {
    Fixture f;
    Browser other(f.port, QStringLiteral("http://elsewhere.example"));
    Browser otherPort(f.port, QStringLiteral("http://127.0.0.1:%1").arg(f.port + 1));
    Browser own(f.port, QStringLiteral("http://127.0.0.1:%1").arg(f.port));
    QVERIFY(own.waitReady());
    QTRY_COMPARE_WITH_TIMEOUT(other.socket.state(), QAbstractSocket::UnconnectedState, WaitGuardMs);
    QTRY_COMPARE_WITH_TIMEOUT(otherPort.socket.state(), QAbstractSocket::UnconnectedState,
                              WaitGuardMs);
    QCOMPARE(f.web.memberCount(), 1);
    QVERIFY(other.messages.isEmpty() && otherPort.messages.isEmpty());
}

// A relay that takes nothing (as ours does while it holds arrivals back): the
// page's lines wait in the bridge only up to its cap, then the member is cut.
void TestWebBridge::pageFloodingARelayThatHoldsBackIsCut() {
    QTcpServer draw, text;
    QVERIFY(draw.listen(QHostAddress::LocalHost) && text.listen(QHostAddress::LocalHost));
    std::vector<QTcpSocket*> accepted;
    for (QTcpServer* server : {&draw, &text})
        connect(server, &QTcpServer::pendingConnectionAvailable, this, [&accepted, server] {
            while (QTcpSocket* socket = server->nextPendingConnection()) {
                socket->setReadBufferSize(1); // and never read
                accepted.push_back(socket);
            }
        });
    WebServer web(WebServer::RelayPorts{[&] { return draw.serverPort(); },
                                        [&] { return text.serverPort(); }});
    WebMember::Limits limits;
    limits.upstreamCap = 512 * 1024;
    web.setLimits(limits);
    const quint16 port = web.listen(QHostAddress::LocalHost, 0).value_or(0);
    Browser page(port);
    QVERIFY(page.waitReady());

    const QString message =
        QStringLiteral("d") + QStringLiteral("2: 1234, 1234\r\n").repeated(4000);
    qint64 sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (page.socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 240000 &&
           sent < 256 * 1024 * 1024) {
        if (page.socket.bytesToWrite() < 4 * message.size()) {
            page.socket.sendTextMessage(message);
            sent += message.size();
        }
        QTest::qWait(1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(web.memberCount(), 0, WaitGuardMs);
    QTRY_COMPARE_WITH_TIMEOUT(page.socket.state(), QAbstractSocket::UnconnectedState, WaitGuardMs);
    QVERIFY2(sent < 128 * 1024 * 1024, "the member was cut late or not at all");
}

QTEST_MAIN(TestWebBridge)
#include "tst_webbridge.moc"
