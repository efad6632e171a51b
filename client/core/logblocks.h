#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <functional>

// The reading half of log playback, apart from any window: the bytes of a
// drawing log (".skl") become blocks of at most 1000 lines, each line followed
// by "\r\n", decoded from CP932 block by block; the player then walks the
// lines of each block.
//
// A line of the file ends at "\r\n", "\n" or "\r"; a last line without an end
// still counts, an empty file has no line. Empty lines count (they are part
// of the player's progress maximum) and are handed to the walk as empty
// pieces.
namespace logblocks {

inline constexpr int BlockLines = 1000;

// Appends the blocks of `data` to `blocks` and returns the number of lines.
// `blockDone` is called with the running line count each time a block of
// 1000 lines is complete.
qint64 readBlocks(QByteArrayView data, QList<QString>& blocks,
                  const std::function<void(qint64)>& blockDone = {});

// The line of `block` that starts at `from`, without its "\r\n"; `from` moves
// to the next line. False once the block is used up.
bool nextLine(QStringView block, qsizetype& from, QStringView& line);

} // namespace logblocks
