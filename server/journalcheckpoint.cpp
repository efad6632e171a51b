#include "journalcheckpoint.h"

#include "journalformat.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>
#include <cstring>

namespace journalcheckpoint {
namespace {

constexpr char Magic[] = "SKTC";
constexpr quint32 Version = 1;
constexpr qsizetype HeaderBytes = 20;
constexpr qsizetype PixelBytes = qsizetype(Board::Width) * Board::Height * 4;

void setup(QDataStream& stream) {
    stream.setVersion(QDataStream::Qt_6_4);
    stream.setByteOrder(QDataStream::LittleEndian);
}

void writeBody(QDataStream& out, const RelayState& s) {
    out << quint64(s.firstSegment) << quint8(s.picture);
    if (s.picture == RelayState::Picture::Pixels) {
        const QImage pixels = s.pixels.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < Board::Height; ++y)
            out.writeRawData(reinterpret_cast<const char*>(pixels.constScanLine(y)),
                             Board::Width * 4);
    }
    for (const Board::Pen& pen : s.pens)
        out << pen.x << pen.y << pen.color << pen.size;
    for (int i = 0; i < Board::Slots; ++i)
        out << s.greetingColours[i] << s.greetingSizes[i];
    const DrawingHistory::State& h = s.history;
    out << h.blockNo << h.lines << qint64(h.stored) << qint64(h.bytes) << h.bytesFull;
    for (const QByteArray& block : h.blocks)
        out << block;
    out << s.sessions;
}

bool readPixels(QDataStream& in, QImage& pixels) {
    pixels = QImage(Board::Width, Board::Height, QImage::Format_RGB32);
    for (int y = 0; y < Board::Height; ++y)
        if (in.readRawData(reinterpret_cast<char*>(pixels.scanLine(y)), Board::Width * 4) !=
            Board::Width * 4)
            return false;
    return true;
}

std::optional<RelayState> readBody(QDataStream& in) {
    RelayState s;
    quint64 first = 0;
    quint8 picture = 0;
    in >> first >> picture;
    s.firstSegment = first;
    if (picture > quint8(RelayState::Picture::BoardFile))
        return std::nullopt;
    s.picture = RelayState::Picture(picture);
    if (s.picture == RelayState::Picture::Pixels && !readPixels(in, s.pixels))
        return std::nullopt;
    for (Board::Pen& pen : s.pens)
        in >> pen.x >> pen.y >> pen.color >> pen.size;
    for (int i = 0; i < Board::Slots; ++i)
        in >> s.greetingColours[i] >> s.greetingSizes[i];
    DrawingHistory::State& h = s.history;
    qint64 stored = 0, bytes = 0;
    in >> h.blockNo >> h.lines >> stored >> bytes >> h.bytesFull;
    h.stored = stored;
    h.bytes = qsizetype(bytes);
    for (QByteArray& block : h.blocks)
        in >> block;
    in >> s.sessions;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    return s;
}

} // namespace

QByteArray encode(const RelayState& state) {
    QByteArray body;
    body.reserve((state.picture == RelayState::Picture::Pixels ? PixelBytes : 0) +
                 state.history.bytes + 4 * DrawingHistory::BlockCount + 4096);
    {
        QDataStream out(&body, QIODevice::WriteOnly);
        setup(out);
        writeBody(out, state);
    }
    QByteArray file(Magic, 4);
    file.resize(HeaderBytes);
    qToLittleEndian<quint32>(Version, file.data() + 4);
    qToLittleEndian<quint64>(quint64(body.size()), file.data() + 8);
    qToLittleEndian<quint32>(journalformat::crc32(body), file.data() + 16);
    file.append(body);
    return file;
}

std::optional<RelayState> decode(QByteArrayView file, QString* why) {
    const auto fail = [why](const char* reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (file.size() < HeaderBytes || file.first(4) != QByteArrayView(Magic, 4))
        return fail("not a checkpoint");
    if (qFromLittleEndian<quint32>(file.data() + 4) != Version)
        return fail("another version");
    const quint64 bytes = qFromLittleEndian<quint64>(file.data() + 8);
    if (bytes != quint64(file.size() - HeaderBytes))
        return fail("cut short");
    const QByteArrayView body = file.sliced(HeaderBytes);
    if (journalformat::crc32(body) != qFromLittleEndian<quint32>(file.data() + 16))
        return fail("damaged");
    const QByteArray copy = QByteArray::fromRawData(body.data(), body.size());
    QDataStream in(copy);
    setup(in);
    auto state = readBody(in);
    if (!state)
        return fail("unreadable");
    return state;
}

} // namespace journalcheckpoint
