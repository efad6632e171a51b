#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Allocation-free reading of downstream drawing lines for the receiver's hot
// path (network arrivals and log playback apply hundreds of thousands of
// lines). The results are exactly those of protocol::drawing::parseDownLine
// and protocol::readInt16/readInt32: plain integers, the common case, are read
// directly; anything with a fraction or more than 15 digits goes to the
// protocol's own reader.
namespace linefields {

struct Line {
    qint16 index = 0;
    qint16 command = 0;
    QStringView argument; // a view into the line that was read
};

// Accepted only with three or four ':'-separated fields, a command value
// below 9 and index and command that fit 16 bits.
std::optional<Line> readLine(QStringView line);

double readNumber(QStringView text);
std::optional<qint16> readInt16(QStringView text);
std::optional<qint32> readInt32(QStringView text);

// CP932 text; plain ASCII (every drawing line in practice) skips the
// converter.
QString decodeText(QByteArrayView bytes);

} // namespace linefields
