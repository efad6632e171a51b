#pragma once

#include <QObject>
#include <QThreadPool>
#include <functional>

// Runs the expensive work on pictures — PNG encodings, checksums — on a
// thread of its own at a lower priority, one job after the other, so the
// relay's thread never waits for an encoder. A job gets what it works on by value (a QImage copy
// is shared until the board paints again, then the board detaches), runs
// `work` on the worker thread and `done` back on the owner's thread, in
// submission order. Destroying the worker waits for the job in progress;
// `done` of a job that ends after that is never called.
class EncodingWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int WorkerNice = 10;

    explicit EncodingWorker(QObject* parent = nullptr);
    ~EncodingWorker() override;

    // `work` runs on the worker thread and must touch nothing the owner's
    // thread touches meanwhile; `done` runs on the owner's thread.
    void run(std::function<void()> work, std::function<void()> done);
    // Jobs submitted and not yet done.
    int pending() const { return m_pending; }
    bool isBusy() const { return m_pending > 0; }

private:
    QThreadPool m_pool;
    int m_pending = 0;
};
