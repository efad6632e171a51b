#include "linefields.h"

#include "cp932.h"
#include "numbers.h"

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

std::optional<Line> readLine(QStringView line) {
    const qsizetype size = line.size();
    const qsizetype first = line.indexOf(u':');
    if (first < 0)
        return std::nullopt;
    const qsizetype second = line.indexOf(u':', first + 1);
    const QStringView command = line.sliced(first + 1, (second < 0 ? size : second) - first - 1);
    // The command test comes before the field count, as in the protocol.
    if (readNumber(command) >= 9 || second < 0)
        return std::nullopt;
    const qsizetype third = line.indexOf(u':', second + 1);
    if (third >= 0 && line.indexOf(u':', third + 1) >= 0)
        return std::nullopt; // five fields or more
    const auto index = readInt16(line.first(first));
    const auto cmd = readInt16(command);
    if (!index || !cmd)
        return std::nullopt;
    return Line{*index, *cmd, line.sliced(second + 1, (third < 0 ? size : third) - second - 1)};
}

QString decodeText(QByteArrayView bytes) {
    for (const char c : bytes) {
        if (uchar(c) >= 0x80)
            return protocol::fromCp932(bytes);
    }
    return QString::fromLatin1(bytes);
}

} // namespace linefields
