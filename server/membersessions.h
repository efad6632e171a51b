#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <deque>
#include <functional>
#include <vector>

class EndpointArray;

// The resend ledger of the drawing channel: for each member session of ours
// (an id the member made, see linkkeeper.h), how many of its lines the
// server has taken, and how many of those are durable, that is in the board
// journal on disk.
//
// A connection counts for the session it claimed: every line that arrives on
// it after the claim, whatever its command, is one more taken line. A
// session outlives its connections, so a member that reconnects learns how
// far the server got. The journal records the counts with the lines they
// count (recordChanges) and reports which of its writes reached the disk
// (durableUpTo); without a journal everything taken counts as durable.
//
// At most MaxSessions are kept; a new one replaces the one unused longest.
class MemberSessions {
public:
    static constexpr int MaxSessions = 64;
    static constexpr size_t MaxRecorded = 256; // journal writes awaiting the disk, per session

    explicit MemberSessions(const EndpointArray& ws);

    // Connection k continues session `id`. Returns the index of another
    // connection still attached to it (to be cut first), or -1.
    int claim(int k, QByteArrayView id);
    // A line arrived on connection k.
    void lineArrived(int k) {
        if (size_t(k) < m_byIndex.size() && m_byIndex[size_t(k)].session >= 0)
            countLine(k);
    }

    bool hasSession(int k) const { return sessionOf(k) >= 0; }
    quint64 taken(QByteArrayView id) const;
    quint64 durable(QByteArrayView id) const;
    // Of connection k's session; 0 without one.
    quint64 durableOf(int k) const;

    // The journal's side. recordChanges hands every count that changed since
    // the last call to `write`, as part of the journal write `seq`;
    // recordedAll notes that write `seq` holds every count (a checkpoint).
    void recordChanges(quint64 seq, const std::function<void(QByteArrayView, quint64)>& write);
    void recordedAll(quint64 seq);
    void durableUpTo(quint64 seq);
    // With no journal to wait for, what is taken is durable.
    void setEverythingDurable(bool on);

    // Bringing back a kept state: the counts recorded for `id`.
    void restoreCount(QByteArrayView id, quint64 lines);
    QByteArray save() const;
    bool restore(QByteArrayView saved);

private:
    struct Session {
        QByteArray id;
        quint64 taken = 0;
        quint64 durable = 0;
        quint64 lastUse = 0;
        bool changed = false;
        std::deque<std::pair<quint64, quint64>> recorded; // (write, count), oldest first
    };
    struct Attachment {
        int session = -1;
        quint64 serial = 0;
    };

    int find(QByteArrayView id) const;
    int add(QByteArrayView id);
    int sessionOf(int k) const;
    void countLine(int k);
    static void note(Session& s, quint64 seq);

    const EndpointArray& m_ws;
    std::vector<Session> m_sessions;
    std::vector<Attachment> m_byIndex;
    quint64 m_clock = 0;
    bool m_everythingDurable = false;
};
