#include "chatsession.h"
#include "rtfreader.h"
#include "rtfwriter.h"
#include "socketendpoint.h"

#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

namespace {

// A conversation as the chat writes it: three members with their own face,
// colour and size, Japanese remarks, notices and a member list.
void writeConversation(ChatSession& session)
{
    for (const char* message : {
             "0<:>1<:>太郎", "0<:>6<:>255", "0<:>7<:>10", "0<:>8<:>0",
             "1<:>1<:>花子", "1<:>6<:>16711680", "1<:>7<:>15", "1<:>8<:>1",
             "2<:>5<:>次郎", "2<:>6<:>32768", "2<:>7<:>10", "2<:>8<:>1",
             "0<:>2<:>こんにちは、ゴシックです",
             "1<:>2<:>明朝体の発言 with ASCII",
             "2<:>2<:>緑の発言",
             "1<:>3<:>ハナコ",
             "0<:>4<:>太郎\r\nハナコ\r\n",
         }) {
        session.wsTxtProc1(QString::fromUtf8(message));
    }
}

struct Expected {
    QString text;
    QString font;
    int halfPoints;
    QColor color;
    int indentTwips;
};

} // namespace

class TestRtfWriter : public QObject {
    Q_OBJECT
private slots:
    void conversationReadsBackIntact();
    void fallbackBytesGiveTheSameText();
    void awkwardCharacters();
    void emptyConversationAndSaving();
};

void TestRtfWriter::conversationReadsBackIntact()
{
    net::SocketEndpoint wsTxt;
    QTextEdit box;
    box.document()->setDefaultFont(ChatSession::defaultFont());
    ChatSession session(wsTxt);
    session.setConversationOpener([&box] { return &box; });
    writeConversation(session);

    const RtfDocument doc = readRtf(rtf::fromDocument(*box.document()));
    QVERIFY2(doc.ok, qPrintable(doc.error));
    QCOMPARE(doc.fonts.mid(0, 2), QStringList({"ＭＳ ゴシック", "ＭＳ 明朝"}));

    const QColor grey(50, 50, 50);
    const QString gothic("ＭＳ ゴシック"), mincho("ＭＳ 明朝");
    const QList<Expected> expected{
        {"太郎 さんが入室しました", gothic, 18, grey, 75},
        {"花子 さんが入室しました", gothic, 18, grey, 75},
        {"太郎 の発言 :", gothic, 18, grey, 75},
        {"こんにちは、ゴシックです", gothic, 20, QColor(255, 0, 0), 240},
        {"花子 の発言 :", gothic, 18, grey, 75},
        {"明朝体の発言 with ASCII", mincho, 30, QColor(0, 0, 255), 240},
        {"次郎 の発言 :", gothic, 18, grey, 75},
        {"緑の発言", mincho, 20, QColor(0, 128, 0), 240},
        {"花子 は ハナコ に名前変更しました", gothic, 18, grey, 75},
        {"", gothic, 18, grey, 75},
        {"現在のメンバ : ", gothic, 18, grey, 75},
        {"太郎", gothic, 18, grey, 75},
        {"ハナコ", gothic, 18, grey, 75},
    };
    QCOMPARE(doc.paragraphs.size(), expected.size());
    for (int n = 0; n < expected.size(); ++n) {
        const RtfParagraph& got = doc.paragraphs[n];
        const Expected& want = expected[n];
        QCOMPARE(got.text(), want.text);
        QVERIFY2(got.leftIndent == want.indentTwips, qPrintable(QString::number(n)));
        if (want.text.isEmpty())
            continue;
        QCOMPARE(got.runs.size(), 1);
        QCOMPARE(got.runs[0].font, want.font);
        QCOMPARE(got.runs[0].halfPoints, want.halfPoints);
        QCOMPARE(got.runs[0].color, want.color);
    }
}

void TestRtfWriter::fallbackBytesGiveTheSameText()
{
    // A reader that ignores \u and decodes the CP932 bytes sees the same text,
    // also where a trail byte is 0x5C ('\') or the character is single-byte.
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText("ソ表示 ①髙～ ｱｲｳ カタカナ 漢字");
    cursor.insertBlock();
    cursor.insertText("second 段落");
    const QByteArray data = rtf::fromDocument(document);
    const RtfDocument wide = readRtf(data, true);
    const RtfDocument narrow = readRtf(data, false);
    QVERIFY(wide.ok && narrow.ok);
    QCOMPARE(wide.paragraphs.size(), 2);
    QCOMPARE(wide.paragraphs[0].text(), QString("ソ表示 ①髙～ ｱｲｳ カタカナ 漢字"));
    QCOMPARE(narrow.paragraphs[0].text(), wide.paragraphs[0].text());
    QCOMPARE(narrow.paragraphs[1].text(), QString("second 段落"));
    QVERIFY(data.contains("\\u12477\\'83\\'5c")); // ソ: trail byte escaped
    QVERIFY(data.contains("\\uc1\\u-143\\'b1"));  // ｱ: one fallback byte
}

void TestRtfWriter::awkwardCharacters()
{
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText(QString("a\\b{c}d\te") + QChar::LineSeparator + "f 😀 g");
    const QByteArray data = rtf::fromDocument(document);
    const RtfDocument wide = readRtf(data, true);
    QVERIFY2(wide.ok, qPrintable(wide.error));
    QCOMPARE(wide.paragraphs.size(), 1);
    QCOMPARE(wide.paragraphs[0].text(),
             QString("a\\b{c}d\te") + QChar::LineSeparator + "f 😀 g");
    // Characters CP932 lacks fall back to '?'.
    QCOMPARE(readRtf(data, false).paragraphs[0].text(),
             QString("a\\b{c}d\te") + QChar::LineSeparator + "f ?? g");
}

void TestRtfWriter::emptyConversationAndSaving()
{
    QTextDocument document;
    const QByteArray data = rtf::fromDocument(document);
    const RtfDocument empty = readRtf(data);
    QVERIFY(empty.ok);
    QCOMPARE(empty.fonts, QStringList({"ＭＳ ゴシック", "ＭＳ 明朝"}));
    QCOMPARE(data.count("\\fcharset128"), 2);
    QCOMPARE(empty.paragraphs.size(), 1);
    QVERIFY(empty.paragraphs[0].text().isEmpty());

    QTemporaryDir dir;
    QTextCursor(&document).insertText("保存");
    const QString path = dir.filePath("talk.rtf");
    QVERIFY(rtf::saveDocument(document, path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(readRtf(file.readAll()).paragraphs[0].text(), QString("保存"));
    // A folder that does not exist: reported, nothing written.
    QVERIFY(!rtf::saveDocument(document, dir.filePath("missing/talk.rtf")));
}

QTEST_MAIN(TestRtfWriter)
#include "tst_rtfwriter.moc"
