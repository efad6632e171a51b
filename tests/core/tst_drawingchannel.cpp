// The client's drawing channel over loopback: nothing goes out while it runs
// stand-alone, every connection opens with the pen before anything its
// listeners send, arrivals are framed afresh for each connection, and the
// server's own command-7 lines (index and command exactly "0" and "7") go to
// whoever took their verb.
#include "canvas.h"
#include "drawingchannel.h"
#include "loopbackpeer.h"
#include "socketendpoint.h"
#include "windowviews.h"

#include <QSignalSpy>
#include <QTest>

namespace {

struct Pen : PenView {
    qint32 colour = 255;
    qint16 width = 2;
    qint32 penColor() const override { return colour; }
    qint16 penWidth() const override { return width; }
};

struct Rig {
    Pen pen;
    Canvas canvas;
    DrawingChannel channel{{canvas, pen, {}}};
    LoopbackPeer peer;

    bool connect() {
        const int before = int(peer.drawing.sockets.size());
        return channel.socket().connectTo(QStringLiteral("127.0.0.1"), peer.drawingPort()) &&
               QTest::qWaitFor(
                   [&] { return channel.isConnected() && peer.drawing.sockets.size() > before; });
    }
    void serverWrites(const QByteArray& bytes) {
        peer.drawing.latest()->write(bytes);
        peer.drawing.latest()->flush();
    }
};

} // namespace

class TestDrawingChannel : public QObject {
    Q_OBJECT
private slots:
    void penFirstOnEveryConnection();
    void newConnectionStartsWithoutAnOldTail();
    void serverRepliesGoByVerb();
};

void TestDrawingChannel::penFirstOnEveryConnection() {
    Rig rig;
    QVERIFY(rig.peer.listen());
    // Stand-alone: nothing goes out, and nothing fails loudly.
    rig.channel.sendDraw(1, 2);
    rig.channel.announcePen();
    QVERIFY(!rig.channel.send("8:member\r\n"));

    QObject::connect(&rig.channel, &DrawingChannel::connected, &rig.channel,
                     [&rig] { rig.channel.requestMemberCount(); });
    QVERIFY(rig.connect());
    rig.channel.sendPenDown(3, 4);
    QTRY_COMPARE(rig.peer.drawing.received,
                 QByteArray("4: 255\r\n5: 2\r\n8:member\r\n1: 3, 4\r\n"));

    // The next connection announces the pen as it is by then.
    rig.pen.colour = 0;
    rig.pen.width = 3;
    rig.channel.socket().close();
    QVERIFY(rig.connect());
    QTRY_COMPARE(rig.peer.drawing.received, QByteArray("4: 0\r\n5: 3\r\n8:member\r\n"));
}

void TestDrawingChannel::newConnectionStartsWithoutAnOldTail() {
    Rig rig;
    QVERIFY(rig.peer.listen());
    QVERIFY(rig.connect());
    QSignalSpy closed(&rig.channel, &DrawingChannel::closed);
    rig.serverWrites("3:1: 10, 10\r\n3:2: 9");
    QTRY_COMPARE(rig.channel.receiver().penX(3), 10);
    rig.peer.drawing.latest()->disconnectFromHost();
    QVERIFY(closed.wait());
    rig.channel.socket().close();

    QVERIFY(rig.connect());
    // With the old tail this would read "3:2: 90, 90".
    rig.serverWrites("0, 90\r\n0:8:7\r\n");
    QTRY_COMPARE(rig.channel.receiver().memCount(), 7);
    QCOMPARE(rig.channel.receiver().penX(3), 10);
    QCOMPARE(rig.canvas.image(), Canvas().image());
}

void TestDrawingChannel::serverRepliesGoByVerb() {
    Rig rig;
    QStringList sums, boards;
    rig.channel.onExtension({QStringLiteral("sum")},
                            [&sums](QStringView argument) { sums << argument.toString(); });
    rig.channel.onExtension({QStringLiteral("board"), QStringLiteral("data")},
                            [&boards](QStringView argument) { boards << argument.toString(); });
    QVERIFY(rig.peer.listen());
    QVERIFY(rig.connect());
    rig.serverWrites("0:7:sum a 1\r\n"
                     "3:7:sum b 2\r\n" // another member: never a reply to us
                     "0:7:board c 1 2 3 4\r\n"
                     "0:7:hello d\r\n"   // nobody's verb
                     "0:7:summary e\r\n" // the verb is the whole first word
                     "0:7:data f xyz\r\n"
                     "0:7:sum\r\n"
                     // Members' lines whose fields only read as 0 and 7: the
                     // server relays "7.4:..." from a member on index 0.
                     "0:7.4:sum h 1\r\n"
                     "00:7:sum i 1\r\n"
                     " 0:7:sum j 1\r\n"
                     "0:07:sum k 1\r\n"
                     "0: 7:sum l 1\r\n"
                     "0:8:5\r\n");
    QTRY_COMPARE(rig.channel.receiver().memCount(), 5);
    QCOMPARE(sums, (QStringList{"sum a 1", "sum"}));
    QCOMPARE(boards, (QStringList{"board c 1 2 3 4", "data f xyz"}));

    // A log being played back holds no replies.
    rig.channel.receiver().drawDataProc(u"0:7:sum g 1", DrawReceiver::Source::Playback);
    QCOMPARE(sums.size(), 2);
}

QTEST_GUILESS_MAIN(TestDrawingChannel)
#include "tst_drawingchannel.moc"
