// The shared picture's requests against a scripted server on loopback: a
// check whose member drew since asking is only awaited, a silent server gets
// one more chance when the member asks, a full board is said while the
// connection lasts; and the backups it writes, named by the clock it is given.
#include "boardbackup.h"
#include "boardsync.h"
#include "canvas.h"
#include "clock.h"
#include "drawingchannel.h"
#include "loopbackpeer.h"
#include "snapshot.h"
#include "socketendpoint.h"
#include "windowviews.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct FixedClock : Clock {
    QDateTime at{QDate(2024, 3, 5), QTime(7, 8, 9)};
    QDateTime now() const override { return at; }
};

struct Pen : PenView {
    qint32 penColor() const override { return 0; }
    qint16 penWidth() const override { return 0; }
};

struct Notices : NoticeView {
    QStringList shown;
    QSet<NoticeKind> up;
    void showNotice(NoticeKind kind, const QString& text) override {
        shown << text;
        up.insert(kind);
    }
    void clearNotice(NoticeKind kind) override { up.remove(kind); }
};

struct Rig {
    Pen pen;
    FixedClock clock;
    Notices notices;
    Canvas canvas;
    DrawingChannel channel{{canvas, pen, {}}};
    BoardSync sync{{channel, canvas, [] {}, [] { return false; }, clock, notices}};
    LoopbackPeer peer;

    explicit Rig(int silentMs = 60000) {
        BoardSync::Timing timing;
        timing.quietMs = 50;
        timing.pollMs = 10;
        timing.silentMs = silentMs;
        sync.setTiming(timing);
    }
    bool connect() {
        return peer.listen() &&
               channel.socket().connectTo(QStringLiteral("127.0.0.1"), peer.drawingPort()) &&
               QTest::qWaitFor([&] { return peer.drawing.open() == 1; });
    }
    // The next command-7 request from the client ("snap tok"), taken out of
    // what the server received.
    QByteArray nextRequest() {
        QByteArray request;
        QTest::qWaitFor([&] {
            QByteArray& in = peer.drawing.received;
            const qsizetype at = in.indexOf("7:");
            const qsizetype end = at < 0 ? -1 : in.indexOf("\r\n", at);
            if (end < 0)
                return false;
            request = in.mid(at + 2, end - at - 2);
            in.remove(0, end + 2);
            return true;
        });
        return request;
    }
    static QByteArray tokenOf(const QByteArray& request) { return request.split(' ').value(1); }
    void reply(const QByteArray& bytes) {
        peer.drawing.latest()->write(bytes);
        peer.drawing.latest()->flush();
    }
    void drawOwnSegment(qint16 x) { canvas.lineWrite(x, 10, x + 5, 10, 0, 0); }
};

} // namespace

class TestBoardSync : public QObject {
    Q_OBJECT
private slots:
    void checkWithOwnDrawingSinceIsOnlyAwaited();
    void retakeGivesASilentServerOneMoreChance();
    void backupNamesFollowTheClock();
    void aFullBoardIsSaidUntilTheConnectionEnds();
};

void TestBoardSync::checkWithOwnDrawingSinceIsOnlyAwaited() {
    Rig rig;
    QVERIFY(rig.connect());
    const QByteArray snap = rig.nextRequest();
    QVERIFY2(snap.startsWith("snap "), snap.constData());
    Board server;
    boardsnapshot::Encoder encoder(server);
    QSignalSpy applied(&rig.sync, &BoardSync::snapshotApplied);
    rig.reply(encoder.snapshotReply(Rig::tokenOf(snap)));
    QVERIFY(applied.wait());
    QCOMPARE(rig.sync.state(), BoardSync::State::Watching);

    // Drawn here, asked once quiet; drawn again before the answer came.
    rig.drawOwnSegment(10);
    const QByteArray sum = rig.nextRequest();
    QVERIFY2(sum.startsWith("sum "), sum.constData());
    QCOMPARE(rig.sync.state(), BoardSync::State::Check);
    rig.drawOwnSegment(20);
    QCOMPARE(rig.sync.state(), BoardSync::State::StaleCheck);

    // Its answer, however different, proves nothing: no compare, no
    // snapshot; the next quiet period checks anew.
    QSignalSpy compared(&rig.sync, &BoardSync::checksumCompared);
    rig.reply(encoder.sumReply(Rig::tokenOf(sum)));
    const QByteArray again = rig.nextRequest();
    QVERIFY2(again.startsWith("sum ") && again != sum, again.constData());
    QCOMPARE(compared.size(), 0);

    server.lineWrite(10, 10, 15, 10, 0, 0);
    server.lineWrite(20, 10, 25, 10, 0, 0);
    rig.reply(encoder.sumReply(Rig::tokenOf(again)));
    QVERIFY(compared.wait());
    QCOMPARE(compared.first().first().toBool(), true);
    QCOMPARE(rig.sync.state(), BoardSync::State::Watching);
}

void TestBoardSync::retakeGivesASilentServerOneMoreChance() {
    Rig rig(200);
    QVERIFY(rig.connect());
    QVERIFY(rig.nextRequest().startsWith("snap "));
    QTRY_COMPARE(rig.sync.state(), BoardSync::State::Silent);
    QVERIFY(rig.notices.shown.isEmpty()); // a silent server is nothing to tell
    rig.sync.retake();
    QCOMPARE(rig.sync.state(), BoardSync::State::Snapshot);
    const QByteArray snap = rig.nextRequest();
    QVERIFY2(snap.startsWith("snap "), snap.constData());
    QTRY_COMPARE(rig.sync.state(), BoardSync::State::Silent);
    rig.channel.socket().close();
    QTRY_COMPARE(rig.sync.state(), BoardSync::State::Offline);
}

void TestBoardSync::aFullBoardIsSaidUntilTheConnectionEnds() {
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.nextRequest().startsWith("snap "));
    rig.reply("0:7:full\r\n");
    QTRY_VERIFY(rig.notices.up.contains(NoticeKind::BoardFull));
    rig.peer.drawing.latest()->close();
    QTRY_COMPARE(rig.sync.state(), BoardSync::State::Offline);
    QVERIFY(!rig.notices.up.contains(NoticeKind::BoardFull));
}

void TestBoardSync::backupNamesFollowTheClock() {
    QTemporaryDir dir;
    FixedClock clock;
    BoardBackup backup(clock);
    backup.setDirectory([&dir] { return dir.path(); });
    QImage picture(Board::Width, Board::Height, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        const std::optional<QString> path = backup.write(picture);
        QVERIFY(path);
        names << QFileInfo(*path).fileName();
    }
    QCOMPARE(names, (QStringList{"sketora-backup-20240305-070809.png",
                                 "sketora-backup-20240305-070809-2.png",
                                 "sketora-backup-20240305-070809-3.png"}));
    QCOMPARE(QImage(dir.filePath(names[0])).convertToFormat(QImage::Format_RGB32), picture);

    backup.setDirectory([&dir] { return dir.filePath(QStringLiteral("missing")); });
    QVERIFY(!backup.write(picture));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

QTEST_GUILESS_MAIN(TestBoardSync)
#include "tst_boardsync.moc"
