#pragma once

#include "journalcheckpoint.h"
#include "journalformat.h"

#include <functional>

class DrawingHistory;
class DrawingRelay;
class MemberSessions;

// The parts of the relay whose state the board journal keeps, and the three
// ways the journal meets them: taking the whole state (a checkpoint),
// putting a whole state back, and replaying one recorded change exactly as
// the relay made it. Replay goes through the same calls the relay uses
// (DrawingHistory::append, Board::applyLine with the relay's reading of the
// line), so a replayed history and board are the ones the relay had.
struct JournalTarget {
    DrawingRelay& relay;
    DrawingHistory& history;
    MemberSessions& sessions;
    // Loads the picture file (board.png) into the board; says itself what
    // went wrong.
    std::function<void()> loadPictureFile;
};

namespace journalreplay {

RelayState capture(const JournalTarget& target);
// Puts `state` back; false when its history was not usable (the history is
// then left empty; the rest is back).
bool restore(const JournalTarget& target, const RelayState& state);
void apply(const JournalTarget& target, const journalformat::Record& record);

} // namespace journalreplay
