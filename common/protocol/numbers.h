#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
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

std::optional<qint16> roundToInt16(double value);
std::optional<qint32> roundToInt32(double value);

// The same as rounding readNumber's value, without going through double for
// plain integers.
std::optional<qint16> readInt16(QStringView text);
std::optional<qint32> readInt32(QStringView text);
std::optional<qint16> readInt16(QByteArrayView text);
std::optional<qint32> readInt32(QByteArrayView text);

// The client's drawing-channel form: a blank before a number that is not
// negative (" 120"), a bare "-" before a negative one ("-3").
QString clientNumber(qint64 value);
// Plain decimal, as the server, the text channel and the settings file write.
QString plainNumber(qint64 value);

} // namespace protocol
