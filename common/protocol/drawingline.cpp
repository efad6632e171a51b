#include "drawingline.h"

#include "numbers.h"

#include <QList>

namespace protocol::drawing {
namespace {

QByteArray line(const QString& body)
{
    return body.toLatin1() + Terminator;
}

QByteArray pointLine(int command, int x, int y)
{
    return line(QString::number(command) + u':' + clientNumber(x) + u',' + clientNumber(y));
}

} // namespace

QByteArray penUpLine()
{
    return line(QStringLiteral("0:0"));
}

QByteArray penDownLine(int x, int y)
{
    return pointLine(PenDown, x, y);
}

QByteArray restartLine(int x, int y)
{
    return line(QStringLiteral("1:") + plainNumber(x) + u',' + plainNumber(y));
}

QByteArray drawLine(int x, int y)
{
    return pointLine(Draw, x, y);
}

QByteArray clearAllLine()
{
    return pointLine(ClearAll, 0, 0);
}

QByteArray colorLine(qint32 colour)
{
    return line(QStringLiteral("4:") + clientNumber(colour));
}

QByteArray widthLine(int width)
{
    return line(QStringLiteral("5:") + clientNumber(width));
}

QByteArray eraseLine(int x, int y)
{
    return pointLine(Erase, x, y);
}

QByteArray memberRequestLine()
{
    return line(QStringLiteral("8:member"));
}

QByteArray relayedLine(int index, QByteArrayView received)
{
    QByteArray out = QByteArray::number(index);
    out.reserve(out.size() + 1 + received.size() + 2);
    out += ':';
    out += received;
    out += Terminator;
    return out;
}

QByteArray memberCountLine(int count)
{
    return "0:8:" + QByteArray::number(count) + Terminator;
}

QByteArray greetingColorLine(int index, qint32 colour)
{
    return QByteArray::number(index) + ":4:" + QByteArray::number(colour) + Terminator;
}

QByteArray greetingWidthLine(int index, int width)
{
    return QByteArray::number(index) + ":5:" + QByteArray::number(width) + Terminator;
}

std::optional<DownLine> parseDownLine(QStringView text)
{
    const QList<QStringView> fields = text.split(u':');
    // A command of 9 or more, or more than four fields, drops the line; so
    // does a line too short to carry an argument.
    if (fields.size() >= 2 && readNumber(fields[1]) >= 9)
        return std::nullopt;
    if (fields.size() > 4 || fields.size() < 3)
        return std::nullopt;
    const std::optional<qint16> index = readInt16(fields[0]);
    const std::optional<qint16> command = readInt16(fields[1]);
    if (!index || !command)
        return std::nullopt;
    return DownLine{*index, *command, fields[2].toString()};
}

UpLine parseUpLine(QByteArrayView text)
{
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

PointText splitPoint(QStringView argument)
{
    const qsizetype comma = argument.indexOf(u',');
    if (comma < 0)
        return {argument, std::nullopt};
    QStringView rest = argument.sliced(comma + 1);
    const qsizetype second = rest.indexOf(u',');
    return {argument.first(comma), second < 0 ? rest : rest.first(second)};
}

} // namespace protocol::drawing
