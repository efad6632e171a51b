// Undo and redo with whole clients and the built relay server (sketoraServer
// from SKETORA_BIN_DIR on ports the system chose), driven by real Ctrl+Z /
// Ctrl+Y key events: a member's own stroke taken back under a later stroke
// of another member and restored, a clear-all taken back with its notices
// (in the chat window and the notice bar), the edit menu following the
// server's counts, and lines of a member that only read as the server's
// replies ignored. Every canvas ends with the picture rebuilt without what
// was taken back, and the drift check finds nothing to repair.
#include "boardsync.h"
#include "chatcontroller.h"
#include "clientdriver.h"
#include "form4.h"
#include "freeports.h"
#include "noticebar.h"
#include "undocontrol.h"

#include <QAction>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Stroke {
    QList<QPoint> points;
    int cell;  // palette cell
    int width; // width value
};

// What the pencil paints for `stroke` in `colour`: one segment per move.
void paint(Board& board, const Stroke& stroke, qint32 colour) {
    for (qsizetype i = 1; i < stroke.points.size(); ++i)
        board.lineWrite(qint16(stroke.points[i - 1].x()), qint16(stroke.points[i - 1].y()),
                        qint16(stroke.points[i].x()), qint16(stroke.points[i].y()),
                        qint16(stroke.width), colour);
}

// Draws with the pencil; returns the colour it drew in.
qint32 draw(ClientDriver& c, const Stroke& stroke) {
    c.main().controls().menu.mPencil->trigger();
    c.pickPalette(stroke.cell);
    c.setWidth(stroke.width);
    c.stroke(stroke.points);
    return c.main().foreColor();
}

// Ctrl+<key> as a person presses it, on the canvas of the active window.
bool pressCtrl(ClientDriver& c, Qt::Key key) {
    Form1& window = c.main();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        return false;
    QTest::keyClick(window.controls().pCanvas, key, Qt::ControlModifier);
    return true;
}

bool offers(ClientDriver& c, bool undo, bool redo) {
    const MainMenu& menu = c.main().controls().menu;
    return menu.mUndo->isEnabled() == undo && menu.mRedo->isEnabled() == redo;
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void ownStrokeTakenBackUnderAnotherMembersStroke();
    void clearAllTakenBackWithItsNotices();

private:
    bool connectAndSync(ClientDriver& c, const QString& name);

    QTemporaryDir m_dir;
    QProcess m_server;
    ConnectionControl::Ports m_ports;
};

void TestUndo::init() {
    const QString program = qEnvironmentVariable("SKETORA_BIN_DIR") + "/sketoraServer";
    QVERIFY2(QFile::exists(program), qPrintable("not built: " + program));
    m_server.setWorkingDirectory(m_dir.path());
    const std::optional<freeports::Ports> ports = freeports::start(m_server, program);
    QVERIFY2(ports, "the server did not start");
    m_ports = {ports->drawing, ports->text};
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestUndo::cleanup() {
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished();
}

// Connects with the chat name `name`, waits for the shared picture and for
// the server's word on undo, and makes the drift check quick.
bool TestUndo::connectAndSync(ClientDriver& c, const QString& name) {
    c.client->settings().confMyName = name;
    BoardSync::Timing timing;
    timing.quietMs = 300;
    timing.pollMs = 50;
    c.client->boardSync().setTiming(timing);
    c.connectAtStartUp();
    return QTest::qWaitFor([&] { return c.connected() && c.client->undo().offered(); }, 20000);
}

void TestUndo::ownStrokeTakenBackUnderAnotherMembersStroke() {
    // A described member on index 0: what it sends is relayed as "0:...".
    QTcpSocket described;
    described.connectToHost(QHostAddress::LocalHost, m_ports.drawing);
    QVERIFY(described.waitForConnected(10000));
    QTRY_VERIFY(described.bytesAvailable() > 0); // greeted: it holds index 0

    ClientDriver a(m_ports), b(m_ports);
    QVERIFY(connectAndSync(a, QStringLiteral("あき")));
    QVERIFY(connectAndSync(b, QStringLiteral("ベン")));
    QVERIFY(offers(a, false, false));

    // Lines whose command only rounds to 7 are no replies: the menu stays
    // off, no notice, no patch; the colour line after them is the barrier.
    QSignalSpy notices(&a.client->undo(), &UndoControl::notice);
    QSignalSpy patches(&a.client->undo(), &UndoControl::patchApplied);
    described.write("7.4:can 9 9\r\n7.4:cleared 0 1 -\r\n7.4:patch 0 0 1 1 1 1 0\r\n"
                    "7.4:pdata AA==\r\n4: 12345\r\n");
    QTRY_COMPARE(a.client->drawing().receiver().penColor(0), 12345);
    QVERIFY(offers(a, false, false));
    QCOMPARE(notices.count() + patches.count(), 0);

    const Stroke own{{{100, 300}, {500, 320}, {520, 600}}, 0, 3};
    const Stroke later{{{300, 100}, {310, 700}}, 2, 2};
    draw(a, own);
    QTRY_VERIFY(offers(a, true, false));
    const qint32 laterColour = draw(b, later);
    QTRY_VERIFY(offers(b, true, false));
    QTRY_VERIFY(b.picture() == a.picture());
    const QImage drawn = a.picture();
    Board without;
    paint(without, later, laterColour);
    QVERIFY(drawn != without.image());

    QSignalSpy comparedA(&a.client->boardSync(), &BoardSync::checksumCompared);
    QSignalSpy comparedB(&b.client->boardSync(), &BoardSync::checksumCompared);
    QSignalSpy snapshotsA(&a.client->boardSync(), &BoardSync::snapshotApplied);
    QSignalSpy snapshotsB(&b.client->boardSync(), &BoardSync::snapshotApplied);
    QVERIFY(pressCtrl(a, Qt::Key_Z));
    QTRY_VERIFY(a.picture() == without.image() && b.picture() == without.image());
    QTRY_VERIFY(offers(a, false, true));
    QVERIFY(offers(b, true, false)); // B's own stroke is B's alone
    // The drift check runs once the canvases are quiet, and agrees.
    QTRY_VERIFY_WITH_TIMEOUT(!comparedA.isEmpty() && !comparedB.isEmpty(), 20000);
    for (const QSignalSpy* spy : {&comparedA, &comparedB})
        for (const QList<QVariant>& result : *spy)
            QVERIFY(result.first().toBool());
    QCOMPARE(snapshotsA.count() + snapshotsB.count(), 0);

    // A newcomer gets the server's board: the same picture.
    ClientDriver c(m_ports);
    QVERIFY(connectAndSync(c, QStringLiteral("シー")));
    QCOMPARE(c.picture(), without.image());

    QVERIFY(pressCtrl(a, Qt::Key_Y));
    QTRY_VERIFY(a.picture() == drawn && b.picture() == drawn && c.picture() == drawn);
    QTRY_VERIFY(offers(a, true, false));
}

void TestUndo::clearAllTakenBackWithItsNotices() {
    ClientDriver a(m_ports), b(m_ports);
    QVERIFY(connectAndSync(a, QStringLiteral("あき")));
    QVERIFY(connectAndSync(b, QStringLiteral("ベン")));
    Form4* chat = b.client->chat().showChatWindow();
    QVERIFY(chat);
    const auto conversation = [chat] { return chat->conversation()->toPlainText(); };

    draw(a, {{{50, 50}, {900, 800}}, 0, 3});
    QTRY_VERIFY(b.picture() == a.picture());
    const QImage beforeClear = a.picture();
    a.main().controls().menu.mClear->trigger();
    const QString question = a.prompts.shown.last().text;
    QVERIFY2(question.contains("全員") && question.contains("元に戻す"), qPrintable(question));
    QTRY_VERIFY(conversation().contains("あき さんが全員のキャンバスを消去しました"));
    // Above the canvas as well, also for whoever has no chat window open.
    const NoticeBar& bar = *a.main().controls().notices;
    QTRY_VERIFY(bar.text(NoticeKind::ClearAll).contains("元に戻す"));
    QTRY_VERIFY(isWhite(b.picture()));
    QTRY_VERIFY(offers(a, true, false));

    // Drawn after the clear: stays on top of the picture that returns.
    const Stroke after{{{700, 100}, {720, 1000}}, 2, 1};
    const qint32 colour = draw(b, after);
    QTRY_VERIFY(a.picture() == b.picture());
    Board expected;
    expected.paste(beforeClear, {0, 0});
    paint(expected, after, colour);

    QVERIFY(pressCtrl(a, Qt::Key_Z));
    QTRY_VERIFY(a.picture() == expected.image() && b.picture() == expected.image());
    QTRY_VERIFY(conversation().contains("あき さんが全消しを取り消しました"));
    QTRY_COMPARE(bar.text(NoticeKind::ClearAll),
                 QStringLiteral("あき さんが全消しを取り消しました"));
    // A's chat window was closed: a notice opens none.
    QVERIFY(!a.client->chat().chatWindow());
}

QTEST_MAIN(TestUndo)
#include "tst_undo.moc"
