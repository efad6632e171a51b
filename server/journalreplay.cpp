#include "journalreplay.h"

#include "drawinghistory.h"
#include "drawingline.h"
#include "drawingrelay.h"
#include "membersessions.h"

namespace journalreplay {

RelayState capture(const JournalTarget& target) {
    RelayState state;
    const Board& board = target.relay.board();
    if (!board.isBlank()) {
        state.picture = RelayState::Picture::Pixels;
        state.pixels = board.image(); // shared until the board paints again
    }
    state.pens = board.pens();
    for (int i = 0; i < Board::Slots; ++i) {
        state.greetingColours[i] = target.relay.penColor(i);
        state.greetingSizes[i] = target.relay.penSize(i);
    }
    state.history = target.history.state();
    state.sessions = target.sessions.save();
    return state;
}

bool restore(const JournalTarget& target, const RelayState& state) {
    Board& board = target.relay.board();
    switch (state.picture) {
    case RelayState::Picture::White: {
        QImage white(Board::Width, Board::Height, QImage::Format_RGB32);
        white.fill(QColor(255, 255, 255));
        board.replace(white, state.pens);
        break;
    }
    case RelayState::Picture::Pixels:
        board.replace(state.pixels, state.pens);
        break;
    case RelayState::Picture::BoardFile:
        target.loadPictureFile();
        board.replace(board.image(), state.pens);
        break;
    }
    for (int i = 0; i < Board::Slots; ++i)
        target.relay.setGreetingPen(i, state.greetingColours[i], state.greetingSizes[i]);
    target.sessions.restore(state.sessions);
    if (target.history.restore(state.history))
        return true;
    target.history.clear();
    return false;
}

void apply(const JournalTarget& target, const journalformat::Record& record) {
    using namespace journalformat;
    switch (record.kind) {
    case Line:
        if (const auto line = readLine(record.body)) {
            if (line->flags & ToHistory)
                target.history.append(line->line, (line->flags & BlockTest) != 0);
            if ((line->flags & ToBoard) && line->line.endsWith("\r\n"))
                target.relay.board().applyLine(
                    protocol::drawing::decodeText(line->line.chopped(2)));
        }
        break;
    case Cleared:
        target.history.clear();
        break;
    case GreetingPen:
        if (const auto pen = readGreetingPen(record.body))
            target.relay.setGreetingPen(pen->slot, pen->colour, pen->size);
        break;
    case Session:
        if (const auto session = readSession(record.body))
            target.sessions.restoreCount(session->id, session->lines);
        break;
    default:
        break; // a kind this version does not know
    }
}

} // namespace journalreplay
