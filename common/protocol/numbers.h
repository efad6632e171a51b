#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <limits>
#include <optional>

// Numbers as both channels, the log files and the settings file carry them.
//
// Reading is lenient: leading blanks (space, tab) are skipped, an optional
// sign is taken, then digits with an optional decimal fraction; reading stops
// at the first character that cannot continue the number. A field without a
// number reads as 0 ("", "abc", "-", "." all give 0; "120abc" gives 120;
// "1.5e" gives 1.5).
//
// Integers are made by rounding halves to even. A value that does not fit the
// target width is an explicit failure (std::nullopt) that callers must check.
namespace protocol {

double readNumber(QStringView text);
double readNumber(QByteArrayView text);

namespace detail {
// The integer readers below return through these: the rounded value, or
// NoFit when it is outside [lowest, highest]. A plain integer keeps the
// result in a register where a returned std::optional<qint16> would be
// assembled in memory and read back, a stall on every number of every line.
inline constexpr qint64 NoFit = std::numeric_limits<qint64>::min();
qint64 roundWithin(double value, qint64 lowest, qint64 highest);
qint64 readWithin(QStringView text, qint64 lowest, qint64 highest);
qint64 readWithin(QByteArrayView text, qint64 lowest, qint64 highest);

template <typename Int> std::optional<Int> fitted(qint64 value) {
    if (value == NoFit)
        return std::nullopt;
    return Int(value);
}
template <typename Int, typename Text> std::optional<Int> read(Text text) {
    return fitted<Int>(
        readWithin(text, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}
template <typename Int> std::optional<Int> round(double value) {
    return fitted<Int>(
        roundWithin(value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}
} // namespace detail

inline std::optional<qint16> roundToInt16(double value) {
    return detail::round<qint16>(value);
}
inline std::optional<qint32> roundToInt32(double value) {
    return detail::round<qint32>(value);
}

// The same as rounding readNumber's value, without going through double for
// plain integers.
inline std::optional<qint16> readInt16(QStringView text) {
    return detail::read<qint16>(text);
}
inline std::optional<qint32> readInt32(QStringView text) {
    return detail::read<qint32>(text);
}
inline std::optional<qint16> readInt16(QByteArrayView text) {
    return detail::read<qint16>(text);
}
inline std::optional<qint32> readInt32(QByteArrayView text) {
    return detail::read<qint32>(text);
}

// The client's drawing-channel form: a blank before a number that is not
// negative (" 120"), a bare "-" before a negative one ("-3").
QString clientNumber(qint64 value);
// Plain decimal, as the server, the text channel and the settings file write.
QString plainNumber(qint64 value);

} // namespace protocol
