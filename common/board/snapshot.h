#pragma once

#include "board.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>
#include <QStringView>
#include <optional>

// The shared picture on command 7 of the drawing channel.
//
// Upstream (asker -> server):
//   "7:snap <tok>"   the current board (picture + every index's pen)
//   "7:sum <tok>"    the checksum of the board at this point of the stream
// <tok>: 1..16 characters of [0-9A-Za-z], made by the asker.
//
// Downstream replies (server -> asker alone, index field always 0):
//   "0:7:board <tok> <width> <height> <bytes> <chunks>"
//   "0:7:data <tok> <base64>"        <chunks> lines, at most 48000 characters
//                                    of base64 each; together the RFC 4648
//                                    base64 of a PNG file of <bytes> bytes
//   "0:7:pen <tok> <index> <x> <y> <colour> <width>"   indices 0..20 ascending
//   "0:7:end <tok> <checksum>"
//   "0:7:sum <tok> <checksum>"       answer to "7:sum"
// A snapshot is one contiguous block of the stream: it is the board exactly as
// it was after every line relayed to the asker before it. All numbers plain
// decimal ("-" for negatives). The PNG is lossless 8-bit RGB or palette
// without gamma or colour-profile chunks, so browsers decode the same pixels.
//
// Checksum: 32-bit FNV-1a style over the picture in row-major order,
// h = 2166136261, then for every pixel h = ((h XOR v) * 16777619) mod 2^32
// with v its colour value (red + 256*green + 65536*blue).
namespace boardsnapshot {

inline constexpr int MaxChunk = 48000;                   // base64 characters per data line
inline constexpr qsizetype MaxBase64 = 16 * 1024 * 1024; // whole snapshot, base64 characters

bool isToken(QStringView token);
bool isToken(QByteArrayView token);

quint32 checksum(const QImage& picture);

// The PNG file of a board picture: palette when it holds at most 256
// colours, 8-bit RGB otherwise; a fast zlib level.
QByteArray encodePng(const QImage& picture);

// Upstream requests as the asker writes them (with "\r\n").
QByteArray snapRequestLine(QByteArrayView token);
QByteArray sumRequestLine(QByteArrayView token);

// The server's side: what an upstream command-7 line asks for.
struct Request {
    enum Kind { Snap, Sum } kind = Snap;
    QByteArray token;
};
// "7:snap <tok>" or "7:sum <tok>" exactly (terminator removed); anything else
// is no request.
std::optional<Request> parseRequest(QByteArrayView line);

// A picture encoded once for any number of replies: the base64 of its PNG
// file and its checksum. encodePicture() touches nothing but its argument, so
// it may run on any thread.
struct EncodedPicture {
    QByteArray base64;
    qsizetype pngBytes = 0;
    quint32 checksum = 0;
};
EncodedPicture encodePicture(const QImage& picture);

// The whole reply block of a snapshot for `token` (every line with "\r\n"),
// and the reply to a checksum request.
QByteArray snapshotReply(QByteArrayView token, const EncodedPicture& picture,
                         const Board::Pens& pens);
QByteArray sumReply(QByteArrayView token, quint32 checksum);

// Builds the replies for one board on the spot, keeping the encoded picture
// and its checksum while the board's picture is unchanged (a snapshot costs a
// PNG encoding; a burst of newcomers or checks on a quiet board costs it
// once). The relay answers through its snapshot service instead, which does
// the encoding away from the relaying.
class Encoder {
public:
    explicit Encoder(const Board& board) : m_board(board) {}

    // The whole reply block for `token`, every line with "\r\n".
    QByteArray snapshotReply(QByteArrayView token);
    QByteArray sumReply(QByteArrayView token);

    quint32 currentChecksum();

private:
    void refresh();
    void refreshSum();

    const Board& m_board;
    bool m_haveSum = false;
    bool m_havePicture = false;
    quint64 m_sumRevision = 0;
    quint64 m_pictureRevision = 0;
    quint32 m_sum = 0;
    EncodedPicture m_picture;
};

// The asker's side: reads the arguments of downstream command-7 lines (the
// text after "0:7:") in stream order. A snapshot is gathered while it
// arrives and handed out only when its "end" line completes it and every
// check passed; anything malformed, out of order or oversized drops the
// whole pending snapshot. Memory is bounded by MaxBase64.
class Reader {
public:
    struct Event {
        enum Kind { None, Snapshot, Rejected, Sum } kind = None;
        QString token;
        quint32 checksum = 0; // Sum and Snapshot
        QImage picture;       // Snapshot: Width x Height, Format_RGB32
        Board::Pens pens{};   // Snapshot
    };

    Event feed(QStringView argument);
    bool isPending() const { return m_pending.has_value(); }
    // Forgets a snapshot being gathered (a new connection).
    void reset() { m_pending.reset(); }

private:
    struct Pending {
        QString token;
        qint64 bytes = 0;
        qint64 chunks = 0;
        qint64 chunksSeen = 0;
        QByteArray base64;
        int pensSeen = 0;
        Board::Pens pens{};
    };

    Event reject(const QString& token);
    Event begin(const QList<QStringView>& f);
    bool addData(const QList<QStringView>& f);
    bool addPen(const QList<QStringView>& f);
    Event finish(const QList<QStringView>& f);

    std::optional<Pending> m_pending;
};

} // namespace boardsnapshot
