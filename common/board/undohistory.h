#pragma once

#include "board.h"
#include "tileframe.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSet>
#include <QStringView>
#include <array>
#include <optional>
#include <vector>

// The undoable history of one board: every line the board applied since the
// history began, kept as steps, grouped into actions that members can take
// back and restore, and the board rebuilt without the actions taken back.
//
// Actions are numbered from 0 in the order their first line came:
// - a stroke: the pen-down, pencil and eraser lines of one sender index from
//   its first such line to its pen-up (restarts included). Colour and width
//   lines are never part of a stroke, so a stroke restored later is drawn in
//   the colour and width it had. A stroke that painted nothing (a click, a
//   hand scroll) is not offered for undo.
// - a clear-all.
// Each member (an identity announced for a sender index, see undowire.h)
// has an undo list and a redo list of its own actions, newest last, at most
// Depth deep. A stroke enters its member's undo list at its pen-up and
// empties that member's redo list; a clear-all empties every list and
// enters its member's undo list. Actions of a sender index that announced no
// identity (a described client) belong to nobody and are never undone.
//
// Undoing action n makes the board what it would be had n never been drawn:
// the area the action painted is rebuilt from the latest kept frame before
// it, replaying every later step except the actions taken back, with the same
// Board, so the pixels are those of a full replay. Other members' strokes
// drawn later over the same pixels stay. The pens of the live board are not
// rebuilt: they are what the stream set and every member holds.
//
// Everything here is a function of the lines taken, in order: the server
// feeds the lines its history stores and its board applies, a log player
// feeds the lines of a log, and both end with the same pixels. The markers
// (undo, redo, identities, the picture beneath the history) are command-7
// lines of undowire.h, which a described player drops.
//
// Cost: a step is 16 bytes; frames share unchanged 64 x 64 tiles and are
// thinned (every other one dropped, the spacing doubled) past MaxFrames or
// FrameBudget bytes, so a rebuild replays at most one spacing plus the steps
// after the action. Past MaxSteps the history stops recording (suspended).
class UndoHistory {
public:
    static constexpr int Depth = 100;
    static constexpr int MaxFrames = 24;
    static constexpr qsizetype FrameBudget = 64 * 1024 * 1024;
    static constexpr int FirstSpacing = 1000;
    static constexpr int PlayerSpacing = 16000;
    static constexpr qsizetype MaxSteps = 2000000;

    struct Action {
        qint32 firstStep = 0;
        qint16 index = 0;
        bool clear = false;
        bool open = true; // a stroke until its pen-up
        bool painted = false;
        bool undone = false;
        QRect area;        // what it painted (a clear: the whole board)
        qint32 owner = -1; // into the member table, -1 for nobody
    };

    // Who keeps the history:
    // - Server: the board as it is now is the picture beneath the history, so
    //   a picture stored in the history later is not read again; frames are
    //   kept close together (members wait for a rebuild).
    // - Player: the canvas as it is now is only a start; a picture in the
    //   history replaces it. Frames are kept only from the first marker on and
    //   further apart: most logs hold none, and a player applies lines far
    //   more often than it meets a marker.
    enum class Use { Server, Player };
    explicit UndoHistory(Board& board, Use use = Use::Server);

    // A new, empty history over the board as it is now (the server emptied
    // its history); every member's lists are emptied.
    void restart();
    // The history no longer holds what the board shows (lines were applied
    // but could not be stored): nothing can be undone until restart().
    void suspend();
    bool isSuspended() const { return m_suspended; }

    // One line as the history stores it, relayed form without terminator:
    // applied to the board (pen lines), or read as a marker (command 7).
    // Returns the command of a line that changed the board or was a marker,
    // -1 for lines that leave the board alone (pen-up, member count, lines
    // that are dropped) so the caller may hand them on.
    int take(QStringView line);

    // The member's newest action it can take back / restore, if any.
    std::optional<int> nextUndo(const QByteArray& member) const;
    std::optional<int> nextRedo(const QByteArray& member) const;
    int undoCount(const QByteArray& member) const;
    int redoCount(const QByteArray& member) const;
    // Members whose lists changed since the last call.
    QList<QByteArray> takeChangedMembers();

    int actionCount() const { return int(m_actions.size()); }
    const Action& action(int n) const { return m_actions.at(size_t(n)); }
    QByteArray ownerOf(int index) const;
    // The area the last undo or redo marker changed on the board (empty when
    // nothing changed).
    QRect lastChange() const { return m_lastChange; }
    // Undoing `n` needs the picture beneath the history stored first: n is
    // the clear-all that began it and the history does not hold that picture.
    bool needsBase(int n) const;
    QImage basePicture() const;

    qsizetype stepCount() const { return qsizetype(m_steps.size()); }
    int frameCount() const { return int(m_frames.size()); }
    int frameSpacing() const { return m_spacing; }

private:
    struct Entry {
        Board::Step step;
        qint32 action = -1;
    };
    struct Frame {
        qint64 position = 0; // the board before steps[position]
        TileFrame picture;
        Board::Pens pens{};
    };
    struct Lists {
        std::vector<qint32> undo, redo;
    };

    void marker(qint16 index, QStringView argument);
    void takeBase(const QList<QStringView>& fields);
    void setOwner(qint16 index, const QByteArray& member);
    void record(const Board::Step& step);
    qint32 actionFor(const Board::Step& step);
    void closeStroke(int index);
    void takeBack(int n, bool undo);
    void rebuild(const Action& action);
    void keepFrame();
    void thinFrames();
    qsizetype frameBytes() const;
    qint32 memberId(const QByteArray& member);
    const Lists* listsOf(const QByteArray& member) const;
    void changed(qint32 owner);

    Board& m_board;
    Use m_use = Use::Server;
    bool m_baseKnown = true;
    bool m_markerSeen = false;
    bool m_baseInHistory = false;
    bool m_suspended = false;
    std::vector<Entry> m_steps;
    std::vector<Action> m_actions;
    std::array<qint32, Board::Slots> m_open{};  // open stroke per index, -1 none
    std::array<qint32, Board::Slots> m_owner{}; // member per index, -1 none
    QList<QByteArray> m_members;                // member table: identities
    QHash<QByteArray, qint32> m_memberIds;
    std::vector<Lists> m_lists; // by member id
    QSet<qint32> m_changed;
    std::vector<Frame> m_frames;
    std::vector<char> m_dirty; // tiles changed since the last frame
    int m_spacing = FirstSpacing;
    qsizetype m_frameBytes = 0; // what the frames keep alive (counted anew after a thinning)
    QRect m_lastChange;
    QByteArray m_baseData; // a picture block being gathered
    qint64 m_baseBytes = 0, m_baseChunks = 0, m_baseSeen = 0;
    std::optional<Board> m_scratch;
};
