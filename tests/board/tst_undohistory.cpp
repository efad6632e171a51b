// The undo history alone: its rebuild against a full replay over a history
// long enough to thin its frames, the lists' rules, and the patch lines.
#include "board.h"
#include "undohistory.h"
#include "undowire.h"

#include <QRandomGenerator>
#include <QTest>
#include <set>

namespace {

struct Line {
    QString text;
    int stroke = -1; // pen lines of a stroke
};

// Strokes of three members interleaved, with colour and width changes.
std::vector<Line> interleaved(int strokes, quint32 seed) {
    QRandomGenerator random(seed);
    std::vector<Line> lines;
    std::array<int, 3> open{-1, -1, -1};
    std::array<int, 3> moves{};
    int started = 0;
    while (started < strokes || open[0] >= 0 || open[1] >= 0 || open[2] >= 0) {
        const int i = random.bounded(3);
        const QString k = QString::number(i);
        if (open[i] < 0) {
            if (started == strokes)
                continue;
            if (random.bounded(3) == 0)
                lines.push_back({k + ":4: " + QString::number(random.bounded(16777216))});
            if (random.bounded(3) == 0)
                lines.push_back({k + ":5: " + QString::number(random.bounded(4))});
            open[i] = started++;
            moves[i] = random.bounded(2, 12);
            lines.push_back({k + ":1: " + QString::number(random.bounded(1600)) + ", " +
                                 QString::number(random.bounded(1200)),
                             open[i]});
        } else if (moves[i]-- > 0) {
            const char* cmd = random.bounded(5) == 0 ? ":6: " : ":2: ";
            lines.push_back({k + cmd + QString::number(random.bounded(1600)) + ", " +
                                 QString::number(random.bounded(1200)),
                             open[i]});
        } else {
            lines.push_back({k + ":0:0"});
            open[i] = -1;
        }
    }
    return lines;
}

QString member(int i) {
    return QString::fromLatin1(undowire::memberOf("member" + QByteArray::number(i) + "id"));
}

} // namespace

class TestUndoHistory : public QObject {
    Q_OBJECT
private slots:
    void rebuildEqualsAFullReplayWithoutTheStrokes();
    void listsFollowTheirMembers();
    void clearAllTakenBackFromItsStoredPicture();
    void patchLinesRoundTrip();
};

// Long enough to thin the frames; undos deep and shallow, and redos, must all
// give the board a replay of every line but those of the strokes taken back.
void TestUndoHistory::rebuildEqualsAFullReplayWithoutTheStrokes() {
    const std::vector<Line> lines = interleaved(3000, 7);
    Board board;
    UndoHistory history(board);
    for (int i = 0; i < 3; ++i)
        history.take(QString::number(i) + ":7:me " + member(i));
    for (const Line& line : lines)
        history.take(line.text);
    QVERIFY(history.frameSpacing() > UndoHistory::FirstSpacing); // thinned
    QVERIFY(history.frameCount() <= UndoHistory::MaxFrames);

    // Member 0 walks back its whole list (past several frames), then the
    // others take back and restore strokes that frames after those hold.
    std::set<int> undone;
    const auto step = [&](int i, bool undo, bool check) {
        const QByteArray who = member(i).toLatin1();
        const std::optional<int> n = undo ? history.nextUndo(who) : history.nextRedo(who);
        QVERIFY(n);
        QCOMPARE(history.action(*n).index, qint16(i));
        history.take(QString::number(i) + (undo ? ":7:undo " : ":7:redo ") + QString::number(*n));
        if (undo)
            undone.insert(*n);
        else
            undone.erase(*n);
        if (!check)
            return;
        Board expected;
        for (const Line& line : lines)
            if (line.stroke < 0 || !undone.count(line.stroke))
                expected.applyLine(line.text);
        QVERIFY(board.image() == expected.image());
    };
    for (int round = 0; round < UndoHistory::Depth; ++round)
        step(0, true, round % 25 == 24);
    for (int round = 0; round < 6; ++round)
        step(1 + round % 2, round < 4, true);
    step(0, false, true);
}

void TestUndoHistory::listsFollowTheirMembers() {
    Board board;
    UndoHistory history(board);
    const QByteArray a = member(1).toLatin1(), b = member(2).toLatin1();
    history.take("1:7:me " + member(1));
    history.take("2:7:me " + member(2));
    for (int s = 0; s < UndoHistory::Depth + 5; ++s)
        for (const char* l : {"1:1: 10, 10", "1:2: 20, 20", "1:0:0"})
            history.take(QString::fromLatin1(l));
    QCOMPARE(history.undoCount(a), UndoHistory::Depth);
    for (const char* l : {"2:1: 5, 5", "2:0:0", "3:1: 1, 1", "3:2: 9, 9", "3:0:0"})
        history.take(QString::fromLatin1(l)); // a click paints nothing; 3 is nobody
    QCOMPARE(history.undoCount(b), 0);
    QVERIFY(history.ownerOf(3).isEmpty());

    history.take("1:7:undo " + QString::number(*history.nextUndo(a)));
    QCOMPARE(history.redoCount(a), 1);
    for (const char* l : {"1:1: 30, 30", "1:2: 40, 40", "1:0:0"})
        history.take(QString::fromLatin1(l));
    QCOMPARE(history.redoCount(a), 0); // a new stroke empties the redo list

    // A clear-all empties every list; only its member can take it back.
    history.take(u"2:3: 0, 0");
    QCOMPARE(history.undoCount(a), 0);
    QCOMPARE(history.undoCount(b), 1);
    QVERIFY(history.action(*history.nextUndo(b)).clear);
}

// The player's history over a canvas that knows nothing of the server's
// picture: the stored picture is what the clear comes back to.
void TestUndoHistory::clearAllTakenBackFromItsStoredPicture() {
    Board before;
    before.applyLine(u"4:5: 3");
    before.applyLine(u"4:1: 100, 100");
    before.applyLine(u"4:2: 400, 300");
    Board board;
    UndoHistory history(board, UndoHistory::Use::Player);
    history.take(QStringLiteral("1:7:me ") + member(1));
    history.take(u"1:3: 0, 0");
    history.take(u"2:1: 300, 50");
    history.take(u"2:2: 300, 500");
    QVERIFY(history.needsBase(0));
    for (const QByteArray& l : undowire::baseBlock(1, before.image()).split('\n'))
        if (!l.isEmpty())
            history.take(QString::fromLatin1(l.chopped(1)));
    QVERIFY(!history.needsBase(0));
    history.take(u"1:7:undo 0");
    Board expected = before;
    expected.applyLine(u"2:1: 300, 50");
    expected.applyLine(u"2:2: 300, 500");
    QVERIFY(board.image() == expected.image());
}

void TestUndoHistory::patchLinesRoundTrip() {
    Board board;
    board.applyLine(u"0:5: 2");
    board.applyLine(u"0:2: 500, 400");
    const QRect area(0, 0, 505, 405);
    const QByteArray block = undowire::patchBlock(area, board.image().copy(area), 42);
    QVERIFY(block.size() < 20000);
    const auto feed = [](undowire::Reader& reader, const QByteArray& lines) {
        undowire::Reader::Event last;
        for (const QByteArray& l : lines.split('\n'))
            if (l.startsWith("0:7:"))
                last = reader.feed(QString::fromLatin1(l.mid(4).chopped(1)));
        return last;
    };
    undowire::Reader reader;
    const auto event = feed(reader, block);
    QCOMPARE(event.kind, undowire::Reader::Event::Patch);
    QCOMPARE(event.area, area);
    QCOMPARE(event.checksum, 42u);
    Board target;
    target.paste(event.pixels, area.topLeft());
    QVERIFY(target.image() == board.image());

    // Another verb inside the block drops it; the lines after it read on.
    QByteArray cut = block;
    cut.insert(cut.indexOf("0:7:pdata"), undowire::canLine(1, 0));
    QCOMPARE(feed(reader, cut).kind, undowire::Reader::Event::None);
    QCOMPARE(reader.feed(u"can 2 1").undos, 2);
    QCOMPARE(reader
                 .feed(QStringLiteral("cleared 3 1 ") +
                       QString::fromLatin1(undowire::nameField(u"花子"_qs)))
                 .name,
             u"花子"_qs);
}

QTEST_MAIN(TestUndoHistory)
#include "tst_undohistory.moc"
