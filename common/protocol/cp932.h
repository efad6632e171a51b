#pragma once

#include <QByteArray>
#include <QByteArrayView>
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

} // namespace protocol
