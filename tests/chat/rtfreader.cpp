#include "rtfreader.h"

#include "cp932.h"

#include <QHash>
#include <cctype>

QString RtfParagraph::text() const {
    QString all;
    for (const RtfRun& run : runs)
        all += run.text;
    return all;
}

namespace {

enum class Destination { Text, FontTable, ColorTable, Skip };

struct GroupState {
    Destination destination = Destination::Text;
    int font = 0;
    int halfPoints = 24;
    int color = 0;
    int uc = 1;
    int leftIndent = 0;
    int firstIndent = 0;
};

class Reader {
public:
    Reader(const QByteArray& data, bool unicode) : m_data(data), m_unicode(unicode) {}
    RtfDocument run();

private:
    void controlWord(const QByteArray& word, bool hasNumber, int number);
    void addByte(char byte);
    void addUnicode(char16_t unit);
    void flushBytes();
    void appendText(const QString& text);
    void endParagraph();
    void skipFallback(int count);

    const QByteArray& m_data;
    bool m_unicode;
    qsizetype m_at = 0;
    QList<GroupState> m_stack{GroupState{}};
    QHash<int, QString> m_fontNames;
    int m_fontNumber = 0;
    QByteArray m_fontBytes;
    QList<QColor> m_colors;
    int m_red = -1, m_green = -1, m_blue = -1;
    QByteArray m_bytes; // text bytes waiting for CP932 decoding
    RtfDocument m_doc;
    RtfParagraph m_paragraph;
    bool m_sawGroup = false;
};

GroupState& top(QList<GroupState>& stack) {
    return stack.last();
}

void Reader::flushBytes() {
    if (m_bytes.isEmpty())
        return;
    const QByteArray bytes = m_bytes;
    m_bytes.clear();
    appendText(protocol::fromCp932(bytes));
}

void Reader::appendText(const QString& text) {
    const GroupState& state = m_stack.last();
    RtfRun look;
    look.font = m_fontNames.value(state.font);
    look.halfPoints = state.halfPoints;
    // Colour table entry 0 is the automatic colour, kept as an invalid QColor.
    look.color =
        state.color > 0 && state.color < m_colors.size() ? m_colors[state.color] : QColor();
    if (!m_paragraph.runs.isEmpty()) {
        RtfRun& last = m_paragraph.runs.last();
        if (last.font == look.font && last.halfPoints == look.halfPoints &&
            last.color == look.color) {
            last.text += text;
            return;
        }
    }
    look.text = text;
    m_paragraph.runs.append(look);
}

void Reader::addByte(char byte) {
    switch (m_stack.last().destination) {
    case Destination::Text:
        m_bytes += byte;
        break;
    case Destination::FontTable:
        if (byte == ';') {
            m_fontNames[m_fontNumber] = protocol::fromCp932(m_fontBytes).trimmed();
            m_fontBytes.clear();
        } else {
            m_fontBytes += byte;
        }
        break;
    case Destination::ColorTable:
        if (byte == ';') {
            if (m_red < 0)
                m_colors.append(QColor()); // entry 0: automatic, not stored
            else
                m_colors.append(QColor(m_red, qMax(m_green, 0), qMax(m_blue, 0)));
            m_red = m_green = m_blue = -1;
        }
        break;
    case Destination::Skip:
        break;
    }
}

void Reader::addUnicode(char16_t unit) {
    flushBytes();
    appendText(QString(QChar(unit)));
}

void Reader::endParagraph() {
    flushBytes();
    m_paragraph.leftIndent = m_stack.last().leftIndent;
    m_paragraph.firstIndent = m_stack.last().firstIndent;
    m_doc.paragraphs.append(m_paragraph);
    m_paragraph = RtfParagraph();
}

// After \uN the next `count` characters (a \'hh counts as one) are skipped.
void Reader::skipFallback(int count) {
    while (count > 0 && m_at < m_data.size()) {
        const char c = m_data[m_at];
        if (c == '{' || c == '}')
            return;
        if (c == '\\' && m_at + 1 < m_data.size() && m_data[m_at + 1] == '\'')
            m_at += 4;
        else
            ++m_at;
        --count;
    }
}

void Reader::controlWord(const QByteArray& word, bool hasNumber, int number) {
    GroupState& state = top(m_stack);
    if (word == "fonttbl") {
        state.destination = Destination::FontTable;
    } else if (word == "colortbl") {
        state.destination = Destination::ColorTable;
        m_colors.clear();
    } else if (word == "f") {
        if (state.destination == Destination::FontTable)
            m_fontNumber = number;
        else
            state.font = number;
    } else if (word == "red") {
        m_red = number;
    } else if (word == "green") {
        m_green = number;
    } else if (word == "blue") {
        m_blue = number;
    } else if (word == "fs") {
        state.halfPoints = number;
    } else if (word == "cf") {
        state.color = number;
    } else if (word == "plain") {
        state.font = 0;
        state.halfPoints = 24;
        state.color = 0;
    } else if (word == "pard") {
        state.leftIndent = 0;
        state.firstIndent = 0;
    } else if (word == "li") {
        state.leftIndent = number;
    } else if (word == "fi") {
        state.firstIndent = number;
    } else if (word == "par") {
        endParagraph();
    } else if (word == "line") {
        flushBytes();
        appendText(QString(QChar::LineSeparator));
    } else if (word == "tab") {
        flushBytes();
        appendText(QStringLiteral("\t"));
    } else if (word == "uc") {
        state.uc = number;
    } else if (word == "u" && hasNumber) {
        if (m_unicode) {
            addUnicode(char16_t(number < 0 ? number + 65536 : number));
            skipFallback(state.uc);
        }
    }
}

RtfDocument Reader::run() {
    if (!m_data.startsWith("{\\rtf1")) {
        m_doc.error = "no {\\rtf1 header";
        return m_doc;
    }
    while (m_at < m_data.size()) {
        const char c = m_data[m_at++];
        if (c == '{') {
            flushBytes();
            m_stack.append(m_stack.last());
            m_sawGroup = true;
        } else if (c == '}') {
            flushBytes();
            if (m_stack.size() <= 1) {
                m_doc.error = "unbalanced }";
                return m_doc;
            }
            // The document group ends the last paragraph, which needs no \par.
            if (m_stack.size() == 2)
                endParagraph();
            m_stack.removeLast();
        } else if (c == '\r' || c == '\n') {
            continue;
        } else if (c != '\\') {
            addByte(c);
        } else if (m_at < m_data.size()) {
            const char next = m_data[m_at];
            if (next == '\'') {
                addByte(char(m_data.mid(m_at + 1, 2).toInt(nullptr, 16)));
                m_at += 3;
            } else if (next == '*') {
                ++m_at;
                top(m_stack).destination = Destination::Skip;
            } else if (next == '~') {
                ++m_at;
                flushBytes();
                appendText(QString(QChar::Nbsp));
            } else if (!std::isalpha(uchar(next))) {
                ++m_at;
                addByte(next); // \\ \{ \}
            } else {
                QByteArray word;
                while (m_at < m_data.size() && std::isalpha(uchar(m_data[m_at])))
                    word += m_data[m_at++];
                QByteArray digits;
                if (m_at < m_data.size() && m_data[m_at] == '-')
                    digits += m_data[m_at++];
                while (m_at < m_data.size() && std::isdigit(uchar(m_data[m_at])))
                    digits += m_data[m_at++];
                if (m_at < m_data.size() && m_data[m_at] == ' ')
                    ++m_at; // the delimiter belongs to the control word
                flushBytes();
                controlWord(word, !digits.isEmpty() && digits != "-", digits.toInt());
            }
        }
    }
    if (m_stack.size() != 1) {
        m_doc.error = "unbalanced {";
        return m_doc;
    }
    m_doc.fonts.clear();
    for (int i = 0; m_fontNames.contains(i); ++i)
        m_doc.fonts.append(m_fontNames[i]);
    m_doc.colors = m_colors;
    m_doc.ok = true;
    return m_doc;
}

} // namespace

RtfDocument readRtf(const QByteArray& data, bool unicode) {
    return Reader(data, unicode).run();
}
