#pragma once

#include "linkwatch.h"
#include "resendlog.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class Board;
class BoardSync;
class DrawingChannel;

// The member's session on the drawing channel (the verbs and the resend
// steps: server/linkkeeper.h): one random id for the run of the program,
// claimed on every connection to a server that speaks it, the heartbeat that
// finds a dead link, and the resend after a reconnect. Every upstream line
// of the channel passes through here (DrawingChannel's send gate).
//
// Towards a server not yet known to speak command 7 nothing extra is sent:
// the claim goes out once the server has answered a request (BoardSync's
// serverAnswered), and the pings once the claim is answered. A server that
// answered on an address is known to speak it there until the member
// disconnects or connects elsewhere; reconnecting to it then claims right
// after the pen announcement.
//
//   phase     drawing lines                 other lines
//   Down      kept offline (known server)   not sent
//   Plain     sent, not counted             sent
//   Open      sent, counted and kept        sent, counted
//   Holding   kept offline until resent     sent, counted
//
// Holding lasts from a reconnect with something to send again until the
// answer has come and the shared picture has settled; the resend then goes
// out and the phase is Open. An answer that does not come within
// answerWaitMs gives up on the session for that connection: what was drawn
// offline is sent as it is, and the server is no longer taken for one of ours.
class SessionKeeper : public QObject {
    Q_OBJECT
public:
    enum class Phase { Down, Plain, Open, Holding };
    struct Timing {
        LinkWatch::Timing watch;
        int answerWaitMs = 15000;
    };

    // The channel it gates, the shared picture it waits for, and the board
    // (with its preview refresh) the resent lines are painted on again once
    // a shared picture has replaced them.
    struct Parts {
        DrawingChannel& channel;
        BoardSync& sync;
        Board& board;
        std::function<void()> refreshPreview;
    };
    explicit SessionKeeper(Parts parts, QObject* parent = nullptr);

    void setTiming(const Timing& timing);
    QByteArray id() const { return m_id; }
    Phase phase() const { return m_phase; }
    const ResendLog& log() const { return m_log; }
    // The server on this address has answered the session.
    bool knownServer() const { return m_known; }
    // Every own stroke the canvas holds is on the server or will be sent
    // again on this connection: a shared picture discards nothing.
    bool keepsAll() const;
    // The member disconnected or turns to another server: nothing kept is
    // sent anywhere (the backup rule covers the canvas again).
    void forget();

signals:
    void linkDead();    // no pong for too long: the connection was closed
    void serverKnown(); // the first session answer at this address
    void resendDone(int lines);

private:
    bool gate(const QByteArray& line);
    bool out(const QByteArray& line);
    void claim();
    void onAnswer(QStringView argument);
    void onPong(QStringView argument);
    void tryResend();
    void giveUp();
    void paintLocally(const QList<QByteArray>& lines);

    Parts m_parts;
    Timing m_timing;
    QByteArray m_id;
    ResendLog m_log;
    LinkWatch m_watch;
    QTimer m_answerWait;
    Phase m_phase = Phase::Down;
    bool m_known = false;
    bool m_claimed = false;  // on this connection
    bool m_answered = false; // on this connection
    bool m_pictureReplaced = false;
};
