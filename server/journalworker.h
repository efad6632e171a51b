#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>

// The board journal's disk work that may take a while (syncing to the disk,
// writing a checkpoint, removing old segments) runs here, one job after the
// other on a thread of its own, so the relay never waits for the disk. Each
// job's outcome is handed back on the owner's thread, in the order of the
// jobs. Jobs touch only what they were given.
class JournalWorker {
public:
    explicit JournalWorker(QObject* owner);
    ~JournalWorker(); // waits for the jobs still running or queued

    void post(std::function<bool()> job, std::function<void(bool)> done);
    // Waits until every job has run; their outcomes still arrive later.
    void waitForDone();

    // Syncs a folder itself, so that a file just created or renamed in it
    // keeps its name after a power cut.
    static bool syncFolder(const QString& path);

private:
    QObject* m_owner;
    QThreadPool m_pool;
};
