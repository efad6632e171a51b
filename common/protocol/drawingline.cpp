#include "drawingline.h"

#include "cp932.h"
#include "numbers.h"

#include <cstring>

namespace protocol::drawing {
namespace {

QByteArray line(const QString& body) {
    return body.toLatin1() + Terminator;
}

QByteArray pointLine(int command, int x, int y) {
    return line(QString::number(command) + u':' + clientNumber(x) + u',' + clientNumber(y));
}

} // namespace

QByteArray penUpLine() {
    return line(QStringLiteral("0:0"));
}

QByteArray penDownLine(int x, int y) {
    return pointLine(PenDown, x, y);
}

QByteArray restartLine(int x, int y) {
    return line(QStringLiteral("1:") + plainNumber(x) + u',' + plainNumber(y));
}

QByteArray drawLine(int x, int y) {
    return pointLine(Draw, x, y);
}

QByteArray clearAllLine() {
    return pointLine(ClearAll, 0, 0);
}

QByteArray colorLine(qint32 colour) {
    return line(QStringLiteral("4:") + clientNumber(colour));
}

QByteArray widthLine(int width) {
    return line(QStringLiteral("5:") + clientNumber(width));
}

QByteArray eraseLine(int x, int y) {
    return pointLine(Erase, x, y);
}

QByteArray memberRequestLine() {
    return line(QStringLiteral("8:member"));
}

QByteArray relayedLine(int index, QByteArrayView received) {
    QByteArray out = QByteArray::number(index);
    out.reserve(out.size() + 1 + received.size() + 2);
    out += ':';
    out += received;
    out += Terminator;
    return out;
}

QByteArray memberCountLine(int count) {
    return "0:8:" + QByteArray::number(count) + Terminator;
}

QByteArray greetingColorLine(int index, qint32 colour) {
    return QByteArray::number(index) + ":4:" + QByteArray::number(colour) + Terminator;
}

QByteArray greetingWidthLine(int index, int width) {
    return QByteArray::number(index) + ":5:" + QByteArray::number(width) + Terminator;
}

// One pass over the line finds the field separators; a fifth field ends the
// search. Whether the command is 9 or more is asked only of lines with three
// or four fields, which drops the same lines as asking first.
std::optional<DownLineView> readDownLine(QStringView line) {
    const char16_t* const chars = line.utf16();
    const qsizetype size = line.size();
    qsizetype colon[3] = {};
    int colons = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (chars[i] != u':')
            continue;
        if (colons == 3)
            return std::nullopt; // five fields or more
        colon[colons++] = i;
    }
    if (colons < 2)
        return std::nullopt; // no argument
    const double commandValue = readNumber(line.sliced(colon[0] + 1, colon[1] - colon[0] - 1));
    if (commandValue >= 9)
        return std::nullopt;
    const std::optional<qint16> index = readInt16(line.first(colon[0]));
    const std::optional<qint16> command = roundToInt16(commandValue);
    if (!index || !command)
        return std::nullopt;
    const qsizetype argumentEnd = colons == 3 ? colon[2] : size;
    return DownLineView{*index, *command, line.sliced(colon[1] + 1, argumentEnd - colon[1] - 1)};
}

QString decodeText(QByteArrayView bytes) {
    // Eight bytes at a time: a byte with its high bit set is not ASCII.
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    quint64 highBits = 0;
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        std::memcpy(&word, data + i, 8);
        highBits |= word;
    }
    for (; i < size; ++i)
        highBits |= uchar(data[i]);
    if (highBits & 0x8080808080808080ULL)
        return fromCp932(bytes);
    return QString::fromLatin1(bytes);
}

UpLine parseUpLine(QByteArrayView text) {
    UpLine result;
    const qsizetype first = text.indexOf(':');
    if (first < 0) {
        result.command = readNumber(text);
        return result;
    }
    result.command = readNumber(text.first(first));
    QByteArrayView rest = text.sliced(first + 1);
    const qsizetype second = rest.indexOf(':');
    result.data = (second < 0 ? rest : rest.first(second)).toByteArray();
    return result;
}

// Points are a handful of characters; a plain scan beats the general search.
PointText splitPoint(QStringView argument) {
    const char16_t* const chars = argument.utf16();
    const qsizetype size = argument.size();
    qsizetype comma = 0;
    while (comma < size && chars[comma] != u',')
        ++comma;
    if (comma == size)
        return {argument, std::nullopt};
    qsizetype second = comma + 1;
    while (second < size && chars[second] != u',')
        ++second;
    return {argument.first(comma), argument.sliced(comma + 1, second - comma - 1)};
}

} // namespace protocol::drawing
