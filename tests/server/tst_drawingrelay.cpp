// The drawing channel over real loopback sockets: relay format, member-count
// answers, the greeting, pen bookkeeping, index reuse, reassembly, hostile
// input, the cut of a peer that stops reading and the flow control that holds
// a flood back instead of queueing it for every reader.

#include "connectiontable.h"
#include "drawinghistory.h"
#include "drawingrelay.h"
#include "endpointarray.h"
#include "serverfixture.h"
#include "socketendpoint.h"

#include <QTest>
#include <QTimer>

#include <sys/socket.h>

class TestDrawingRelay : public QObject {
    Q_OBJECT
private slots:
    void relaysWithIndexAndBlanksWithoutEcho();
    void memberCountIsAnsweredToTheSenderAlone();
    void greetingHasTheCountAtTheNewcomersSlot();
    void penBookkeepingReachesLaterNewcomers();
    void freedIndicesAreReusedLowestFirst();
    void simultaneousConnectsAreAllAccepted();
    void closeRemovesOwnRowAndBroadcastsCount();
    void linesSplitOverArrivalsAreRelayedWhole();
    void hostileInputLeavesTheServerServing();
    void peerThatStopsReadingIsCut();
    void floodIsHeldBackNotQueued();
    void stalledPeersShareOneOutputBudget();
    void linesBeforeACloseAreRelayedWhileHeldBack();
};

void TestDrawingRelay::relaysWithIndexAndBlanksWithoutEcho() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);
    QCOMPARE(f.drawingIndex(*a), 0);
    QCOMPARE(f.drawingIndex(*c), 2);
    const qint64 storedBefore = f.server->history().storedLines();

    // Two lines in one arrival and an empty piece: two relayed lines, in order.
    c->send("2: 120, 45\r\n1:5,5\r\n\r\n");
    QCOMPARE(a->next(2), (QList<QByteArray>{"2:2: 120, 45", "2:1:5,5"}));
    QCOMPARE(b->next(2), (QList<QByteArray>{"2:2: 120, 45", "2:1:5,5"}));
    QCOMPARE(f.server->history().storedLines(), storedBefore + 2);
    QVERIFY(f.server->history().block(0).endsWith("2:2: 120, 45\r\n2:1:5,5\r\n"));

    // Had the sender been echoed, the echo would come before this answer.
    c->send("8:member\r\n");
    QVERIFY(c->nextOne().startsWith("0:8:"));
}

void TestDrawingRelay::memberCountIsAnsweredToTheSenderAlone() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    // Between ticks the count keeps its last value; the tick takes the rows.
    b->send("8:member\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:8:0"));
    f.server->table().tick();
    const qint64 stored = f.server->history().storedLines();

    // "8" without ':' is neither answered nor relayed; the forms of 8 are.
    b->send("8\r\n8:\r\n 8:x\r\n08:member\r\n8.0:\r\n");
    QCOMPARE(b->next(4), QList<QByteArray>(4, "0:8:2"));
    QCOMPARE(f.server->history().storedLines(), stored);
    // The other client saw none of it: the next line it gets is this marker.
    b->send("0:0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:0:0"));
    QCOMPARE(b->available(), 0);
}

namespace {

// The greeting newcomer n receives, byte for byte: the pens of slot j unless
// j is n, and at j == n its own member count, for j = 0..20 in order.
QByteArray expectedGreeting(int n, int count, const QMap<int, QByteArray>& pens = {}) {
    QByteArray bytes;
    for (int j = 0; j <= 20; ++j) {
        const QByteArray slot = QByteArray::number(j);
        if (j == n)
            bytes += "0:8:" + QByteArray::number(count) + "\r\n";
        else
            bytes += pens.value(j, slot + ":4:0\r\n" + slot + ":5:0\r\n");
    }
    return bytes;
}

} // namespace

void TestDrawingRelay::greetingHasTheCountAtTheNewcomersSlot() {
    ServerFixture f;
    auto a = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QVERIFY(a->waitConnected());
    QCOMPARE(a->next(41).size(), 41);
    // On index 0 the count comes first, then slots 1..20.
    QCOMPARE(a->received(), expectedGreeting(0, 0));
    // The greeting is part of the history: 40 lines per connect.
    QCOMPARE(f.server->history().storedLines(), 40);
    QCOMPARE(f.server->history().lines(), 40);

    auto b = f.joinDrawing({a.get()});
    QVERIFY(b);
    a->send("4: 255\r\n5: 3\r\n");
    QCOMPARE(b->next(2), (QList<QByteArray>{"0:4: 255", "0:5: 3"}));
    f.server->table().tick();

    // A newcomer on index 2 hears slots 0 and 1, its count, then 3..20; the
    // others hear the same count once each.
    auto c = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QVERIFY(c->waitConnected());
    QCOMPARE(c->next(41).size(), 41);
    QCOMPARE(c->received(), expectedGreeting(2, 2, {{0, "0:4:255\r\n0:5:3\r\n"}}));
    QCOMPARE(a->nextOne(), QByteArray("0:8:2"));
    QCOMPARE(b->nextOne(), QByteArray("0:8:2"));
    QCOMPARE(f.server->history().storedLines(), 3 * 40 + 2);
}

void TestDrawingRelay::penBookkeepingReachesLaterNewcomers() {
    ServerFixture f;
    auto a = f.joinDrawing();
    QVERIFY(a);
    // Colour and size from index 0; fractions round halves to even; a size
    // that does not fit 16 bits leaves the old one; the lines are relayed anyway.
    a->send("4: 255\r\n5: 2\r\n5: 70000\r\n4: 2.5\r\n4:-16777216\r\n");
    QTRY_COMPARE(f.server->drawing().penColor(0), -16777216);
    QCOMPARE(f.server->drawing().penSize(0), qint16(2));
    a->send("5:3.5\r\n");
    QTRY_COMPARE(f.server->drawing().penSize(0), qint16(4));

    auto b = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QVERIFY(b->waitConnected());
    const QList<QByteArray> greeting = b->next(41);
    QCOMPARE(greeting.mid(0, 2), (QList<QByteArray>{"0:4:-16777216", "0:5:4"}));
    // Tables survive the client leaving and All Disconnect.
    a.reset();
    b.reset();
    QTRY_COMPARE(f.server->table().rows().size(), 0);
    f.server->allDisconnect();
    QVERIFY(f.server->start());
    auto c = std::make_unique<TestPeer>(f.drawingPort(), "\r\n");
    QVERIFY(c->waitConnected());
    const QList<QByteArray> later = c->next(41);
    QCOMPARE(f.drawingIndex(*c), 0); // indices start again at 0
    QCOMPARE(later.size(), 41);
    QCOMPARE(later[1], QByteArray("1:4:0")); // own slot 0 skipped, its count first
}

void TestDrawingRelay::freedIndicesAreReusedLowestFirst() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);
    QCOMPARE(f.drawingIndex(*b), 1);
    b.reset();
    QVERIFY(a->nextOne().startsWith("0:8:")); // the close is announced
    QVERIFY(c->nextOne().startsWith("0:8:"));
    // The next client takes the freed 1, the one after it 3.
    auto d = f.joinDrawing({a.get(), c.get()});
    QVERIFY(d);
    QCOMPARE(f.drawingIndex(*d), 1);
    auto e = f.joinDrawing({a.get(), c.get(), d.get()});
    QVERIFY(e);
    QCOMPARE(f.drawingIndex(*e), 3);
    d->send("1: 7, 7\r\n");
    for (TestPeer* other : {a.get(), c.get(), e.get()})
        QCOMPARE(other->nextOne(), QByteArray("1:1: 7, 7"));

    // Many short visits in a server's life never push indices past the tables.
    for (int visit = 0; visit < 30; ++visit) {
        auto v = f.joinDrawing({a.get(), c.get(), d.get(), e.get()});
        QVERIFY(v);
        QCOMPARE(f.drawingIndex(*v), 4);
        v.reset();
        for (TestPeer* other : {a.get(), c.get(), d.get(), e.get()})
            QVERIFY(other->nextOne().startsWith("0:8:"));
    }
}

void TestDrawingRelay::simultaneousConnectsAreAllAccepted() {
    ServerFixture f;
    std::vector<std::unique_ptr<TestPeer>> peers;
    for (int i = 0; i < 12; ++i)
        peers.push_back(std::make_unique<TestPeer>(f.drawingPort(), "\r\n"));
    QList<int> indices;
    for (auto& peer : peers) {
        QVERIFY(peer->waitConnected());
        QTRY_VERIFY(f.drawingIndex(*peer) >= 0);
        indices.append(f.drawingIndex(*peer));
    }
    std::sort(indices.begin(), indices.end());
    for (int i = 0; i < 12; ++i)
        QCOMPARE(indices[i], i);
    QTRY_COMPARE(f.server->table().rows().size(), 12);
}

void TestDrawingRelay::closeRemovesOwnRowAndBroadcastsCount() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);
    ConnectionTable& table = f.server->table();
    QCOMPARE(table.rows().size(), 3);
    table.tick();
    QCOMPARE(table.memCount(), qint16(3));
    const quint16 bPort = b->localPort();
    QVERIFY(
        table.logText().contains(QStringLiteral("Connection Start > 127.0.0.1:%1\r\n").arg(bPort)));

    // Same address, different ports: only b's own row goes.
    b.reset();
    QCOMPARE(a->nextOne(), QByteArray("0:8:3")); // still counts the leaver
    QCOMPARE(c->nextOne(), QByteArray("0:8:3"));
    QCOMPARE(table.rows().size(), 2);
    for (const ConnectionTable::Row& row : table.rows())
        QVERIFY(row.port != bPort);
    QVERIFY(
        table.logText().endsWith(QStringLiteral("Connection Close > 127.0.0.1:%1\r\n").arg(bPort)));

    // The last one out leaves the count as it was at the last tick.
    a.reset();
    c.reset();
    QTRY_COMPARE(table.rows().size(), 0);
    table.tick();
    QCOMPARE(table.memCount(), qint16(3));
}

void TestDrawingRelay::linesSplitOverArrivalsAreRelayedWhole() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    const int k = f.drawingIndex(*b);
    EndpointArray& ws = f.server->drawingEndpoints();

    b->send("2: 10");
    QTRY_COMPARE(ws.pendingFrameBytes(k), qsizetype(5));
    b->send(", 20\r\n2: 1");
    QCOMPARE(a->nextOne(), QByteArray("1:2: 10, 20"));
    // A CR at the end of one arrival and its LF in the next.
    QTRY_COMPARE(ws.pendingFrameBytes(k), qsizetype(4));
    b->send(", 2\r");
    QTRY_COMPARE(ws.pendingFrameBytes(k), qsizetype(8));
    b->send("\n");
    QCOMPARE(a->nextOne(), QByteArray("1:2: 1, 2"));
    QCOMPARE(f.server->history().storedLines(), 80 + 2);
}

void TestDrawingRelay::hostileInputLeavesTheServerServing() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);

    // Bytes that are not CP932 text, NULs and lines without fields are
    // relayed byte for byte, never re-encoded.
    static const char junk[] = "\x81\xff\x00\xfd:\x82\r\n:::\r\n\x80\xa0\xfe 9z\r\n";
    b->send(QByteArrayView(junk, sizeof junk - 1));
    QCOMPARE(a->next(3), (QList<QByteArray>{QByteArray("1:\x81\xff\x00\xfd:\x82", 8),
                                            "1::::", "1:\x80\xa0\xfe 9z"}));
    // A numeric field far beyond every integer range fails only the bookkeeping.
    b->send("4:" + QByteArray(400, '9') + "\r\n" + QByteArray(500, '9') + ":1\r\n");
    QCOMPARE(a->next(2).size(), 2);
    QCOMPARE(f.server->drawing().penColor(1), 0);

    // A flood without any terminator is dropped once it passes the frame cap;
    // the connection stays usable and lines after it are framed normally.
    b->send(QByteArray(200 * 1024, 'x'));
    b->send("\r\n2: 3, 4\r\n");
    QByteArray next = a->nextOne(10000);
    if (next.startsWith("1:x")) // the tail kept after the cap, if any
        next = a->nextOne();
    QCOMPARE(next, QByteArray("1:2: 3, 4"));
    a->send("2: 5, 6\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:2: 5, 6"));
}

void TestDrawingRelay::peerThatStopsReadingIsCut() {
    ServerFixture f;
    f.server->setOutputCap(1024 * 1024);
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    const int stuck = connectStuckClient(f.drawingPort());
    QVERIFY(stuck >= 0);
    QTRY_COMPARE(f.server->table().rows().size(), 3);
    QVERIFY(a->nextOne().startsWith("0:8:")); // the stuck client's greeting count
    QVERIFY(b->nextOne().startsWith("0:8:"));

    // Well past the kernel's buffers plus the cap, in batches that b reads
    // before the next one goes out, so only the stuck client falls behind.
    const QByteArray line = "2:" + QByteArray(8000, ' ') + "1, 1\r\n";
    const int batches = 40;
    const int perBatch = 50;
    int relayed = 0;
    int counts = 0;
    for (int batch = 0; batch < batches; ++batch) {
        for (int i = 0; i < perBatch; ++i)
            a->send(line);
        QTRY_VERIFY_WITH_TIMEOUT(b->available() >= perBatch, 20000);
        for (const QByteArray& piece : b->next(b->available())) {
            relayed += piece.startsWith("0:2:");
            counts += piece.startsWith("0:8:"); // the count follows the 500 ms tick
        }
    }
    QTRY_COMPARE(f.server->table().rows().size(), 2);
    QVERIFY(f.server->table().logText().contains("Connection Close > "));
    // b got every line once, and the count sent at the cut.
    if (counts == 0)
        counts += b->nextOne().startsWith("0:8:");
    QCOMPARE(counts, 1);
    QCOMPARE(relayed, batches * perBatch);
    // The channel goes on.
    QVERIFY(a->nextOne().startsWith("0:8:"));
    b->send("0:0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:0:0"));
    ::close(stuck);
}

// One sender writes far more than the readers take in at once. Every line
// reaches every reader once and in order, while the server's unsent output
// for any reader stays near the high water mark: the flood waits in the
// sender's TCP window, not in the server's memory.
void TestDrawingRelay::floodIsHeldBackNotQueued() {
    ServerFixture f;
    // Readers that read slowly on a busy machine are behind, never "stalled".
    f.server->drawingEndpoints().flowControl().setStallMs(24 * 3600 * 1000);
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);

    EndpointArray& ws = f.server->drawingEndpoints();
    qint64 worst = 0;
    bool held = false;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        for (int i = 0; i <= ws.highestIndex(); ++i)
            if (ws.element(i))
                worst = qMax(worst, ws.element(i)->pendingOutput());
        held = held || ws.isHoldingArrivals();
    });
    sampler.start(1);

    const int lines = 2000;
    const QByteArray filler(4000, ' ');
    QByteArray flood;
    for (int i = 0; i < lines; ++i)
        flood += "2:" + filler + QByteArray::number(i) + ", 1\r\n";
    a->send(flood); // 8 MB
    for (TestPeer* reader : {b.get(), c.get()}) {
        const QList<QByteArray> got = reader->next(lines, 120000);
        QCOMPARE(got.size(), lines);
        for (int i = 0; i < lines; i += 997)
            QCOMPARE(got[i], "0:2:" + filler + QByteArray::number(i) + ", 1");
    }
    // The relay takes the flood a slice at a time; either it got ahead of
    // the readers and held the sender back, or it never got ahead at all.
    QVERIFY(held || worst <= ws.highWater());
    QVERIFY2(worst <= ws.highWater() + 2 * EndpointArray::ReadChunk,
             qPrintable(QString::number(worst)));
    QTRY_VERIFY(!ws.isHoldingArrivals());
    b->send("0:0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:0:0"));
}

// Peers that never read are cut by the channel's output budget long before
// each reaches its own cap: their queues together stay bounded.
void TestDrawingRelay::stalledPeersShareOneOutputBudget() {
    ServerFixture f;
    f.server->setOutputCap(1024LL * 1024 * 1024); // out of the way
    f.server->drawingEndpoints().setOutputBudget(2 * 1024 * 1024);
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    std::vector<int> stuck;
    for (int i = 0; i < 3; ++i) {
        stuck.push_back(connectStuckClient(f.drawingPort()));
        QVERIFY(stuck.back() >= 0);
    }
    QTRY_COMPARE(f.server->table().rows().size(), 5);

    const QByteArray line = "2:" + QByteArray(8000, ' ') + "1, 1\r\n";
    int relayed = 0;
    for (int batch = 0; batch < 40; ++batch) {
        for (int i = 0; i < 50; ++i)
            a->send(line);
        const int before = relayed;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const QByteArray& piece : b->next(b->available(), 0))
                    relayed += piece.startsWith("0:2:");
                return relayed >= before + 50;
            }(),
            20000);
    }
    QCOMPARE(relayed, 40 * 50);
    QTRY_COMPARE(f.server->table().rows().size(), 2);
    qint64 queued = 0;
    EndpointArray& ws = f.server->drawingEndpoints();
    for (int i = 0; i <= ws.highestIndex(); ++i)
        queued += ws.element(i) ? ws.element(i)->pendingOutput() : 0;
    QVERIFY(queued <= 2 * 1024 * 1024);
    for (const int fd : stuck)
        ::close(fd);
}

// Members that send their last lines and close while a slow reader holds
// arrivals back: every line reaches the reader whole and in order, the last
// one without its terminator too, and each close comes after its lines.
void TestDrawingRelay::linesBeforeACloseAreRelayedWhileHeldBack() {
    ServerFixture f;
    EndpointArray& ws = f.server->drawingEndpoints();
    ws.flowControl().setStallMs(24 * 3600 * 1000); // the reader stays "behind", never "stalled"
    auto flooder = f.joinDrawing();
    QVERIFY(flooder);
    SlowReader reader(f.drawingPort());
    QVERIFY(reader.isOpen());
    QVERIFY(flooder->nextOne().startsWith("0:8:"));
    std::vector<std::unique_ptr<TestPeer>> closers;
    std::vector<TestPeer*> present{flooder.get()};
    for (int i = 0; i < 9; ++i) {
        closers.push_back(f.joinDrawing(present));
        QVERIFY(closers.back());
        present.push_back(closers.back().get());
    }

    const int lines = 3000;
    const QByteArray filler(4000, ' ');
    QByteArray flood;
    for (int i = 0; i < lines; ++i)
        flood += "2:" + filler + QByteArray::number(i) + ", 1\r\n";
    flooder->send(flood); // 12 MB
    QTRY_VERIFY_WITH_TIMEOUT(ws.isHoldingArrivals(), 30000);

    QList<int> indices;
    for (auto& closer : closers) {
        const int k = f.drawingIndex(*closer);
        indices.append(k);
        closer->send("4: " + QByteArray::number(k) + "\r\n2: 7, 7\r\n5: 2\r\n1: 9, 9");
        ::shutdown(int(closer->socket().socketDescriptor()), SHUT_WR);
    }
    // The server has seen every end of stream while the reader is still behind.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::none_of(indices.begin(), indices.end(), [&](int k) { return ws.isConnected(k); }),
        10000);
    QVERIFY(ws.isHoldingArrivals());

    const QByteArray lastFlood = "0:2:" + filler + QByteArray::number(lines - 1) + ", 1\r\n";
    QVERIFY(reader.readUntil(
        [&](const QByteArray& got) {
            // Its own count, one per closer's greeting and one per close.
            return got.contains(lastFlood) && got.count("0:8:") >= 1 + 9 + 9;
        },
        120000));
    const QByteArray& got = reader.received();
    QCOMPARE(got.count("\r\n0:2:" + filler), qsizetype(lines));
    for (const int k : indices) {
        const QByteArray p = QByteArray::number(k);
        const qsizetype colour = got.indexOf("\r\n" + p + ":4: " + p + "\r\n");
        const qsizetype draw = got.indexOf("\r\n" + p + ":2: 7, 7\r\n");
        const qsizetype size = got.indexOf("\r\n" + p + ":5: 2\r\n");
        const qsizetype last = got.indexOf("\r\n" + p + ":1: 9, 9\r\n");
        QVERIFY2(colour >= 0 && colour < draw && draw < size && size < last, p.constData());
        QCOMPARE(f.server->drawing().penSize(k), qint16(2));
    }
    QTRY_COMPARE(f.server->table().rows().size(), 2);
    QTRY_VERIFY(std::none_of(indices.begin(), indices.end(),
                             [&](int k) { return ws.element(k) != nullptr; }));
}

QTEST_GUILESS_MAIN(TestDrawingRelay)
#include "tst_drawingrelay.moc"
