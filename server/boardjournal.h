#pragma once

#include "drawinghistory.h"
#include "journalfolder.h"
#include "journalformat.h"
#include "journalreplay.h"
#include "journalworker.h"
#include "relayrecorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

// Keeps the relay's state across a crash: the shared picture and its pens,
// the greeting pens, the drawing history since it was last emptied and the
// members' session counts (MemberSessions), in the folder "board-journal"
// beside the log files.
//
// Every change of that state is recorded, in the order it happens, into a
// batch in memory; every FlushMs the batch goes to the current segment file
// in one write (journalformat.h), so a crash loses at most the last quarter
// second and tears at most the batch being written, and is then synced to
// the disk in the background. A checkpoint, the whole state at once
// (journalcheckpoint.h), is taken when the segments since the last one pass
// CheckpointBytes, after the picture changed other than line by line, and
// when the journal has been idle for IdleCheckpointMs; it is written in the
// background and the segments it covers go once it is on disk. So recovery
// reads one checkpoint and replays at most CheckpointBytes of changes.
//
// The session counts in a batch count exactly the lines whose changes are in
// the same or earlier batches; once a write is on disk the sessions hear it
// (durableAdvanced), which is what a member's acknowledgement reports.
//
// Folder held by another server, or not writable: no journal, the relay runs
// as it did before, the event log says why. A write that fails (a full disk)
// stops the segments, since what follows would build on what is missing;
// the next checkpoint that succeeds holds everything and they start again.
//
// A clean end (finish) leaves what a restart has always had: the picture (in
// board.png, written just before), and the session counts; the history and
// the greeting pens end with the program, as they always have.
class BoardJournal : public QObject, public DrawingHistory::Observer, public RelayRecorder {
    Q_OBJECT
public:
    static constexpr char FolderName[] = "board-journal";
    static constexpr int FlushMs = 250;
    static constexpr qint64 CheckpointBytes = 16 * 1024 * 1024;
    static constexpr int IdleCheckpointMs = 60000;
    static constexpr int RetryMs = 5000;
    static constexpr qsizetype MaxHeldBytes = 64 * 1024 * 1024;

    struct Parts {
        JournalTarget target;
        std::function<void(const QString&)> log; // a line for the event log
    };

    // What the last open() found.
    struct Recovery {
        bool fromCheckpoint = false;
        int segments = 0;
        quint64 records = 0;
        bool damaged = false; // a torn end or an unreadable file was passed over
        qint64 ms = 0;
    };

    BoardJournal(const QString& directory, Parts parts, QObject* parent = nullptr);
    ~BoardJournal() override;

    // Brings the relay back to what the folder holds (or loads the picture
    // file) and starts recording. False when there is no journal; the
    // picture file has then been loaded and everything taken counts as
    // durable.
    bool open();
    // No journal at all: the picture file only.
    void openWithout();
    bool isRecording() const { return m_recording; }
    const Recovery& recovery() const { return m_recovery; }
    QString folder() const { return m_folder.path(); }

    // Writes what is pending now instead of at the next tick.
    void flush();
    // The clean end; `pictureSaved`: board.png holds the board.
    void finish(bool pictureSaved);
    // Waits for the background writes and handles their outcomes (tools, tests).
    void settle();

    void appending(QByteArrayView line, bool blockTest) override;
    void clearing() override;
    void lineArrived(int k) override;
    void boardApplied(QByteArrayView relayed) override;
    void greetingPenChanged(int k, qint32 colour, qint16 size) override;
    void boardReplaced() override;

signals:
    void durableAdvanced();

private:
    void recover();
    void startBase();
    void replaySegments(quint64 first, const std::vector<quint64>& present);
    void arm();
    // The batch so far to the segment (or held, or dropped while broken).
    void writeBatch();
    void write(const QByteArray& batch, quint64 seq);
    void hold(QByteArray batch, quint64 seq);
    void requestSync(bool evenIfBusy);
    void onSynced(quint64 upTo, bool ok);
    void maybeCheckpoint();
    void checkpoint();
    void onCheckpointed(quint64 seq, qint64 coveredBytes, bool ok);
    void broken(quint64 seq, const QString& why);
    void reportDurable(quint64 seq);
    bool recording() const { return m_recording && !m_replaying; }

    JournalFolder m_folder;
    Parts m_parts;
    JournalWorker m_worker{this};
    bool m_recording = false;
    bool m_replaying = false;
    Recovery m_recovery;

    journalformat::BatchWriter m_batch;
    std::unique_ptr<QFile> m_segment; // null until the next write opens it
    quint64 m_segmentNumber = 1;
    bool m_folderChanged = false; // a file appeared that the next sync makes durable
    quint64 m_seq = 0;            // the last journal write (batch or checkpoint)
    quint64 m_written = 0;        // the last batch written to a segment
    quint64 m_syncPosted = 0;     // the last batch a posted sync covers
    int m_syncsRunning = 0;
    quint64 m_brokenSince = 0; // first write that failed; 0: all well
    qint64 m_sinceCheckpoint = 0;
    bool m_checkpointRunning = false;
    bool m_checkpointWanted = false;
    bool m_mending = false;     // the running checkpoint is to end a failure
    bool m_basePending = false; // no checkpoint of our own yet under the state
    struct Held {
        QByteArray batch;
        quint64 seq = 0;
    };
    std::vector<Held> m_held; // batches after a mending checkpoint, written once it is on disk
    qsizetype m_heldBytes = 0;
    QElapsedTimer m_lastFailure;
    bool m_failureLogged = false;
    bool m_flushArmed = false;
    QTimer m_flushTimer;
    QTimer m_idleTimer;
    QTimer m_retryTimer;
};
