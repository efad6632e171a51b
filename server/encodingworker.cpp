#include "encodingworker.h"

#include <QPointer>

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
