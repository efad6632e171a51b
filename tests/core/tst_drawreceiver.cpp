// Receive-and-apply rules of the drawing channel, checked on the canvas
// pixels and the pen tables against a reference canvas drawn directly.
#include "canvas.h"
#include "drawingchannel.h"
#include "drawreceiver.h"
#include "windowviews.h"

#include <QTest>

namespace {

constexpr qint32 Red = 255;
constexpr qint32 Blue = 255 << 16;

constexpr auto Network = DrawReceiver::Source::Network;
constexpr auto Playback = DrawReceiver::Source::Playback;

// Network bytes go through the channel's framing, decoded text straight to
// the receiver.
struct Rig : PenView {
    Canvas canvas;
    int refreshes = 0;
    DrawingChannel channel{{canvas, *this, [this] { ++refreshes; }}};
    DrawReceiver& receiver = channel.receiver();

    qint32 penColor() const override { return 0; }
    qint16 penWidth() const override { return 0; }
};

} // namespace

class TestDrawReceiver : public QObject {
    Q_OBJECT
private slots:
    void linesOfOneArrivalApplyInOrder();
    void blanksDoNotMatter();
    void malformedLinesAreDropped();
    void drawArgumentChecks();
    void missingSecondCoordinate();
    void numbersThatDoNotFit();
    void indicesBeyond20MoveNoPenButClearAndCount();
    void sendersKeepIndependentPens();
    void eraseIsWhiteWithTheSendersWidth();
    void penUpRefreshesOnlyForNetworkData();
    void linesSplitAcrossArrivalsAreReassembled();
    void coordinatesRoundHalvesToEven();
};

void TestDrawReceiver::linesOfOneArrivalApplyInOrder() {
    Rig rig;
    rig.channel.receive("3:4: 255\r\n3:5: 1\r\n3:1: 10, 20\r\n3:2: 30, 40\r\n");

    Canvas reference;
    reference.lineWrite(10, 20, 30, 40, 1, Red);
    QCOMPARE(rig.canvas.image(), reference.image());
    QCOMPARE(rig.receiver.penX(3), 30);
    QCOMPARE(rig.receiver.penY(3), 40);
    QCOMPARE(rig.receiver.penColor(3), Red);
    QCOMPARE(rig.receiver.penSize(3), 1);

    // A sender that never put its pen down draws from (0, 0) in black, width 0.
    Rig fresh;
    fresh.receiver.drawDataProc(u"7:2: 15, 9", Network);
    Canvas fromOrigin;
    fromOrigin.lineWrite(0, 0, 15, 9, 0, 0);
    QCOMPARE(fresh.canvas.image(), fromOrigin.image());
}

void TestDrawReceiver::blanksDoNotMatter() {
    Rig blanks, bare;
    blanks.receiver.drawDataProc(u"3:5: 2\r\n3:1: 100, 100\r\n3:2: 140, 120\r\n", Network);
    bare.receiver.drawDataProc(u"3:5:2\r\n3:1:100,100\r\n3:2:140,120\r\n", Network);
    QCOMPARE(blanks.canvas.image(), bare.canvas.image());
    QCOMPARE(bare.canvas.pixelValue(140, 120), 0);
    QCOMPARE(bare.canvas.pixelValue(140, 122), 0);
}

void TestDrawReceiver::malformedLinesAreDropped() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:1: 10, 10", Network);
    // Five fields: dropped. Four fields: the fourth is not read.
    rig.receiver.drawDataProc(u"3:2: 50, 10:x:y", Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), Canvas::Background);
    QCOMPARE(rig.receiver.penX(3), 10);
    rig.receiver.drawDataProc(u"3:2: 50, 10:x", Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), 0);

    // A command of 9 or more, five fields, or no argument field: dropped.
    rig.receiver.drawDataProc(u"0:8:4", Network);
    rig.receiver.drawDataProc(u"0:9:7\r\n0:8:4:x:y\r\n0:8\r\n", Network);
    QCOMPARE(rig.receiver.memCount(), 4);
    rig.receiver.drawDataProc(u"0:8.5:6", Network); // rounds to 8 (halves to even)
    QCOMPARE(rig.receiver.memCount(), 6);
    rig.receiver.drawDataProc(u"0:9.0:2\r\n0: 12:2", Network);
    QCOMPARE(rig.receiver.memCount(), 6);

    // A line too short to carry an argument, and a piece of garbage.
    rig.receiver.drawDataProc(u"3:3\r\n#%&\r\n\r\n", Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), 0);
}

void TestDrawReceiver::drawArgumentChecks() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:1: 10, 10", Network);
    const QString sixteen = QStringLiteral("   60,        10");
    QCOMPARE(sixteen.size(), 16);
    rig.receiver.drawDataProc(QStringLiteral("3:2:") + sixteen, Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), Canvas::Background);
    QCOMPARE(rig.receiver.penX(3), 10);

    // Fifteen characters still draw.
    rig.receiver.drawDataProc(u"3:2:  60,        10", Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), 0);
    QCOMPARE(rig.receiver.penX(3), 60);

    // The eraser has no length limit.
    rig.receiver.drawDataProc(QStringLiteral("3:6:") + QStringLiteral("   10,        10"), Network);
    QCOMPARE(rig.canvas.pixelValue(30, 10), Canvas::Background);
    QCOMPARE(rig.receiver.penX(3), 10);

    // A blank argument or a blank second coordinate draws nothing.
    rig.receiver.drawDataProc(u"3:2:    \r\n3:2: 90,  \r\n3:2:", Network);
    QCOMPARE(rig.receiver.penX(3), 10);
    QCOMPARE(rig.canvas.pixelValue(50, 10), Canvas::Background);
}

void TestDrawReceiver::missingSecondCoordinate() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:1: 10, 20\r\n3:2: 50", Network);
    QCOMPARE(rig.receiver.penX(3), 10);
    QCOMPARE(rig.receiver.penY(3), 20);
    QCOMPARE(rig.canvas.pixelValue(30, 20), Canvas::Background);

    rig.receiver.drawDataProc(u"3:1: 70", Network);
    QCOMPARE(rig.receiver.penX(3), 70);
    QCOMPARE(rig.receiver.penY(3), 20);

    rig.receiver.drawDataProc(u"3:6: 80", Network);
    QCOMPARE(rig.receiver.penX(3), 80);
    QCOMPARE(rig.receiver.penY(3), 20);
    QCOMPARE(rig.canvas.image(), Canvas().image());
}

void TestDrawReceiver::numbersThatDoNotFit() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:4: 255\r\n3:5: 2\r\n3:1: 10, 10\r\n0:8: 5", Network);
    rig.receiver.drawDataProc(u"3:2: 40000, 10\r\n3:2: 10, -32769\r\n3:6: 99999, 10", Network);
    QCOMPARE(rig.receiver.penX(3), 10);
    QCOMPARE(rig.receiver.penY(3), 10);
    QCOMPARE(rig.canvas.image(), Canvas().image());

    rig.receiver.drawDataProc(u"3:4: 2147483648\r\n3:5: 32768\r\n0:8: 40000", Network);
    QCOMPARE(rig.receiver.penColor(3), Red);
    QCOMPARE(rig.receiver.penSize(3), 2);
    QCOMPARE(rig.receiver.memCount(), 5);

    // The widest numbers that still fit are applied.
    rig.receiver.drawDataProc(u"3:4:-2147483648\r\n3:5: 32767\r\n3:1:-32768, 32767", Network);
    QCOMPARE(rig.receiver.penColor(3), qint32(-2147483647 - 1));
    QCOMPARE(rig.receiver.penSize(3), 32767);
    QCOMPARE(rig.receiver.penX(3), -32768);

    // An index or command that does not fit 16 bits drops the whole line.
    rig.receiver.drawDataProc(u"3:4: 0\r\n3:1: 10, 10\r\n3:2: 20, 10\r\n70000:3: 0, 0", Network);
    QCOMPARE(rig.canvas.pixelValue(15, 10), 0);
}

void TestDrawReceiver::indicesBeyond20MoveNoPenButClearAndCount() {
    Rig rig;
    rig.receiver.drawDataProc(u"20:4: 255\r\n20:1: 5, 5\r\n20:2: 25, 5", Network);
    QCOMPARE(rig.canvas.pixelValue(15, 5), Red);

    rig.receiver.drawDataProc(u"25:4: 16711680\r\n25:5: 3\r\n25:1: 50, 50\r\n25:2: 90, 50"
                              u"\r\n-1:4: 16711680\r\n-1:2: 90, 60\r\n25:6: 90, 70",
                              Network);
    for (int i = 0; i < DrawReceiver::Slots; ++i) {
        QCOMPARE(rig.receiver.penColor(i), i == 20 ? Red : 0);
        QCOMPARE(rig.receiver.penSize(i), 0);
    }
    QCOMPARE(rig.canvas.pixelValue(70, 50), Canvas::Background);
    QCOMPARE(rig.canvas.pixelValue(15, 5), Red);

    rig.receiver.drawDataProc(u"25:8: 9", Network);
    QCOMPARE(rig.receiver.memCount(), 9);
    const int before = rig.refreshes;
    rig.receiver.drawDataProc(u"25:3: 0, 0", Network);
    QCOMPARE(rig.canvas.image(), Canvas().image());
    QCOMPARE(rig.refreshes, before + 1);
}

void TestDrawReceiver::sendersKeepIndependentPens() {
    Rig rig;
    rig.channel.receive("3:4: 255\r\n5:4: 16711680\r\n5:5: 2\r\n"
                        "3:1: 10, 10\r\n5:1: 200, 200\r\n"
                        "3:2: 60, 10\r\n5:2: 200, 260\r\n"
                        "3:2: 60, 70\r\n5:2: 150, 260\r\n");
    Canvas reference;
    reference.lineWrite(10, 10, 60, 10, 0, Red);
    reference.lineWrite(200, 200, 200, 260, 2, Blue);
    reference.lineWrite(60, 10, 60, 70, 0, Red);
    reference.lineWrite(200, 260, 150, 260, 2, Blue);
    QCOMPARE(rig.canvas.image(), reference.image());
}

void TestDrawReceiver::eraseIsWhiteWithTheSendersWidth() {
    Rig rig;
    for (qint16 y = 0; y < 40; ++y)
        rig.canvas.lineWrite(0, y, 100, y, 0, Blue);
    rig.receiver.drawDataProc(u"3:4: 255\r\n3:5: 3\r\n3:1: 20, 20\r\n3:6: 80, 20", Network);

    Canvas reference;
    for (qint16 y = 0; y < 40; ++y)
        reference.lineWrite(0, y, 100, y, 0, Blue);
    reference.lineWrite(20, 20, 80, 20, 3, 16777215);
    QCOMPARE(rig.canvas.image(), reference.image());
    QCOMPARE(rig.canvas.pixelValue(50, 23), Canvas::Background);
    QCOMPARE(rig.canvas.pixelValue(50, 24), Blue);
}

void TestDrawReceiver::penUpRefreshesOnlyForNetworkData() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:0:0", Playback);
    QCOMPARE(rig.refreshes, 0);
    rig.receiver.drawDataProc(u"3:0:0\r\n", Network);
    QCOMPARE(rig.refreshes, 1);
    rig.channel.receive("40:0: 0\r\n");
    QCOMPARE(rig.refreshes, 2);
    // Clear-all refreshes whatever the flag.
    rig.receiver.drawDataProc(u"3:3: 0, 0", Playback);
    QCOMPARE(rig.refreshes, 3);
    // Moves and colours do not.
    rig.receiver.drawDataProc(u"3:1: 1, 1\r\n3:2: 5, 5\r\n3:4: 5\r\n3:7:1", Network);
    QCOMPARE(rig.refreshes, 3);
}

void TestDrawReceiver::linesSplitAcrossArrivalsAreReassembled() {
    Rig rig;
    rig.channel.receive("3:1: 10, 10\r\n3:2: 3");
    QCOMPARE(rig.canvas.image(), Canvas().image());
    rig.channel.receive("0, 40\r");
    rig.channel.receive("\n3:2: 30, 90\r\n");
    Canvas reference;
    reference.lineWrite(10, 10, 30, 40, 0, 0);
    reference.lineWrite(30, 40, 30, 90, 0, 0);
    QCOMPARE(rig.canvas.image(), reference.image());
}

void TestDrawReceiver::coordinatesRoundHalvesToEven() {
    Rig rig;
    rig.receiver.drawDataProc(u"3:1: 2.5, 3.5\r\n4:1:1e3, 7abc", Network);
    QCOMPARE(rig.receiver.penX(3), 2);
    QCOMPARE(rig.receiver.penY(3), 4);
    QCOMPARE(rig.receiver.penX(4), 1); // lenient reading stops at 'e'
    QCOMPARE(rig.receiver.penY(4), 7);
}

QTEST_GUILESS_MAIN(TestDrawReceiver)
#include "tst_drawreceiver.moc"
