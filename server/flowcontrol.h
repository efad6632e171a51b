#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

namespace net {
class SocketEndpoint;
}

// Flow control for the endpoints of one channel. Every arrival is relayed to
// many connections, so one fast sender could queue its data once per reader
// faster than they read it. While a reader that still reads holds more than
// highWater() bytes of unsent relayed output (replies it asked for do not
// count: they never hold the others back), arrivals are held back: admit() says
// no, and released(index) hands each held index back, in turn, once every
// such reader has caught up (is down to half the mark). Its socket meanwhile keeps at most a
// bounded read buffer (the owner sets it), so TCP slows the senders down and nothing is lost or
// queued twice.
//
// A reader whose queue has stayed above the high water for stallMs() is not
// reading: it no longer holds the others back, and its queue grows until the
// output cap cuts it. While the unsent output of all watched endpoints
// together is above the output budget, overBudget() names the stalled reader
// with the longest queue, so many peers that never read cannot hold a cap's
// worth each.
//
// Cost while nobody is behind: one comparison per queued send and per
// written chunk, and one per arrival. Queues are only walked while a reader
// is behind or stalled.
class FlowControl : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 HighWater = 1024 * 1024;
    static constexpr int DefaultStallMs = 2000;
    static constexpr qint64 DefaultOutputBudget = 64 * 1024 * 1024;

    explicit FlowControl(QObject* parent = nullptr);

    // Starts watching the endpoint carrying `index` (replacing any earlier one).
    void watch(int index, net::SocketEndpoint* endpoint);
    // Stops watching `index`; a held arrival of it is forgotten.
    void forget(int index);

    // Unsent output above which a reader holds arrivals back: HighWater, or
    // half the output cap when that is smaller.
    qint64 highWater() const { return m_highWater; }
    void setOutputCap(qint64 bytes);
    void setOutputBudget(qint64 bytes) { m_outputBudget = bytes; }
    int stallMs() const { return m_stallMs; }
    void setStallMs(int ms) { m_stallMs = ms; }

    // True while arrivals are held back because a reader is behind.
    bool isHolding() const { return m_behind > 0; }

    // An arrival on `index`: true when it may be handled now. Otherwise it is
    // remembered and released(index) follows once the readers have caught up.
    bool admit(int index);
    // Remembers `index` as waiting without asking (something other than
    // buffered bytes is to be handed back, such as the peer's close).
    void hold(int index);
    // Output was queued on `index`.
    void noteQueued(int index);

signals:
    // Held arrivals of `index` may be handled now. Raised from the event loop,
    // one index after the other, round robin, for as long as nobody is behind.
    void released(int index);
    // The stalled reader `index` has the longest queue while the queues
    // together are above the budget.
    void overBudget(int index);

private:
    enum class Lag { None, Behind, Stalled };
    struct Watch {
        net::SocketEndpoint* endpoint = nullptr;
        Lag lag = Lag::None;
        QElapsedTimer behindSince;
        bool held = false;
    };

    Watch* at(int index);
    void onWritten(int index);
    void setLag(Watch& watch, Lag lag);
    void tick();
    void checkBudget();
    void releaseHeld();

    std::vector<Watch> m_watches;
    qint64 m_highWater = HighWater;
    qint64 m_outputBudget = DefaultOutputBudget;
    int m_stallMs = DefaultStallMs;
    int m_behind = 0;  // readers behind that still read: arrivals are held
    int m_stalled = 0; // readers that stopped reading
    int m_releaseFrom = 0;
    bool m_releaseQueued = false;
    QTimer m_timer; // runs while anyone is behind or stalled: neither raises an event
};
