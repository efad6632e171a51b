#include "textmessage.h"

#include "cp932.h"
#include "numbers.h"

#include <QList>

namespace protocol::text {

QByteArray clientMessage(int type, const QString& payload) {
    return QByteArray::number(type) + Separator + toCp932(payload) + Terminator;
}

QByteArray relayedMessage(int index, QByteArrayView piece) {
    QByteArray out = QByteArray::number(index);
    out.reserve(out.size() + 3 + piece.size() + 5);
    out += Separator;
    out += piece;
    out += Terminator;
    return out;
}

QByteArray serverMessage(int index, int type, QByteArrayView payload) {
    QByteArray out = QByteArray::number(index) + Separator + QByteArray::number(type) + Separator;
    out += payload;
    out += Terminator;
    return out;
}

UpMessage parseUpMessage(QByteArrayView piece) {
    UpMessage result;
    const QByteArrayView separator(Separator);
    const qsizetype first = piece.indexOf(separator);
    if (first < 0) {
        result.type = readNumber(piece);
        return result;
    }
    result.type = readNumber(piece.first(first));
    const QByteArrayView rest = piece.sliced(first + separator.size());
    const qsizetype second = rest.indexOf(separator);
    result.payload = (second < 0 ? rest : rest.first(second)).toByteArray();
    return result;
}

std::optional<DownMessage> parseDownMessage(QStringView piece) {
    const QList<QStringView> fields = piece.split(QStringLiteral("<:>"));
    if (fields.size() < 3)
        return std::nullopt;
    const std::optional<qint16> index = readInt16(fields[0]);
    const std::optional<qint16> type = readInt16(fields[1]);
    if (!index || !type)
        return std::nullopt;
    return DownMessage{*index, *type, fields[2].toString()};
}

} // namespace protocol::text
