// The address dialog, the network menu and the status line of a whole client,
// against a loopback stand-in for the server; and the keyboard between its
// two windows.
#include "canvas.h"
#include "canvaswidget.h"
#include "chatcontroller.h"
#include "drawingchannel.h"
#include "drawreceiver.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form2.h"
#include "form4.h"
#include "loopbackpeer.h"
#include "sketoraclient.h"
#include "socketendpoint.h"
#include "statusline.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using client::Form1;

namespace {

// What a server built before command 7 existed sees of the client's upstream
// bytes: the lines it stores and relays, without the shared-picture requests
// ("7:" lines, which such a server only passes on and every client ignores).
QByteArray described(const QByteArray& received) {
    QByteArray out;
    for (const QByteArray& line : received.split('\n'))
        if (!line.isEmpty() && !line.startsWith("7:"))
            out += line + '\n';
    return out;
}

const QString Base = QStringLiteral("Sketora - クライアント");

struct Rig {
    FakePrompts prompts;
    LoopbackPeer peer;
    std::unique_ptr<SketoraClient> client;

    explicit Rig(bool listening = true) {
        if (listening)
            QVERIFY(peer.listen());
        client = std::make_unique<SketoraClient>(
            SketoraClient::Options{&prompts, {peer.drawingPort(), peer.textPort()}});
        client->start();
    }
    Form1& main() { return client->form1(); }
    int wsState() { return client->drawing().socket().state(); }
    // Connects through the start-up dialog and waits for both connections.
    bool connectAtStartUp() {
        Form2& dialog = client->startupDialog();
        dialog.Text1()->setText(QStringLiteral("127.0.0.1"));
        dialog.Command1()->click();
        return QTest::qWaitFor([this] {
            return wsState() == 7 && client->textSocket().state() == 7 &&
                   peer.drawing.open() == 1 && peer.text.open() == 1;
        });
    }
    void expectMenus(bool con, bool reconnect, bool close) {
        QCOMPARE(main().controls().menu.mCon->isEnabled(), con);
        QCOMPARE(main().controls().menu.mReconnect->isEnabled(), reconnect);
        QCOMPARE(main().controls().menu.mClose->isEnabled(), close);
    }
};

} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startUpConnectWithTrimmedAddressAndEnter();
    void startUpBlankAddressIsRefusedSilently();
    void startUpCancelOrCloseShowsStandAlone();
    void serverCloseDisconnectAndConnectAgain();
    void reconnectWhileConnectedFails();
    void reconnectAfterAFailedAttempt();
    void statusTexts();
    void memberCountReachesTheStatusLine();
    void memberPollingOnlyWhileConnected();
    void renameMode();
    void addressesThatConnectedAreOfferedNextTime();
    void ctrlReleasedInTheChatWindowLeavesNoHand();

private:
    QTemporaryDir m_dir;
};

void TestConnection::initTestCase() {
    // The client reads and writes its settings file in the current directory.
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestConnection::startUpConnectWithTrimmedAddressAndEnter() {
    Rig rig;
    Form2& dialog = rig.client->startupDialog();
    QVERIFY(dialog.isVisible());
    QVERIFY(!rig.main().isVisible());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Sketora - サーバアドレス入力"));
    QCOMPARE(dialog.dlgMode(), 0);
    rig.expectMenus(true, true, false);

    rig.main().canvas().setForeColor(255);
    rig.main().controls().sWidth->setValue(2);
    QTest::keyClicks(dialog.Text1(), QStringLiteral("   127.0.0.1  "));
    QTest::keyClick(dialog.Text1(), Qt::Key_Return);

    QVERIFY(!dialog.isVisible());
    QVERIFY(rig.main().isVisible());
    QCOMPARE(dialog.Text1()->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(rig.client->connection().addr(), QStringLiteral("127.0.0.1"));
    QTRY_COMPARE(rig.peer.drawing.open(), 1);
    QTRY_COMPARE(rig.peer.text.open(), 1);
    QTRY_COMPARE(rig.wsState(), 7);
    rig.expectMenus(false, false, true);
    // The pen is announced first: colour line, then width line.
    QTRY_COMPARE(described(rig.peer.drawing.received), QByteArray("4: 255\r\n5: 2\r\n"));
    // Then, and only then, the request for the shared picture.
    QTRY_VERIFY(rig.peer.drawing.received.startsWith("4: 255\r\n5: 2\r\n7:snap "));
    QCOMPARE(rig.peer.drawing.received.count("7:"), 1);

    QTRY_COMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Member : 0人"));
    QCOMPARE(rig.main().windowTitle(), Base + " / NetWork");
    QVERIFY(rig.main().controls().menu.mMember->isEnabled());
    QVERIFY(!rig.main().controls().menu.mLogPlay->isEnabled());
    QCOMPARE(rig.prompts.shown.size(), 0);
}

void TestConnection::startUpBlankAddressIsRefusedSilently() {
    Rig rig;
    Form2& dialog = rig.client->startupDialog();
    QTest::keyClicks(dialog.Text1(), QStringLiteral("    "));
    QTest::mouseClick(dialog.Command1(), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    QVERIFY(!rig.main().isVisible());
    QCOMPARE(dialog.Text1()->text(), QString());
    QCOMPARE(rig.wsState(), 0);
    QCOMPARE(rig.prompts.shown.size(), 0);
}

void TestConnection::startUpCancelOrCloseShowsStandAlone() {
    Rig cancelled;
    QTest::mouseClick(cancelled.client->startupDialog().Command2(), Qt::LeftButton);
    QVERIFY(cancelled.main().isVisible());
    QTRY_COMPARE(cancelled.main().windowTitle(), Base + " / Stand Alone");
    QCOMPARE(cancelled.main().controls().lStatus->text(), QStringLiteral("Closed"));
    QVERIFY(!cancelled.main().controls().menu.mMember->isEnabled());
    QVERIFY(cancelled.main().controls().menu.mLogPlay->isEnabled());

    // Reconnect without an address used so far.
    cancelled.main().controls().menu.mReconnect->trigger();
    QCOMPARE(cancelled.prompts.shown.size(), 1);
    QCOMPARE(cancelled.prompts.shown[0].text,
             QStringLiteral("サーバのアドレスが入力されていません"));
    QCOMPARE(cancelled.prompts.shown[0].title, QStringLiteral("エラー"));
    QCOMPARE(cancelled.wsState(), 0);

    Rig closed;
    closed.client->startupDialog().close();
    QVERIFY(!closed.client->startupDialog().isVisible());
    QVERIFY(closed.main().isVisible());
    QCOMPARE(closed.wsState(), 0);
}

void TestConnection::serverCloseDisconnectAndConnectAgain() {
    Rig rig;
    QVERIFY(rig.connectAtStartUp());
    rig.expectMenus(false, false, true);

    // The server closes the drawing connection: menus only, no message.
    rig.peer.drawing.latest()->disconnectFromHost();
    QTRY_COMPARE(rig.wsState(), 0);
    rig.expectMenus(true, true, false);
    QCOMPARE(rig.prompts.shown.size(), 0);
    QTRY_COMPARE(rig.main().windowTitle(), Base + " / Stand Alone");

    // "接続(&C)..." offers the last server, closes both sockets and connects anew.
    rig.prompts.textAnswers = {QStringLiteral("127.0.0.1")};
    rig.main().controls().menu.mCon->trigger();
    QCOMPARE(rig.prompts.count("address"), 1);
    QCOMPARE(rig.prompts.shown.last().text, QStringLiteral("127.0.0.1")); // offered
    QTRY_COMPARE(rig.peer.drawing.sockets.size(), 2);
    QTRY_COMPARE(rig.peer.text.sockets.size(), 2);
    QTRY_COMPARE(rig.peer.text.open(), 1); // the old text connection was closed first
    QTRY_COMPARE(rig.wsState(), 7);
    QTRY_COMPARE(described(rig.peer.drawing.received), QByteArray("4: 0\r\n5: 0\r\n"));
    rig.expectMenus(false, false, true);

    // "切断(&Q)" closes both; the title says so until the next status tick.
    rig.main().controls().menu.mClose->trigger();
    QCOMPARE(rig.wsState(), 0);
    QCOMPARE(rig.client->textSocket().state(), 0);
    rig.expectMenus(true, true, false);
    QCOMPARE(rig.main().windowTitle(), Base + " / Disconnect");
    QTRY_COMPARE(rig.peer.drawing.open(), 0);
    QTRY_COMPARE(rig.peer.text.open(), 0);
    QTRY_COMPARE(rig.main().windowTitle(), Base + " / Stand Alone");
}

void TestConnection::reconnectWhileConnectedFails() {
    Rig rig;
    QVERIFY(rig.connectAtStartUp());
    rig.main().controls().menu.mReconnect->trigger(); // disabled entries are not triggered
    QCOMPARE(rig.prompts.shown.size(), 0);
    rig.client->connection().mReconnectClick();
    QCOMPARE(rig.prompts.shown.size(), 1);
    QCOMPARE(rig.prompts.shown[0].text, QStringLiteral("接続できません"));
    QCOMPARE(rig.prompts.shown[0].title, QStringLiteral("エラー"));
    QCOMPARE(rig.wsState(), 7);
    QCOMPARE(rig.peer.drawing.sockets.size(), 1);
}

void TestConnection::reconnectAfterAFailedAttempt() {
    Rig rig;
    const quint16 drawingPort = rig.peer.drawingPort();
    const quint16 textPort = rig.peer.textPort();
    rig.peer.stop();

    rig.client->startupDialog().Text1()->setText(QStringLiteral("127.0.0.1"));
    rig.client->startupDialog().Command1()->click();
    QTRY_COMPARE(rig.wsState(), 9);
    QTRY_COMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Error"));
    QCOMPARE(rig.prompts.shown.size(), 0);
    rig.expectMenus(true, true, false);

    // The server is back: reconnect closes the failed sockets and connects.
    LoopbackPeer back;
    QVERIFY(back.listen(drawingPort, textPort));
    rig.main().controls().menu.mReconnect->trigger();
    QTRY_COMPARE(rig.wsState(), 7);
    QTRY_COMPARE(rig.client->textSocket().state(), 7);
    QCOMPARE(rig.prompts.shown.size(), 0);
    QTRY_COMPARE(described(back.drawing.received), QByteArray("4: 0\r\n5: 0\r\n"));
    rig.expectMenus(false, false, true);
}

void TestConnection::statusTexts() {
    const QStringList expected{"Closed", "Open",       "Listening",    "Closed",  "Closed",
                               "Closed", "Connecting", "Member : 4人", "Closing", "Error"};
    for (int state = 0; state <= 9; ++state)
        QCOMPARE(StatusLine::statusText(state, 4), expected[state]);
    QCOMPARE(StatusLine::statusText(7, 12), QStringLiteral("Member : 12人"));

    Rig rig(false);
    StatusLine& status = rig.client->status();
    QCOMPARE(status.Timer1().interval(), 500);
    QCOMPARE(status.tMem().interval(), 15000);
    QVERIFY(status.Timer1().isActive());
    QVERIFY(status.tMem().isActive());

    status.showState(7, 3);
    QCOMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Member : 3人"));
    QCOMPARE(rig.main().windowTitle(), Base + " / NetWork");
    QVERIFY(rig.main().controls().menu.mMember->isEnabled());
    status.showState(6, 3);
    QCOMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Connecting"));
    QCOMPARE(rig.main().windowTitle(), Base + " / Stand Alone");
    QVERIFY(!rig.main().controls().menu.mMember->isEnabled());
}

void TestConnection::memberCountReachesTheStatusLine() {
    Rig rig;
    QVERIFY(rig.connectAtStartUp());
    rig.peer.drawing.latest()->write("0:8:4\r\n");
    QTRY_COMPARE(rig.client->drawing().receiver().memCount(), 4);
    QTRY_COMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Member : 4人"));
    // Any index with command 8 is a member count.
    rig.peer.drawing.latest()->write("5:8: 6\r\n");
    QTRY_COMPARE(rig.main().controls().lStatus->text(), QStringLiteral("Member : 6人"));
    QCOMPARE(rig.main().windowTitle(), Base + " / NetWork");
}

void TestConnection::memberPollingOnlyWhileConnected() {
    Rig rig;
    rig.client->status().tMem().setInterval(20);
    // Not connected: ticks send nothing (and do not fail).
    QSignalSpy ticks(&rig.client->status().tMem(), &QTimer::timeout);
    QVERIFY(ticks.wait());
    QVERIFY(ticks.wait());

    QVERIFY(rig.connectAtStartUp());
    QTRY_VERIFY(described(rig.peer.drawing.received).startsWith("4: 0\r\n5: 0\r\n8:member\r\n"));
    QTRY_VERIFY(rig.peer.drawing.received.count("8:member\r\n") >= 2);
}

// The chat window's name change asks through the name dialog, offering the
// current name (the dialog itself: window_dialogs).
void TestConnection::renameMode() {
    Rig rig;
    QVERIFY(rig.connectAtStartUp());
    rig.client->settings().confMyName = QStringLiteral("太郎");
    Form4* chat = rig.client->chat().showChatWindow();
    QTRY_VERIFY(rig.peer.text.received.endsWith("8<:>0%EOT%")); // the opening announcement
    rig.peer.text.received.clear();

    rig.prompts.textAnswers = {std::nullopt, QStringLiteral("花子 ～")};
    chat->mNameChange()->trigger(); // cancelled
    QCOMPARE(rig.prompts.shown.last().kind, QStringLiteral("name"));
    QCOMPARE(rig.prompts.shown.last().text, QStringLiteral("太郎"));
    QCOMPARE(rig.client->settings().confMyName, QStringLiteral("太郎"));

    chat->mNameChange()->trigger();
    QCOMPARE(rig.client->settings().confMyName, QStringLiteral("花子 ～"));
    // CP932: 花子 is 89 D4 8E 71, the wave dash as Windows writes it 81 60.
    QTRY_COMPARE(rig.peer.text.received, QByteArray("3<:>\x89\xd4\x8e\x71 \x81\x60%EOT%"));
    QCOMPARE(rig.prompts.count("address"), 0);
    QCOMPARE(rig.wsState(), 7);
}

// Beside the settings file: the start-up dialog offers the newest address,
// selected, and the others in its list; what connected goes first; the
// connect dialog lists them too.
void TestConnection::addressesThatConnectedAreOfferedNextTime() {
    QFile kept(QStringLiteral("sketora-servers.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    kept.write("192.0.2.55\n127.0.0.1\n");
    kept.close();
    QByteArray settings;
    {
        Rig rig;
        Form2& dialog = rig.client->startupDialog();
        QCOMPARE(dialog.Text1()->text(), QStringLiteral("192.0.2.55"));
        QCOMPARE(dialog.Text1()->selectedText(), QStringLiteral("192.0.2.55"));
        QComboBox* list = dialog.addressBox();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(1), QStringLiteral("127.0.0.1"));
        QTest::keyClicks(dialog.Text1(), QStringLiteral("127.0.0.1")); // typed over it
        QCOMPARE(dialog.Text1()->text(), QStringLiteral("127.0.0.1"));
        QTest::keyClick(dialog.Text1(), Qt::Key_Return);
        QTRY_COMPARE(rig.wsState(), 7);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("127.0.0.1\n192.0.2.55\n"));
        kept.close();

        rig.main().controls().menu.mClose->trigger();
        rig.main().controls().menu.mCon->trigger(); // cancelled
        QCOMPARE(rig.prompts.lastEarlier, (QStringList{"127.0.0.1", "192.0.2.55"}));
        rig.prompts.questionAnswers = {true};
        QVERIFY(rig.main().close());
    }
    QFile ini(QStringLiteral("reduza.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(!ini.readAll().contains("127.0.0.1")); // the settings keep their keys
    QVERIFY(kept.remove());
}

// Ctrl+M opens the chat window while Ctrl is down on the canvas; Ctrl comes
// up over the chat window. Back on the canvas the pencil draws, it does not
// scroll; with Ctrl really held it scrolls as ever.
void TestConnection::ctrlReleasedInTheChatWindowLeavesNoHand() {
    Rig rig;
    QVERIFY(rig.connectAtStartUp());
    Form1& main = rig.main();
    CanvasWidget* canvas = main.controls().pCanvas;
    main.controls().menu.mPencil->trigger();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    QTRY_VERIFY(canvas->hasFocus());
    QTRY_VERIFY(main.controls().menu.mMember->isEnabled()); // the next status tick

    QTest::keyPress(canvas, Qt::Key_Control);
    QTest::keyPress(canvas, Qt::Key_M, Qt::ControlModifier);
    QTRY_VERIFY(rig.client->chat().chatWindow() &&
                QApplication::activeWindow() == rig.client->chat().chatWindow());
    QWidget* chatInput = QApplication::focusWidget();
    QVERIFY(chatInput && chatInput->window() == rig.client->chat().chatWindow());
    QTest::keyRelease(chatInput, Qt::Key_M, Qt::ControlModifier);
    QTest::keyRelease(chatInput, Qt::Key_Control);

    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    QTRY_VERIFY(canvas->hasFocus());
    QCOMPARE(canvas->cursor().shape(), Qt::CrossCursor);
    const auto drag = [canvas](QPoint from, QPoint to) {
        QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(from));
        QTest::mouseMove(canvas, CanvasWidget::widgetPos((from + to) / 2));
        QTest::mouseMove(canvas, CanvasWidget::widgetPos(to));
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(to));
    };
    drag({100, 100}, {160, 100});
    QCOMPARE(canvas->pos(), QPoint(0, 0));
    QCOMPARE(main.canvas().pixelValue(130, 100), 0);
    QTRY_VERIFY(rig.peer.drawing.received.contains("1: 100, 100\r\n2: 130, 100\r\n"));

    QTest::keyPress(canvas, Qt::Key_Control);
    QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos({300, 300}));
    QTest::mouseMove(canvas, CanvasWidget::widgetPos({280, 290}));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos({280, 290}));
    QCOMPARE(canvas->pos(), QPoint(-20, -10));
    QCOMPARE(main.canvas().pixelValue(290, 295), Canvas::Background);
    QTest::keyRelease(canvas, Qt::Key_Control);
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
