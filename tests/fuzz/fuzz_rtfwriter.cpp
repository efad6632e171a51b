// The RTF writer fed random styled documents (text of any UTF-16 units,
// paragraphs with indents and alignment, runs with faces, sizes, colours and
// emphasis), its output read back by a strict tokenizer of its own:
// - the output is 7-bit, one balanced group opening with {\rtf1, made of
//   control words, the control symbols the writer uses and plain text;
// - font and colour references stay inside their tables;
// - every \uN is followed by exactly as many fallback characters as the
//   \ucN in force announces, so readers skip the fallback and nothing else;
// - the text of every paragraph comes back exactly (characters the writer
//   leaves out, control characters, excepted).
#include "chatfonts.h"
#include "cp932.h"
#include "rtfwriter.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cctype>
#include <cstdlib>
#include <iterator>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_at >= m_size; }
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    uint16_t unit() { return uint16_t(byte() | (byte() << 8)); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// Characters the writer treats specially, and a few that CP932 has or lacks.
const char16_t Specials[] = {u'\\',  u'{',   u'}',   u'\t',  0x00A0, 0x2028, 0x2460, 0x9AD9,
                             0xFF5E, 0x30BD, 0x301C, 0xD83D, 0xDE00, 0xFFFD, u';',   0x7F};

QString family(Input& in) {
    switch (in.byte() % 5) {
    case 0:
        return chatfonts::gothicFace();
    case 1:
        return chatfonts::minchoFace();
    case 2:
        return QStringLiteral("Arial");
    default: {
        QString name;
        for (int n = in.byte() % 6; n > 0; --n)
            name += QChar(in.byte() % 2 ? in.unit() : char16_t(in.byte() & 0x7f));
        return name;
    }
    }
}

QTextCharFormat charFormat(Input& in) {
    QTextCharFormat format;
    const uint8_t flags = in.byte();
    if (flags & 1)
        format.setFontFamilies({family(in)});
    if (flags & 2)
        format.setFontPointSize(1 + in.unit() % 1638 + (in.byte() % 4) / 4.0);
    if (flags & 4)
        format.setForeground(QColor::fromRgb(in.byte(), in.byte(), in.byte()));
    format.setFontWeight(flags & 8 ? QFont::Bold : QFont::Normal);
    format.setFontItalic(flags & 16);
    format.setFontUnderline(flags & 32);
    return format;
}

QTextBlockFormat blockFormat(Input& in) {
    QTextBlockFormat format;
    format.setLeftMargin(qint16(in.unit()) + (in.byte() % 4) / 4.0);
    format.setTextIndent(qint16(in.unit()));
    static const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter,
                                               Qt::AlignJustify};
    format.setAlignment(alignments[in.byte() % 4]);
    return format;
}

void build(QTextDocument& document, Input& in) {
    QTextCursor cursor(&document);
    while (!in.empty()) {
        switch (in.byte() % 6) {
        case 0: { // ASCII
            QString text;
            for (int n = in.byte() % 16; n > 0; --n)
                text += QChar(char16_t(in.byte() & 0x7f));
            cursor.insertText(text);
            break;
        }
        case 1: { // any units
            QString text;
            for (int n = in.byte() % 8; n > 0; --n)
                text += QChar(in.unit());
            cursor.insertText(text);
            break;
        }
        case 2:
            cursor.insertText(QString(QChar(Specials[in.byte() % std::size(Specials)])));
            break;
        case 3:
            cursor.insertBlock(blockFormat(in));
            break;
        case 4:
            cursor.setCharFormat(charFormat(in));
            break;
        default:
            cursor.setBlockFormat(blockFormat(in));
            break;
        }
    }
}

// The text of a block as the writer promises to keep it.
QString keptText(const QTextBlock& block) {
    QString kept;
    for (const QChar ch : block.text()) {
        const char16_t u = ch.unicode();
        if ((u < 0x20 && u != u'\t') || u == 0x7f)
            continue;
        kept += ch;
    }
    return kept;
}

// The strict reader.
class Tokens {
public:
    explicit Tokens(const QByteArray& rtf) : m_rtf(rtf) {}

    void read();
    QStringList paragraphs;
    int fonts = 0;
    int colours = 0;

private:
    struct Group {
        enum Kind { Text, FontTable, FontEntry, ColourTable } kind = Text;
        int uc = 1;
    };

    char peek() const { return m_at < m_rtf.size() ? m_rtf[m_at] : '\0'; }
    void controlWord(QList<Group>& stack);
    void controlSymbol(QList<Group>& stack);
    void skipFallback(int count);
    void text(char16_t unit);

    const QByteArray& m_rtf;
    qsizetype m_at = 0;
    QString m_paragraph;
    QList<int> m_fontRefs;
    QList<int> m_colourRefs;
};

void Tokens::read() {
    check(m_rtf.startsWith("{\\rtf1"));
    QList<Group> stack;
    bool closed = false;
    while (m_at < m_rtf.size()) {
        const char c = m_rtf[m_at++];
        check(uchar(c) < 0x80 && c != '\0');
        check(!closed || c == '\r' || c == '\n'); // nothing after the document group
        if (c == '{') {
            Group inner = stack.isEmpty() ? Group{} : stack.last();
            if (inner.kind == Group::FontTable)
                inner.kind = Group::FontEntry;
            stack.append(inner);
        } else if (c == '}') {
            check(!stack.isEmpty());
            if (stack.last().kind == Group::FontEntry)
                ++fonts;
            stack.removeLast();
            closed = stack.isEmpty();
        } else if (c == '\\') {
            check(!stack.isEmpty());
            if (std::isalpha(uchar(peek())))
                controlWord(stack);
            else
                controlSymbol(stack);
        } else if (c == '\r' || c == '\n') {
            continue; // line ends between tokens mean nothing
        } else {
            check(!stack.isEmpty());
            if (stack.last().kind == Group::Text)
                text(char16_t(uchar(c)));
            else if (stack.last().kind == Group::ColourTable && c == ';')
                ++colours;
        }
    }
    check(closed);
    paragraphs.append(m_paragraph);
    for (const int f : m_fontRefs)
        check(f >= 0 && f < fonts);
    for (const int cf : m_colourRefs)
        check(cf >= 0 && cf < colours);
}

void Tokens::controlWord(QList<Group>& stack) {
    QByteArray word;
    while (std::isalpha(uchar(peek())))
        word += m_rtf[m_at++];
    check(word.size() <= 32);
    QByteArray digits;
    if (peek() == '-')
        digits += m_rtf[m_at++];
    while (std::isdigit(uchar(peek())))
        digits += m_rtf[m_at++];
    check(digits.size() <= 11);
    bool hasNumber = false;
    const int number = digits.toInt(&hasNumber);
    check(digits.isEmpty() || hasNumber);
    if (peek() == ' ')
        ++m_at;

    Group& group = stack.last();
    if (word == "fonttbl") {
        group.kind = Group::FontTable;
    } else if (word == "colortbl") {
        group.kind = Group::ColourTable;
    } else if (word == "uc") {
        check(hasNumber && number >= 0);
        group.uc = number;
    } else if (word == "u") {
        check(hasNumber && number >= -32768 && number <= 32767 && group.kind == Group::Text);
        text(char16_t(quint16(qint16(number))));
        skipFallback(group.uc);
    } else if (word == "par") {
        paragraphs.append(m_paragraph);
        m_paragraph.clear();
    } else if (word == "tab" && group.kind == Group::Text) {
        text(u'\t');
    } else if (word == "line" && group.kind == Group::Text) {
        text(0x2028);
    } else if (word == "f" && group.kind == Group::Text) {
        m_fontRefs.append(number);
    } else if (word == "cf") {
        m_colourRefs.append(number);
    } else if (word == "fs") {
        check(hasNumber && number > 0);
    }
}

void Tokens::controlSymbol(QList<Group>& stack) {
    const char symbol = m_rtf[m_at++];
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        if (stack.last().kind == Group::Text)
            text(char16_t(symbol));
        break;
    case '~':
        text(0x00A0);
        break;
    case '\'':
        // Bytes appear only in font names and as \u fallbacks (skipped there).
        check(stack.last().kind == Group::FontEntry);
        check(std::isxdigit(uchar(peek())));
        ++m_at;
        check(std::isxdigit(uchar(peek())));
        ++m_at;
        break;
    default:
        check(false);
    }
}

// The fallback of one \uN: exactly `count` characters, each a plain
// character or a \'hh, before any other token.
void Tokens::skipFallback(int count) {
    for (; count > 0; --count) {
        check(m_at < m_rtf.size());
        const char c = m_rtf[m_at];
        check(c != '{' && c != '}' && c != '\r' && c != '\n');
        if (c == '\\') {
            check(m_rtf.mid(m_at, 2) == "\\'");
            check(std::isxdigit(uchar(m_rtf.at(m_at + 2))) &&
                  std::isxdigit(uchar(m_rtf.at(m_at + 3))));
            m_at += 4;
        } else {
            ++m_at;
        }
    }
    // No fallback byte left over for a reader to show as text.
    check(m_rtf.mid(m_at, 2) != "\\'");
}

void Tokens::text(char16_t unit) {
    m_paragraph += QChar(unit);
}

QGuiApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz_rtfwriter";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's font caches belong to the main thread's storage
    // and must not be torn down before the exit-time leak check runs.
    static QGuiApplication* instance = new QGuiApplication(argc, argv);
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    app();
    QTextDocument document;
    Input in(data, size);
    build(document, in);

    const QByteArray rtf = rtf::fromDocument(document);
    Tokens tokens(rtf);
    tokens.read();

    QStringList expected;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        expected.append(keptText(block));
    check(tokens.paragraphs == expected);
    check(tokens.fonts >= 2);
    return 0;
}
