#include "journalworker.h"

#include <QFile>
#include <QMetaObject>

#include <fcntl.h>
#include <unistd.h>

JournalWorker::JournalWorker(QObject* owner) : m_owner(owner) {
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

JournalWorker::~JournalWorker() {
    m_pool.waitForDone();
}

// The owner outlives every job (its destructor waits for them); an outcome
// that arrives after the owner is gone is dropped by Qt with the owner's
// posted events.
void JournalWorker::post(std::function<bool()> job, std::function<void(bool)> done) {
    QObject* owner = m_owner;
    m_pool.start([job = std::move(job), done = std::move(done), owner]() mutable {
        const bool ok = job();
        QMetaObject::invokeMethod(
            owner, [done = std::move(done), ok] { done(ok); }, Qt::QueuedConnection);
    });
}

void JournalWorker::waitForDone() {
    m_pool.waitForDone();
}

bool JournalWorker::syncFolder(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}
