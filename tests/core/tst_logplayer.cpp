// Log playback through the real player in a whole client: reading in blocks,
// progress panel, speeds and yields, the pixels compared with the same lines
// received over the network, and a window that goes away while it plays.
#include "canvaswidget.h"
#include "drawingchannel.h"
#include "drawreceiver.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form2.h"
#include "loggen.h"
#include "logplayer.h"
#include "loopbackpeer.h"
#include "modalwatch.h"
#include "picturebox.h"
#include "qtprompts.h"
#include "showncanvas.h"
#include "sketoraclient.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using client::Form1;

namespace {

struct Client {
    FakePrompts prompts;
    std::unique_ptr<SketoraClient> client;

    explicit Client(SketoraClient::Options options = {}) {
        options.prompts = &prompts;
        client = std::make_unique<SketoraClient>(options);
        client->start();
        client->startupDialog().Command2()->click(); // stand-alone, main window shown
    }
    Form1& main() { return client->form1(); }
    LogPlayer& player() { return client->player(); }
};

bool isWhite(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF)
                return false;
    return true;
}

} // namespace

class TestLogPlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void readsInBlocksAndDrawsLikeTheNetwork();
    void emptyLinesCountButAreNotApplied();
    void drawsOverThePictureUnlessTheLogClears();
    void yieldsEveryPlayWaitLines();
    void canvasShowsEachBatchDuringItsYield();
    void closingTheWindowStopsThePlayback();
    void destroyingTheWindowStopsThePlayback();
    void secondPlaybackRunsToItsEndFirst();
    void logsLongerThan201000Lines();
    void menuEntryAsksForTheFile();
    void realDialogPlaysAnExistingLogWithoutAsking();

private:
    QString writeLog(const QString& name, const QByteArray& content);
    QTemporaryDir m_dir;
};

void TestLogPlayer::initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

QString TestLogPlayer::writeLog(const QString& name, const QByteArray& content) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

void TestLogPlayer::readsInBlocksAndDrawsLikeTheNetwork() {
    const QByteArray log = generatedLog(2500, 7);
    const QString path = writeLog("mixed.skl", log);

    Client player;
    Form1& main = player.main();
    struct Seen {
        qint64 lines;
        QString count, label;
        bool countShown, barShown;
    };
    QList<Seen> seen;
    connect(&player.player(), &LogPlayer::readProgress, this, [&](qint64 lines) {
        seen.append({lines, main.controls().lCnt->text(), main.controls().logLabel->text(),
                     main.controls().lCnt->isVisible(), main.controls().pBar->isVisible()});
    });
    QVERIFY(player.player().logPlay(path));
    QCOMPARE(seen.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(seen[i].lines, 1000 * (i + 1));
        QCOMPARE(seen[i].count, QString::number(1000 * (i + 1)));
        QCOMPARE(seen[i].label, QStringLiteral("読み込み中"));
        QVERIFY(seen[i].countShown);
        QVERIFY(!seen[i].barShown);
    }
    QCOMPARE(main.controls().lCnt->text(), QStringLiteral("2500"));
    QCOMPARE(main.controls().logLabel->text(), QStringLiteral("描画中"));
    QCOMPARE(main.controls().pBar->maximum(), 2500);
    QCOMPARE(main.controls().pBar->value(), 2500);
    QVERIFY(main.controls().Frame4->isHidden());
    QVERIFY(!isWhite(main.controls().pPreview->image())); // refreshed once at the end

    // The same lines over the network, cut into arbitrary arrivals.
    LoopbackPeer peer;
    QVERIFY(peer.listen());
    Client receiver(SketoraClient::Options{nullptr, {peer.drawingPort(), peer.textPort()}});
    receiver.main().show();
    receiver.client->connection().replaceConnections(QStringLiteral("127.0.0.1"));
    QTRY_COMPARE(peer.drawing.open(), 1);
    for (qsizetype at = 0; at < log.size(); at += 777) {
        peer.drawing.latest()->write(log.mid(at, 777));
        peer.drawing.latest()->flush();
    }
    QTRY_COMPARE(receiver.main().canvas().image(), main.canvas().image());
    const DrawReceiver& heard = receiver.client->drawing().receiver();
    const DrawReceiver& played = player.client->drawing().receiver();
    for (int i = 0; i < DrawReceiver::Slots; ++i) {
        QCOMPARE(heard.penColor(i), played.penColor(i));
        QCOMPARE(heard.penSize(i), played.penSize(i));
        QCOMPARE(heard.penX(i), played.penX(i));
    }
    QVERIFY(!isWhite(main.canvas().image()));

    // A second playback reads and counts again.
    seen.clear();
    QVERIFY(player.player().logPlay(path));
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen[0].label, QStringLiteral("読み込み中"));
    QCOMPARE(seen[0].count, QStringLiteral("1000"));
}

void TestLogPlayer::emptyLinesCountButAreNotApplied() {
    Client crlf, lf;
    const QString a = writeLog("gaps.skl", "\r\n3:4: 255\r\n\r\n3:1: 1, 1\r\n\r\n3:2: 9, 1\r\n");
    const QString b = writeLog("gaps-lf.skl", "\n3:4: 255\n\n3:1: 1, 1\n\n3:2: 9, 1");
    QVERIFY(crlf.player().logPlay(a));
    QCOMPARE(crlf.main().controls().pBar->maximum(), 6);
    QCOMPARE(crlf.main().controls().pBar->value(), 3);
    QCOMPARE(crlf.main().canvas().pixelValue(5, 1), 255);
    QVERIFY(lf.player().logPlay(b));
    QCOMPARE(lf.main().controls().pBar->maximum(), 6);
    QCOMPARE(lf.main().canvas().image(), crlf.main().canvas().image());

    // Line ends may change within a block: "\r\n", "\n" and a lone "\r".
    Client mixed;
    QByteArray log;
    for (int x = 0; x < 1500; ++x)
        log += "1:1: " + QByteArray::number(x) + ", 3" +
               (x % 7 == 3   ? "\n"
                : x % 7 == 5 ? "\r"
                             : "\r\n");
    log += "1:2: 1500, 3\r\n\r";
    QVERIFY(mixed.player().logPlay(writeLog("mixed-ends.skl", log)));
    QCOMPARE(mixed.main().controls().pBar->maximum(), 1502);
    QCOMPARE(mixed.main().controls().pBar->value(), 1501);
    QCOMPARE(mixed.client->drawing().receiver().penX(1), 1500);
    QCOMPARE(mixed.main().canvas().pixelValue(1499, 3), 0);
    QCOMPARE(mixed.main().canvas().pixelValue(1498, 3), Canvas::Background);
}

void TestLogPlayer::drawsOverThePictureUnlessTheLogClears() {
    Client client;
    Canvas& canvas = client.main().canvas();
    canvas.lineWrite(500, 500, 600, 500, 1, 65280);
    QVERIFY(client.player().logPlay(writeLog("over.skl", "1:1: 10, 10\r\n1:2: 20, 10\r\n")));
    QCOMPARE(canvas.pixelValue(550, 500), 65280);
    QCOMPARE(canvas.pixelValue(15, 10), 0);

    QVERIFY(client.player().logPlay(
        writeLog("clears.skl", "1:3: 0, 0\r\n1:1: 10, 30\r\n1:2: 20, 30\r\n")));
    QCOMPARE(canvas.pixelValue(550, 500), Canvas::Background);
    QCOMPARE(canvas.pixelValue(15, 10), Canvas::Background);
    QCOMPARE(canvas.pixelValue(15, 30), 0);
}

void TestLogPlayer::yieldsEveryPlayWaitLines() {
    Client client;
    Form1& main = client.main();
    const QString path = writeLog("yields.skl", generatedLog(2050, 3));
    QVERIFY(main.controls().menu.mLSHigh->isChecked());

    struct Case {
        QAction* entry;
        int wait;
    };
    for (const Case& c :
         {Case{main.controls().menu.mLSslow, 5}, Case{main.controls().menu.mLSNoWait, 1000},
          Case{main.controls().menu.mLSHigh, 100}}) {
        c.entry->trigger();
        QVERIFY(c.entry->isChecked());
        QCOMPARE(int(main.controls().menu.mLSNoWait->isChecked()) +
                     int(main.controls().menu.mLSHigh->isChecked()) +
                     int(main.controls().menu.mLSslow->isChecked()),
                 1);
        QCOMPARE(client.player().playWait(), c.wait);

        QList<qint64> yields;
        auto connection = connect(&client.player(), &LogPlayer::yielded, this,
                                  [&](qint64 lines) { yields.append(lines); });
        QVERIFY(client.player().logPlay(path));
        disconnect(connection);
        QCOMPARE(yields.size(), 2050 / c.wait);
        for (int i = 0; i < yields.size(); ++i)
            QCOMPARE(yields[i], qint64(c.wait) * (i + 1));
    }
}

void TestLogPlayer::canvasShowsEachBatchDuringItsYield() {
    Client client;
    Form1& main = client.main();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    main.controls().menu.mLSHigh->trigger(); // a yield every 100 lines
    QByteArray log = "1:5: 1\r\n1:1: 30, 30\r\n";
    for (int i = 0; i < 398; ++i)
        log += "1:2: " + QByteArray::number(30 + i * 7 % 150) + ", " +
               QByteArray::number(30 + i / 3) + "\r\n";

    // When the player yields, the screen still shows the picture as the
    // previous yield left it; the yield itself repaints the new lines.
    QList<QImage> atYields;
    QList<bool> shownAsBefore;
    QRect area;
    connect(&client.player(), &LogPlayer::yielded, this, [&] {
        const QImage shown = shownCanvas(*main.controls().pCanvas, area);
        if (!atYields.isEmpty())
            shownAsBefore.append(shown == atYields.last());
        atYields.append(main.canvas().image().copy(area));
    });
    QVERIFY(client.player().logPlay(writeLog("batches.skl", log)));
    QCOMPARE(atYields.size(), 4);
    QCOMPARE(shownAsBefore, QList<bool>(3, true));
    for (int i = 1; i < atYields.size(); ++i)
        QVERIFY(atYields[i] != atYields[i - 1]); // every batch drew something in view
    QCoreApplication::processEvents();
    QCOMPARE(shownCanvas(*main.controls().pCanvas, area), main.canvas().image().copy(area));
}

void TestLogPlayer::closingTheWindowStopsThePlayback() {
    Client client;
    client.main().controls().menu.mLSslow->trigger();
    QByteArray log;
    for (int x = 0; x < 200; ++x)
        log += "1:1: " + QByteArray::number(x) + ", 0\r\n";
    log.replace("1:1: 3, 0", "1:2: 3, 0"); // line 4 draws a segment
    log += "1:2: 5, 9\r\n";

    client.prompts.questionAnswers = {true}; // "終了しますか？" -> OK
    connect(&client.player(), &LogPlayer::yielded, &client.main(), [&] { client.main().close(); });
    QVERIFY(!client.player().logPlay(writeLog("closing.skl", log)));
    QCOMPARE(client.prompts.count("question"), 1);
    QVERIFY(!client.main().isVisible());
    QCOMPARE(client.client->drawing().receiver().penX(1), 4); // stopped after the first five lines
    QCOMPARE(client.main().canvas().pixelValue(3, 0), 0);
    QCOMPARE(client.main().canvas().pixelValue(5, 9), Canvas::Background);
}

void TestLogPlayer::destroyingTheWindowStopsThePlayback() {
    FakePrompts prompts;
    auto* main = new Form1(prompts);
    main->load();
    main->show();
    DrawReceiver receiver(main->canvas(), [main] { main->refreshPreview(); });
    LogPlayer player({*main, main->playbackSpeedItems(), receiver}, prompts);
    main->controls().menu.mLSslow->trigger();

    int yields = 0;
    connect(&player, &LogPlayer::yielded, this, [&] {
        if (++yields == 2)
            QTimer::singleShot(0, [main] { delete main; });
    });
    QVERIFY(!player.logPlay(writeLog("destroyed.skl", generatedLog(500, 11))));
    QCOMPARE(yields, 2);
    QVERIFY(!player.isPlaying());
}

void TestLogPlayer::secondPlaybackRunsToItsEndFirst() {
    Client client;
    client.main().controls().menu.mLSslow->trigger();
    const QString first =
        writeLog("first.skl", "2:4: 255\r\n2:1: 1, 1\r\n2:2: 9, 1\r\n2:4: 65280\r\n"
                              "2:5: 1\r\n2:0:0\r\n2:2: 100, 50\r\n");
    const QString second = writeLog("second.skl", "2:4: 16711680\r\n2:1: 100, 100\r\n2:0:0\r\n");
    QList<QString> order;
    bool started = false;
    connect(&client.player(), &LogPlayer::yielded, this, [&] {
        if (started)
            return;
        started = true;
        QTimer::singleShot(0, [&] {
            QVERIFY(client.player().logPlay(second));
            order.append("second");
        });
    });
    QVERIFY(client.player().logPlay(first));
    order.append("first");
    QCOMPARE(order, (QList<QString>{"second", "first"}));
    // The first log continued with the pen the second one left behind.
    QCOMPARE(client.main().canvas().pixelValue(100, 75), 16711680);
    QVERIFY(client.main().controls().Frame4->isHidden());
}

void TestLogPlayer::logsLongerThan201000Lines() {
    Client client;
    client.main().controls().menu.mLSNoWait->trigger();
    QByteArray log;
    log.reserve(205'000 * 7);
    for (int i = 0; i < 205'000; ++i)
        log += "1:7:x\r\n";
    log += "1:1: 40, 40\r\n1:2: 44, 40\r\n";
    QVERIFY(client.player().logPlay(writeLog("long.skl", log)));
    QCOMPARE(client.main().controls().pBar->maximum(), 205'002);
    QCOMPARE(client.main().canvas().pixelValue(42, 40), 0);
}

void TestLogPlayer::menuEntryAsksForTheFile() {
    Client client;
    Form1& main = client.main();
    client.prompts.fileAnswers = {std::nullopt, m_dir.filePath("missing.skl"),
                                  writeLog("menu.skl", "4:1: 7, 7\r\n4:2: 8, 7\r\n")};
    main.controls().menu.mLogPlay->trigger(); // cancelled
    QCOMPARE(client.prompts.count("save"), 1);
    QCOMPARE(client.prompts.shown[0].text,
             QStringLiteral("Sketoraログファイル(*.skl);;全てのファイル(*.*)"));
    main.controls().menu.mLogPlay->trigger(); // a file that cannot be read: silent, panel hidden
    QVERIFY(main.controls().Frame4->isHidden());
    QCOMPARE(client.prompts.count("message"), 0);
    main.controls().menu.mLogPlay->trigger();
    QCOMPARE(main.canvas().pixelValue(8, 7), 0);
    QCOMPARE(client.prompts.count("save"), 3);
    QCOMPARE(client.prompts.count("message"), 0);
}

// Through the real Qt file dialog: picking an existing log, the normal case,
// plays it at once (a save dialog would ask whether to replace it), and
// "全てのファイル(*.*)" keeps its caption but also lists names without a dot.
void TestLogPlayer::realDialogPlaysAnExistingLogWithoutAsking() {
    QtPrompts real;
    SketoraClient::Options options;
    options.prompts = &real;
    SketoraClient client(options);
    client.start();
    client.startupDialog().Command2()->click();
    const QString log = writeLog("existing.skl", "4:1: 9, 9\r\n4:2: 10, 9\r\n");
    QVERIFY(!writeLog("nodot", "4:1: 30, 30\r\n").isEmpty());

    ModalWatch<QMessageBox> replaceQuestion([](QMessageBox* box) { box->reject(); });
    QStringList captions, listedByAll;
    ModalWatch<QFileDialog> dialog([&](QFileDialog* shown) {
        auto* types = shown->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        for (int i = 0; types && i < types->count(); ++i)
            captions << types->itemText(i);
        shown->selectNameFilter(shown->nameFilters().constLast());
        // The folder is listed in the background.
        auto* list = shown->findChild<QListView*>(QStringLiteral("listView"));
        (void)QTest::qWaitFor([&] { return list && listedNames(list).contains("nodot"); }, 5000);
        if (list)
            listedByAll = listedNames(list);
        // The user picks the existing log by its name.
        if (auto* name = shown->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(QFileInfo(log).fileName());
        static_cast<QDialog*>(shown)->accept(); // as the Save button does
        if (shown->isVisible())                 // still open after the question: give up
            shown->reject();
    });
    client.form1().controls().menu.mLogPlay->trigger();

    QCOMPARE(dialog.seen(), 1);
    QCOMPARE(replaceQuestion.seen(), 0);
    QCOMPARE(client.form1().canvas().pixelValue(10, 9), 0);
    QCOMPARE(captions, (QStringList{QStringLiteral("Sketoraログファイル(*.skl)"),
                                    QStringLiteral("全てのファイル(*.*)")}));
    QVERIFY(listedByAll.contains(QStringLiteral("existing.skl")));
    QVERIFY(listedByAll.contains(QStringLiteral("nodot")));
}

QTEST_MAIN(TestLogPlayer)
#include "tst_logplayer.moc"
