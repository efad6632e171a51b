// The drawing history and its log files: block counting, file names and
// bytes, manual saves, automatic saves on clear-all, a full history written
// out and started afresh.

#include "drawinghistory.h"
#include "drawingrelay.h"
#include "logwriter.h"
#include "serverfixture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray numbered(int i) {
    return "0:2: " + QByteArray::number(i) + ", 1\r\n";
}

} // namespace

class TestServerLog : public QObject {
    Q_OBJECT
private slots:
    void blocksHold1001LinesAndGreetingColourSkipsTheTest();
    void fileShowsAnEmptyLineAfterEachBlock();
    void namesComeFromTheClockAndSameSecondReplaces();
    void clearAllSavesOnlyWithAutoSave();
    void failedAutoSaveKeepsTheHistory();
    void fullHistoryIsSavedAndStartedAfresh();
    void longLinesAreRelayedNotStored();
};

void TestServerLog::blocksHold1001LinesAndGreetingColourSkipsTheTest() {
    DrawingHistory history;
    for (int i = 0; i < 1001; ++i)
        history.append(numbered(i));
    QCOMPARE(history.blockNo(), qint16(1));
    QCOMPARE(history.lines(), qint16(0));
    QVERIFY(history.block(0).endsWith(numbered(1000)));

    // A colour line as the 1001st does not close the block; the next one does.
    for (int i = 0; i < 1000; ++i)
        history.append(numbered(i));
    history.append("3:4:0\r\n", false);
    QCOMPARE(history.blockNo(), qint16(1));
    history.append("3:5:0\r\n");
    QCOMPARE(history.blockNo(), qint16(2));
    QVERIFY(history.block(1).endsWith("3:4:0\r\n3:5:0\r\n"));

    // Past the last block lines are counted but no longer stored.
    DrawingHistory full;
    for (int i = 0; i < DrawingHistory::BlockCount * 1001; ++i)
        full.append("1:0:0\r\n");
    QVERIFY(full.isFull());
    const qint64 stored = full.storedLines();
    full.append("1:0:0\r\n");
    QCOMPARE(full.storedLines(), stored);
    QCOMPARE(full.lines(), qint16(1));
    QCOMPARE(full.fileContent().count("\r\n\r\n"), DrawingHistory::BlockCount);
}

void TestServerLog::fileShowsAnEmptyLineAfterEachBlock() {
    QTemporaryDir dir;
    FixedClock clock;
    LogWriter writer(dir.path(), clock);
    DrawingHistory history;

    // Empty history: one empty line.
    const auto empty = writer.saveLog(history, false);
    QVERIFY(empty);
    QCOMPARE(readFile(*empty), QByteArray("\r\n"));

    QByteArray expected;
    for (int i = 0; i < 1003; ++i) {
        history.append(numbered(i));
        expected += numbered(i);
        if (i == 1000)
            expected += "\r\n";
    }
    expected += "\r\n";
    const auto path = writer.saveLog(history, false);
    QVERIFY(path);
    QCOMPARE(readFile(*path), expected);
    QCOMPARE(history.storedLines(), 1003); // a manual save keeps the history
}

void TestServerLog::namesComeFromTheClockAndSameSecondReplaces() {
    ServerFixture f;
    const auto first = f.server->logSave();
    QVERIFY(first);
    QCOMPARE(QFileInfo(*first).fileName(), QStringLiteral("2004-05-01_13-45-10.skl"));
    QCOMPARE(readFile(*first), QByteArray("\r\n"));

    auto a = f.joinDrawing();
    QVERIFY(a);
    a->send("2: 1, 2\r\n8:member\r\n");
    QVERIFY(a->nextOne().startsWith("0:8:"));
    const auto second = f.server->logSave();
    QCOMPARE(second, first);
    const QByteArray content = readFile(*second);
    QVERIFY(content.startsWith("1:4:0\r\n1:5:0\r\n2:4:0\r\n"));
    QVERIFY(content.endsWith("20:5:0\r\n0:2: 1, 2\r\n\r\n"));
    QCOMPARE(content.count("\r\n"), 40 + 1 + 1);

    // Afternoon hours are written 00..23.
    f.clock.moment = QDateTime(QDate(2024, 12, 31), QTime(23, 5, 9));
    QCOMPARE(QFileInfo(*f.server->logSave()).fileName(), QStringLiteral("2024-12-31_23-05-09.skl"));
}

void TestServerLog::clearAllSavesOnlyWithAutoSave() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    a->send("2: 1, 1\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:2: 1, 1"));

    // Without the check mark the history is emptied, and nothing written.
    b->send("3: 0, 0\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:3: 0, 0"));
    QCOMPARE(f.server->history().fileContent(), QByteArray("1:3: 0, 0\r\n\r\n"));
    QCOMPARE(QDir(f.dir.path()).entryList(QDir::Files).size(), 0);

    // With it, everything before the clear goes to a file first.
    f.server->setAutoSave(true);
    QSignalSpy saved(f.server.get(), &RelayServer::logSaved);
    a->send("2: 2, 2\r\n3: 0, 0\r\n");
    QCOMPARE(b->next(2).size(), 2);
    QCOMPARE(saved.size(), 1);
    const QString path = saved.first().first().toString();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("2004-05-01_13-45-10.skl"));
    QCOMPARE(readFile(path), QByteArray("1:3: 0, 0\r\n0:2: 2, 2\r\n\r\n"));
    QCOMPARE(f.server->history().fileContent(), QByteArray("0:3: 0, 0\r\n\r\n"));
}

void TestServerLog::failedAutoSaveKeepsTheHistory() {
    ServerFixture f(RelayServer::Journal::Off); // the folder goes, see below
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    f.server->setAutoSave(true);
    QVERIFY(f.dir.remove()); // nowhere to write
    QSignalSpy saved(f.server.get(), &RelayServer::logSaved);
    const qint64 before = f.server->history().storedLines();
    a->send("3: 0, 0\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:3: 0, 0"));
    QCOMPARE(saved.size(), 1);
    QVERIFY(saved.first().first().toString().isEmpty());
    QCOMPARE(f.server->history().storedLines(), before + 1);
    QVERIFY(!f.server->logSave());
}

// A full history is written out and started afresh with the line that did
// not fit, with or without auto-save, and the event log (and stderr) say so;
// one that cannot be written is said too, and lines are still relayed.
void TestServerLog::fullHistoryIsSavedAndStartedAfresh() {
    // Without a journal: its background writes into the folder would race
    // the removal below (as in the case above).
    ServerFixture f(RelayServer::Journal::Off);
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    DrawingHistory& history = f.server->history();
    while (!history.isFull())
        history.append("0:0:0\r\n");
    const qint64 full = history.storedLines();

    a->send("2: 1, 1\r\n");
    QCOMPARE(b->nextOne(), QByteArray("0:2: 1, 1"));
    const QStringList files = QDir(f.dir.path()).entryList({"*.skl"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    const QByteArray content = readFile(QDir(f.dir.path()).filePath(files.first()));
    QCOMPARE(content.count("\r\n"), full + DrawingHistory::BlockCount);
    QCOMPARE(history.fileContent(), QByteArray("0:2: 1, 1\r\n\r\n"));
    QVERIFY(f.server->table().logText().contains(files.first()));

    while (!history.isFull())
        history.append("0:0:0\r\n");
    QVERIFY(f.dir.remove()); // nowhere to write
    a->send("2: 2, 2\r\n2: 3, 3\r\n");
    QCOMPARE(b->next(2), QList<QByteArray>({"0:2: 2, 2", "0:2: 3, 3"}));
    QVERIFY(history.isFull());
    QCOMPARE(f.server->table().logText().count(QStringLiteral("保存できません")), 1);
}

// No drawing line is longer than a few dozen bytes: one of over 4 KB is
// relayed but not stored, so a few hundred of them cannot fill the history.
// Lines within that size fill it by bytes long before by count.
void TestServerLog::longLinesAreRelayedNotStored() {
    ServerFixture f;
    auto a = f.joinDrawing();
    auto b = f.joinDrawing({a.get()});
    QVERIFY(a && b);
    const qint64 before = f.server->history().storedLines();
    const QByteArray longLine = "2:" + QByteArray(63 * 1024, ' ') + "1, 1";
    a->send(longLine + "\r\n0:0\r\n");
    QCOMPARE(b->next(2), QList<QByteArray>({"0:" + longLine, "0:0:0"}));
    QCOMPARE(f.server->history().storedLines(), before + 1);

    const QByteArray kept = "0:2:" + QByteArray(DrawingRelay::MaxStoredLine - 10, ' ') + "\r\n";
    DrawingHistory history;
    qint64 appended = 0;
    while (!history.isFull()) {
        history.append(kept);
        ++appended;
    }
    QVERIFY(history.storedBytes() <= DrawingHistory::ByteLimit);
    QCOMPARE(history.storedLines(), appended - 1); // the line that did not fit
    QVERIFY(!history.canStore("0:0:0\r\n"));       // full is full, short lines too
    history.clear();
    QCOMPARE(history.storedBytes(), 0);
    QVERIFY(history.canStore(kept));
}

QTEST_GUILESS_MAIN(TestServerLog)
#include "tst_serverlog.moc"
