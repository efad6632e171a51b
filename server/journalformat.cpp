#include "journalformat.h"

#include <QList>
#include <QtEndian>
#include <zlib.h>

namespace journalformat {
namespace {

constexpr char Magic[] = "SKTJ";
constexpr int NumberDigits = 10;

template <typename T> void put(QByteArray& out, T value) {
    const T little = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

template <typename T> T get(QByteArrayView bytes, qsizetype at) {
    return qFromLittleEndian<T>(bytes.data() + at);
}

} // namespace

quint32 crc32(QByteArrayView bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB at a time; batches are far smaller.
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype chunk = qMin<qsizetype>(bytes.size() - at, 1 << 30);
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), uInt(chunk));
        at += chunk;
    }
    return quint32(crc);
}

QString segmentFileName(quint64 number) {
    return QStringLiteral("segment-%1.skj").arg(number, NumberDigits, 10, QLatin1Char('0'));
}

std::optional<quint64> segmentNumber(QStringView fileName) {
    static constexpr QStringView prefix = u"segment-";
    static constexpr QStringView suffix = u".skj";
    if (fileName.size() != prefix.size() + NumberDigits + suffix.size() ||
        !fileName.startsWith(prefix) || !fileName.endsWith(suffix))
        return std::nullopt;
    const QStringView digits = fileName.sliced(prefix.size(), NumberDigits);
    for (QChar c : digits)
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
    bool ok = false;
    const quint64 number = digits.toULongLong(&ok);
    return ok ? std::optional<quint64>(number) : std::nullopt;
}

QByteArray segmentHeader(quint64 number) {
    QByteArray header(Magic, 4);
    put<quint32>(header, Version);
    put<quint64>(header, number);
    return header;
}

void BatchWriter::begin(char kind, qsizetype bodyBytes) {
    m_payload.append(kind);
    put<quint32>(m_payload, quint32(bodyBytes));
    m_lastLine = -1;
}

void BatchWriter::line(QByteArrayView relayed, quint8 flags) {
    begin(Line, 1 + relayed.size());
    m_lastLine = m_payload.size();
    m_payload.append(char(flags));
    m_payload.append(relayed);
}

bool BatchWriter::markLastLineApplied(QByteArrayView relayed) {
    if (m_lastLine < 0 || m_payload.size() - m_lastLine - 1 != relayed.size() ||
        QByteArrayView(m_payload).sliced(m_lastLine + 1) != relayed)
        return false;
    m_payload[m_lastLine] = char(quint8(m_payload[m_lastLine]) | ToBoard);
    return true;
}

void BatchWriter::cleared() {
    begin(Cleared, 0);
}

void BatchWriter::greetingPen(int slot, qint32 colour, qint16 size) {
    begin(GreetingPen, 7);
    m_payload.append(char(slot));
    put<qint32>(m_payload, colour);
    put<qint16>(m_payload, size);
}

void BatchWriter::session(QByteArrayView id, quint64 lines) {
    begin(Session, 8 + id.size());
    put<quint64>(m_payload, lines);
    m_payload.append(id);
}

QByteArray BatchWriter::take() {
    QByteArray batch;
    batch.reserve(BatchHeaderBytes + m_payload.size());
    put<quint32>(batch, quint32(m_payload.size()));
    put<quint32>(batch, crc32(m_payload));
    batch.append(m_payload);
    m_payload.clear();
    m_lastLine = -1;
    return batch;
}

std::optional<LineRecord> readLine(QByteArrayView body) {
    if (body.isEmpty())
        return std::nullopt;
    return LineRecord{quint8(body[0]), body.sliced(1)};
}

std::optional<GreetingPenRecord> readGreetingPen(QByteArrayView body) {
    if (body.size() != 7)
        return std::nullopt;
    return GreetingPenRecord{quint8(body[0]), get<qint32>(body, 1), get<qint16>(body, 5)};
}

std::optional<SessionRecord> readSession(QByteArrayView body) {
    if (body.size() < 8)
        return std::nullopt;
    return SessionRecord{get<quint64>(body, 0), body.sliced(8)};
}

namespace {

// The records of one batch payload; false when they do not fill it exactly.
bool splitRecords(QByteArrayView payload, QList<Record>& out) {
    qsizetype at = 0;
    while (at < payload.size()) {
        if (payload.size() - at < 5)
            return false;
        const char kind = payload[at];
        const quint32 bytes = get<quint32>(payload, at + 1);
        at += 5;
        if (bytes > quint64(payload.size() - at))
            return false;
        out.append(Record{kind, payload.sliced(at, bytes)});
        at += bytes;
    }
    return true;
}

} // namespace

SegmentRead readSegment(QByteArrayView content, quint64 number,
                        const std::function<void(const Record&)>& record) {
    SegmentRead read;
    if (content.size() < HeaderBytes || content.first(4) != QByteArrayView(Magic, 4) ||
        get<quint32>(content, 4) != Version || get<quint64>(content, 8) != number)
        return read;
    read.headerOk = true;
    qsizetype at = HeaderBytes;
    QList<Record> records;
    while (at < content.size()) {
        if (content.size() - at < BatchHeaderBytes) {
            read.torn = true;
            break;
        }
        const quint32 bytes = get<quint32>(content, at);
        const quint32 crc = get<quint32>(content, at + 4);
        if (bytes > quint64(content.size() - at - BatchHeaderBytes)) {
            read.torn = true;
            break;
        }
        const QByteArrayView payload = content.sliced(at + BatchHeaderBytes, bytes);
        records.clear();
        if (crc32(payload) != crc || !splitRecords(payload, records)) {
            read.torn = true;
            break;
        }
        for (const Record& r : records)
            record(r);
        read.records += quint64(records.size());
        ++read.batches;
        at += BatchHeaderBytes + bytes;
    }
    return read;
}

} // namespace journalformat
