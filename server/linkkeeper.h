#pragma once

#include "extensionreader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

class EndpointArray;
class HeartbeatWatcher;
class MemberSessions;

// The link verbs of our own members: a heartbeat on both channels, and on
// the drawing channel the count that makes a resend after a reconnect
// lossless. Described clients never send these and are never sent them.
//
// Drawing channel (command 7), answered to the asker alone:
//   "7:ping <tok>"          ->  "0:7:pong <tok> <n>"
//   "7:session <id>"        ->  "0:7:session <id> <n>"
// Text channel (type 9), answered to the asker alone:
//   "9<:>ping <tok>"        ->  k "<:>9<:>pong <tok>"      (k: the asker's index)
// <tok> and <id>: 1 to 16 characters of [0-9A-Za-z]; numbers plain decimal.
//
// Heartbeat. A connection that has sent a ping and then sends nothing at all
// for the heartbeat timeout (20 s unless the server is told otherwise) is
// closed by the server as if it had gone away; a member pings every 5 s or
// so. A pong that does not come within 20 s tells the member its link is dead.
//
// Sessions. A member makes one random <id> for its run of the program and
// claims it on every drawing connection, right after announcing its pen.
// From the claim on, every line it sends on that connection, whatever its
// command (pings included), is one line of the session, counted by the server
// when it takes the line. The session answer <n> is the number of the
// session's lines the server took before the claim, on every earlier
// connection, all of them durable: it comes once they are in the board
// journal on disk (within a second or so; at most 5 s when the disk does not
// take them). An earlier connection still open on the same session is closed
// first, so it takes nothing more. A pong's <n> is the number of the
// session's lines that are durable so far (0 before a claim).
//
// Lossless resend, what the member does:
//   1. It numbers the lines it sends after its claim 1, 2, 3, ... and keeps
//      each drawing line (commands 0 to 6) with its number until it is durable.
//   2. On each pong it drops the kept lines numbered up to <n>.
//   3. While it is disconnected it keeps what its user draws, as lines to send.
//   4. After reconnecting it announces its pen and sends "7:session <id>" and
//      "7:snap <tok>", then sends no other line until the session answer has
//      come. It drops the kept lines up to <n>: the server has them. The
//      next line it sends is number <n> + 1.
//   5. Once the shared picture has arrived and is shown, it sends, in order:
//      its pen as it was after line <n> (colour, width, and a pen-down at the
//      point reached if line <n> left a stroke unfinished), every kept line
//      after <n>, and what was drawn while it was offline; then its current pen.
// So every line reaches the board exactly once: what the server took is never
// sent again, what it did not take is sent again after the picture it missed.
//
// A member that was offline while someone cleared the board still sends its
// kept strokes, now on top of the cleared board: they were drawn after
// everything that member had seen, and a clear it never saw must not
// silently take them away. Whoever wants them gone clears again. The same
// rule the other way round: a clear-all among the member's own kept lines is
// sent like any other line, since the member meant it for what it had seen.
class LinkKeeper : public QObject, public ExtensionReader {
    Q_OBJECT
public:
    static constexpr int LongestWaitMs = 5000; // for a session answer

    LinkKeeper(EndpointArray& ws, MemberSessions& sessions, HeartbeatWatcher& watcher,
               QObject* parent = nullptr);

    bool readExtension(int k, QByteArrayView line) override;
    // More of the sessions' lines are on disk: answers the claims that waited for them.
    void durableAdvanced();

private:
    struct Waiting {
        int k = 0;
        quint64 serial = 0;
        QByteArray id;
        quint64 taken = 0;
        qint64 since = 0;
    };
    void claim(int k, QByteArrayView id);
    void answerWaiting();

    EndpointArray& m_ws;
    MemberSessions& m_sessions;
    HeartbeatWatcher& m_watcher;
    std::vector<Waiting> m_waiting;
    QElapsedTimer m_clock;
    QTimer m_longestWait;
};

// The text channel's heartbeat (see LinkKeeper).
class TextLinkKeeper : public ExtensionReader {
public:
    TextLinkKeeper(EndpointArray& wsTxt, HeartbeatWatcher& watcher);
    bool readExtension(int k, QByteArrayView piece) override;

private:
    EndpointArray& m_ws;
    HeartbeatWatcher& m_watcher;
};
