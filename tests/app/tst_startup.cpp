// The start-up and shutdown sequences of one whole client: the settings file
// read after the pen is chosen, the platform deciding the transparency menu,
// and the close question followed by socket, settings and chat window in
// that order.
#include "chatcontroller.h"
#include "cp932.h"
#include "drawingchannel.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form2.h"
#include "form4.h"
#include "palettecontroller.h"
#include "sketoraclient.h"
#include "socketendpoint.h"
#include "toolcontroller.h"

#include <QAction>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using client::Form1;

namespace {

// Fake prompts that also note, when the chat window asks whether to close,
// what the client had done by then.
struct ShutdownPrompts : FakePrompts {
    std::function<void()> onChatQuestion;
    bool question(QWidget* parent, const QString& text, const QString& title) override {
        if (text == QStringLiteral("会話ウィンドウを消しますか？") && onChatQuestion)
            onChatQuestion();
        return FakePrompts::question(parent, text, title);
    }
};

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void settingsLoadedAfterThePenIsChosen();
    void transparencyMenuFollowsPlatform();
    void closeAsksAndShutsDownInOrder();
};

// A settings file whose cell 7 is not black must not change the start colour.
void TestStartup::settingsLoadedAfterThePenIsChosen() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("reduza.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("pPalette7 =255\r\npPalette0 =65535\r\ncMyName=hana\r\n");
    file.close();

    FakePrompts prompts;
    SketoraClient client({&prompts, {}, dir.path(), [] { return 0; }});
    client.start();
    Form1& form = client.form1();
    QCOMPARE(form.controls().tools.tool(), int(ToolController::HandScroll));
    QCOMPARE(form.paletteColor(7), 255);
    QCOMPARE(form.paletteColor(0), 65535);
    QCOMPARE(form.foreColor(), 0);
    QCOMPARE(client.settings().confMyName, QStringLiteral("hana"));
    QVERIFY(client.connection().addr().isEmpty());
    QCOMPARE(client.drawing().socket().state(), 0);
    QCOMPARE(client.textSocket().state(), 0);

    form.load(); // a second load changes nothing
    QCOMPARE(form.paletteColor(7), 255);
    QCOMPARE(form.paletteColor(0), 65535);
    QVERIFY(!form.setPaletteColor(8, 0));
    QVERIFY(!form.setPaletteColor(0, -1));
    QCOMPARE(form.paletteColor(0), 65535);
    prompts.questionAnswers = {false};
}

void TestStartup::transparencyMenuFollowsPlatform() {
    for (int ver : {0, 1, 2, 3}) {
        QTemporaryDir dir;
        FakePrompts prompts;
        int asked = 0;
        SketoraClient client({&prompts, {}, dir.path(), [&] {
                                  ++asked;
                                  return ver;
                              }});
        client.start();
        QCOMPARE(asked, 1);
        QCOMPARE(client.form1().controls().menu.mTranse->isEnabled(), ver == 2);
        prompts.questionAnswers = {false};
    }
}

void TestStartup::closeAsksAndShutsDownInOrder() {
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("reduza.ini"));
    ShutdownPrompts prompts;
    SketoraClient client({&prompts, {}, dir.path(), [] { return 0; }});
    client.start();
    client.startupDialog().reject();
    Form1& w = client.form1();
    QVERIFY(w.isVisible());
    client.drawing().socket().setLocalPort(0);
    QVERIFY(client.drawing().socket().listen(QHostAddress::LocalHost)); // any open state will do
    client.settings().confMyName = QStringLiteral("閉じる前");
    QVERIFY(client.chat().showChatWindow());

    // Cancel: nothing changes, not even the settings file.
    const QByteArray fileBefore = readFile(settingsPath);
    prompts.questionAnswers = {false};
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(prompts.shown.last().text, QStringLiteral("終了しますか？"));
    QCOMPARE(prompts.shown.last().title, QStringLiteral("終了確認"));
    QCOMPARE(client.drawing().socket().state(), 2);
    QCOMPARE(readFile(settingsPath), fileBefore);
    QVERIFY(client.chat().chatWindow());

    // OK: the drawing socket is closed and the settings written before the
    // chat window asks its own question.
    int wsStateAtChatQuestion = -1;
    QByteArray fileAtChatQuestion;
    prompts.onChatQuestion = [&] {
        wsStateAtChatQuestion = client.drawing().socket().state();
        fileAtChatQuestion = readFile(settingsPath);
    };
    prompts.questionAnswers = {true, true};
    w.controls().menu.mEnd->trigger();
    QVERIFY(!w.isVisible());
    QCOMPARE(wsStateAtChatQuestion, 0);
    QVERIFY(
        fileAtChatQuestion.contains("cMyName=" + protocol::toCp932(QStringLiteral("閉じる前"))));
    QVERIFY(!client.chat().chatWindow());
    QCOMPARE(prompts.count("question"), 3);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
