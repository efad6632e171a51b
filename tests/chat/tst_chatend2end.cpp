#include "chatcontroller.h"
#include "chatsettings.h"
#include "fakeprompts.h"
#include "fixedports.h"
#include "form4.h"
#include "socketendpoint.h"
#include "textmessage.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>
#include <memory>

namespace {

constexpr quint16 TextPort = 13468;

// The built relay server as its own process, on the fixed ports.
class ServerProcess {
public:
    bool start() {
        const QString binary = qEnvironmentVariable("SKETORA_BIN_DIR") + "/sketoraServer";
        if (!QFileInfo(binary).isExecutable())
            return false;
        return fixedports::start(m_process, binary);
    }
    ~ServerProcess() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
};

// One member's chat: the text endpoint, its settings and the chat itself.
// The name dialog answers from the prompts' script.
struct Member {
    net::SocketEndpoint wsTxt;
    ChatSettings settings;
    FakePrompts prompts;
    ChatController chat{wsTxt, settings, prompts};

    Member(const QString& name, qint16 face, qint16 size, qint32 colour) {
        settings.confMyName = name;
        settings.confFontName = face;
        settings.confFontSize = size;
        settings.confFontColor = colour;
        settings.confFontBackColor = 16777215;
    }
    // Connects (retrying while the server is still coming up: no extra
    // probe connection, so the server's member indices stay 0 and 1) and
    // opens the chat window, which announces the member.
    bool connectAndOpen() {
        const bool connected = QTest::qWaitFor(
            [this] {
                const int state = wsTxt.state();
                if (state == net::SocketEndpoint::Closed || state == net::SocketEndpoint::Error) {
                    wsTxt.close();
                    wsTxt.connectTo(QStringLiteral("127.0.0.1"), TextPort);
                }
                return wsTxt.state() == net::SocketEndpoint::Connected;
            },
            10000);
        return connected && chat.showChatWindow() != nullptr;
    }
    QString conversation() const {
        Form4* window = chat.chatWindow();
        return window ? window->text1()->toPlainText() : QString();
    }
    void say(const QString& remark) {
        chat.chatWindow()->text2()->setPlainText(remark);
        chat.chatWindow()->command1Click();
    }
    // The look of the paragraph holding exactly `text`, the last one first.
    QTextCharFormat lookOf(const QString& text) const {
        const QTextDocument* document = chat.chatWindow()->text1()->document();
        for (QTextBlock block = document->lastBlock(); block.isValid(); block = block.previous())
            if (block.text() == text)
                return block.begin().fragment().charFormat();
        return {};
    }
};

void verifyLook(const QTextCharFormat& look, const QColor& colour, qreal points,
                const QString& face) {
    QCOMPARE(look.foreground().color(), colour);
    QCOMPARE(look.fontPointSize(), points);
    QCOMPARE(look.fontFamilies().toStringList(), QStringList(face));
}

} // namespace

class TestChatEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void twoMembersTalkRenameListAndLeave();
};

void TestChatEndToEnd::twoMembersTalkRenameListAndLeave() {
    ServerProcess server;
    QVERIFY2(server.start(), "sketoraServer could not be started");

    Member a(QStringLiteral("あきら"), 0, 10, 255);
    QVERIFY(a.connectAndOpen());
    QTRY_COMPARE(a.conversation(), QString("あきら さんが入室しました"));

    Member b(QStringLiteral("ベン"), 1, 15, 16711680);
    QVERIFY(b.connectAndOpen());
    QTRY_COMPARE(b.conversation(), QString("ベン さんが入室しました"));
    QTRY_COMPARE(a.conversation(), QString("あきら さんが入室しました\nベン さんが入室しました"));

    // Each remark comes back to everybody, the speaker included, in the
    // speaker's own colour, size and face.
    a.say(QStringLiteral("こんにちは"));
    QTRY_VERIFY2(b.conversation().endsWith("あきら の発言 :\nこんにちは"),
                 qPrintable(b.conversation()));
    QTRY_VERIFY2(a.conversation().endsWith("あきら の発言 :\nこんにちは"),
                 qPrintable(a.conversation()));
    b.say(QStringLiteral("やあ、元気？"));
    QTRY_VERIFY2(a.conversation().endsWith("ベン の発言 :\nやあ、元気？"),
                 qPrintable(a.conversation()));
    QTRY_VERIFY2(b.conversation().endsWith("ベン の発言 :\nやあ、元気？"),
                 qPrintable(b.conversation()));
    for (const Member* viewer : {&a, &b}) {
        verifyLook(viewer->lookOf("こんにちは"), QColor(255, 0, 0), 10, "ＭＳ ゴシック");
        verifyLook(viewer->lookOf("やあ、元気？"), QColor(0, 0, 255), 15, "ＭＳ 明朝");
    }

    // A change of look reaches the others for later remarks.
    a.chat.chatWindow()->m12pt()->trigger();
    a.say(QStringLiteral("大きく"));
    QTRY_VERIFY2(b.conversation().endsWith("あきら の発言 :\n大きく"),
                 qPrintable(b.conversation()));
    verifyLook(b.lookOf("大きく"), QColor(255, 0, 0), 12, "ＭＳ ゴシック");

    b.prompts.textAnswers = {QStringLiteral("ベンジャミン")};
    b.chat.chatWindow()->mNameChange()->trigger();
    QTRY_VERIFY2(a.conversation().endsWith("ベン は ベンジャミン に名前変更しました"),
                 qPrintable(a.conversation()));
    QTRY_VERIFY2(b.conversation().endsWith("ベン は ベンジャミン に名前変更しました"),
                 qPrintable(b.conversation()));

    a.chat.chatWindow()->mMList()->trigger();
    QTRY_VERIFY2(a.conversation().endsWith("\n\n現在のメンバ : \nあきら\nベンジャミン"),
                 qPrintable(a.conversation()));

    QVERIFY(b.chat.closeChatWindow());
    QTRY_VERIFY2(a.conversation().endsWith("\nベンジャミン さんが退室しました"),
                 qPrintable(a.conversation()));
    QVERIFY(!b.conversation().contains("退室")); // the leaver's window is gone
}

QTEST_MAIN(TestChatEndToEnd)
#include "tst_chatend2end.moc"
