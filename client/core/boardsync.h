#pragma once

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
class DrawReceiver;
class LogPlayer;

namespace net {
class SocketEndpoint;
}

// Keeps the member's canvas equal to the server's board over command 7
// (wire format in snapshot.h).
//
// - Right after connecting (after the pen announcement) it asks for the
//   shared picture ("7:snap"), and again when the member chooses
//   "共有画面を取り直す(&S)". A local picture that holds a drawing and differs
//   from the arriving one is first written as "sketora-backup-*.png" next to
//   the settings file, and the status line says so.
// - Own strokes paint at once while other members' arrive later, so two
//   members painting the same pixels at the same moment can end different.
//   Once the canvas has been quiet (no own segment, no change) for a moment,
//   it asks for the board's checksum ("7:sum"); if the member drew nothing
//   since asking and the sums differ, it takes a snapshot. One check per
//   quiet period, none after a match until something changes.
// - Own segments drawn while a snapshot is on its way are painted again over
//   it: the snapshot was taken before the server saw them.
// - A server that never answers (one built before command 7 existed stores
//   and relays every request) is asked once per connection: after SilentMs
//   without an answer no further request goes out on that connection.
// - A log still playing when the connection comes up makes the canvas a
//   local view: no snapshot and no checks until the member asks for one.
class BoardSync : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int quietMs = 1500;  // no own drawing and no change for this long: check
        int silentMs = 5000; // first request unanswered for this long: stop asking
        int pollMs = 250;
        int noteMs = 10000;    // how long the backup notice stays in the status line
        int pendingMs = 60000; // a request without its reply is forgotten
    };

    // What it works on: the drawing socket, the canvas (own strokes are
    // heard from it, snapshots land on its board) and the preview refresh.
    struct Parts {
        net::SocketEndpoint& ws;
        Canvas& canvas;
        std::function<void()> refreshPreview;
    };

    BoardSync(Parts parts, DrawReceiver& receiver, const LogPlayer& player,
              QObject* parent = nullptr);

    void setTiming(const Timing& timing);
    // Where backups go; empty means the current directory. Asked at the
    // moment a backup is written.
    void setBackupDirectory(std::function<QString()> directory) {
        m_backupDirectory = std::move(directory);
    }

    // "共有画面を取り直す(&S)": asks for the shared picture now.
    void retake();

    // Short text for the status line ("" when there is nothing to say).
    QString statusNote() const;
    bool isLocalView() const { return m_localView; }
    bool serverIsSilent() const { return m_silent; }
    QString lastBackup() const { return m_lastBackup; }

signals:
    void snapshotApplied();
    void checksumCompared(bool equal);

private:
    struct Segment {
        qint16 ox, oy, x, y, wdt;
        qint32 colour;
        bool clear;
    };

    void onConnected();
    void onClosed();
    void onCommand7(QStringView argument);
    void onLocalChange(const Segment& segment);
    void poll();
    void forgetRequests();
    void requestSnapshot(bool keepLocal);
    void requestSum();
    bool send(const QByteArray& line);
    void apply(const boardsnapshot::Reader::Event& event);
    bool writeBackup(const QImage& picture);

    Parts m_parts;
    const LogPlayer& m_player;
    Timing m_timing;
    QTimer m_poll;
    boardsnapshot::Reader m_reader;
    std::function<QString()> m_backupDirectory;

    bool m_connected = false;
    bool m_localView = false;
    bool m_answered = false; // the server has answered a request on this connection
    bool m_silent = false;
    QElapsedTimer m_firstAsk;

    QString m_snapToken;
    QElapsedTimer m_snapSince;
    QImage m_localPicture; // the canvas when asked, for the backup rule
    std::vector<Segment> m_replay;

    QString m_sumToken;
    QElapsedTimer m_sumSince;
    bool m_ownSinceSum = false;

    QElapsedTimer m_lastActivity;
    quint64 m_seenRevision = 0;
    std::optional<quint64> m_syncedRevision;
    bool m_checkedThisPeriod = false;

    QString m_lastBackup;
    QElapsedTimer m_noteSince;
};
