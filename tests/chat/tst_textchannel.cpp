#include "chatsettings.h"
#include "cp932.h"
#include "loopback.h"
#include "textchannel.h"

#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

namespace {

const QColor Grey(50, 50, 50);

// A session whose "chat window" is a bare conversation box; `opened` counts
// how often the session asked for the window.
struct Harness {
    net::SocketEndpoint wsTxt;
    QTextEdit box;
    ChatSettings settings;
    TextChannel session{wsTxt, settings};
    int opened = 0;
    bool windowVisible = true;

    Harness() {
        box.document()->setDefaultFont(ConversationWriter::defaultFont());
        session.setConversationOpener([this]() -> QTextDocument* {
            ++opened;
            return windowVisible ? box.document() : nullptr;
        });
    }
    void receive(const QString& message) { session.wsTxtProc1(message); }
    QStringList paragraphs() const {
        if (box.document()->isEmpty())
            return {};
        return box.toPlainText().split(QChar('\n'));
    }
    QTextBlock block(int n) const { return box.document()->findBlockByNumber(n); }
};

QTextCharFormat lookOf(const QTextBlock& block) {
    return block.begin().fragment().charFormat();
}

} // namespace

class TestTextChannel : public QObject {
    Q_OBJECT
private slots:
    void noticesUseExactTextsInGrey();
    void remarkIsGreyHeaderThenStyledBody();
    void remarkOfUnannouncedMemberKeepsDefaults();
    void renameBuildsNoticeFromOldName();
    void memberListIsOneParagraphPerLine();
    void attributesAndNamesAreSilent();
    void malformedMessagesAreIgnored();
    void outOfRangeIndexNeverTouchesTables();
    void hiddenWindowGetsNothing();
    void arrivalsAreFramedAndReassembled();
    void peerCloseClosesTheEndpoint();
    void floodKeepsOnlyTheNewestConversation();
};

void TestTextChannel::noticesUseExactTextsInGrey() {
    Harness h;
    h.receive("3<:>1<:>taro");
    QCOMPARE(h.session.memName()[3], QString("taro"));
    h.receive("3<:>0<:>END");
    QCOMPARE(h.paragraphs(), QStringList({"taro さんが入室しました", "taro さんが退室しました"}));
    for (int n = 0; n < 2; ++n) {
        QCOMPARE(lookOf(h.block(n)).foreground().color(), Grey);
        QCOMPARE(h.block(n).blockFormat().leftMargin(), qreal(ConversationWriter::NoticeIndent));
    }
    QVERIFY(h.session.writer().backRTF().isEmpty());
    // The caret follows the newest line.
    QCOMPARE(h.box.textCursor().position(), h.box.document()->characterCount() - 1);
}

void TestTextChannel::remarkIsGreyHeaderThenStyledBody() {
    Harness h;
    h.receive("3<:>5<:>taro");
    h.receive("3<:>6<:>255");
    h.receive("3<:>7<:>12");
    h.receive("3<:>8<:>1");
    h.receive("3<:>2<:>こんにちは hello");
    QCOMPARE(h.paragraphs(), QStringList({"taro の発言 :", "こんにちは hello"}));

    const QTextCharFormat header = lookOf(h.block(0));
    QCOMPARE(header.foreground().color(), Grey);
    QCOMPARE(header.font().resolve(h.box.document()->defaultFont()).pointSize(), 9);
    QCOMPARE(h.block(0).blockFormat().leftMargin(), qreal(ConversationWriter::NoticeIndent));

    const QTextCharFormat body = lookOf(h.block(1));
    QCOMPARE(body.foreground().color(), QColor(255, 0, 0));
    QCOMPARE(body.fontPointSize(), 12.0);
    QCOMPARE(body.fontFamilies().toStringList(), QStringList("ＭＳ 明朝"));
    QCOMPARE(h.block(1).blockFormat().leftMargin(), qreal(ConversationWriter::RemarkIndent));

    // A later change of look affects only later remarks.
    h.receive("3<:>8<:>0");
    h.receive("3<:>6<:>16711680");
    h.receive("3<:>2<:>next");
    QCOMPARE(lookOf(h.block(1)).foreground().color(), QColor(255, 0, 0));
    QCOMPARE(lookOf(h.block(3)).foreground().color(), QColor(0, 0, 255));
    QCOMPARE(lookOf(h.block(3)).fontFamilies().toStringList(), QStringList("ＭＳ ゴシック"));
}

void TestTextChannel::remarkOfUnannouncedMemberKeepsDefaults() {
    Harness h;
    h.receive("7<:>2<:>hi");
    QCOMPARE(h.paragraphs(), QStringList({" の発言 :", "hi"}));
    const QTextCharFormat body = lookOf(h.block(1));
    QCOMPARE(body.foreground().color(), QColor(0, 0, 0));
    QCOMPARE(body.font().resolve(h.box.document()->defaultFont()).pointSize(), 9);
    QCOMPARE(body.fontFamilies().toStringList(), QStringList("ＭＳ ゴシック"));

    // Sizes the box cannot take leave the default in force.
    h.receive("7<:>7<:>-4");
    h.receive("7<:>2<:>again");
    QCOMPARE(lookOf(h.block(3)).font().resolve(h.box.document()->defaultFont()).pointSize(), 9);
}

void TestTextChannel::renameBuildsNoticeFromOldName() {
    Harness h;
    h.receive("3<:>5<:>taro");
    h.receive("3<:>3<:>jiro");
    QCOMPARE(h.paragraphs(), QStringList("taro は jiro に名前変更しました"));
    QCOMPARE(h.session.memName()[3], QString("jiro"));
    QCOMPARE(lookOf(h.block(0)).foreground().color(), Grey);
}

void TestTextChannel::memberListIsOneParagraphPerLine() {
    Harness h;
    h.receive("2<:>4<:>taro\r\n花子\r\n");
    QCOMPARE(h.paragraphs(), QStringList({"", "現在のメンバ : ", "taro", "花子"}));
    for (int n = 0; n < 4; ++n)
        QCOMPARE(h.block(n).blockFormat().leftMargin(), qreal(ConversationWriter::NoticeIndent));
    QCOMPARE(lookOf(h.block(3)).foreground().color(), Grey);
}

void TestTextChannel::attributesAndNamesAreSilent() {
    Harness h;
    h.receive("4<:>5<:>hana");
    h.receive("4<:>6<:>65280");
    h.receive("4<:>7<:>15");
    h.receive("4<:>8<:>1");
    QCOMPARE(h.opened, 0);
    QVERIFY(h.box.document()->isEmpty());
    QCOMPARE(h.session.memName()[4], QString("hana"));
    QCOMPARE(h.session.memColor()[4], 65280);
    QCOMPARE(h.session.memSize()[4], qint16(15));
    QCOMPARE(h.session.memFont()[4], qint16(1));

    // Values that do not fit keep the old ones.
    h.receive("4<:>6<:>99999999999");
    h.receive("4<:>7<:>40000");
    QCOMPARE(h.session.memColor()[4], 65280);
    QCOMPARE(h.session.memSize()[4], qint16(15));

    // Every notice kind opens the window.
    h.receive("4<:>2<:>x");
    QCOMPARE(h.opened, 1);
}

void TestTextChannel::malformedMessagesAreIgnored() {
    Harness h;
    h.receive("3<:>1");         // two fields
    h.receive("3<:>9<:>x");     // type 9
    h.receive("3<:>-1<:>x");    // negative type
    h.receive("70000<:>2<:>x"); // index beyond 16 bits
    QCOMPARE(h.opened, 0);
    QVERIFY(h.session.memName()[3].isEmpty());

    // A remark is cut at its first "<:>"; lenient numbers in index and type.
    h.receive(" 3abc<:>2.4<:>before<:>after");
    QCOMPARE(h.paragraphs(), QStringList({" の発言 :", "before"}));
}

void TestTextChannel::outOfRangeIndexNeverTouchesTables() {
    Harness h;
    h.receive("20<:>5<:>last");
    for (const char* message : {"21<:>1<:>x", "21<:>3<:>y", "21<:>5<:>z", "21<:>6<:>255",
                                "21<:>7<:>12", "21<:>8<:>1", "-1<:>5<:>w", "-1<:>7<:>3"}) {
        h.receive(message);
    }
    QCOMPARE(h.session.memName()[20], QString("last"));
    QCOMPARE(h.session.memName()[0], QString());
    QCOMPARE(h.session.memSize()[0], qint16(0));
    // Their notices and remarks are shown without a name, in the default look.
    QCOMPARE(h.paragraphs(), QStringList({" さんが入室しました", " は y に名前変更しました"}));
    h.receive("25<:>2<:>from afar");
    QCOMPARE(h.paragraphs().mid(2), QStringList({" の発言 :", "from afar"}));
    QCOMPARE(lookOf(h.block(3)).foreground().color(), QColor(0, 0, 0));
}

void TestTextChannel::hiddenWindowGetsNothing() {
    Harness h;
    h.windowVisible = false;
    h.receive("1<:>1<:>taro");
    h.receive("1<:>2<:>hello");
    QCOMPARE(h.opened, 2);
    QVERIFY(h.box.document()->isEmpty());
    QCOMPARE(h.session.memName()[1], QString("taro")); // the table is still kept
}

void TestTextChannel::arrivalsAreFramedAndReassembled() {
    LoopbackChannel channel;
    QVERIFY(channel.open());
    QTextEdit box;
    ChatSettings settings;
    TextChannel session(channel.client, settings);
    session.setConversationOpener([&box] { return box.document(); });

    // Two messages and an empty piece in one arrival, applied in order.
    channel.peer.sendBytes(protocol::toCp932("1<:>1<:>太郎%EOT%%EOT%1<:>2<:>一つ目%EOT%"));
    QTRY_COMPARE(box.toPlainText(), QString("太郎 さんが入室しました\n太郎 の発言 :\n一つ目"));

    // One message split inside a double-byte character and inside the
    // terminator, in three arrivals, comes out whole.
    const QByteArray whole = protocol::toCp932("1<:>2<:>漢字テスト%EOT%");
    const qsizetype cut = whole.indexOf(protocol::toCp932("字")) + 1;
    const QList<QByteArray> parts{whole.left(cut), whole.mid(cut, whole.size() - cut - 2),
                                  whole.right(2)};
    QSignalSpy arrivals(&channel.client, &net::SocketEndpoint::dataArrival);
    for (const QByteArray& part : parts) {
        channel.peer.sendBytes(part);
        QVERIFY(arrivals.wait());
        if (&part != &parts.last())
            QCOMPARE(box.document()->blockCount(), 3); // nothing shown yet
    }
    QVERIFY(box.toPlainText().endsWith("\n太郎 の発言 :\n漢字テスト"));
    QCOMPARE(box.document()->blockCount(), 5);
}

void TestTextChannel::peerCloseClosesTheEndpoint() {
    LoopbackChannel channel;
    QVERIFY(channel.open());
    QTextEdit box;
    ChatSettings settings;
    TextChannel session(channel.client, settings);
    int opened = 0;
    session.setConversationOpener([&] {
        ++opened;
        return box.document();
    });
    channel.peer.close();
    QTRY_COMPARE(channel.client.state(), int(net::SocketEndpoint::Closed));
    QCOMPARE(opened, 0);
}

// A member that floods the chat with long remarks must not take the
// program's memory: the oldest paragraphs go once the conversation passes its
// bound, whole, and what stays keeps its look.
void TestTextChannel::floodKeepsOnlyTheNewestConversation() {
    Harness h;
    h.receive("3<:>1<:>taro");
    h.receive("3<:>7<:>12");
    const QString remark(60000, QChar(u'x'));
    for (int i = 0; i < 40; ++i)
        h.receive(QStringLiteral("3<:>2<:>%1 ").arg(i) + remark);
    const QTextDocument& conversation = *h.box.document();
    QVERIFY(conversation.characterCount() <= ConversationWriter::ConversationLimit);
    QVERIFY(conversation.characterCount() > ConversationWriter::ConversationLimit - 2 * 60100);
    // The newest remark is all there; the oldest ones and the join are gone.
    QVERIFY(h.box.toPlainText().endsWith(QStringLiteral("39 ") + remark));
    QVERIFY(!h.box.toPlainText().contains(QStringLiteral("入室")));
    // Paragraphs start whole: a header or a remark body, each with its indent.
    const QTextBlock first = conversation.begin();
    const bool header = first.text() == QStringLiteral("taro の発言 :");
    QVERIFY(header || first.text().endsWith(remark));
    QCOMPARE(first.blockFormat().leftMargin(),
             qreal(header ? ConversationWriter::NoticeIndent : ConversationWriter::RemarkIndent));
    QCOMPARE(lookOf(first).foreground().color(), header ? Grey : QColor(Qt::black));
}

QTEST_MAIN(TestTextChannel)
#include "tst_textchannel.moc"
