// What one peer may cost the drawing channel, over real loopback sockets:
// output counted where it is queued, snapshot requests merged and rationed
// and answered at their point of the stream, closed peers not answered, the
// per-address limit, and the board-full notice for ours alone.

#include "drawingrelay.h"
#include "endpointarray.h"
#include "relayserver.h"
#include "serverfixture.h"
#include "snapshot.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QTest>

namespace {

// A picture whose PNG is some megabytes: a snapshot of it is big.
void fillWithNoise(Board& board) {
    QImage noise(Board::Width, Board::Height, QImage::Format_RGB32);
    QRandomGenerator rng(22);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = 0xff000000u | rng.bounded(1u << 24);
    }
    board.replace(noise, board.pens());
}

QByteArray snapRequests(int count) {
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += "7:snap t" + QByteArray::number(i) + "\r\n";
    return lines;
}

// Applies a stream as one of ours does: drawing lines to its board,
// command-7 lines to its reader; returns the snapshots it completed.
int play(Board& board, boardsnapshot::Reader& reader, const QList<QByteArray>& lines) {
    int snapshots = 0;
    for (const QByteArray& line : lines) {
        const QString text = QString::fromLatin1(line);
        if (!text.startsWith(u"0:7:")) {
            board.applyLine(text);
            continue;
        }
        const auto event = reader.feed(QStringView(text).sliced(4));
        if (event.kind == boardsnapshot::Reader::Event::Snapshot) {
            board.replace(event.picture, event.pens);
            ++snapshots;
        }
    }
    return snapshots;
}

} // namespace

class TestLimits : public QObject {
    Q_OBJECT
private slots:
    void replyPastTheCapCutsTheAskerAtOnce();
    void requestsOfAPeerThatDoesNotReadAreMerged();
    void snapshotSitsAtItsPointWhileOthersDraw();
    void everyoneAskingDuringAnEncodingIsAnswered();
    void closedPeerIsNotAnswered();
    void perAddressLimitAndTheFullBoard();
};

// A reply that would take the asker's queue past the cap is not queued: the
// asker is cut there and then, and the others are not held back by it.
void TestLimits::replyPastTheCapCutsTheAskerAtOnce() {
    ServerFixture f;
    fillWithNoise(f.server->drawing().board());
    f.server->setOutputCap(4 * 1024 * 1024); // a snapshot of the noise is about 7.7 MB
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    EndpointArray& ws = f.server->drawingEndpoints();
    const int k = f.drawingIndex(*b);
    b->send("7:snap big\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!ws.isConnected(k), 30000);
    QVERIFY(ws.queuedOutput(k) <= ws.outputCap());
    QVERIFY(b->waitClosedByPeer());
    QVERIFY(!b->received().contains("0:7:board big"));
    QVERIFY(a->nextOne().startsWith("0:8:")); // b's close
    b.reset();
    auto c = f.joinDrawing({a.get()});
    QVERIFY(c);
    c->send("2: 1, 1\r\n");
    QCOMPARE(a->nextOne(), "1:2: 1, 1");
}

// A peer that asks thousands of times and reads nothing holds one reply: the
// rest wait as one request with the newest token, answered once the first
// reply has gone. Its own replies never make it a reader that holds the
// others back.
void TestLimits::requestsOfAPeerThatDoesNotReadAreMerged() {
    ServerFixture f;
    fillWithNoise(f.server->drawing().board());
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    SlowReader asker(f.drawingPort());
    QVERIFY(asker.isOpen());
    QVERIFY(a->nextOne().startsWith("0:8:") && b->nextOne().startsWith("0:8:"));
    EndpointArray& ws = f.server->drawingEndpoints();
    QTRY_VERIFY(ServerFixture::indexOf(ws, asker.localPort()) >= 0);
    const int k = ServerFixture::indexOf(ws, asker.localPort());

    asker.send(snapRequests(2000));
    QTRY_VERIFY_WITH_TIMEOUT(ws.pendingReplyOutput(k) > 0, 30000);
    for (int i = 0; i < 200; ++i)
        a->send("2: " + QByteArray::number(i) + ", 7\r\n");
    QCOMPARE(b->next(200).size(), 200);
    QVERIFY(!ws.isHoldingArrivals());
    QCOMPARE(f.server->drawing().snapshots().encodings(), 1);
    QVERIFY(ws.queuedOutput(k) < 12 * 1024 * 1024);

    QVERIFY(
        asker.readUntil([](const QByteArray& got) { return got.count("0:7:end ") >= 2; }, 60000));
    const QByteArray& got = asker.received();
    QCOMPARE(got.count("0:7:board "), 2);
    QVERIFY(got.contains("0:7:end t0 "));
    QVERIFY(got.contains("0:7:end t1999 "));
}

// C asks while A draws: whatever C received before the reply, then the
// snapshot, then what came after, gives C the server's board exactly, and
// B (a described client) gets A's lines and nothing else.
void TestLimits::snapshotSitsAtItsPointWhileOthersDraw() {
    ServerFixture f;
    fillWithNoise(f.server->drawing().board()); // so the encoding takes a while
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);
    const int lines = 600;
    for (int i = 0; i < lines; ++i) {
        if (i == 100)
            c->send("7:snap mid\r\n");
        a->send("4: " + QByteArray::number(i * 97) + "\r\n2: " + QByteArray::number(i * 2) + ", " +
                QByteArray::number(i) + "\r\n");
        if (i % 50 == 0)
            QTest::qWait(1);
    }
    const QList<QByteArray> atB = b->next(2 * lines, 30000);
    QCOMPARE(atB.size(), 2 * lines);
    for (const QByteArray& line : atB)
        QVERIFY(line.startsWith("0:4: ") || line.startsWith("0:2: "));
    QTRY_VERIFY_WITH_TIMEOUT(c->received().count("\r\n0:2: ") == lines, 30000);
    Board atC;
    boardsnapshot::Reader reader;
    QCOMPARE(play(atC, reader, c->next(c->available())), 1);
    QCOMPARE(atC.image(), f.server->drawing().board().image());
    QVERIFY(atC.pens() == f.server->drawing().board().pens());
}

// Members that ask while an encoding of the same picture runs (several
// joining at once) are all answered, from that one encoding.
void TestLimits::everyoneAskingDuringAnEncodingIsAnswered() {
    ServerFixture f;
    fillWithNoise(f.server->drawing().board());
    std::vector<std::unique_ptr<TestPeer>> peers;
    for (int i = 0; i < 4; ++i) {
        std::vector<TestPeer*> others;
        for (const auto& p : peers)
            others.push_back(p.get());
        peers.push_back(f.joinDrawing(others));
        QVERIFY(peers.back());
    }
    // The worker is kept busy until every request is in, so the first
    // request's encoding is still running when the others arrive.
    QSemaphore busy;
    f.server->drawing().encodingWorker().run([&busy] { busy.acquire(); }, [] {});
    peers[0]->send("7:snap first\r\n");
    QTRY_VERIFY(f.server->drawing().snapshots().encodings() == 1);
    for (int i = 1; i < 4; ++i) {
        // A pen line after the requests (it paints nothing), relayed to the
        // next one: they were read.
        const QByteArray n = QByteArray::number(i);
        peers[size_t(i)]->send("7:snap t" + n + "\r\n7:sum s" + n + "\r\n5: " + n + "\r\n");
        const TestPeer& next = *peers[size_t(i % 3 + 1)];
        QTRY_VERIFY(next.received().contains(":5: " + n + "\r\n"));
    }
    busy.release();
    QTRY_VERIFY_WITH_TIMEOUT(peers[0]->received().contains("0:7:end first "), 60000);
    for (int i = 1; i < 4; ++i) {
        const QByteArray n = QByteArray::number(i);
        QTRY_VERIFY_WITH_TIMEOUT(peers[size_t(i)]->received().contains("0:7:end t" + n + " ") &&
                                     peers[size_t(i)]->received().contains("0:7:sum s" + n + " "),
                                 60000);
    }
    QCOMPARE(f.server->drawing().snapshots().encodings(), 1);
}

// A peer that sent its last lines and a request and closed while arrivals
// were held back: its lines are relayed, its request is not answered.
void TestLimits::closedPeerIsNotAnswered() {
    ServerFixture f;
    EndpointArray& ws = f.server->drawingEndpoints();
    ws.flowControl().setStallMs(120000);
    auto flooder = f.joinDrawing();
    QVERIFY(flooder);
    SlowReader reader(f.drawingPort());
    QVERIFY(reader.isOpen());
    QVERIFY(flooder->nextOne().startsWith("0:8:"));
    auto closer = f.joinDrawing({flooder.get()});
    QVERIFY(closer);
    const int k = f.drawingIndex(*closer);
    flooder->send(("2:" + QByteArray(4000, ' ') + "1, 1\r\n").repeated(3000));
    QTRY_VERIFY_WITH_TIMEOUT(ws.isHoldingArrivals(), 30000);
    closer->send("1: 5, 5\r\n7:snap gone\r\n");
    ::shutdown(int(closer->socket().socketDescriptor()), SHUT_WR);
    QTRY_VERIFY_WITH_TIMEOUT(!ws.isConnected(k), 10000);
    const QByteArray p = QByteArray::number(k);
    QVERIFY(reader.readUntil(
        [&](const QByteArray& got) { return got.contains("\r\n" + p + ":1: 5, 5\r\n"); }, 120000));
    QTRY_VERIFY(ws.element(k) == nullptr || !ws.isConnected(k));
    QCOMPARE(f.server->drawing().snapshots().encodings(), 0);
    QVERIFY(!closer->received().contains("0:7:"));
}

// One address holds at most the limit on each port; others still get in. A
// connection of ours beyond the 21 pen slots hears that the board is full;
// a described client beyond them gets its described bytes only.
void TestLimits::perAddressLimitAndTheFullBoard() {
    ServerFixture f;
    f.server->setConnectionsPerAddress(2);
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    TestPeer refused(f.drawingPort(), "\r\n");
    QVERIFY(refused.waitClosedByPeer());
    QVERIFY(refused.received().isEmpty());
    QVERIFY(f.server->table().logText().contains("Connection Refused > 127.0.0.1:"));
    QCOMPARE(f.server->table().rows().size(), 2);

    f.server->setConnectionsPerAddress(0);
    std::vector<std::unique_ptr<TestPeer>> members;
    members.push_back(std::move(a));
    members.push_back(std::move(b));
    while (members.size() < 21) {
        members.push_back(std::make_unique<TestPeer>(f.drawingPort(), "\r\n"));
        QVERIFY(members.back()->waitConnected());
    }
    QTRY_COMPARE(f.server->table().rows().size(), 21);
    // Beyond the slots a newcomer hears 21 pens and no count.
    auto ours = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QCOMPARE(ours->next(42).size(), 42);
    auto described = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QCOMPARE(described->next(42).size(), 42);
    ours->send("7:sum s\r\n");
    QCOMPARE(ours->nextOne(), "0:7:full");
    QVERIFY(ours->nextOne(10000).startsWith("0:7:sum s "));
    ours->send("7:sum s2\r\n2: 1, 1\r\n");
    QVERIFY(ours->nextOne(10000).startsWith("0:7:sum s2 ")); // told once
    QCOMPARE(described->nextOne(), "21:2: 1, 1");
    QCOMPARE(described->available(), 0);
}

QTEST_GUILESS_MAIN(TestLimits)
#include "tst_limits.moc"
