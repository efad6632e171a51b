#include "conversation.h"
#include "rtfreader.h"
#include "rtfwriter.h"
#include "socketendpoint.h"

#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

class TestRtfWriter : public QObject {
    Q_OBJECT
private slots:
    void conversationReadsBackIntact();
    void fallbackBytesGiveTheSameText();
    void emptyConversationAndSaving();
};

void TestRtfWriter::conversationReadsBackIntact() {
    Conversation conversation;
    const RtfDocument doc = readRtf(rtf::fromDocument(conversation.document()));
    QVERIFY2(doc.ok, qPrintable(doc.error));
    QCOMPARE(doc.fonts.mid(0, 2), QStringList({"ＭＳ ゴシック", "ＭＳ 明朝"}));

    const QList<Conversation::Paragraph> expected = Conversation::expected();
    QCOMPARE(doc.paragraphs.size(), expected.size());
    for (int n = 0; n < expected.size(); ++n) {
        const RtfParagraph& got = doc.paragraphs[n];
        const Conversation::Paragraph& want = expected[n];
        QCOMPARE(got.text(), want.text);
        QCOMPARE(got.leftIndent, want.indentTwips);
        if (want.text.isEmpty())
            continue;
        QCOMPARE(got.runs.size(), 1);
        QCOMPARE(got.runs[0].font, want.font);
        QCOMPARE(got.runs[0].halfPoints, want.halfPoints);
        QCOMPARE(got.runs[0].color, want.color);
    }
}

void TestRtfWriter::fallbackBytesGiveTheSameText() {
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

    // RTF's own characters, tabs, soft line breaks and characters CP932
    // lacks (their fallback is '?').
    QTextDocument awkward;
    const QString text = QString("a\\b{c}d\te") + QChar::LineSeparator + "f 😀 g";
    QTextCursor(&awkward).insertText(text);
    const QByteArray awkwardData = rtf::fromDocument(awkward);
    QCOMPARE(readRtf(awkwardData, true).paragraphs.value(0).text(), text);
    QCOMPARE(readRtf(awkwardData, false).paragraphs.value(0).text(),
             QString(text).replace("😀", "??"));
}

void TestRtfWriter::emptyConversationAndSaving() {
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
