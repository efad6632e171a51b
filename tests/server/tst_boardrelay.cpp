// The server's own copy of the picture over real loopback sockets: it follows
// the relayed lines exactly as a client paints them, answers "7:snap" and
// "7:sum" to the asker alone at the right point of its stream, and keeps
// described clients' bytes and the history untouched.

#include "board.h"
#include "drawinghistory.h"
#include "drawingrelay.h"
#include "relayserver.h"
#include "serverfixture.h"
#include "snapshot.h"

#include <QDir>
#include <QImageWriter>
#include <QTest>

namespace {

// Applies what a peer received as a client would: drawing lines to a board,
// command-7 replies to a reader. Returns the last reader event.
boardsnapshot::Reader::Event play(Board& board, boardsnapshot::Reader& reader,
                                  const QList<QByteArray>& lines) {
    boardsnapshot::Reader::Event last;
    for (const QByteArray& line : lines) {
        const QString text = QString::fromLatin1(line);
        if (text.startsWith(u"0:7:")) {
            if (auto e = reader.feed(QStringView(text).sliced(4));
                e.kind != boardsnapshot::Reader::Event::None)
                last = e;
        } else {
            board.applyLine(text);
        }
    }
    return last;
}

const QList<QByteArray> strokes = {"4: 255",      "5: 2", "1: 100, 100", "2: 300, 180",
                                   "2: 320, 400", "0:0",  "6: 50, 50"};

} // namespace

class TestBoardRelay : public QObject {
    Q_OBJECT
private slots:
    void boardFollowsTheRelayedLines();
    void snapshotIsForTheAskerAloneAtItsPointOfTheStream();
    void otherCommand7LinesAreDropped();
    void boardFileSurvivesAndBadFilesAreIgnored();
};

void TestBoardRelay::boardFollowsTheRelayedLines() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    Board atA;
    for (const QByteArray& line : strokes)
        b->send(line + "\r\n");
    // Lines from an index beyond the pens, odd and malformed lines as well.
    b->send("2: 1,\r\n5:9:9:9:9\r\n3x\r\n2:             1, 1\r\n");
    const QList<QByteArray> got = a->next(int(strokes.size()) + 4);
    QCOMPARE(got.size(), strokes.size() + 4);
    for (const QByteArray& line : got)
        atA.applyLine(QString::fromLatin1(line));
    QVERIFY(!atA.isBlank());
    QCOMPARE(f.server->drawing().board().image(), atA.image());
    QVERIFY(f.server->drawing().board().pens() == atA.pens());

    // A clear-all clears it.
    a->send("3: 0, 0\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:3: 0, 0"));
    QVERIFY(f.server->drawing().board().isBlank());
}

void TestBoardRelay::snapshotIsForTheAskerAloneAtItsPointOfTheStream() {
    ServerFixture f;
    auto a = f.joinDrawing(); // a described client: never sends 7
    auto b = f.joinDrawing({a.get()});
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(a && b && c);
    const qint64 stored = f.server->history().storedLines();

    // C asks once B's lines reached it: the reply covers them all.
    QByteArray burst;
    for (const QByteArray& line : strokes)
        burst += line + "\r\n";
    b->send(burst);
    const QList<QByteArray> atC = c->next(int(strokes.size()));
    QCOMPARE(atC.size(), strokes.size());
    c->send("7:snap c1\r\n7:sum c2\r\n");
    const QByteArray head = c->nextOne(10000);
    QVERIFY2(head.startsWith("0:7:board c1 1600 1200 "), head.constData());
    const int chunks = head.split(' ').last().toInt();
    QList<QByteArray> reply = {head};
    reply += c->next(chunks + 21 + 1 + 1);
    QVERIFY(reply[chunks + 22].startsWith("0:7:end c1 "));

    Board board;
    boardsnapshot::Reader reader;
    play(board, reader, atC);
    const auto snapshot = play(board, reader, reply.first(chunks + 23));
    QCOMPARE(snapshot.kind, boardsnapshot::Reader::Event::Snapshot);
    QCOMPARE(snapshot.picture, f.server->drawing().board().image());
    QCOMPARE(snapshot.picture, board.image());
    QVERIFY(snapshot.pens == f.server->drawing().board().pens());
    QCOMPARE(reply.last(),
             "0:7:sum c2 " + QByteArray::number(boardsnapshot::checksum(board.image())));

    // A and B saw the strokes and nothing of the requests: byte for byte
    // what they got before command 7 existed. Nothing was stored either.
    const QByteArray relayedBurst = [&] {
        QByteArray out;
        for (const QByteArray& line : strokes)
            out += "1:" + line;
        return out;
    }();
    QCOMPARE(a->next(int(strokes.size())).join(), relayedBurst);
    c->send("8:member\r\n");
    QVERIFY(c->nextOne().startsWith("0:8:"));
    b->send("0:0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:0:0"));
    QCOMPARE(a->available(), 0);
    QCOMPARE(b->available(), 0);
    QCOMPARE(f.server->history().storedLines(), stored + qint64(strokes.size()) + 1);
}

void TestBoardRelay::otherCommand7LinesAreDropped() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    const qint64 stored = f.server->history().storedLines();
    b->send("7:foo\r\n7:snap\r\n7:snap bad-token\r\n7:snap 12345678901234567\r\n"
            " 7:snap x\r\n7:board x 1 1 1 1\r\n07:sum x\r\n7:snap a b\r\n");
    // Asked properly afterwards, B gets exactly one answer: the bad ones
    // were neither answered nor relayed nor stored.
    b->send("7:sum ok\r\n");
    QVERIFY(b->nextOne().startsWith("0:7:sum ok "));
    b->send("0:0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:0:0"));
    QCOMPARE(a->available(), 0);
    QCOMPARE(b->available(), 0);
    QCOMPARE(f.server->history().storedLines(), stored + 1);
}

void TestBoardRelay::boardFileSurvivesAndBadFilesAreIgnored() {
    QTemporaryDir dir;
    FixedClock clock;
    QImage saved;
    {
        RelayServer server(0, 0, dir.path(), &clock);
        server.setListenAddress(QHostAddress::LocalHost);
        QVERIFY(server.start());
        TestPeer a(server.drawingPort(), "\r\n");
        QVERIFY(a.waitConnected());
        QCOMPARE(a.next(41).size(), 41);
        a.send("4: 65280\r\n5: 3\r\n1: 10, 10\r\n2: 1500, 1100\r\n8:member\r\n");
        QVERIFY(a.nextOne().startsWith("0:8:"));
        saved = server.drawing().board().image();
        QVERIFY(!server.drawing().board().isBlank());
        server.shutdown();
    }
    const QString path = QDir(dir.path()).filePath("board.png");
    QVERIFY(QFile::exists(path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"board.png"});
    {
        RelayServer again(0, 0, dir.path(), &clock);
        QCOMPARE(again.drawing().board().image(), saved);
        QCOMPARE(again.history().storedLines(), 0); // the picture is not history
    }
    // Odd-sized and broken files: ignored with a line in the event log.
    QImage small(10, 10, QImage::Format_RGB32);
    small.fill(Qt::black);
    QVERIFY(small.save(path, "PNG"));
    for (int round = 0; round < 2; ++round) {
        RelayServer odd(0, 0, dir.path(), &clock);
        QVERIFY(odd.drawing().board().isBlank());
        QVERIFY(odd.table().logText().contains("board.png"));
        QFile broken(path);
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("\x89PNG\r\n\x1a\n garbage");
    }
}

QTEST_MAIN(TestBoardRelay)
#include "tst_boardrelay.moc"
