#include "chatcontroller.h"
#include "chatsettings.h"
#include "cp932.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form4.h"
#include "framesplitter.h"
#include "loopback.h"
#include "remarkcheck.h"
#include "remarklimit.h"
#include "sketoraclient.h"
#include "textmessage.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <memory>

using client::Form1;

namespace {

// The chat as the main window holds it, on a live text channel.
struct ChatClient {
    LoopbackChannel channel;
    ChatSettings settings;
    FakePrompts prompts;
    std::unique_ptr<ChatController> chat;

    explicit ChatClient(bool connect = true) {
        settings.confFontName = 0;
        settings.confFontSize = 10;
        settings.confFontColor = 255;
        settings.confFontBackColor = 16777215;
        settings.confMyName = QStringLiteral("太郎");
        if (connect)
            QVERIFY(channel.open());
        chat = std::make_unique<ChatController>(channel.client, settings, prompts);
    }

    // Everything the client has sent once `marker` (sent last, straight on the
    // endpoint) has arrived, marker removed: proves what was and was not sent.
    QByteArray sentUpToMarker() {
        static int serial = 0;
        const QByteArray marker = "#marker" + QByteArray::number(++serial) + "#";
        channel.client.sendBytes(marker);
        if (!QTest::qWaitFor([&] { return channel.sent.endsWith(marker); }))
            return "<marker lost>";
        QByteArray got = channel.sent;
        got.chop(marker.size());
        channel.sent.clear();
        return got;
    }
};

QByteArray cp932(const QString& text) {
    return protocol::toCp932(text);
}

} // namespace

class TestChatWindow : public QObject {
    Q_OBJECT
private slots:
    void openingAppliesSettingsAndAnnounces();
    void openingWhileDisconnectedSendsNothing();
    void enterAndButtonSendRemarks();
    void remarksStayWithinWhatReceiversAccept();
    void charactersTheChannelCannotCarryAreShownAndAskedFor();
    void sizeFaceAndListCommands();
    void colourCommands();
    void closingAsksAndSaysGoodbye();
    void arrivingRemarkReopensTheWindow();
    void resizingKeepsLayoutAndFloor();
    void saveConversationAsRtf();
    void mainWindowMenuOpensTheChat();
};

void TestChatWindow::openingAppliesSettingsAndAnnounces() {
    ChatClient c;
    c.settings.confFontName = 1;
    c.settings.confFontSize = 12;
    c.settings.confFontColor = 65280;
    c.settings.confFontBackColor = 0x00FFFF; // yellow
    Form4* window = c.chat->showChatWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QString("Talkora - Sketora会話ウィンドウ"));
    QCOMPARE(c.sentUpToMarker(), cp932("1<:>太郎%EOT%7<:>12%EOT%6<:>65280%EOT%8<:>1%EOT%"));
    QCOMPARE(window->text2()->font().family(), QString("ＭＳ 明朝"));
    QCOMPARE(window->text2()->font().pointSize(), 12);
    QCOMPARE(window->text2()->palette().color(QPalette::Text), QColor(0, 255, 0));
    QCOMPARE(window->text1()->palette().color(QPalette::Base), QColor(255, 255, 0));
    QCOMPARE(window->text2()->palette().color(QPalette::Base), QColor(255, 255, 0));
    // The ticks start at gothic and 10pt whatever the settings say.
    QVERIFY(window->mGothic()->isChecked() && !window->mMincho()->isChecked());
    QVERIFY(window->m10pt()->isChecked() && !window->m12pt()->isChecked());

    // Showing the open window again announces nothing and keeps it.
    QCOMPARE(c.chat->showChatWindow(), window);
    QCOMPARE(c.sentUpToMarker(), QByteArray());
}

void TestChatWindow::openingWhileDisconnectedSendsNothing() {
    ChatClient c(false);
    Form4* window = c.chat->showChatWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(c.channel.client.state(), int(net::SocketEndpoint::Closed));
    // The remark stays in the box for a later try; nothing is queued anywhere.
    window->text2()->setPlainText("kept");
    window->command1Click();
    QCOMPARE(window->text2()->toPlainText(), QString("kept"));
    QCOMPARE(c.channel.client.pendingOutput(), 0);
}

void TestChatWindow::enterAndButtonSendRemarks() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();
    QPlainTextEdit* input = window->text2();

    QTest::keyClicks(input, "hi<:>there ");
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(input->toPlainText(), QString());
    QCOMPARE(c.sentUpToMarker(), QByteArray("2<:>hi<:>there %EOT%"));

    // Ctrl+Enter breaks the line; the break travels as CR LF.
    input->insertPlainText("一行目");
    QTest::keyClick(input, Qt::Key_Return, Qt::ControlModifier);
    input->insertPlainText("二行目");
    QTest::keyClick(input, Qt::Key_Enter);
    QCOMPARE(c.sentUpToMarker(), cp932("2<:>一行目\r\n二行目%EOT%"));

    // An empty box sends nothing; the button sends like Enter.
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(c.sentUpToMarker(), QByteArray());
    input->setPlainText("button");
    QTest::mouseClick(window->command1(), Qt::LeftButton);
    QCOMPARE(c.sentUpToMarker(), QByteArray("2<:>button%EOT%"));
    // The remark itself is not written locally: only the relay's echo is shown.
    QVERIFY(window->text1()->document()->isEmpty());

    // Tab moves on to the send button and types nothing.
    QTest::keyClicks(input, "a");
    QTest::keyClick(input, Qt::Key_Tab);
    QCOMPARE(input->toPlainText(), QString("a"));
    QCOMPARE(QApplication::focusWidget(), window->command1());
}

// A pasted text too long for the receivers' reassembly is cut at the limit,
// on a character boundary, with a note in the box; typing more is refused.
// What is then sent comes back from the relay whole.
void TestChatWindow::remarksStayWithinWhatReceiversAccept() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();
    QPlainTextEdit* input = window->text2();
    auto wire = [](QString text) { return cp932(text.replace('\n', "\r\n")).size(); };

    // Two-byte characters after one single-byte one, line breaks as CR LF:
    // a cut by bytes would split a character.
    const QString pasted = "x" + QStringLiteral("あい\n").repeated(20000);
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
    const QString kept = input->toPlainText();
    QVERIFY(kept.size() > 1000);
    QVERIFY(pasted.startsWith(kept));
    QVERIFY(wire(kept) <= RemarkLimit::MaxBytes);
    QVERIFY(wire(pasted.left(kept.size() + 1)) > RemarkLimit::MaxBytes); // nothing cut early
    auto* limit = input->findChild<RemarkLimit*>();
    QVERIFY(limit && limit->limitReached());

    // Typing fills the last bytes, then is refused.
    QTest::keyClicks(input, "yyyyyyyyyy");
    QCOMPARE(input->toPlainText(), kept + QString(RemarkLimit::MaxBytes - wire(kept), 'y'));
    QTest::keyClick(input, Qt::Key_Backspace);
    QVERIFY(!limit->limitReached());
    QTest::keyClicks(input, "y");
    const QString remark = input->toPlainText();
    QVERIFY(remark.endsWith('y'));

    QTest::keyClick(input, Qt::Key_Return);
    const QByteArray sent = c.sentUpToMarker();
    QVERIFY(sent.startsWith("2<:>") && sent.endsWith("%EOT%"));
    // The relay sends it on with its index in front; a receiver reassembles
    // it from arrivals of any size.
    const QByteArray relayed = protocol::text::relayedMessage(19, QByteArrayView(sent).chopped(5));
    protocol::FrameSplitter receiver("%EOT%");
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < relayed.size(); at += 1400)
        pieces += receiver.feed(relayed.mid(at, 1400));
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces.first(), "19<:>2<:>" + cp932(QString(remark).replace('\n', "\r\n")));
}

// Emoji and Hangul would reach everybody as "?": marked in the box with a
// note while they are there, and the remark goes out only once the sender
// agrees, as the code page carries it.
void TestChatWindow::charactersTheChannelCannotCarryAreShownAndAskedFor() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();
    QPlainTextEdit* input = window->text2();
    auto* check = input->findChild<RemarkCheck*>();
    QVERIFY(check);

    input->insertPlainText(QStringLiteral("今日は😀と한 ～"));
    QVERIFY(check->noteShown());
    QStringList marked;
    for (const QTextEdit::ExtraSelection& mark : input->extraSelections())
        marked << mark.cursor.selectedText();
    QCOMPARE(marked, (QStringList{QStringLiteral("😀"), QStringLiteral("한")}));

    c.prompts.questionAnswers = {false, true};
    QTest::keyClick(input, Qt::Key_Return); // not yet
    QCOMPARE(c.prompts.shown.last().title, QStringLiteral("送信確認"));
    QVERIFY(c.prompts.shown.last().text.contains(QStringLiteral("😀 한")));
    QCOMPARE(c.sentUpToMarker(), QByteArray());
    QCOMPARE(input->toPlainText(), QStringLiteral("今日は😀と한 ～"));
    QTest::keyClick(input, Qt::Key_Return); // agreed
    QCOMPARE(c.sentUpToMarker(), cp932(QStringLiteral("2<:>今日は?と? ～%EOT%")));
    QVERIFY(!check->noteShown());

    // What the code page carries goes out without a question.
    const qsizetype asked = c.prompts.shown.size();
    input->insertPlainText(QStringLiteral("①髙～ｶ"));
    QVERIFY(!check->noteShown());
    QTest::keyClick(input, Qt::Key_Return);
    QCOMPARE(c.sentUpToMarker(), cp932(QStringLiteral("2<:>①髙～ｶ%EOT%")));
    QCOMPARE(c.prompts.shown.size(), asked);
}

void TestChatWindow::sizeFaceAndListCommands() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();

    window->m12pt()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray("7<:>12%EOT%"));
    QVERIFY(window->m12pt()->isChecked() && !window->m10pt()->isChecked());
    QCOMPARE(c.settings.confFontSize, qint16(12));
    QCOMPARE(window->text2()->font().pointSize(), 12);

    window->mMincho()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray("8<:>1%EOT%"));
    QVERIFY(window->mMincho()->isChecked() && !window->mGothic()->isChecked());
    QCOMPARE(c.settings.confFontName, qint16(1));
    QCOMPARE(window->text2()->font().family(), QString("ＭＳ 明朝"));
    QCOMPARE(window->text2()->font().pointSize(), 12);

    window->mGothic()->trigger();
    window->m9pt()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray("8<:>0%EOT%7<:>9%EOT%"));
    QCOMPARE(c.settings.confFontName, qint16(0));

    window->mMList()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray("4<:>member%EOT%"));
}

void TestChatWindow::colourCommands() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();

    c.prompts.colorAnswers.push_back(QColor(0, 0, 255));
    window->mFCol()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray("6<:>16711680%EOT%"));
    QCOMPARE(c.settings.confFontColor, 16711680);
    QCOMPARE(window->text2()->palette().color(QPalette::Text), QColor(0, 0, 255));

    window->mFCol()->trigger(); // cancelled
    QCOMPARE(c.sentUpToMarker(), QByteArray());
    QCOMPARE(c.settings.confFontColor, 16711680);

    // The background is the user's own: stored and shown, never sent.
    c.prompts.colorAnswers.push_back(QColor(10, 20, 30));
    window->mBackCol()->trigger();
    QCOMPARE(c.sentUpToMarker(), QByteArray());
    QCOMPARE(c.settings.confFontBackColor, 10 + 20 * 256 + 30 * 65536);
    QCOMPARE(window->text1()->palette().color(QPalette::Base), QColor(10, 20, 30));
    QCOMPARE(window->text2()->palette().color(QPalette::Base), QColor(10, 20, 30));
    QCOMPARE(c.prompts.count("color"), 3);
}

void TestChatWindow::closingAsksAndSaysGoodbye() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.sentUpToMarker();

    c.prompts.questionAnswers.push_back(false);
    QVERIFY(!c.chat->closeChatWindow());
    QVERIFY(window->isVisible());
    QCOMPARE(c.chat->chatWindow(), window);
    QCOMPARE(c.sentUpToMarker(), QByteArray());
    QCOMPARE(c.prompts.shown.last().text, QString("会話ウィンドウを消しますか？"));
    QCOMPARE(c.prompts.shown.last().title, QString("会話終了確認"));

    QPointer<Form4> gone = window;
    window->mEnd()->trigger(); // OK
    QCOMPARE(c.chat->chatWindow(), nullptr);
    QCOMPARE(c.sentUpToMarker(), QByteArray("0<:>END%EOT%"));
    QTRY_VERIFY(gone.isNull());
    QVERIFY(c.chat->closeChatWindow());
}

void TestChatWindow::arrivingRemarkReopensTheWindow() {
    ChatClient c;
    c.channel.peer.sendBytes(cp932("2<:>6<:>255%EOT%"));
    QTRY_COMPARE(c.chat->channel().memColor()[2], 255);
    QCOMPARE(c.chat->chatWindow(), nullptr); // attributes do not open it

    c.channel.peer.sendBytes(cp932("2<:>5<:>花子%EOT%2<:>2<:>やあ%EOT%"));
    QTRY_VERIFY(c.chat->chatWindow() != nullptr);
    Form4* window = c.chat->chatWindow();
    QTRY_COMPARE(window->text1()->toPlainText(), QString("花子 の発言 :\nやあ"));
    // The opening ran in full: the user was announced.
    QCOMPARE(c.sentUpToMarker(), cp932("1<:>太郎%EOT%7<:>10%EOT%6<:>255%EOT%8<:>0%EOT%"));
}

void TestChatWindow::resizingKeepsLayoutAndFloor() {
    ChatClient c(false);
    Form4* window = c.chat->showChatWindow();
    QCOMPARE(window->centralWidget()->size(),
             QSize(Form4::DesignClientWidth, Form4::DesignClientHeight));

    window->resize(400, 500);
    QTRY_COMPARE(window->centralWidget()->width(), 400);
    const QSize client = window->centralWidget()->size();
    QCOMPARE(window->text1()->geometry(), QRect(0, 0, client.width() - 1, client.height() - 56));
    QCOMPARE(window->text2()->geometry(), QRect(0, client.height() - 52, client.width() - 60, 49));
    QCOMPARE(window->command1()->geometry(),
             QRect(client.width() - 60, client.height() - 52, 57, 49));

    window->resize(120, 90);
    QTRY_VERIFY(window->frameGeometry().width() >= Form4::MinimumOuterSize &&
                window->frameGeometry().height() >= Form4::MinimumOuterSize);
}

void TestChatWindow::saveConversationAsRtf() {
    ChatClient c;
    Form4* window = c.chat->showChatWindow();
    c.channel.peer.sendBytes(cp932("0<:>5<:>花子%EOT%0<:>2<:>保存%EOT%"));
    QTRY_COMPARE(window->text1()->toPlainText(), QString("花子 の発言 :\n保存"));

    QTemporaryDir dir;
    const QString path = dir.filePath("talk.rtf");
    window->mSave()->trigger(); // cancelled: nothing written
    QVERIFY(!QFile::exists(path));
    QCOMPARE(c.prompts.shown.last().kind, QString("save"));
    QCOMPARE(c.prompts.shown.last().text,
             QString("リッチテキストファイル(*.rtf);;全てのファイル(*.*)"));

    c.prompts.fileAnswers.push_back(path);
    window->mSave()->trigger();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray rtf = file.readAll();
    QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg932"));
    QVERIFY(rtf.contains("\\u20445\\'95\\'db")); // 保 with its CP932 bytes

    // The next save dialog, also in a reopened window, offers the name last chosen.
    window->mSave()->trigger();
    QCOMPARE(c.prompts.lastInitialName, path);
    c.chat->closeChatWindow();
    c.chat->showChatWindow()->mSave()->trigger();
    QCOMPARE(c.prompts.lastInitialName, path);
}

void TestChatWindow::mainWindowMenuOpensTheChat() {
    QTemporaryDir dir;
    FakePrompts prompts;
    SketoraClient client({&prompts, {}, dir.path(), [] { return 0; }});
    client.start();
    Form1& main = client.form1();
    ChatController& chat = client.chat();
    client.settings() = ChatSettings{}; // as if no settings had been read
    client.settings().confMyName = "旧名";
    LoopbackChannel channel;
    QVERIFY(channel.openFor(client.textSocket()));
    main.controls().menu.mMember->trigger();
    QVERIFY(chat.chatWindow() && chat.chatWindow()->isVisible());
    // Size 0 (no settings read yet) leaves the input box usable at 9pt, and
    // that is the size announced.
    QCOMPARE(chat.chatWindow()->text2()->font().pointSize(), 9);
    QTRY_COMPARE(channel.sent, cp932("1<:>旧名%EOT%7<:>9%EOT%6<:>0%EOT%8<:>0%EOT%"));
    channel.sent.clear();

    // The window works on the client's settings.
    chat.chatWindow()->m15pt()->trigger();
    QCOMPARE(client.settings().confFontSize, qint16(15));

    // The name change asks through the name dialog, offering the current name.
    prompts.textAnswers = {QStringLiteral("新名")};
    chat.chatWindow()->mNameChange()->trigger();
    QCOMPARE(prompts.shown.last().kind, QString("name"));
    QCOMPARE(prompts.shown.last().text, QString("旧名"));
    QCOMPARE(client.settings().confMyName, QString("新名"));
    QTRY_VERIFY(channel.sent.endsWith(cp932("3<:>新名%EOT%")));
}

QTEST_MAIN(TestChatWindow)
#include "tst_chatwindow.moc"
