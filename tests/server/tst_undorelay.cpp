// Undo and redo over real loopback sockets: members of ours take back their
// own strokes and clear-alls and every member of ours paints the patch;
// described clients receive what they always did; the history, a log of it
// and a restarted server keep the undone board.
#include "board.h"
#include "drawingrelay.h"
#include "relayserver.h"
#include "serverfixture.h"
#include "undohistory.h"
#include "undowire.h"

#include <QFile>
#include <QTest>

namespace {

using Event = undowire::Reader::Event;

// A member of ours as a client holds the board: its own lines painted as it
// sends them, what arrives painted as it comes, patches pasted.
struct Member {
    std::unique_ptr<TestPeer> peer;
    int index = -1;
    Board board;
    undowire::Reader reader;
    QList<Event> events;
    int counts = 0; // member-count lines seen

    void draw(const QList<QByteArray>& lines) {
        for (const QByteArray& l : lines) {
            peer->send(l + "\r\n");
            board.applyLine(QString::number(index) + u':' + QString::fromLatin1(l));
        }
    }
    void pump() {
        for (const QByteArray& piece : peer->next(peer->available(), 0)) {
            const QString text = QString::fromLatin1(piece);
            if (!text.startsWith(u"0:7:")) {
                counts += text.startsWith(u"0:8:");
                board.applyLine(text);
                continue;
            }
            const Event e = reader.feed(QStringView(text).sliced(4));
            if (e.kind == Event::Patch)
                board.paste(e.pixels, e.area.topLeft());
            if (e.kind != Event::None)
                events.append(e);
        }
    }
    // The next event of that kind (earlier ones of other kinds are passed).
    Event next(Event::Kind kind) {
        Event found;
        [[maybe_unused]] const bool seen = QTest::qWaitFor(
            [&] {
                pump();
                for (qsizetype i = 0; i < events.size(); ++i)
                    if (events[i].kind == kind) {
                        found = events.takeAt(i);
                        events.remove(0, i);
                        return true;
                    }
                return false;
            },
            10000);
        return found;
    }
    // Everything sent before has been handled by the server.
    bool sync() {
        const int before = counts;
        peer->send("8:member\r\n");
        return QTest::qWaitFor(
            [&] {
                pump();
                return counts > before;
            },
            10000);
    }
};

std::unique_ptr<Member> join(ServerFixture& f, const std::vector<TestPeer*>& others,
                             const QByteArray& id, const QString& name = {}) {
    auto m = std::make_unique<Member>();
    m->peer = f.joinDrawing(others);
    if (!m->peer)
        return nullptr;
    m->index = f.drawingIndex(*m->peer);
    m->peer->send(undowire::meLine(id, name));
    if (m->next(Event::Can).kind != Event::Can)
        return nullptr;
    return m;
}

Board replayed(const QList<QByteArray>& relayedLines) {
    Board board;
    for (const QByteArray& l : relayedLines)
        board.applyLine(QString::fromLatin1(l));
    return board;
}

QByteArray prefixed(int index, const QByteArray& line) {
    return QByteArray::number(index) + ':' + line;
}

const QList<QByteArray> strokeS = {"4: 255",      "5: 3",        "1: 100, 100",
                                   "2: 300, 100", "2: 300, 200", "0:0"};
const QList<QByteArray> strokeT = {"4: 0", "5: 1", "1: 200, 50", "2: 200, 250", "0:0"};

} // namespace

class TestUndoRelay : public QObject {
    Q_OBJECT
private slots:
    void ownStrokeTakenBackUnderALaterStroke();
    void nobodyTakesBackAnotherMembersStrokeAndFloodsAreBounded();
    void clearAllTakenBackAndLogsPlayBack();
    void listsSurviveAReconnectAndTheBoardARestart();
    void logAfterACrashNumbersWhatFollowsAfresh();
};

void TestUndoRelay::ownStrokeTakenBackUnderALaterStroke() {
    ServerFixture f;
    auto a = join(f, {}, "memberAid01");
    QVERIFY(a);
    auto b = join(f, {a->peer.get()}, "memberBid02");
    QVERIFY(b);
    auto d = f.joinDrawing({a->peer.get(), b->peer.get()}); // described
    QVERIFY(d);
    QList<QByteArray> expectedAtD, withoutS;
    a->draw(strokeS);
    QVERIFY(a->sync() && b->sync());
    b->draw(strokeT); // over S
    QVERIFY(b->sync() && a->sync());
    for (const QByteArray& l : strokeS) {
        expectedAtD.append(prefixed(a->index, l));
        if (!l.startsWith("1:") && !l.startsWith("2:"))
            withoutS.append(prefixed(a->index, l));
    }
    for (const QByteArray& l : strokeT)
        withoutS.append(prefixed(b->index, l)), expectedAtD.append(prefixed(b->index, l));
    const Board full = replayed(expectedAtD), without = replayed(withoutS);
    QVERIFY(a->board.image() == full.image() && b->board.image() == full.image());

    a->peer->send(undowire::undoLine("u1"));
    const Event answer = a->next(Event::Answer);
    QCOMPARE(answer.outcome, undowire::Outcome::Done);
    QCOMPARE(answer.token, u"u1"_qs);
    QCOMPARE(answer.undos, 0);
    QCOMPARE(answer.redos, 1);
    QCOMPARE(b->next(Event::Patch).kind, Event::Patch);
    QVERIFY(f.server->drawing().board().image() == without.image());
    QVERIFY(a->board.image() == without.image() && b->board.image() == without.image());
    // The drift check finds nothing to repair.
    b->peer->send("7:sum s1\r\n");
    QCOMPARE(b->peer->nextOne(),
             "0:7:sum s1 " + QByteArray::number(boardsnapshot::checksum(without.image())));

    a->peer->send(undowire::redoLine("r1"));
    QCOMPARE(a->next(Event::Answer).undos, 1);
    QCOMPARE(b->next(Event::Patch).kind, Event::Patch);
    QVERIFY(a->board.image() == full.image() && b->board.image() == full.image());

    // The described client saw the strokes and nothing else.
    b->draw({"1: 5, 5"});
    expectedAtD.append(prefixed(b->index, "1: 5, 5"));
    const QList<QByteArray> atD = d->next(int(expectedAtD.size()));
    QCOMPARE(atD, expectedAtD);
    QVERIFY(b->sync());
    QCOMPARE(d->available(), 0);
}

void TestUndoRelay::nobodyTakesBackAnotherMembersStrokeAndFloodsAreBounded() {
    ServerFixture f;
    auto a = join(f, {}, "memberAid01");
    QVERIFY(a);
    auto b = join(f, {a->peer.get()}, "memberBid02");
    QVERIFY(b);
    auto d = f.joinDrawing({a->peer.get(), b->peer.get()});
    QVERIFY(d);
    a->draw(strokeS);
    QVERIFY(a->sync());
    // Neither another member of ours nor a described client's line that
    // reads like a request takes back A's stroke.
    b->peer->send(undowire::undoLine("x"));
    QCOMPARE(b->next(Event::Answer).outcome, undowire::Outcome::None);
    d->send("2:7:undo 0\r\n7 :undo x\r\n7.4:undo 0\r\n");
    QVERIFY(b->sync());
    const QImage drawn = f.server->drawing().board().image();
    QVERIFY(drawn == a->board.image());
    QCOMPARE(f.server->drawing().undo().history().undoCount(undowire::memberOf("memberAid01")), 1);

    // A flood of undo and redo in one arrival: some are refused, the relay
    // keeps answering, and every member still holds the server's board.
    QByteArray flood;
    for (int i = 0; i < 400; ++i)
        flood += undowire::undoLine("f" + QByteArray::number(i)) +
                 undowire::redoLine("g" + QByteArray::number(i));
    a->peer->send(flood);
    int busy = 0;
    for (int i = 0; i < 800; ++i)
        busy += a->next(Event::Answer).outcome == undowire::Outcome::Busy;
    QVERIFY(busy > 0);
    QVERIFY(b->sync() && a->sync());
    QVERIFY(b->board.image() == f.server->drawing().board().image());
    QVERIFY(a->board.image() == f.server->drawing().board().image());
}

void TestUndoRelay::clearAllTakenBackAndLogsPlayBack() {
    ServerFixture f;
    auto a = join(f, {}, "memberAid01", u"花子"_qs);
    QVERIFY(a);
    auto b = join(f, {a->peer.get()}, "memberBid02");
    QVERIFY(b);
    auto d = f.joinDrawing({a->peer.get(), b->peer.get()});
    QVERIFY(d);
    a->draw(strokeS);
    QVERIFY(a->sync() && b->sync());
    b->draw(strokeT);
    QVERIFY(b->sync() && a->sync());
    const QImage beforeClear = f.server->drawing().board().image();

    a->draw({"3: 0, 0"});
    for (Member* m : {a.get(), b.get()}) {
        const Event notice = m->next(Event::Cleared);
        QCOMPARE(notice.index, a->index);
        QVERIFY(notice.undoable);
        QCOMPARE(notice.name, u"花子"_qs);
    }
    const QList<QByteArray> afterClear = {"5: 1", "1: 150, 300", "2: 150, 20", "0:0"};
    b->draw(afterClear); // over S's place
    QVERIFY(b->sync());
    a->peer->send(undowire::undoLine("c1"));
    QCOMPARE(a->next(Event::Answer).outcome, undowire::Outcome::Done);
    QCOMPARE(b->next(Event::Restored).name, u"花子"_qs);
    Board expected, blankThenB;
    expected.replace(beforeClear, expected.pens());
    for (const QByteArray& l : afterClear) {
        expected.applyLine(QString::fromLatin1(prefixed(b->index, l)));
        blankThenB.applyLine(QString::fromLatin1(prefixed(b->index, l)));
    }
    QVERIFY(f.server->drawing().board().image() == expected.image());
    QVERIFY(a->board.image() == expected.image() && b->board.image() == expected.image());

    // A described client clears, with the log saved first: announced as
    // nobody's to take back, with the name of the only chat member at its
    // address; nothing of command 7 reaches it.
    auto chat = f.connectText();
    QVERIFY(chat);
    chat->send("1<:>Taro%EOT%");
    QCOMPARE(chat->nextOne(), QByteArray("0<:>1<:>Taro"));
    f.server->setAutoSave(true);
    d->send("3: 0, 0\r\n");
    const Event notice = b->next(Event::Cleared);
    QVERIFY(!notice.undoable);
    QCOMPARE(notice.name, u"Taro"_qs);
    QVERIFY(b->sync());
    QVERIFY(!d->received().contains(":7:"));

    // The log: our player comes to the undone board whatever its canvas
    // held, a described player (every command-7 line dropped) to what it saw.
    QFile file(f.dir.filePath("2004-05-01_13-45-10.skl"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    Board ours, described;
    ours.applyLine(u"9:2: 1500, 1100");
    UndoHistory player(ours, UndoHistory::Use::Player);
    for (const QByteArray& l : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(l).trimmed();
        if (!text.isEmpty() && player.take(text) < 0)
            ours.applyLine(text);
        described.applyLine(text);
    }
    QVERIFY(ours.image() == expected.image());
    QVERIFY(described.image() == blankThenB.image());
}

void TestUndoRelay::listsSurviveAReconnectAndTheBoardARestart() {
    ServerFixture f;
    auto a = join(f, {}, "memberAid01");
    QVERIFY(a);
    a->draw(strokeS);
    QVERIFY(a->sync());
    const QImage onlyS = a->board.image();
    a->draw(strokeT);
    QVERIFY(a->sync());
    a.reset();
    QTRY_VERIFY(f.server->table().rows().isEmpty());

    auto again = join(f, {}, "memberAid01");
    QVERIFY(again);
    again->peer->send(undowire::undoLine("u"));
    QCOMPARE(again->next(Event::Answer).undos, 1);
    QVERIFY(f.server->drawing().board().image() == onlyS);

    f.server->shutdown();
    RelayServer restarted(0, 0, f.dir.path(), &f.clock);
    QVERIFY(restarted.drawing().board().image() == onlyS);
}

// A server that comes back from its journal holds a history its undo lists
// know nothing of: what is taken back afterwards must be the same action for
// a player of the log as for the server.
void TestUndoRelay::logAfterACrashNumbersWhatFollowsAfresh() {
    ServerFixture f;
    auto a = join(f, {}, "memberAid02");
    QVERIFY(a);
    a->draw(strokeS);
    QVERIFY(a->sync());
    const QImage onlyS = f.server->drawing().board().image();
    a.reset();
    f.restart();
    auto again = join(f, {}, "memberAid02");
    QVERIFY(again);
    again->draw(strokeT);
    QVERIFY(again->sync());
    again->peer->send(undowire::undoLine("u"));
    QCOMPARE(again->next(Event::Answer).outcome, undowire::Outcome::Done);
    QVERIFY(f.server->drawing().board().image() == onlyS);

    const auto path = f.server->logSave();
    QVERIFY(path);
    QFile file(*path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    Board ours;
    UndoHistory player(ours, UndoHistory::Use::Player);
    for (const QByteArray& l : file.readAll().split('\n')) {
        const QString text = QString::fromLatin1(l).trimmed();
        if (!text.isEmpty() && player.take(text) < 0)
            ours.applyLine(text);
    }
    QVERIFY(ours.image() == onlyS);
}

QTEST_MAIN(TestUndoRelay)
#include "tst_undorelay.moc"
