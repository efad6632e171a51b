// A drawing log written by the relay server itself, played back by a third
// client, reproduces the picture the connected clients saw. The server runs
// in this process on ports the system chooses, its log files in a temporary
// directory.
#include "../server/testpeer.h"
#include "clientdriver.h"
#include "drawingrelay.h"
#include "logplayer.h"
#include "relayserver.h"
#include "statusline.h"
#include "undowire.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

class TestServerLogPlayback : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void savedLogReproducesThePicture();
    void savedLogWithUndosReproducesTheUndoneBoard();

private:
    struct Party {
        std::unique_ptr<RelayServer> server;
        std::unique_ptr<ClientDriver> a, b;
    };
    // A server and two connected clients that A has drawn for.
    void startParty(Party& party);

    QTemporaryDir m_dir;
};

void TestServerLogPlayback::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestServerLogPlayback::startParty(Party& party) {
    party.server = std::make_unique<RelayServer>(0, 0, m_dir.path());
    party.server->setListenAddress(QHostAddress::LocalHost);
    QVERIFY(party.server->start());
    const ConnectionControl::Ports ports{party.server->drawingPort(), party.server->textPort()};
    party.a = std::make_unique<ClientDriver>(ports);
    party.b = std::make_unique<ClientDriver>(ports);
    for (ClientDriver* c : {party.a.get(), party.b.get()}) {
        c->client->status().tMem().setInterval(100);
        c->connectAtStartUp();
        QTRY_VERIFY(c->connected());
    }
    QTRY_COMPARE(party.a->main().controls().lStatus->text(), QStringLiteral("Member : 2人"));

    ClientDriver& a = *party.a;
    a.main().controls().menu.mPencil->trigger();
    a.pickPalette(1); // green
    for (int width = 0; width <= 3; ++width) {
        a.setWidth(width);
        a.stroke({{50, 50 + 40 * width}, {120, 70 + 40 * width}, {190, 40 + 40 * width}});
    }
    a.pickPalette(5); // magenta
    a.stroke({{400, 400}, {420, 300}, {480, 420}});
    a.main().controls().menu.mEraser->trigger();
    a.stroke({{60, 40}, {120, 200}});
    QTRY_VERIFY(party.b->picture() == a.picture());
}

void TestServerLogPlayback::savedLogReproducesThePicture() {
    Party party;
    startParty(party);
    const std::optional<QString> path = party.server->logSave();
    QVERIFY(path);

    ClientDriver c;
    c.standAlone();
    c.main().controls().menu.mLSNoWait->trigger();
    c.prompts.fileAnswers = {*path};
    c.main().controls().menu.mLogPlay->trigger();
    QVERIFY(!isWhite(c.picture()));
    QVERIFY(c.picture() == party.a->picture());
}

// A member of ours draws over A's strokes, takes its stroke back and clears
// and takes the clear back; the player comes to the server's board, not to
// what the lines alone would paint.
void TestServerLogPlayback::savedLogWithUndosReproducesTheUndoneBoard() {
    Party party;
    startParty(party);
    TestPeer ours(party.server->drawingPort(), "\r\n");
    QVERIFY(ours.waitConnected());
    const auto ask = [&](const QByteArray& lines, const QByteArray& answer) {
        ours.send(lines);
        return QTest::qWaitFor([&] { return ours.received().contains(answer); }, 10000);
    };
    QVERIFY(ask(undowire::meLine("playbackmember", {}), "0:7:can 0 0"));
    QVERIFY(ask("4: 255\r\n5: 3\r\n1: 40, 60\r\n2: 300, 200\r\n0:0\r\n" + undowire::undoLine("u1"),
                "0:7:undo u1 done 0 1"));
    QVERIFY(ask("3: 0, 0\r\n1: 10, 10\r\n2: 500, 10\r\n0:0\r\n" + undowire::undoLine("u2"),
                "0:7:undo u2 done 1 1"));                           // the line after the clear
    QVERIFY(ask(undowire::undoLine("u3"), "0:7:undo u3 done 0 2")); // the clear
    const QImage undone = party.server->drawing().board().image();
    QVERIFY(!isWhite(undone));
    const std::optional<QString> path = party.server->logSave();
    QVERIFY(path);

    ClientDriver c;
    c.standAlone();
    c.main().controls().menu.mLSNoWait->trigger();
    c.prompts.fileAnswers = {*path};
    c.main().controls().menu.mLogPlay->trigger();
    QVERIFY(c.picture() == undone);
}

QTEST_MAIN(TestServerLogPlayback)
#include "tst_serverlogplayback.moc"
