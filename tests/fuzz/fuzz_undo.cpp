// The undo lines fed arbitrary text, one line per '\n': as history lines to
// an undo history (a hostile log, or a member's relayed lines), as the
// arguments after "0:7:" to a member's reader (a broken server), and as
// upstream requests to the server's parser. Besides crashes, undefined
// behaviour and runaway memory it checks:
// - a patch is handed out only whole, inside the board, its pixels the
//   rectangle's size in Format_RGB32, nothing left pending;
// - the board keeps its size whatever the history was told;
// - a request the parser accepts carries a token or id of the allowed form.
#include "board.h"
#include "undohistory.h"
#include "undowire.h"

#include <QString>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromLatin1(bytes);
    Board board;
    UndoHistory history(board, UndoHistory::Use::Player);
    undowire::Reader reader;
    using Event = undowire::Reader::Event;
    for (QStringView line : QStringView(text).split(u'\n')) {
        history.take(line);
        const Event event = reader.feed(line);
        if (event.kind == Event::Patch) {
            check(QRect(0, 0, Board::Width, Board::Height).contains(event.area));
            check(event.pixels.size() == event.area.size());
            check(event.pixels.format() == QImage::Format_RGB32);
        }
        if (event.kind == Event::Patch || event.kind == Event::Rejected)
            check(!reader.isPending());
    }
    check(board.image().size() == QSize(Board::Width, Board::Height));
    for (const QByteArray& line : bytes.split('\n'))
        if (const auto request = undowire::parseRequest(line))
            check(!request->token.isEmpty() && request->token.size() <= 32);
    return 0;
}
