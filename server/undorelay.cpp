#include "undorelay.h"

#include "board.h"
#include "drawingline.h"
#include "membertables.h"
#include "snapshot.h"

namespace drawing = protocol::drawing;
using undowire::Outcome;
using undowire::Request;

UndoRelay::UndoRelay(Board& board, Outlet outlet)
    : m_board(board), m_outlet(std::move(outlet)), m_history(board) {
    m_clock.start();
}

UndoRelay::Connection& UndoRelay::connection(int k) {
    if (size_t(k) >= m_connections.size())
        m_connections.resize(size_t(k) + 1);
    return m_connections[size_t(k)];
}

void UndoRelay::answer(int k, const Request& request) {
    if (request.kind == Request::Me)
        announce(k, request);
    else
        takeBack(k, request);
}

// "me": connection k is this member. Another connection that still claims
// the same member is an earlier connection of it (a reconnect): it loses the
// claim, so the lists follow the member to its new connection.
void UndoRelay::announce(int k, const Request& request) {
    const QByteArray member = undowire::memberOf(request.token);
    for (size_t j = 0; j < m_connections.size(); ++j)
        if (int(j) != k && m_connections[j].member == member)
            forget(int(j));
    Connection& c = connection(k);
    c.name = request.name;
    if (c.member != member) {
        c.member = member;
        if (protocol::hasSlot(k))
            storeAndTake(undowire::memberMarker(k, member));
    }
    sendCounts(member); // the asker hears its own counts right here
    m_outlet.send(k, undowire::canLine(m_history.undoCount(member), m_history.redoCount(member)));
}

void UndoRelay::takeBack(int k, const Request& request) {
    const bool undo = request.kind == Request::Undo;
    const QByteArray member =
        size_t(k) < m_connections.size() ? m_connections[size_t(k)].member : QByteArray();
    const auto reply = [&](Outcome outcome) {
        m_outlet.send(k, undowire::answerLine(request.kind, request.token, outcome,
                                              m_history.undoCount(member),
                                              m_history.redoCount(member)));
    };
    const std::optional<int> n =
        member.isEmpty() ? std::nullopt
                         : (undo ? m_history.nextUndo(member) : m_history.nextRedo(member));
    if (!n) {
        reply(Outcome::None);
        return;
    }
    if (!allow(k)) {
        reply(Outcome::Busy);
        return;
    }
    QElapsedTimer spent;
    spent.start();
    // The picture a clear wiped goes into the history first; when nothing
    // was drawn since, it is also the patch, encoded once.
    QImage base;
    QByteArray basePng;
    if (m_history.needsBase(*n)) {
        base = m_history.basePicture();
        basePng = boardsnapshot::encodePng(base);
        if (!storeAndTake(undowire::baseBlockOfPng(k, basePng))) {
            reply(Outcome::None);
            return;
        }
    }
    if (!storeAndTake(undowire::takeBackMarker(k, undo, *n))) {
        reply(Outcome::None);
        return;
    }
    const QRect area = m_history.lastChange();
    if (area == m_board.image().rect() && !basePng.isEmpty() && m_board.image() == base)
        m_outlet.sendToOurs(undowire::patchBlockOfPng(area, basePng, m_outlet.checksum()));
    else if (!area.isEmpty())
        m_outlet.sendToOurs(
            undowire::patchBlock(area, m_board.image().copy(area), m_outlet.checksum()));
    if (m_history.action(*n).clear)
        m_outlet.sendToOurs(undo ? undowire::restoredLine(k, nameOf(k))
                                 : undowire::clearedLine(k, true, nameOf(k)));
    m_debtMs += double(spent.elapsed());
    reply(Outcome::Done);
    sendCounts(member);
}

// Stores one or more lines in the history and takes them; a history that
// cannot take them no longer describes the board, so nothing is undoable
// until it starts over.
bool UndoRelay::storeAndTake(QByteArrayView lines) {
    for (QByteArrayView rest = lines; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf("\r\n");
        const QByteArrayView line = rest.first(end + 2);
        rest = rest.sliced(end + 2);
        if (!m_outlet.store(line)) {
            m_history.suspend();
            sendCounts();
            return false;
        }
        m_history.take(drawing::decodeText(line.chopped(2)));
    }
    return true;
}

void UndoRelay::relayed(int k, QByteArrayView relayedLine, bool stored) {
    if (!stored && !m_history.isSuspended()) {
        m_history.suspend();
        sendCounts();
    }
    const int cmd = m_history.take(drawing::decodeText(relayedLine.chopped(2)));
    if (cmd == drawing::ClearAll) {
        const QByteArray owner = m_history.ownerOf(k);
        m_outlet.sendToOurs(
            undowire::clearedLine(k, !owner.isEmpty() && !m_history.isSuspended(), nameOf(k)));
    }
    sendCounts();
}

void UndoRelay::historyRecovered() {
    if (!storeAndTake(undowire::epochMarker()))
        m_history.restart(); // a full history: the lists start over all the same
}

// The new history begins with who every connection of ours is, so a replay
// of it knows the owners of what follows.
void UndoRelay::historyEmptied() {
    m_history.restart();
    for (size_t k = 0; k < m_connections.size(); ++k)
        if (!m_connections[k].member.isEmpty() && protocol::hasSlot(int(k)))
            storeAndTake(undowire::memberMarker(int(k), m_connections[k].member));
}

void UndoRelay::opened(int k) {
    forget(k);
}

void UndoRelay::closed(int k) {
    forget(k);
}

// Connection k is nobody from here on.
void UndoRelay::forget(int k) {
    if (size_t(k) < m_connections.size())
        m_connections[size_t(k)] = Connection{};
    if (!m_history.ownerOf(k).isEmpty())
        storeAndTake(undowire::memberMarker(k, {}));
}

// A bucket per connection, and the server's rebuild time: each rebuild adds
// what it cost to a debt that is paid off at BudgetShare of the time going
// by; while the debt is above BudgetMs nothing is rebuilt. Cheap undos pass
// in bursts, an expensive one holds the next ones back until it is paid.
bool UndoRelay::allow(int k) {
    const qint64 now = m_clock.elapsed();
    m_debtMs = std::max(0.0, m_debtMs - double(now - m_paidMs) * BudgetShare);
    m_paidMs = now;
    if (m_debtMs >= BudgetMs)
        return false;
    Connection& c = connection(k);
    c.tokens = std::min<double>(Burst, c.tokens + (now - c.refilledMs) * RatePerSecond / 1000.0);
    c.refilledMs = now;
    if (c.tokens < 1)
        return false;
    c.tokens -= 1;
    return true;
}

// Every member of ours whose lists changed hears its counts (the asker of
// a request hears them in its answer).
void UndoRelay::sendCounts(const QByteArray& except) {
    const QList<QByteArray> members = m_history.takeChangedMembers();
    for (const QByteArray& member : members) {
        if (member == except)
            continue;
        for (size_t k = 0; k < m_connections.size(); ++k)
            if (m_connections[k].member == member)
                m_outlet.send(int(k), undowire::canLine(m_history.undoCount(member),
                                                        m_history.redoCount(member)));
    }
}

QString UndoRelay::nameOf(int k) const {
    if (size_t(k) < m_connections.size() && !m_connections[size_t(k)].name.isEmpty())
        return m_connections[size_t(k)].name;
    return m_outlet.knownName ? m_outlet.knownName(k) : QString();
}
