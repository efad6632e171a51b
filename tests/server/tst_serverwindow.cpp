// The server window offscreen: what it shows of connections and the log,
// its buttons and menu, its message boxes and the exit question.

#include "fakeserverprompts.h"
#include "form1.h"
#include "joinpanel.h"
#include "qrdecode.h"
#include "serverfixture.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>

using server::Form1;

namespace {

struct Window {
    QTemporaryDir dir;
    FixedClock clock;
    FakeServerPrompts prompts;
    RelayServer server;
    std::unique_ptr<Form1> form;

    // Without a journal: a test removes the folder, which the journal's
    // background writes there would race.
    explicit Window(quint16 drawingPort = 0)
        : server(drawingPort, 0, dir.path(), &clock, RelayServer::Journal::Off) {
        server.setListenAddress(QHostAddress::LocalHost);
        form = std::make_unique<Form1>(server, prompts);
        form->show();
    }
    std::unique_ptr<TestPeer> connectDrawing() {
        auto peer = std::make_unique<TestPeer>(server.drawingPort(), "\r\n");
        if (!peer->waitConnected() || peer->next(41).size() != 41)
            return nullptr;
        return peer;
    }
};

} // namespace

class TestServerWindow : public QObject {
    Q_OBJECT
private slots:
    void loadShowsAddressAndStarts();
    void connectionsAppearInListAndLog();
    void allDisconnectThenStartBeginsAgain();
    void logSaveFailureAndAutoSaveNotice();
    void joinAddressesShowWithCodesThatScan();
    void exitAsksFirst();
    void busyPortIsReportedAndStartStaysEnabled();
    void listAndLogFollowTheWidth();
};

void TestServerWindow::loadShowsAddressAndStarts() {
    Window w;
    static const QRegularExpression title(
        QStringLiteral("^Sketora - サーバ/\\d+\\.\\d+\\.\\d+\\.\\d+$"));
    QVERIFY2(title.match(w.form->windowTitle()).hasMatch(), qPrintable(w.form->windowTitle()));
    QVERIFY(w.server.isRunning());
    QVERIFY(!w.form->command1()->isEnabled());
    QCOMPARE(w.form->command2()->text(), QStringLiteral("All Disconnect"));
    QCOMPARE(w.form->command3()->text(), QStringLiteral("Log Save"));
    QTreeWidgetItem* header = w.form->listView1()->headerItem();
    QCOMPARE(header->text(0), QStringLiteral("IPアドレス"));
    QCOMPARE(header->text(1), QStringLiteral("ポート"));
    QCOMPARE(w.form->menuBar()->actions().first()->text(), QStringLiteral("メニュー(&M)"));
    QCOMPARE(w.form->mAutoSave()->text(), QStringLiteral("自動ログ保存をする(&S)"));
    QVERIFY(w.form->mAutoSave()->isCheckable() && !w.form->mAutoSave()->isChecked());
    QCOMPARE(w.form->mEnd()->text(), QStringLiteral("終了(&X)"));
    QVERIFY(w.prompts.shown.isEmpty());
}

void TestServerWindow::connectionsAppearInListAndLog() {
    Window w;
    auto a = w.connectDrawing();
    auto b = w.connectDrawing();
    QVERIFY(a && b);
    QTreeWidget* list = w.form->listView1();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("127.0.0.1"));
    QCOMPARE(list->topLevelItem(1)->text(1), QString::number(b->localPort()));
    const QString started = QStringLiteral("Connection Start > 127.0.0.1:%1").arg(b->localPort());
    QVERIFY(w.form->tLog()->toPlainText().endsWith(started + "\n"));
    QVERIFY(w.form->tLog()->textCursor().atEnd());

    const quint16 aPort = a->localPort();
    a.reset();
    QTRY_COMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(1), QString::number(b->localPort()));
    QVERIFY(w.form->tLog()->toPlainText().endsWith(
        QStringLiteral("Connection Close > 127.0.0.1:%1\n").arg(aPort)));
}

void TestServerWindow::allDisconnectThenStartBeginsAgain() {
    Window w;
    auto a = w.connectDrawing();
    auto b = w.connectDrawing();
    QVERIFY(a && b);
    QTest::mouseClick(w.form->command2(), Qt::LeftButton);
    QCOMPARE(w.form->listView1()->topLevelItemCount(), 0);
    QVERIFY(w.form->command1()->isEnabled());
    QVERIFY(a->waitClosedByPeer());
    QVERIFY(b->waitClosedByPeer());

    QTest::mouseClick(w.form->command1(), Qt::LeftButton);
    QVERIFY(!w.form->command1()->isEnabled());
    auto c = w.connectDrawing();
    QVERIFY(c);
    QCOMPARE(ServerFixture::indexOf(w.server.drawingEndpoints(), c->localPort()), 0);
}

void TestServerWindow::logSaveFailureAndAutoSaveNotice() {
    Window w;
    QTest::mouseClick(w.form->command3(), Qt::LeftButton);
    const QString saved = QDir(w.dir.path()).filePath(QStringLiteral("2004-05-01_13-45-10.skl"));
    QVERIFY(QFile::exists(saved));
    QVERIFY(w.prompts.shown.isEmpty());
    QVERIFY2(w.form->tLog()->toPlainText().endsWith(
                 QStringLiteral("Log Save > %1\n").arg(QDir::toNativeSeparators(saved))),
             qPrintable(w.form->tLog()->toPlainText()));

    QVERIFY(w.dir.remove());
    QTest::mouseClick(w.form->command3(), Qt::LeftButton);
    QCOMPARE(w.prompts.shown.size(), 1);
    // The message names the file and why it could not be written.
    const QString failure = w.prompts.shown.last().text;
    QVERIFY2(failure.startsWith(QStringLiteral("ログを保存できません\n")) &&
                 failure.contains(QStringLiteral("2004-05-01_13-45-10.skl: ")),
             qPrintable(failure));
    QCOMPARE(w.prompts.shown.last().title, QStringLiteral("保存エラー"));

    w.form->mAutoSave()->trigger();
    QVERIFY(w.server.autoSave());
    QCOMPARE(w.prompts.shown.size(), 2);
    QCOMPARE(w.prompts.shown.last().title, QStringLiteral("自動ログ保存について"));
    QCOMPARE(w.prompts.shown.last().text,
             QStringLiteral(
                 "自動ログ保存にチェックを入れると、「全消しした場合」「ログ数が一定を越えた場合」"
                 "の条件の時に自動的にログを保存します"));
    w.form->mAutoSave()->trigger();
    QVERIFY(!w.server.autoSave());
    QCOMPARE(w.prompts.shown.size(), 2);
}

// Each address with a QR code that a reader takes to exactly that address;
// the list, the log and the buttons keep their places above.
void TestServerWindow::joinAddressesShowWithCodesThatScan() {
    Window w;
    const QRect log = w.form->tLog()->geometry();
    QVERIFY(w.form->joinPanel()->isHidden());
    const QStringList pages{QStringLiteral("http://192.168.100.200:13469/"),
                            QStringLiteral("http://10.0.0.7:80/")};
    w.form->showJoinAddresses(pages);
    QVERIFY(!w.form->joinPanel()->isHidden());
    for (int i = 0; i < pages.size(); ++i) {
        const QLabel* code = w.form->joinPanel()->codeLabel(i);
        QVERIFY(code);
        QCOMPARE(decodeQrCodes(code->pixmap().toImage()), QStringList{pages[i]});
    }
    QStringList shown;
    for (const QLabel* label : w.form->joinPanel()->findChildren<QLabel*>())
        shown << label->text();
    for (const QString& page : pages)
        QVERIFY2(shown.join('\n').contains(page), qPrintable(page));
    QTRY_VERIFY(w.form->centralWidget()->height() >= w.form->joinPanel()->geometry().bottom());
    QVERIFY(w.form->joinPanel()->y() > w.form->command3()->geometry().bottom());
    QCOMPARE(w.form->tLog()->geometry(), log);
}

void TestServerWindow::exitAsksFirst() {
    Window w;
    auto a = w.connectDrawing();
    QVERIFY(a);
    w.prompts.answers = {false, true};
    w.form->mEnd()->trigger();
    QCOMPARE(w.prompts.shown.last().text, QStringLiteral("終了しますか？"));
    QCOMPARE(w.prompts.shown.last().title, QStringLiteral("終了確認"));
    QVERIFY(w.form->isVisible());
    a->send("8:member\r\n");
    QVERIFY(a->nextOne().startsWith("0:8:")); // still served

    w.form->mEnd()->trigger();
    QVERIFY(!w.form->isVisible());
    QVERIFY(a->waitClosedByPeer());
}

void TestServerWindow::busyPortIsReportedAndStartStaysEnabled() {
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::LocalHost));
    const quint16 port = squatter.serverPort();
    Window w(port);
    QVERIFY(!w.server.isRunning());
    QVERIFY(w.form->command1()->isEnabled());
    QCOMPARE(w.prompts.shown.size(), 1);
    QCOMPARE(w.prompts.shown.first().title, QStringLiteral("エラー"));
    QVERIFY(w.prompts.shown.first().text.contains(QString::number(port)));

    squatter.close();
    QTest::mouseClick(w.form->command1(), Qt::LeftButton);
    QVERIFY(!w.form->command1()->isEnabled());
    QVERIFY(w.connectDrawing());
}

void TestServerWindow::listAndLogFollowTheWidth() {
    Window w;
    w.form->resize(640, w.form->height());
    QTRY_COMPARE(w.form->listView1()->width(), w.form->centralWidget()->width());
    QCOMPARE(w.form->tLog()->width(), w.form->centralWidget()->width());
    QVERIFY(w.form->listView1()->width() > 500);
    QCOMPARE(w.form->listView1()->height(), 1335 / 15);
}

QTEST_MAIN(TestServerWindow)
#include "tst_serverwindow.moc"
