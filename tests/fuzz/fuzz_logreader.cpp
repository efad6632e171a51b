// The log player's reading of a drawing log: arbitrary file bytes become
// blocks of lines, and the player's walk over each block gives the lines
// back. Checked against a plain reference: a line ends at "\r\n", "\n" or
// "\r", a last line without an end counts, and each line decodes from CP932
// on its own to the same text the walk yields.
//
// Input: the file content. Longer inputs (-max_len) reach the block limit of
// 1000 lines.
#include "cp932.h"
#include "logblocks.h"

#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

QList<QByteArray> referenceLines(QByteArrayView data) {
    QList<QByteArray> lines;
    QByteArray current;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n') {
            current += c;
            continue;
        }
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            ++i;
        lines.append(current);
        current.clear();
    }
    if (!current.isEmpty())
        lines.append(current);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QString> blocks;
    qint64 progress = 0;
    const qint64 count = logblocks::readBlocks(bytes, blocks, [&](qint64 linesRead) {
        check(linesRead == progress + logblocks::BlockLines);
        progress = linesRead;
    });

    const QList<QByteArray> expected = referenceLines(bytes);
    check(count == expected.size());
    check(blocks.size() == (count + logblocks::BlockLines - 1) / logblocks::BlockLines);

    qsizetype n = 0;
    for (const QString& block : blocks) {
        qsizetype from = 0;
        QStringView line;
        qsizetype inBlock = 0;
        while (logblocks::nextLine(block, from, line)) {
            check(n < expected.size());
            check(line == protocol::fromCp932(expected[n]));
            ++n;
            ++inBlock;
        }
        check(inBlock >= 1 && inBlock <= logblocks::BlockLines);
    }
    check(n == expected.size());
    return 0;
}
