// Two whole clients in this process drawing together through the built relay
// server (sketoraServer from SKETORA_BIN_DIR, fixed ports 13467 and 13468):
// every stroke shows with the same pixels on both canvases.
#include "clientdriver.h"
#include "drawingchannel.h"
#include "drawreceiver.h"
#include "fixedports.h"
#include "statusline.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void strokesArePixelIdenticalOnBothCanvases();
    void lateJoinerGetsThePenFromTheGreeting();

private:
    // Connects both clients and waits until the server counts them both.
    void connectPair(ClientDriver& a, ClientDriver& b);

    QTemporaryDir m_dir;
    QProcess m_server;
};

void TestEndToEnd::init() {
    const QString program = qEnvironmentVariable("SKETORA_BIN_DIR") + "/sketoraServer";
    QVERIFY2(QFile::exists(program), qPrintable("not built: " + program));
    // Another program on this machine (a soak run, another checkout's tests)
    // may hold the fixed ports for a few minutes.
    m_server.setWorkingDirectory(m_dir.path());
    QVERIFY2(fixedports::start(m_server, program),
             "ports 13467/13468 stay taken by another program");
    QVERIFY(QDir::setCurrent(m_dir.path())); // the clients' settings file
}

void TestEndToEnd::cleanup() {
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished();
}

void TestEndToEnd::connectPair(ClientDriver& a, ClientDriver& b) {
    for (ClientDriver* c : {&a, &b}) {
        c->client->status().tMem().setInterval(100); // poll the count often
        c->connectAtStartUp();
        QTRY_VERIFY(c->connected());
    }
    QTRY_COMPARE_WITH_TIMEOUT(a.main().controls().lStatus->text(), QStringLiteral("Member : 2人"),
                              10000);
    QTRY_COMPARE_WITH_TIMEOUT(b.main().controls().lStatus->text(), QStringLiteral("Member : 2人"),
                              10000);
    QCOMPARE(a.main().windowTitle(), QStringLiteral("Sketora - クライアント / NetWork"));
}

void TestEndToEnd::strokesArePixelIdenticalOnBothCanvases() {
    ClientDriver a, b;
    connectPair(a, b);

    a.main().controls().menu.mPencil->trigger();
    for (int width = 0; width <= 3; ++width) {
        a.setWidth(width);
        const int y = 100 + 60 * width;
        a.stroke({{40, y}, {90, y + 7}, {140, y - 12}, {200, y + 25}, {205, y + 25}});
    }
    a.pickPalette(0); // red
    a.stroke({{300, 100}, {320, 140}, {360, 90}, {420, 300}});
    a.pickPalette(2); // blue
    a.setWidth(2);
    a.stroke({{-30, 500}, {30, 520}, {80, 470}}); // starts outside the drawing area
    a.main().controls().menu.mEraser->trigger();
    a.setWidth(1);
    a.stroke({{30, 80}, {150, 400}, {330, 120}});

    QVERIFY(!isWhite(a.picture()));
    QCOMPARE(a.main().canvas().pixelValue(320, 140), 255);
    QTRY_VERIFY_WITH_TIMEOUT(b.picture() == a.picture(), 10000);

    // Clear-all from A clears B.
    a.prompts.questionAnswers = {true};
    a.main().controls().menu.mClear->trigger();
    QVERIFY(isWhite(a.picture()));
    QTRY_VERIFY_WITH_TIMEOUT(isWhite(b.picture()), 10000);

    // And B draws on A's canvas the same way.
    b.main().controls().menu.mPencil->trigger();
    b.pickPalette(4); // cyan
    b.setWidth(3);
    b.stroke({{600, 600}, {640, 660}, {700, 610}});
    QTRY_VERIFY_WITH_TIMEOUT(a.picture() == b.picture(), 10000);
    QVERIFY(!isWhite(a.picture()));
}

void TestEndToEnd::lateJoinerGetsThePenFromTheGreeting() {
    ClientDriver a;
    a.connectAtStartUp();
    QTRY_VERIFY(a.connected());
    const QColor custom(12, 34, 56);
    a.prompts.colorAnswers = {custom};
    a.main().controls().menu.mColor->trigger();
    const qint32 colour = 12 + 256 * 34 + 65536 * 56;
    QCOMPARE(a.main().foreColor(), colour);
    a.setWidth(3);

    ClientDriver b;
    b.connectAtStartUp();
    QTRY_VERIFY(b.connected());
    // B never saw A's colour and width lines; the server's greeting brings them.
    const DrawReceiver& pens = b.client->drawing().receiver();
    const auto announced = [&] {
        for (int i = 0; i < DrawReceiver::Slots; ++i)
            if (pens.penColor(i) == colour && pens.penSize(i) == 3)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(announced(), 10000);

    a.main().controls().menu.mPencil->trigger();
    a.stroke({{200, 200}, {260, 230}, {330, 180}});
    QCOMPARE(a.main().canvas().pixelValue(260, 233), colour);
    QTRY_VERIFY_WITH_TIMEOUT(b.picture() == a.picture(), 10000);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
