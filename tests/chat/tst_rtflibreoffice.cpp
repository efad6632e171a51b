#include "conversation.h"
#include "rtfwriter.h"

#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// The saved conversation as LibreOffice Writer reads it: converted to flat
// OpenDocument by the real program and compared paragraph by paragraph
// (text, indent, colour, size, and the face for Latin and for Japanese text).
namespace {

struct TextStyle {
    QString color, size, font, asianFont;
};

struct OdtParagraph {
    QString text;
    QString paragraphStyle;
    QString textStyle; // of the first span
};

struct Odt {
    QHash<QString, QString> fontFamilies;    // face declaration -> family
    QHash<QString, double> marginLeftInches; // paragraph style -> left margin
    QHash<QString, TextStyle> textStyles;
    QList<OdtParagraph> paragraphs;
};

QString unquoted(QString family) {
    family.remove(QLatin1Char('\''));
    return family;
}

Odt readFlatOdt(const QByteArray& xml) {
    Odt odt;
    QXmlStreamReader reader(xml);
    QString style;
    bool inBody = false;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString name = reader.qualifiedName().toString();
        if (reader.isEndElement() && name == "text:p")
            inBody = false;
        if (reader.isCharacters() && inBody) {
            odt.paragraphs.last().text += reader.text();
            continue;
        }
        if (!reader.isStartElement())
            continue;
        const QXmlStreamAttributes at = reader.attributes();
        if (name == "style:font-face") {
            odt.fontFamilies[at.value("style:name").toString()] =
                unquoted(at.value("svg:font-family").toString());
        } else if (name == "style:style") {
            style = at.value("style:name").toString();
        } else if (name == "style:paragraph-properties" && at.hasAttribute("fo:margin-left")) {
            QString margin = at.value("fo:margin-left").toString();
            odt.marginLeftInches[style] = margin.remove("in").toDouble();
        } else if (name == "style:text-properties") {
            TextStyle& text = odt.textStyles[style];
            text.color = at.value("fo:color").toString();
            text.size = at.value("fo:font-size").toString();
            text.font = at.value("style:font-name").toString();
            text.asianFont = at.value("style:font-name-asian").toString();
        } else if (name == "text:p") {
            inBody = true;
            odt.paragraphs.append({QString(), at.value("text:style-name").toString(), QString()});
        } else if (name == "text:span" && inBody && odt.paragraphs.last().textStyle.isEmpty()) {
            odt.paragraphs.last().textStyle = at.value("text:style-name").toString();
        } else if (name == "text:s" && inBody) {
            odt.paragraphs.last().text += QString(qMax(1, at.value("text:c").toInt()), ' ');
        }
    }
    return odt;
}

} // namespace

class TestRtfLibreOffice : public QObject {
    Q_OBJECT
private slots:
    void writerReadsTheConversationIntact();
};

void TestRtfLibreOffice::writerReadsTheConversationIntact() {
    QTemporaryDir dir;
    Conversation conversation;
    const QString rtfPath = dir.filePath("talk.rtf");
    QVERIFY(rtf::saveDocument(conversation.document(), rtfPath));

    QProcess office;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir.path()); // a profile of its own
    office.setProcessEnvironment(environment);
    office.start(SKETORA_SOFFICE, {"--headless", "--norestore", "--convert-to", "fodt", "--outdir",
                                   dir.path(), rtfPath});
    QVERIFY(office.waitForFinished(120000));
    QFile converted(dir.filePath("talk.fodt"));
    QVERIFY2(converted.open(QIODevice::ReadOnly), office.readAllStandardError().constData());
    const Odt odt = readFlatOdt(converted.readAll());

    const QList<Conversation::Paragraph> expected = Conversation::expected();
    QCOMPARE(odt.paragraphs.size(), expected.size());
    for (int n = 0; n < expected.size(); ++n) {
        const OdtParagraph& got = odt.paragraphs[n];
        const Conversation::Paragraph& want = expected[n];
        QCOMPARE(got.text, want.text);
        QCOMPARE(qRound(odt.marginLeftInches.value(got.paragraphStyle) * 1440 / 5) * 5,
                 want.indentTwips);
        if (want.text.isEmpty())
            continue;
        const TextStyle look = odt.textStyles.value(got.textStyle);
        QCOMPARE(look.color, want.color.name());
        QCOMPARE(look.size, QString("%1pt").arg(want.halfPoints / 2.0));
        QCOMPARE(odt.fontFamilies.value(look.font), want.font);
        QCOMPARE(odt.fontFamilies.value(look.asianFont), want.font);
    }
}

QTEST_MAIN(TestRtfLibreOffice)
#include "tst_rtflibreoffice.moc"
