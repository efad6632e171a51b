#pragma once

#include "board.h"
#include "drawinghistory.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>
#include <array>
#include <optional>

// The checkpoint of the board journal: the relay's whole state at one moment
// and the number of the first segment written after it.
//
// File "checkpoint" in the journal folder:
//   "SKTC", u32 version 1, u64 body bytes, u32 CRC-32 of the body, body
// The body is written with QDataStream (Qt 6.4 format, little endian):
//   u64 the first segment after this state
//   u8 picture: 0 white; 1 the pixels follow, 1600 x 1200 of four bytes, row
//      by row as Format_RGB32 keeps them; 2 whatever board.png holds
//   21 x (i16 x, i16 y, i32 colour, i16 size)   the board's pens
//   21 x (i32 colour, i16 size)                 the greeting pens
//   i16 block, i16 lines, i64 stored, i64 bytes, bool full, then the 513
//   history blocks, each a QByteArray
//   the members' sessions, one QByteArray (MemberSessions::save)
// The pixels are kept raw: writing them costs a copy, where compressing them
// would cost the relay's machine a tenth of a second of work each time.
struct RelayState {
    enum class Picture : quint8 { White = 0, Pixels = 1, BoardFile = 2 };

    quint64 firstSegment = 1;
    Picture picture = Picture::White;
    QImage pixels; // Picture::Pixels only
    Board::Pens pens{};
    std::array<qint32, Board::Slots> greetingColours{};
    std::array<qint16, Board::Slots> greetingSizes{};
    DrawingHistory::State history = DrawingHistory().state();
    QByteArray sessions;
};

namespace journalcheckpoint {

inline constexpr char FileName[] = "checkpoint";

QByteArray encode(const RelayState& state);
// Nothing, and the reason in `why`, when `file` is not a whole checkpoint.
std::optional<RelayState> decode(QByteArrayView file, QString* why);

} // namespace journalcheckpoint
