// The board journal over real sockets and real files: a server that goes
// away without its clean end comes back with the board, the pens, the
// greeting pens and the history it had, from the segments alone or from a
// checkpoint and the segments after it; a torn end is passed over; the
// folder belongs to one server at a time.

#include "boardjournal.h"
#include "drawinghistory.h"
#include "drawingrelay.h"
#include "journalformat.h"
#include "relaykeeper.h"
#include "serverfixture.h"
#include "undowire.h"

#include <QDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/statvfs.h>

namespace {

// Everything a restart must bring back.
struct Kept {
    QImage picture;
    Board::Pens pens{};
    std::array<qint32, Board::Slots> colours{};
    std::array<qint16, Board::Slots> sizes{};
    QByteArray log;
    qint16 blockNo = 0;
    qint16 lines = 0;

    static Kept of(RelayServer& server) {
        Kept k;
        const DrawingRelay& relay = server.drawing();
        k.picture = relay.board().image();
        k.pens = relay.board().pens();
        for (int i = 0; i < Board::Slots; ++i) {
            k.colours[i] = relay.penColor(i);
            k.sizes[i] = relay.penSize(i);
        }
        k.log = server.history().fileContent();
        k.blockNo = server.history().blockNo();
        k.lines = server.history().lines();
        // What is undoable starts over after a recovery, and the history says
        // where: that line is the one thing a restart adds.
        const QByteArray epoch = undowire::epochMarker();
        k.lines -= qint16(k.log.count(epoch));
        k.log.replace(epoch, "");
        return k;
    }
    bool operator==(const Kept&) const = default;
};

BoardJournal& journalOf(ServerFixture& f) {
    return f.server->keeper().journal();
}

QStringList segmentFiles(const ServerFixture& f) {
    return QDir(QDir(f.dir.path()).filePath(BoardJournal::FolderName))
        .entryList({"segment-*.skj"}, QDir::Files, QDir::Name);
}

// `count` pencil moves along a zigzag, one stroke, as one send.
QByteArray stroke(int count, int shift) {
    QByteArray lines = "1: " + QByteArray::number(10 + shift) + ", 10\r\n";
    for (int i = 0; i < count; ++i)
        lines += "2: " + QByteArray::number(10 + shift + i % 700) + ", " +
                 QByteArray::number(10 + (i * 37) % 1100) + "\r\n";
    return lines + "0:0\r\n";
}

// Sends `lines` from `from` and waits until `to` has them all.
bool relay(TestPeer& from, TestPeer& to, const QByteArray& lines) {
    from.send(lines);
    return to.next(int(lines.count("\r\n")), 20000).size() == lines.count("\r\n");
}

} // namespace

class TestBoardJournal : public QObject {
    Q_OBJECT
private slots:
    void restartBringsBackWhatTheRelayHad();
    void checkpointTakesOverTheSegmentsBeforeIt();
    void tornEndIsPassedOver();
    void oneServerPerFolder();
    void fullDiskStopsTheJournalUntilItCanMendIt();
};

// Two members draw in colours and widths, one clears the board (the history
// starts over), a third joins (its greeting is history too), and more than a
// block of lines goes by; nothing of it was written by a clean end.
void TestBoardJournal::restartBringsBackWhatTheRelayHad() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    QVERIFY(relay(*a, *b, "4: 255\r\n5: 3\r\n" + stroke(300, 0)));
    QVERIFY(relay(*b, *a, "3: 0, 0\r\n4: 65280\r\n5: 1\r\n" + stroke(1200, 200)));
    auto c = f.joinDrawing({a.get(), b.get()});
    QVERIFY(c);
    QVERIFY(relay(*a, *b, "4:-5\r\n5:99999\r\n2: 1,\r\n" + stroke(40, 900)));
    QCOMPARE(f.server->history().blockNo(), 1);
    const Kept before = Kept::of(*f.server);
    QVERIFY(!before.picture.isNull());

    a.reset();
    b.reset();
    c.reset();
    f.restart();
    QVERIFY(Kept::of(*f.server) == before);
    QVERIFY(journalOf(f).recovery().records > 0);
    QVERIFY(!journalOf(f).recovery().damaged);
    // The greeting tells a newcomer (on index 0 again) the pens of before.
    auto d = f.joinDrawing();
    QVERIFY(d);
    QVERIFY(d->received().contains("\r\n1:4:65280\r\n1:5:1\r\n"));
}

void TestBoardJournal::checkpointTakesOverTheSegmentsBeforeIt() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    QVERIFY(relay(*a, *b, "4: 16711680\r\n" + stroke(500, 0)));
    journalOf(f).settle();
    const QStringList early = segmentFiles(f);
    QVERIFY(!early.isEmpty());

    // As after a rebuild of the picture: the whole state is written.
    journalOf(f).boardReplaced();
    journalOf(f).settle();
    for (const QString& name : early)
        QVERIFY2(!segmentFiles(f).contains(name), qPrintable(name));
    QVERIFY(relay(*b, *a, "5: 2\r\n" + stroke(200, 300)));
    const Kept before = Kept::of(*f.server);

    a.reset();
    b.reset();
    f.restart();
    QVERIFY(journalOf(f).recovery().fromCheckpoint);
    QVERIFY(Kept::of(*f.server) == before);

    // A checkpoint falls due just as the history is emptied: it holds the
    // empty history, not the lines that were just let go.
    auto c = f.joinDrawing();
    auto d = f.joinDrawing({c.get()});
    QVERIFY(c && d);
    QVERIFY(relay(*c, *d, stroke(300, 600)));
    journalOf(f).boardReplaced();
    f.server->history().clear();
    QCOMPARE(f.server->history().lines(), qint16(0));
    QVERIFY(relay(*d, *c, stroke(20, 100)));
    journalOf(f).settle();
    const Kept cleared = Kept::of(*f.server);
    c.reset();
    d.reset();
    f.restart();
    QVERIFY(Kept::of(*f.server) == cleared);
}

// The last write was cut short (a crash in the middle of it): what came
// before stands, the event log says what was dropped, and the journal goes
// on from there.
void TestBoardJournal::tornEndIsPassedOver() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    QVERIFY(relay(*a, *b, "4: 255\r\n" + stroke(100, 0)));
    journalOf(f).settle();
    const Kept firstPart = Kept::of(*f.server);
    QVERIFY(relay(*a, *b, "5: 3\r\n" + stroke(100, 400)));
    journalOf(f).settle();
    a.reset();
    b.reset();
    f.server.reset();

    const QStringList segments = segmentFiles(f);
    QVERIFY(!segments.isEmpty());
    QFile last(
        QDir(QDir(f.dir.path()).filePath(BoardJournal::FolderName)).filePath(segments.last()));
    QVERIFY(last.resize(last.size() - 5));

    f.startServer();
    QVERIFY(journalOf(f).recovery().damaged);
    QVERIFY(Kept::of(*f.server) == firstPart);
    QVERIFY(f.server->table().logText().contains(QStringLiteral("捨てました")));

    auto c = f.joinDrawing();
    auto d = f.joinDrawing({c.get()});
    QVERIFY(c && d);
    QVERIFY(relay(*c, *d, stroke(50, 800)));
    const Kept after = Kept::of(*f.server);
    c.reset();
    d.reset();
    f.restart();
    QVERIFY(Kept::of(*f.server) == after);
}

// A second server in the same folder would write over the first one's
// journal: it keeps none, says so, and serves all the same.
void TestBoardJournal::oneServerPerFolder() {
    ServerFixture f;
    QVERIFY(journalOf(f).isRecording());
    RelayServer second(0, 0, f.dir.path(), &f.clock);
    QVERIFY(!second.keeper().journal().isRecording());
    QVERIFY(second.table().logText().contains(QStringLiteral("別のサーバ")));
    second.setListenAddress(QHostAddress::LocalHost);
    QVERIFY(second.start());
}

namespace {

// A small disk of its own (a tmpfs), where the test can run out of space.
// Needs the right to mount, which `make test` as root has.
struct SmallDisk {
    QTemporaryDir mountPoint;
    bool mounted = false;
    explicit SmallDisk(int megabytes) {
        const QByteArray options = "size=" + QByteArray::number(megabytes) + "m";
        mounted = ::mount("tmpfs", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", 0,
                          options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(QFile::encodeName(mountPoint.path()).constData(), MNT_DETACH);
    }
    QString path() const { return mountPoint.path(); }
    // Fills the disk up to `leftBytes` with one file.
    bool fill(qint64 leftBytes) {
        struct statvfs info = {};
        if (::statvfs(QFile::encodeName(path()).constData(), &info) != 0)
            return false;
        const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize);
        QFile filler(QDir(path()).filePath("filler"));
        return filler.open(QIODevice::WriteOnly) &&
               filler.write(QByteArray(free - leftBytes, 'x')) == free - leftBytes;
    }
    void empty() { QFile::remove(QDir(path()).filePath("filler")); }
};

} // namespace

// The disk runs full while members draw: the journal says so and stops its
// segments (what would follow builds on what is missing); once there is room
// again its next checkpoint holds everything, and a restart brings it all back.
void TestBoardJournal::fullDiskStopsTheJournalUntilItCanMendIt() {
    SmallDisk disk(16);
    if (!disk.mounted)
        QSKIP("no right to mount a small disk");
    FixedClock clock;
    auto server = std::make_unique<RelayServer>(0, 0, disk.path(), &clock);
    server->setListenAddress(QHostAddress::LocalHost);
    QVERIFY(server->start());
    TestPeer a(server->drawingPort(), "\r\n");
    TestPeer b(server->drawingPort(), "\r\n");
    QVERIFY(a.waitConnected() && b.waitConnected());
    QCOMPARE(a.next(42).size(), 42);
    QCOMPARE(b.next(41).size(), 41);
    QVERIFY(relay(a, b, "4: 255\r\n" + stroke(100, 0)));
    server->keeper().journal().settle();

    QVERIFY(disk.fill(32 * 1024));
    for (int part = 0; part < 20 && !server->table().logText().contains("書けません"); ++part) {
        QVERIFY(relay(a, b, stroke(400, part * 30)));
        server->keeper().journal().settle();
    }
    QVERIFY(server->table().logText().contains("書けません"));
    disk.empty();
    QVERIFY(relay(b, a, "5: 3\r\n" + stroke(100, 700)));
    QTRY_VERIFY_WITH_TIMEOUT(server->table().logText().contains("また書けるようになりました"),
                             60000);
    QVERIFY(relay(b, a, stroke(50, 900)));
    server->keeper().journal().settle();
    const Kept before = Kept::of(*server);
    server.reset();
    RelayServer again(0, 0, disk.path(), &clock);
    QVERIFY(Kept::of(again) == before);
}

QTEST_GUILESS_MAIN(TestBoardJournal)
#include "tst_boardjournal.moc"
