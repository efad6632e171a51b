// The asker's snapshot reader fed arbitrary reply lines (the text after
// "0:7:", one per '\n'), as a hostile or broken server could send them.
// Besides crashes, undefined behaviour and runaway memory it checks:
// - a snapshot is handed out only whole: 1600 x 1200 pixels in Format_RGB32
//   whose checksum is the one its "end" line announced;
// - after every rejection or completion nothing is left pending.
#include "board.h"
#include "snapshot.h"

#include <QString>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    boardsnapshot::Reader reader;
    for (QStringView line : QStringView(text).split(u'\n')) {
        const boardsnapshot::Reader::Event event = reader.feed(line);
        using Event = boardsnapshot::Reader::Event;
        if (event.kind == Event::Snapshot) {
            check(event.picture.size() == QSize(Board::Width, Board::Height));
            check(event.picture.format() == QImage::Format_RGB32);
            check(boardsnapshot::checksum(event.picture) == event.checksum);
        }
        if (event.kind == Event::Snapshot || event.kind == Event::Rejected)
            check(!reader.isPending());
    }
    return 0;
}
