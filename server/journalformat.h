#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

// The segment files of the board journal, byte by byte. Numbers are little
// endian.
//
// A segment is named "segment-<n>.skj", n in ten decimal digits, and holds
//   "SKTJ", u32 version 1, u64 n                          the header, 16 bytes
//   batches: u32 payload bytes, u32 CRC-32 of the payload, payload
// One batch is what one flush wrote. Its payload is a run of records, each
//   u8 kind, u32 body bytes, body
// with these kinds:
//   'L'  u8 flags, a relayed line with its "\r\n"
//        flags: 1 appended to the history, 2 ... with the block test,
//        4 applied to the board
//   'C'  (no body) the history was emptied
//   'P'  u8 slot, i32 colour, i16 size: a slot's greeting pen
//   'S'  u64 lines, then the id: how many lines of a member's session the
//        server has taken
// A batch that ends before its length, or whose CRC does not match, is the
// torn end of a write cut short: it and whatever follows in its segment are
// ignored, everything before stands. A record of an unknown kind is skipped.
namespace journalformat {

inline constexpr quint32 Version = 1;
inline constexpr qsizetype HeaderBytes = 16;
inline constexpr qsizetype BatchHeaderBytes = 8;

enum Kind : char {
    Line = 'L',
    Cleared = 'C',
    GreetingPen = 'P',
    Session = 'S',
};

enum LineFlag : quint8 {
    ToHistory = 1,
    BlockTest = 2,
    ToBoard = 4,
};

quint32 crc32(QByteArrayView bytes);

QString segmentFileName(quint64 number);
// The number of a segment file name; nothing for any other name.
std::optional<quint64> segmentNumber(QStringView fileName);
QByteArray segmentHeader(quint64 number);

// Collects the records of one batch.
class BatchWriter {
public:
    void line(QByteArrayView relayed, quint8 flags);
    // Adds ToBoard to the last record when it is a line with exactly these
    // bytes (the relay applies what the history just took); false otherwise.
    bool markLastLineApplied(QByteArrayView relayed);
    void cleared();
    void greetingPen(int slot, qint32 colour, qint16 size);
    void session(QByteArrayView id, quint64 lines);

    bool isEmpty() const { return m_batch.size() <= BatchHeaderBytes; }
    // The framed batch (header and payload); the writer starts empty again.
    QByteArray take();

private:
    // Room for a record; returns where its body goes.
    char* begin(char kind, qsizetype bodyBytes);

    QByteArray m_batch;        // the header's room, then the records
    qsizetype m_lastLine = -1; // offset of the last line record's flags byte
};

struct Record {
    char kind = 0;
    QByteArrayView body;
};

struct LineRecord {
    quint8 flags = 0;
    QByteArrayView line;
};
std::optional<LineRecord> readLine(QByteArrayView body);

struct GreetingPenRecord {
    int slot = 0;
    qint32 colour = 0;
    qint16 size = 0;
};
std::optional<GreetingPenRecord> readGreetingPen(QByteArrayView body);

struct SessionRecord {
    quint64 lines = 0;
    QByteArrayView id;
};
std::optional<SessionRecord> readSession(QByteArrayView body);

// What reading one segment found.
struct SegmentRead {
    bool headerOk = false;
    quint64 batches = 0;
    quint64 records = 0;
    bool torn = false; // something after the last whole batch was ignored
};
// Hands every record of every whole batch, in order, to `record`.
SegmentRead readSegment(QByteArrayView content, quint64 number,
                        const std::function<void(const Record&)>& record);

} // namespace journalformat
