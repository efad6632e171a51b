#pragma once

#include <QString>

class Board;

// The shared picture across server restarts: "board.png" in the server's
// working directory, written at exit and at each automatic log save, read at
// start. Only the picture is kept: the history and the log files keep their
// own meaning, and the pens come back as the members announce them.
//
// Writing goes to a temporary file that is renamed over the old one, so a
// crash mid-write never leaves half a picture. A file that cannot be read,
// is not a PNG or has another size than the board is ignored (the board stays
// white) and the reason is returned for the event log.
namespace boardfile {

inline constexpr char FileName[] = "board.png";

QString pathIn(const QString& directory);
// Empty on success, else what went wrong.
QString save(const Board& board, const QString& path);
// Empty on success or when there is no file; else why it was ignored.
QString load(Board& board, const QString& path);

} // namespace boardfile
