#include "boardjournal.h"

#include "drawingrelay.h"
#include "membersessions.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>

#include <unistd.h>

using namespace journalformat;

BoardJournal::BoardJournal(const QString& directory, Parts parts, QObject* parent)
    : QObject(parent), m_folder(QDir(directory).filePath(QString::fromLatin1(FolderName))),
      m_parts(std::move(parts)) {
    for (QTimer* timer : {&m_flushTimer, &m_idleTimer, &m_retryTimer})
        timer->setSingleShot(true);
    m_flushTimer.setInterval(FlushMs);
    m_idleTimer.setInterval(IdleCheckpointMs);
    m_retryTimer.setInterval(RetryMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &BoardJournal::flush);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_sinceCheckpoint > 0)
            m_checkpointWanted = true;
        flush();
    });
    connect(&m_retryTimer, &QTimer::timeout, this, &BoardJournal::flush);
}

BoardJournal::~BoardJournal() {
    if (m_recording)
        flush();
    m_worker.waitForDone();
}

// ---- opening and recovery

bool BoardJournal::open() {
    QElapsedTimer clock;
    clock.start();
    QString why;
    if (!m_folder.lock(&why)) {
        m_parts.log(QStringLiteral("共有画面の記録を残せません: %1").arg(why));
        openWithout();
        return false;
    }
    m_replaying = true;
    recover();
    m_replaying = false;
    m_recovery.ms = clock.elapsed();
    m_recording = true;
    if (m_recovery.records > 0 || m_recovery.damaged)
        m_parts.log(QStringLiteral("共有画面を記録から戻しました（%1 件、%2 ms）%3")
                        .arg(m_recovery.records)
                        .arg(m_recovery.ms)
                        .arg(m_recovery.damaged
                                 ? QStringLiteral("。途中で切れていた最後の書き込みは捨てました")
                                 : QString()));
    if (m_checkpointWanted)
        arm();
    return true;
}

void BoardJournal::openWithout() {
    m_parts.target.loadPictureFile();
    m_parts.target.sessions.setEverythingDurable(true);
}

// The checkpoint, then every segment from the one it names on, in order. A
// state that does not rest on a checkpoint of its own (none, an unreadable
// one, or the picture file of a clean end) gets one before the first change
// is recorded on top of it (startBase); until then the folder is left as it
// is, so a server that only starts and ends changes nothing there.
void BoardJournal::recover() {
    const JournalTarget& target = m_parts.target;
    std::optional<RelayState> saved;
    if (m_folder.hasCheckpoint()) {
        QString why;
        saved = m_folder.readCheckpoint(&why);
        if (!saved) {
            m_parts.log(
                QStringLiteral("共有画面の記録 %1 を読めません（%2）").arg(m_folder.path(), why));
            m_recovery.damaged = true;
        }
    }
    const std::vector<quint64> present = m_folder.segments();
    quint64 first = present.empty() ? 1 : present.front();
    if (saved) {
        if (!journalreplay::restore(target, *saved))
            m_recovery.damaged = true;
        first = saved->firstSegment;
        m_recovery.fromCheckpoint = true;
        m_basePending = saved->picture == RelayState::Picture::BoardFile;
    } else {
        target.loadPictureFile();
        m_basePending = true;
    }
    replaySegments(first, present);
    m_segmentNumber = std::max(first, present.empty() ? first : present.back() + 1);
    m_checkpointWanted = !m_basePending && m_recovery.records > 0;
}

// The state as it is now, before the first change, becomes the checkpoint
// everything after it builds on; batches wait until it is on disk, as after
// a failed write.
void BoardJournal::startBase() {
    m_basePending = false;
    m_brokenSince = m_seq + 1;
    checkpoint();
}

// A torn batch ends its segment; the next segment goes on from there, since
// it was written by a server that had recovered up to the same point.
void BoardJournal::replaySegments(quint64 first, const std::vector<quint64>& present) {
    const JournalTarget& target = m_parts.target;
    for (quint64 number : present) {
        if (number < first)
            continue;
        QFile file(m_folder.segmentPath(number));
        if (!file.open(QIODevice::ReadOnly)) {
            m_recovery.damaged = true;
            continue;
        }
        const QByteArray content = file.readAll();
        const SegmentRead read =
            readSegment(content, number, [&](const Record& r) { journalreplay::apply(target, r); });
        ++m_recovery.segments;
        m_recovery.records += read.records;
        if (read.torn || (!read.headerOk && !content.isEmpty()))
            m_recovery.damaged = true;
    }
}

// ---- recording

void BoardJournal::arm() {
    if (m_flushArmed)
        return;
    m_flushArmed = true;
    m_flushTimer.start(FlushMs);
}

void BoardJournal::appending(QByteArrayView line, bool blockTest) {
    if (!recording())
        return;
    if (m_basePending)
        startBase();
    m_batch.line(line, quint8(ToHistory | (blockTest ? BlockTest : 0)));
    arm();
}

// A log file may have just taken what is emptied here: the clearing goes to
// the disk with it, not a quarter of a second later. The history is still
// full at this point, so a checkpoint waits until it is empty: right after
// it, when one would fall due soon anyway, since an empty history is the
// cheapest to write.
void BoardJournal::clearing() {
    if (!recording())
        return;
    if (m_basePending)
        startBase();
    m_batch.cleared();
    writeBatch();
    if (m_sinceCheckpoint >= CheckpointBytes / 4)
        m_checkpointWanted = true;
    if (m_checkpointWanted || m_sinceCheckpoint >= CheckpointBytes) {
        m_flushArmed = true;
        m_flushTimer.start(0);
    }
}

void BoardJournal::lineArrived(int k) {
    if (recording()) {
        if (m_basePending)
            startBase();
        arm();
    }
    m_parts.target.sessions.lineArrived(k);
}

void BoardJournal::boardApplied(QByteArrayView relayed) {
    if (!recording())
        return;
    if (!m_batch.markLastLineApplied(relayed))
        m_batch.line(relayed, ToBoard);
    arm();
}

void BoardJournal::greetingPenChanged(int k, qint32 colour, qint16 size) {
    if (!recording())
        return;
    m_batch.greetingPen(k, colour, size);
    arm();
}

void BoardJournal::boardReplaced() {
    if (!recording())
        return;
    m_checkpointWanted = true;
    arm();
}

// While the journal is broken, batches are not written: they would build on
// what is missing. The mending checkpoint holds everything up to its start;
// what comes after it waits for its outcome.
void BoardJournal::flush() {
    m_flushArmed = false;
    m_flushTimer.stop();
    if (!recording())
        return;
    writeBatch();
    maybeCheckpoint();
}

void BoardJournal::writeBatch() {
    const quint64 seq = m_seq + 1;
    m_parts.target.sessions.recordChanges(
        seq, [this](QByteArrayView id, quint64 lines) { m_batch.session(id, lines); });
    if (!m_batch.isEmpty()) {
        m_seq = seq;
        QByteArray batch = m_batch.take();
        if (m_brokenSince == 0)
            write(batch, seq);
        else if (m_mending)
            hold(std::move(batch), seq);
        m_idleTimer.start();
    }
}

// A disk that takes long over the mending checkpoint must not make the held
// batches grow without end: past MaxHeldBytes they go, and that checkpoint
// no longer mends (the next one, taken later, holds them).
void BoardJournal::hold(QByteArray batch, quint64 seq) {
    m_heldBytes += batch.size();
    if (m_heldBytes > MaxHeldBytes) {
        m_held.clear();
        m_heldBytes = 0;
        m_mending = false;
        return;
    }
    m_held.push_back({std::move(batch), seq});
}

void BoardJournal::write(const QByteArray& batch, quint64 seq) {
    if (!m_segment) {
        m_segment = m_folder.createSegment(m_segmentNumber);
        if (!m_segment) {
            broken(seq,
                   QStringLiteral("%1 を作れません").arg(m_folder.segmentPath(m_segmentNumber)));
            return;
        }
        m_folderChanged = true; // its name is made durable with the next sync
    }
    if (m_segment->write(batch) != batch.size()) {
        broken(seq, QStringLiteral("%1 に書き込めません。ディスクの空きを確かめてください")
                        .arg(m_folder.segmentPath(m_segmentNumber)));
        return;
    }
    m_written = seq;
    m_sinceCheckpoint += batch.size();
    requestSync(false);
}

// One sync at a time covers every batch written before it starts; at a
// checkpoint the old segment gets its own, queued before the checkpoint.
void BoardJournal::requestSync(bool evenIfBusy) {
    if (!m_segment || m_written <= m_syncPosted || (m_syncsRunning > 0 && !evenIfBusy))
        return;
    const quint64 upTo = m_written;
    m_syncPosted = upTo;
    ++m_syncsRunning;
    // A descriptor of its own: the segment may be closed meanwhile.
    const int fd = ::dup(m_segment->handle());
    const bool folderToo = std::exchange(m_folderChanged, false);
    m_worker.post(
        [fd, folderToo, folder = m_folder.path()] {
            bool ok = fd >= 0 && ::fdatasync(fd) == 0;
            if (fd >= 0)
                ::close(fd);
            if (folderToo)
                ok = JournalWorker::syncFolder(folder) && ok;
            return ok;
        },
        [this, upTo](bool ok) { onSynced(upTo, ok); });
}

void BoardJournal::onSynced(quint64 upTo, bool ok) {
    --m_syncsRunning;
    if (!m_recording)
        return;
    if (ok)
        reportDurable(upTo);
    else
        broken(upTo, QStringLiteral("ディスクに書き込めません"));
    requestSync(false);
}

void BoardJournal::reportDurable(quint64 seq) {
    if (m_brokenSince != 0 && seq >= m_brokenSince)
        return;
    m_parts.target.sessions.durableUpTo(seq);
    emit durableAdvanced();
}

void BoardJournal::broken(quint64 seq, const QString& why) {
    if (m_brokenSince == 0)
        m_brokenSince = seq;
    if (!m_failureLogged) {
        m_failureLogged = true;
        m_parts.log(
            QStringLiteral("共有画面の記録を書けません（%1）。書けるまで試し続けます").arg(why));
    }
    m_segment.reset();
    m_checkpointWanted = true;
}

// ---- checkpoints

void BoardJournal::maybeCheckpoint() {
    if (!recording() || m_checkpointRunning)
        return;
    if (!m_checkpointWanted && m_brokenSince == 0 && m_sinceCheckpoint < CheckpointBytes)
        return;
    if (m_lastFailure.isValid() && m_lastFailure.elapsed() < RetryMs) {
        if (!m_retryTimer.isActive())
            m_retryTimer.start(int(RetryMs - m_lastFailure.elapsed()));
        return;
    }
    checkpoint();
}

// Called right after a flush: everything recorded is in the old segment,
// which gets its sync; the state is taken now and what follows goes to a new
// segment. The state's pixels and history blocks are shared with the relay
// until it changes them, so taking it costs nothing here.
void BoardJournal::checkpoint() {
    requestSync(true);
    RelayState state = journalreplay::capture(m_parts.target);
    const quint64 seq = ++m_seq;
    m_parts.target.sessions.recordedAll(seq);
    m_segment.reset();
    state.firstSegment = ++m_segmentNumber;
    m_checkpointWanted = false;
    m_checkpointRunning = true;
    m_mending = m_brokenSince != 0;
    m_held.clear();
    m_heldBytes = 0;
    const qint64 covered = m_sinceCheckpoint;
    m_worker.post(
        [state = std::move(state), folder = m_folder.path()] {
            return JournalFolder::writeCheckpoint(folder, state).isEmpty();
        },
        [this, seq, covered](bool ok) { onCheckpointed(seq, covered, ok); });
}

void BoardJournal::onCheckpointed(quint64 seq, qint64 coveredBytes, bool ok) {
    m_checkpointRunning = false;
    const bool mending = std::exchange(m_mending, false);
    std::vector<Held> held = std::exchange(m_held, {});
    m_heldBytes = 0;
    if (!m_recording)
        return;
    if (!ok) {
        if (!m_failureLogged)
            m_parts.log(QStringLiteral("共有画面の記録をまとめて書けません。あとで試します"));
        m_failureLogged = true;
        m_lastFailure.start();
        m_checkpointWanted = true;
        m_retryTimer.start(RetryMs);
        return;
    }
    m_lastFailure.invalidate();
    m_sinceCheckpoint = std::max<qint64>(0, m_sinceCheckpoint - coveredBytes);
    if (mending && seq >= m_brokenSince) {
        m_brokenSince = 0;
        for (const Held& h : held)
            write(h.batch, h.seq);
    }
    if (m_failureLogged && m_brokenSince == 0) {
        m_failureLogged = false;
        m_parts.log(QStringLiteral("共有画面の記録をまた書けるようになりました"));
    }
    m_parts.target.sessions.durableUpTo(seq);
    emit durableAdvanced();
}

// ---- the end

void BoardJournal::finish(bool pictureSaved) {
    if (!m_recording)
        return;
    flush();
    m_worker.waitForDone();
    m_recording = false;
    m_segment.reset();
    RelayState last;
    const Board& board = m_parts.target.relay.board();
    if (pictureSaved) {
        last.picture = RelayState::Picture::BoardFile;
    } else if (!board.isBlank()) {
        last.picture = RelayState::Picture::Pixels;
        last.pixels = board.image();
    }
    last.sessions = m_parts.target.sessions.save();
    last.firstSegment = m_segmentNumber + 1;
    const QString error = JournalFolder::writeCheckpoint(m_folder.path(), last);
    if (!error.isEmpty())
        m_parts.log(QStringLiteral("共有画面の記録を閉じられません（%1）").arg(error));
    m_parts.target.sessions.setEverythingDurable(true);
    m_folder.unlock();
}

void BoardJournal::settle() {
    flush();
    do {
        m_worker.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    } while (m_syncsRunning > 0 || m_checkpointRunning);
}
