#include "linefields.h"

#include "cp932.h"
#include "numbers.h"

#include <cstring>
#include <limits>

namespace linefields {
namespace {

constexpr int MaxFastDigits = 15; // below 2^53: exact in a double

template <typename Int> std::optional<Int> fitting(double value) {
    if (value < double(std::numeric_limits<Int>::min()) ||
        value > double(std::numeric_limits<Int>::max()))
        return std::nullopt;
    return Int(value);
}

// The lenient reading for a field that is a plain integer: blanks, an
// optional sign, up to 15 digits, then anything but '.' or another digit.
// Returns false when the field needs the full reader.
bool readPlainInteger(QStringView text, qint64& value) {
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 magnitude = 0;
    int digits = 0;
    while (i < size && text[i] >= u'0' && text[i] <= u'9') {
        if (++digits > MaxFastDigits)
            return false;
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        ++i;
    }
    if (i < size && text[i] == u'.')
        return false;
    value = negative ? -magnitude : magnitude;
    return true;
}

template <typename Int> std::optional<Int> readInt(QStringView text) {
    qint64 value = 0;
    if (readPlainInteger(text, value))
        return fitting<Int>(double(value));
    if constexpr (sizeof(Int) == 2)
        return protocol::readInt16(text);
    else
        return protocol::readInt32(text);
}

} // namespace

double readNumber(QStringView text) {
    qint64 value = 0;
    if (readPlainInteger(text, value))
        return double(value);
    return protocol::readNumber(text);
}

std::optional<qint16> readInt16(QStringView text) {
    return readInt<qint16>(text);
}

std::optional<qint32> readInt32(QStringView text) {
    return readInt<qint32>(text);
}

// Three or four fields, or the line is dropped; whether the command is 9 or
// more is only asked of lines with the right number of fields, which gives
// the same result as asking first.
std::optional<Line> readLine(QStringView line) {
    const QChar* const chars = line.data();
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
        return std::nullopt;
    const QStringView command = line.sliced(colon[0] + 1, colon[1] - colon[0] - 1);
    const double commandValue = readNumber(command);
    if (commandValue >= 9)
        return std::nullopt;
    const auto index = readInt16(line.first(colon[0]));
    const auto cmd = protocol::roundToInt16(commandValue);
    if (!index || !cmd)
        return std::nullopt;
    const qsizetype argumentEnd = colons == 3 ? colon[2] : size;
    return Line{*index, *cmd, line.sliced(colon[1] + 1, argumentEnd - colon[1] - 1)};
}

QString decodeText(QByteArrayView bytes) {
    // Eight bytes at a time: any byte with its high bit set is not ASCII.
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
        return protocol::fromCp932(bytes);
    return QString::fromLatin1(bytes);
}

} // namespace linefields
