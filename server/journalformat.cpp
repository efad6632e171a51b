#include "journalformat.h"

#include <QList>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <utility>
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

// Every record is written in place: one size check and one copy per record,
// the relay's hot path when it records a line.
char* BatchWriter::begin(char kind, qsizetype bodyBytes) {
    if (m_batch.isEmpty())
        m_batch.resize(BatchHeaderBytes);
    const qsizetype at = m_batch.size();
    const qsizetype needed = at + 5 + bodyBytes;
    if (m_batch.capacity() < needed)
        m_batch.reserve(std::max<qsizetype>(2 * m_batch.capacity(), needed + 4096));
    m_batch.resize(needed);
    char* record = m_batch.data() + at;
    record[0] = kind;
    qToLittleEndian<quint32>(quint32(bodyBytes), record + 1);
    m_lastLine = -1;
    return record + 5;
}

void BatchWriter::line(QByteArrayView relayed, quint8 flags) {
    char* body = begin(Line, 1 + relayed.size());
    body[0] = char(flags);
    std::memcpy(body + 1, relayed.data(), size_t(relayed.size()));
    m_lastLine = body - m_batch.data();
}

bool BatchWriter::markLastLineApplied(QByteArrayView relayed) {
    if (m_lastLine < 0 || m_batch.size() - m_lastLine - 1 != relayed.size() ||
        QByteArrayView(m_batch).sliced(m_lastLine + 1) != relayed)
        return false;
    m_batch.data()[m_lastLine] = char(quint8(m_batch[m_lastLine]) | ToBoard);
    return true;
}

void BatchWriter::cleared() {
    begin(Cleared, 0);
}

void BatchWriter::greetingPen(int slot, qint32 colour, qint16 size) {
    char* body = begin(GreetingPen, 7);
    body[0] = char(slot);
    qToLittleEndian<qint32>(colour, body + 1);
    qToLittleEndian<qint16>(size, body + 5);
}

void BatchWriter::session(QByteArrayView id, quint64 lines) {
    char* body = begin(Session, 8 + id.size());
    qToLittleEndian<quint64>(lines, body);
    std::memcpy(body + 8, id.data(), size_t(id.size()));
}

QByteArray BatchWriter::take() {
    if (isEmpty())
        return {};
    const qsizetype payload = m_batch.size() - BatchHeaderBytes;
    qToLittleEndian<quint32>(quint32(payload), m_batch.data());
    qToLittleEndian<quint32>(crc32(QByteArrayView(m_batch).sliced(BatchHeaderBytes)),
                             m_batch.data() + 4);
    m_lastLine = -1;
    return std::exchange(m_batch, QByteArray());
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
