#include "rtfwriter.h"

#include "chatfonts.h"
#include "cp932.h"
#include "wholefile.h"

#include <QColor>
#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <cmath>

namespace {

// Fonts and colours are numbered in the order they are first met; the two
// chat faces always hold numbers 0 and 1.
class Tables {
public:
    Tables() : m_fonts{chatfonts::gothicFace(), chatfonts::minchoFace()} {}

    int fontIndex(const QString& family) {
        qsizetype at = m_fonts.indexOf(family);
        if (at < 0) {
            m_fonts.append(family);
            at = m_fonts.size() - 1;
        }
        return int(at);
    }
    int colorIndex(QRgb rgb) {
        qsizetype at = m_colors.indexOf(rgb);
        if (at < 0) {
            m_colors.append(rgb);
            at = m_colors.size() - 1;
        }
        return int(at) + 1; // entry 0 is "auto"
    }
    QByteArray header() const;

private:
    QStringList m_fonts;
    QList<QRgb> m_colors;
};

QByteArray hexByte(uchar byte) {
    static const char digits[] = "0123456789abcdef";
    QByteArray out("\\'");
    out += digits[byte >> 4];
    out += digits[byte & 15];
    return out;
}

// A face name as the font table holds it: CP932 bytes, every byte of a
// double-byte character escaped (a trail byte may look like ASCII), RTF's
// delimiters kept out.
QByteArray fontName(const QString& family) {
    QByteArray out;
    for (const QChar ch : family) {
        const QByteArray bytes = protocol::toCp932(QString(ch));
        for (const char c : bytes) {
            const uchar byte = uchar(c);
            if (bytes.size() > 1 || byte >= 0x80 || c == '\\' || c == '{' || c == '}')
                out += hexByte(byte);
            else if (c != ';' && byte >= 0x20)
                out += c;
        }
    }
    return out;
}

QByteArray Tables::header() const {
    QByteArray out("{\\rtf1\\ansi\\ansicpg932\\deff0\\deflang1041\r\n{\\fonttbl");
    for (qsizetype i = 0; i < m_fonts.size(); ++i) {
        const QByteArray family = m_fonts[i] == chatfonts::minchoFace() ? "\\froman" : "\\fmodern";
        out += "{\\f" + QByteArray::number(i) + family + "\\fprq1\\fcharset128 " +
               fontName(m_fonts[i]) + ";}";
    }
    out += "}\r\n{\\colortbl ;";
    for (const QRgb rgb : m_colors)
        out += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" +
               QByteArray::number(qGreen(rgb)) + "\\blue" + QByteArray::number(qBlue(rgb)) + ";";
    out += "}\r\n\\viewkind4\\uc1\r\n";
    return out;
}

// Text of one run. `uc` is the fallback byte count in force inside the run's
// group (a group starts with the document's \uc1).
QByteArray escapedText(const QString& text) {
    QByteArray out;
    int uc = 1;
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        if (unit == '\\' || unit == '{' || unit == '}') {
            out += '\\';
            out += char(unit);
        } else if (unit == '\t') {
            out += "\\tab ";
        } else if (unit == QChar::LineSeparator) {
            out += "\\line ";
        } else if (unit == QChar::Nbsp) {
            out += "\\~";
        } else if (unit < 0x20 || unit == 0x7f) {
            continue; // control characters have no place in a run
        } else if (unit < 0x80) {
            out += char(unit);
        } else {
            const QByteArray fallback =
                ch.isSurrogate() ? QByteArray("?") : protocol::toCp932(QString(ch));
            if (fallback.size() != uc) {
                uc = int(fallback.size());
                out += "\\uc" + QByteArray::number(uc);
            }
            out += "\\u" + QByteArray::number(qint16(unit));
            for (const char byte : fallback)
                out += byte == '?' ? QByteArray("?") : hexByte(uchar(byte));
        }
    }
    return out;
}

QByteArray runControls(const QTextDocument& document, const QTextCharFormat& format,
                       Tables& tables) {
    const QFont font = format.font().resolve(document.defaultFont());
    const QStringList families = font.families();
    const QString family = families.isEmpty() ? font.family() : families.first();

    // The face for every kind of character, the way Word writes it, so
    // readers apply it to the Japanese text too and not only to ASCII.
    const QByteArray face = QByteArray::number(tables.fontIndex(family));
    QByteArray out = "\\f" + face + "\\hich\\af" + face + "\\dbch\\af" + face + "\\loch\\f" + face;
    const qreal points = font.pointSizeF() > 0 ? font.pointSizeF() : chatfonts::DefaultPointSize;
    out += "\\fs" + QByteArray::number(qRound(points * 2));
    if (format.foreground().style() != Qt::NoBrush)
        out += "\\cf" + QByteArray::number(tables.colorIndex(format.foreground().color().rgb()));
    if (font.bold())
        out += "\\b";
    if (font.italic())
        out += "\\i";
    if (font.underline())
        out += "\\ul";
    return out;
}

QByteArray paragraphControls(const QTextBlockFormat& format) {
    QByteArray out("\\pard");
    const auto twips = [](qreal pixels) { return qRound(pixels * rtf::TwipsPerPixel); };
    if (format.leftMargin() != 0)
        out += "\\li" + QByteArray::number(twips(format.leftMargin()));
    if (format.textIndent() != 0)
        out += "\\fi" + QByteArray::number(twips(format.textIndent()));
    const Qt::Alignment horizontal = format.alignment() & Qt::AlignHorizontal_Mask;
    if (horizontal & Qt::AlignHCenter)
        out += "\\qc";
    else if (horizontal & Qt::AlignRight)
        out += "\\qr";
    else if (horizontal & Qt::AlignJustify)
        out += "\\qj";
    return out;
}

} // namespace

namespace rtf {

QByteArray fromDocument(const QTextDocument& document) {
    Tables tables;
    QByteArray body;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin())
            body += "\\par\r\n";
        body += paragraphControls(block.blockFormat());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            body += "{" + runControls(document, fragment.charFormat(), tables) + " " +
                    escapedText(fragment.text()) + "}";
        }
    }
    return tables.header() + body + "\r\n}\r\n";
}

bool saveDocument(const QTextDocument& document, const QString& fileName) {
    return wholefile::write(fileName, fromDocument(document)).isEmpty();
}

} // namespace rtf
