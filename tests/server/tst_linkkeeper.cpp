// The link verbs over real sockets: heartbeats answered to the asker alone
// on both channels, silent members of ours cut through the normal close path
// and quiet described ones left alone, and the session count that lets a
// member resend exactly what the server did not take, across a reconnect and
// across a crash of the server.

#include "boardjournal.h"
#include "drawingrelay.h"
#include "membersessions.h"
#include "relaykeeper.h"
#include "serverfixture.h"

#include <QTest>

namespace {

// A member of ours on the drawing channel: it counts the lines it sends
// after its claim, as a client must (linkkeeper.h).
struct Member {
    std::unique_ptr<TestPeer> peer;
    quint64 sent = 0;

    void send(const QByteArray& lines) {
        peer->send(lines);
        sent += quint64(lines.count("\r\n"));
    }
    // The answer to a claim of `id`; -1 when none comes.
    qint64 claim(const QByteArray& id) {
        peer->send("7:session " + id + "\r\n");
        sent = 0;
        const QByteArray answer = skipTo("0:7:session " + id + ' ');
        return answer.isEmpty() ? -1 : answer.toLongLong();
    }
    // Pings until the server reports every line sent before the ping durable.
    bool waitDurable() {
        return QTest::qWaitFor(
            [this] {
                const quint64 before = sent;
                send("7:ping p\r\n");
                return skipTo("0:7:pong p ").toULongLong() >= before;
            },
            20000);
    }
    // The rest of the next line that starts with `prefix`; lines before it
    // are passed over.
    QByteArray skipTo(const QByteArray& prefix) {
        for (int i = 0; i < 10000; ++i) {
            const QByteArray line = peer->nextOne(10000);
            if (line == "<nothing>")
                return {};
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        return {};
    }
};

int drawLines(const QList<QByteArray>& lines) {
    int count = 0;
    for (const QByteArray& line : lines)
        count += line.contains(":2: ");
    return count;
}

} // namespace

class TestLinkKeeper : public QObject {
    Q_OBJECT
private slots:
    void heartbeatsAreAnsweredToTheAskerAlone();
    void silentMembersOfOursAreCutQuietDescribedOnesAreNot();
    void sessionCountsWhatTheServerTookAcrossAReconnect();
    void sessionCountSurvivesACrashAndACleanEnd();
};

void TestLinkKeeper::heartbeatsAreAnsweredToTheAskerAlone() {
    ServerFixture f;
    auto described = f.joinDrawing();
    auto ours = f.joinDrawing({described.get()});
    QVERIFY(described && ours);
    ours->send("7:ping a1\r\n7:ping bad-token\r\n7:ping\r\n2: 5, 5\r\n");
    QCOMPARE(ours->nextOne(), QByteArray("0:7:pong a1 0"));
    QCOMPARE(described->nextOne(), QByteArray("1:2: 5, 5"));
    QCOMPARE(described->available(), 0);
    QCOMPARE(ours->available(), 0);
    QVERIFY(f.server->drawing().speaksExtension(1));

    auto text = f.connectText();
    auto other = f.connectText();
    QVERIFY(text && other);
    other->send("1<:>guest%EOT%");
    QVERIFY(other->nextOne().endsWith("<:>1<:>guest"));
    text->send("9<:>ping t1%EOT%9<:>ping%EOT%9<:>other%EOT%");
    QCOMPARE(text->nextOne(), QByteArray::number(f.textIndex(*text)) + "<:>9<:>pong t1");
    other->send("4<:>member%EOT%");
    QVERIFY(other->nextOne().contains("<:>4<:>")); // nothing of type 9 came before it
    QCOMPARE(text->available(), 0);
}

// A member of ours that pinged and then went silent is cut on both
// channels, through the close paths that keep the count and the chat true; a
// described member quieter for longer stays.
void TestLinkKeeper::silentMembersOfOursAreCutQuietDescribedOnesAreNot() {
    ServerFixture f;
    f.server->setHeartbeatTimeoutMs(300);
    auto quiet = f.joinDrawing();
    auto quietText = f.connectText();
    QVERIFY(quiet && quietText);
    quietText->send("1<:>quiet%EOT%");
    QVERIFY(quietText->nextOne().endsWith("<:>1<:>quiet"));

    auto silent = f.joinDrawing({quiet.get()});
    auto silentText = f.connectText();
    QVERIFY(silent && silentText);
    silentText->send("1<:>silent%EOT%");
    QVERIFY(quietText->nextOne().endsWith("<:>1<:>silent"));
    silent->send("7:ping s\r\n");
    silentText->send("9<:>ping s%EOT%");
    QVERIFY(silent->waitClosedByPeer(20000));
    QVERIFY(silentText->waitClosedByPeer(20000));
    QVERIFY(quiet->nextOne(10000).startsWith("0:8:"));
    QVERIFY(quietText->nextOne(10000).startsWith(QByteArray::number(1) + "<:>0<:>"));
    QVERIFY(quiet->isOpen() && quietText->isOpen());
    QCOMPARE(f.server->table().rows().size(), 1);
    quiet->send("8:member\r\n");
    QVERIFY(quiet->nextOne().startsWith("0:8:"));
}

// The link drops while the server lives: the member reconnects, claims its
// session, hears how many lines the server took, and sends the rest. The old
// connection, still open on the server, is closed first.
void TestLinkKeeper::sessionCountsWhatTheServerTookAcrossAReconnect() {
    ServerFixture f;
    auto watcher = f.joinDrawing();
    Member m{f.joinDrawing({watcher.get()})};
    QVERIFY(watcher && m.peer);
    QCOMPARE(m.claim("s1"), 0);
    m.send("4: 255\r\n1: 10, 10\r\n2: 20, 20\r\n2: 30, 30\r\n");
    QCOMPARE(drawLines(watcher->next(4)), 2);

    Member again{std::make_unique<TestPeer>(f.drawingPort(), "\r\n")};
    QVERIFY(again.peer->waitConnected());
    QCOMPARE(again.claim("s1"), 4);
    QVERIFY(m.peer->waitClosedByPeer());
    QCOMPARE(f.server->table().rows().size(), 2);
    QCOMPARE(f.server->keeper().sessions().taken("s1"), 4u);
    // Lines after the claim count on from there.
    again.send("2: 40, 40\r\n0:0\r\n");
    QVERIFY(again.waitDurable());
    QCOMPARE(f.server->keeper().sessions().taken("s1"), 4 + again.sent);
}

// The count that comes back after a crash is exactly what the journal kept
// of the session; a clean end keeps the count too.
void TestLinkKeeper::sessionCountSurvivesACrashAndACleanEnd() {
    ServerFixture f;
    Member m{f.joinDrawing()};
    QVERIFY(m.peer);
    QCOMPARE(m.claim("crash"), 0);
    m.send("1: 10, 10\r\n2: 500, 500\r\n");
    QVERIFY(m.waitDurable());
    m.peer.reset();
    f.restart(); // after its last write: the last ping is counted too
    Member back{f.joinDrawing()};
    QVERIFY(back.peer);
    QCOMPARE(back.claim("crash"), qint64(m.sent));
    QCOMPARE(f.server->drawing().board().pixelValue(500, 500), 0);
    back.send("2: 600, 600\r\n");
    QVERIFY(back.waitDurable());
    back.peer.reset();

    f.server->shutdown();
    f.startServer();
    Member later{f.joinDrawing()};
    QVERIFY(later.peer);
    QCOMPARE(later.claim("crash"), qint64(m.sent + back.sent));
    QCOMPARE(later.claim("fresh"), 0);
}

QTEST_GUILESS_MAIN(TestLinkKeeper)
#include "tst_linkkeeper.moc"
