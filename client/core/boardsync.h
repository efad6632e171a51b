#pragma once

#include "boardbackup.h"
#include "snapshot.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

class Canvas;
class Clock;
class DrawingChannel;
class NoticeView;

// Keeps the member's canvas equal to the server's board over command 7 (the
// requests and replies: snapshot.h).
//
// - Right after connecting (after the pen announcement) it asks for the
//   shared picture ("7:snap"), and again when the member chooses
//   "共有画面を取り直す(&S)". A local picture that holds a drawing and differs
//   from the arriving one is first kept as a backup file (BoardBackup), and a
//   notice says where.
// - Own strokes paint at once while other members' arrive later, so two
//   members painting the same pixels at the same moment can end different.
//   Once the canvas has been quiet (no own segment, no change) for a moment,
//   it asks for the board's checksum ("7:sum"); if the member drew nothing
//   since asking and the sums differ, it takes a snapshot. One check per
//   quiet period, none after a match until something changes.
// - Own segments drawn while a snapshot is on its way are painted again over
//   it: the snapshot was taken before the server saw them.
// - A server that never answers (one built before command 7 existed stores
//   and relays every request) is asked once per connection: after silentMs
//   without an answer no further request goes out on that connection.
// - A log still playing when the connection comes up makes the canvas a
//   local view: no snapshot and no checks until the member asks for one. A
//   notice stays up for as long as the canvas is a local view.
// - A server whose pen slots are all taken says so ("full") to a newcomer
//   of ours: a notice stays up until the connection ends, since the
//   member's strokes reach nobody (a described server never says it).
//
// At most one request is out at a time; the state says which. Every change
// of state goes through enter(), which forgets what was asked before and
// sends the request of the state entered:
//
//   state        meaning                          left on
//   Offline      no drawing connection            connection up: Snapshot, or
//                                                   LocalView while a log plays
//   LocalView    the canvas is the member's own   retake: Snapshot
//   Silent       a request went unanswered        retake: Snapshot
//   Watching     nothing asked                    quiet and changed since the
//                                                   last match: Check
//   Snapshot     "snap" out                       applied, rejected or no reply
//                                                   within pendingMs: Watching;
//                                                   own picture differs and no
//                                                   backup could be written:
//                                                   LocalView
//   Check        "sum" out, nothing drawn since   equal: Watching; different:
//                                                   Snapshot; own drawing:
//                                                   StaleCheck
//   StaleCheck   "sum" out, own drawing since     its reply, or none within
//                (its answer proves nothing)        pendingMs: Watching
//
// From every connected state, retake leads to Snapshot, connection down to
// Offline, and the first request of a connection unanswered for silentMs to
// Silent.
class BoardSync : public QObject {
    Q_OBJECT
public:
    enum class State { Offline, LocalView, Silent, Watching, Snapshot, Check, StaleCheck };
    Q_ENUM(State)

    struct Timing {
        int quietMs = 1500;  // no own drawing and no change for this long: check
        int silentMs = 5000; // first request unanswered for this long: stop asking
        int pollMs = 250;
        int pendingMs = 60000; // a request without its reply is forgotten
    };

    // What it works on: the drawing channel (requests out, replies in), the
    // canvas (own strokes are heard from it, snapshots land on its board),
    // the preview refresh, whether a log is being played back, the clock
    // that names backups and where the member is told about them.
    struct Parts {
        DrawingChannel& channel;
        Canvas& canvas;
        std::function<void()> refreshPreview;
        std::function<bool()> logPlaying;
        const Clock& clock;
        NoticeView& notices;
    };

    explicit BoardSync(Parts parts, QObject* parent = nullptr);

    void setTiming(const Timing& timing);
    // Where backups go; empty means the current directory. Asked at the
    // moment a backup is written.
    // Asked when a shared picture arrives: true when every own stroke the
    // canvas holds is on the server or about to be sent again, so the
    // picture discards nothing and no backup is written.
    void setSpareCheck(std::function<bool()> keepsAll) { m_keepsAll = std::move(keepsAll); }
    void setBackupDirectory(std::function<QString()> directory) {
        m_backup.setDirectory(std::move(directory));
    }

    // "共有画面を取り直す(&S)": asks for the shared picture now.
    void retake();

    State state() const { return m_state; }
    QString lastBackup() const { return m_lastBackup; }

signals:
    // The server answered a request of this connection for the first time:
    // it speaks command 7 (one built before it relays requests instead).
    void serverAnswered();
    void snapshotApplied();
    void stateChanged(BoardSync::State state);
    void checksumCompared(bool equal);

private:
    enum class KeepLocal { No, Yes };
    struct Segment {
        qint16 ox, oy, x, y, wdt;
        qint32 colour;
        bool clear;
    };

    void enter(State next, KeepLocal keep = KeepLocal::No);
    bool isConnected() const { return m_state != State::Offline; }
    bool isReplyTo(State asked, const QString& token) const;
    void onConnected();
    void onReply(QStringView argument);
    void onSum(const boardsnapshot::Reader::Event& event);
    void onLocalChange(const Segment& segment);
    void poll();
    void noticeChanges();
    void send(const QByteArray& line);
    void apply(const boardsnapshot::Reader::Event& event);

    Parts m_parts;
    Timing m_timing;
    QTimer m_poll;
    boardsnapshot::Reader m_reader;
    BoardBackup m_backup;

    State m_state = State::Offline;
    // The request out: its token and age; for a snapshot, the canvas when it
    // was asked (for the backup rule) and the own segments drawn since.
    QString m_token;
    QElapsedTimer m_requestSince;
    QImage m_localPicture;
    std::vector<Segment> m_replay;

    // Whether the server answers at all, per connection.
    bool m_answered = false;
    QElapsedTimer m_firstAsk;

    // Quiet periods: the last change, the picture revision a check or
    // snapshot found equal to the server's, and whether this period's one
    // check has gone out.
    QElapsedTimer m_lastActivity;
    quint64 m_seenRevision = 0;
    std::optional<quint64> m_syncedRevision;
    bool m_checkedThisPeriod = false;

    QString m_lastBackup;
    std::function<bool()> m_keepsAll;
};
