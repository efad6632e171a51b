#pragma once

#include "journalcheckpoint.h"

#include <QFile>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

// The board journal's folder on the disk: the lock that keeps a second
// server out, the checkpoint and the numbered segments (journalformat.h).
//
// The lock is an flock on "lock" in the folder, held as long as the object
// (and so the process) lives and released by the system however the process
// ends; a lock file that only names its owner would outlive a kill and keep
// the restarted server out.
//
// writeCheckpoint touches nothing but the folder it is given, so the
// journal's background thread may call it.
class JournalFolder {
public:
    explicit JournalFolder(QString path) : m_path(std::move(path)) {}
    ~JournalFolder() { unlock(); }
    JournalFolder(const JournalFolder&) = delete;
    JournalFolder& operator=(const JournalFolder&) = delete;

    const QString& path() const { return m_path; }

    // Makes the folder and takes its lock. False, with the reason for the
    // event log in `why`, when it cannot be made or another server holds it.
    bool lock(QString* why);
    void unlock();

    // Segment numbers present, ascending.
    std::vector<quint64> segments() const;
    QString segmentPath(quint64 number) const;
    // A new segment with its header, open for appending; null on failure.
    std::unique_ptr<QFile> createSegment(quint64 number) const;

    bool hasCheckpoint() const;
    // Nothing, and why in `why`, when the checkpoint cannot be read.
    std::optional<RelayState> readCheckpoint(QString* why) const;
    // On the disk, then the segments before state.firstSegment removed.
    // Empty on success, else why it failed.
    static QString writeCheckpoint(const QString& folder, const RelayState& state);

private:
    QString m_path;
    int m_lockFd = -1;
};
