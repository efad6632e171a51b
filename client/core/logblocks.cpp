#include "logblocks.h"

#include "drawingline.h"

#include <algorithm>
#include <cstring>

namespace logblocks {
namespace {

// Where the line starting at `from` ends: its first '\r' or '\n', or `size`.
// Searches for '\n' first (lines usually end in "\r\n"), then for a '\r'
// before it.
qsizetype lineEnd(const char* bytes, qsizetype from, qsizetype size) {
    const void* lf = std::memchr(bytes + from, '\n', size_t(size - from));
    const qsizetype limit = lf ? static_cast<const char*>(lf) - bytes : size;
    const void* cr = std::memchr(bytes + from, '\r', size_t(limit - from));
    return cr ? static_cast<const char*>(cr) - bytes : limit;
}

} // namespace

// Blocks whose lines all end in "\r\n" (the server writes nothing else) are
// taken from the data as they are; a block with another line end is rebuilt
// line by line.
qint64 readBlocks(QByteArrayView data, QList<QString>& blocks,
                  const std::function<void(qint64)>& blockDone) {
    const char* const bytes = data.data();
    const qsizetype size = data.size();
    qint64 lineCount = 0;
    qsizetype blockStart = 0;
    int blockLines = 0;
    QByteArray rebuilt; // the current block, once a line in it ended otherwise
    bool verbatim = true;
    const auto finishBlock = [&](qsizetype end) {
        blocks.append(protocol::drawing::decodeText(
            verbatim ? QByteArrayView(bytes + blockStart, end - blockStart) : rebuilt));
        blockStart = end;
        blockLines = 0;
        verbatim = true;
        rebuilt.clear();
    };

    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype end = lineEnd(bytes, pos, size);
        const bool crlf = end + 1 < size && bytes[end] == '\r' && bytes[end + 1] == '\n';
        if (verbatim && !crlf) {
            rebuilt = QByteArray(bytes + blockStart, pos - blockStart);
            verbatim = false;
        }
        if (!verbatim)
            rebuilt.append(bytes + pos, end - pos).append("\r\n");
        pos = crlf ? end + 2 : std::min(end + 1, size);
        ++lineCount;
        if (++blockLines < BlockLines)
            continue;
        finishBlock(pos);
        if (blockDone)
            blockDone(lineCount);
    }
    if (blockLines > 0)
        finishBlock(size);
    return lineCount;
}

// Every line of a block ends in "\r\n" and holds no other '\r'; the walk
// still stays within the block if a line lacks its end.
bool nextLine(QStringView block, qsizetype& from, QStringView& line) {
    if (from >= block.size())
        return false;
    const char16_t* const begin = block.utf16();
    const char16_t* const end = begin + block.size();
    const char16_t* const lineEnd = std::find(begin + from, end, u'\r');
    line = QStringView(begin + from, lineEnd);
    from = end - lineEnd >= 2 ? (lineEnd + 2) - begin : block.size();
    return true;
}

} // namespace logblocks
