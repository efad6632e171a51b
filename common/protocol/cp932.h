#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Windows code page 932, as every text on the wire and in files is stored.
// Encoding first maps the characters that Windows maps differently from the
// JIS tables (wave dash, minus sign, ...) and writes '?' for anything still
// unmappable; decoding never fails (invalid bytes become U+FFFD, one each,
// a lead byte cut off at the end of the input included). Bytes 0x00-0x7F are
// ASCII in both directions, as on Windows.
namespace protocol {

QByteArray toCp932(const QString& text);
QString fromCp932(QByteArrayView bytes);

// A run of characters in a text: start and length in UTF-16 units.
struct TextSpan {
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const TextSpan&) const = default;
};

// The characters of `text` that do not come back from CP932 as they went in:
// those written as '?' and those that only have a look-alike (U+00A5 YEN
// SIGN becomes a backslash). The characters Windows itself maps to its own forms
// (the wave dash, ...) count as carried. A surrogate pair is one character;
// neighbouring characters form one span.
QList<TextSpan> cp932Losses(QStringView text);

} // namespace protocol
