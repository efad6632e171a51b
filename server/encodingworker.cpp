#include "encodingworker.h"

#include <QPointer>

#include <sys/resource.h>
#include <unistd.h>

EncodingWorker::EncodingWorker(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(1);
    m_pool.setObjectName(QStringLiteral("encoder"));
}

EncodingWorker::~EncodingWorker() {
    m_pool.clear();
    m_pool.waitForDone();
}

void EncodingWorker::run(std::function<void()> work, std::function<void()> done) {
    ++m_pending;
    m_pool.start([this, work = std::move(work), done = std::move(done)]() mutable {
        // The relay's thread comes first whenever both want the processor:
        // the worker runs niced (Linux takes a thread id for one thread).
        ::setpriority(PRIO_PROCESS, id_t(::gettid()), WorkerNice);
        work();
        // Queued to this object: dropped if it is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done)] {
                --m_pending;
                done();
            },
            Qt::QueuedConnection);
    });
}
