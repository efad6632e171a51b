// The board journal's readers fed arbitrary bytes, as a damaged disk or a
// crash in the middle of a write leaves them. The input is taken twice:
// once as one batch payload (framed with its length and CRC, so the records
// inside are what gets tried) and as a whole segment file after our header,
// then as the body of a checkpoint. Besides crashes, undefined behaviour
// and runaway memory it checks:
// - every record handed out lies inside its batch, and only whole batches
//   are read;
// - replaying the records into a history and a board never breaks the
//   history's own bounds;
// - a checkpoint is handed out only with a history of 513 blocks and, when
//   it has pixels, a picture of the board's size.
#include "board.h"
#include "drawinghistory.h"
#include "drawingline.h"
#include "journalcheckpoint.h"
#include "journalformat.h"

#include <QtEndian>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void replay(QByteArrayView segment, DrawingHistory& history, Board& board) {
    using namespace journalformat;
    const auto read = readSegment(segment, 7, [&](const Record& r) {
        check(r.body.data() >= segment.data() &&
              r.body.data() + r.body.size() <= segment.data() + segment.size());
        if (const auto line = r.kind == Line ? readLine(r.body) : std::nullopt) {
            if (line->flags & ToHistory)
                history.append(line->line, line->flags & BlockTest);
            if ((line->flags & ToBoard) && line->line.endsWith("\r\n"))
                board.applyLine(protocol::drawing::decodeText(line->line.chopped(2)));
        } else if (r.kind == Cleared) {
            history.clear();
        } else if (r.kind == GreetingPen) {
            readGreetingPen(r.body);
        } else if (r.kind == Session) {
            readSession(r.body);
        }
    });
    check(!read.headerOk || segment.size() >= HeaderBytes);
    check(history.storedBytes() <= DrawingHistory::ByteLimit);
}

void checkpoint(QByteArrayView body) {
    QByteArray file("SKTC", 4);
    file.resize(20);
    qToLittleEndian<quint32>(1, file.data() + 4);
    qToLittleEndian<quint64>(quint64(body.size()), file.data() + 8);
    qToLittleEndian<quint32>(journalformat::crc32(body), file.data() + 16);
    file.append(body);
    QString why;
    const auto state = journalcheckpoint::decode(file, &why);
    if (!state)
        return;
    check(state->history.blocks.size() == DrawingHistory::BlockCount);
    if (state->picture == RelayState::Picture::Pixels)
        check(state->pixels.size() == QSize(Board::Width, Board::Height));
    DrawingHistory history;
    history.restore(state->history);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArray framed = journalformat::segmentHeader(7);
    quint32 head[2] = {qToLittleEndian(quint32(size)),
                       qToLittleEndian(journalformat::crc32(input))};
    framed.append(reinterpret_cast<const char*>(head), sizeof head);
    framed.append(input);
    DrawingHistory history;
    Board board;
    replay(framed, history, board);
    replay(journalformat::segmentHeader(7) + input.toByteArray(), history, board);
    checkpoint(input);
    return 0;
}
