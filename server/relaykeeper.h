#pragma once

#include "socketendpoint.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class BoardJournal;
class DrawingHistory;
class DrawingRelay;
class EndpointArray;
class HeartbeatWatcher;
class LinkKeeper;
class MemberSessions;
class TextLinkKeeper;
class TextRelay;

// What keeps the relay whole when the server or a link goes away: the board
// journal (the board and the history survive a crash), the session ledger
// and the link verbs that let a member resend without loss, the heartbeat
// watch of both channels, and the kernel's keepalive timers on every
// connection. One object, wired to the relay's parts once, so the relay
// itself only reports what happens.
//
// Dead links. On both channels the kernel probes a connection idle for 10 s
// every 3 s and drops it after 3 unanswered probes, and drops it when sent
// data stays unacknowledged for 20 s: a machine that vanished is gone within
// about 20 s, described clients included (only a live kernel answers). A
// member of ours that is alive but stopped is caught by the heartbeat watch
// instead (linkkeeper.h). The text connection of a member is watched on its
// own terms: keepalive always, the heartbeat once that connection has pinged.
//
// The keeper must go before the relay parts it was given.
class RelayKeeper : public QObject {
    Q_OBJECT
public:
    static constexpr net::SocketEndpoint::KeepAlive DeadLink{10, 3, 3, 20000};

    struct Parts {
        EndpointArray& ws;
        EndpointArray& wsTxt;
        DrawingRelay& drawing;
        TextRelay& text;
        DrawingHistory& history;
        std::function<void()> loadPictureFile;
        std::function<void(const QString&)> log;
    };

    RelayKeeper(const QString& directory, Parts parts, QObject* parent = nullptr);
    ~RelayKeeper() override;

    // Brings back what the journal holds and starts it; with `journal` false
    // only the picture file is read and nothing is recorded.
    void open(bool journal);
    // The clean end (see BoardJournal::finish).
    void finish(bool pictureSaved);

    void setHeartbeatTimeoutMs(int ms);

    BoardJournal& journal() { return *m_journal; }
    MemberSessions& sessions() { return *m_sessions; }

private:
    Parts m_parts;
    // In the order they depend on each other; destroyed the other way round.
    std::unique_ptr<MemberSessions> m_sessions;
    std::unique_ptr<BoardJournal> m_journal;
    std::unique_ptr<HeartbeatWatcher> m_drawingWatch;
    std::unique_ptr<HeartbeatWatcher> m_textWatch;
    std::unique_ptr<LinkKeeper> m_links;
    std::unique_ptr<TextLinkKeeper> m_textLinks;
};
