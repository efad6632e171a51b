#include "flowcontrol.h"

#include "socketendpoint.h"

using net::SocketEndpoint;

namespace {

// What a reader is behind on: output relayed to it. Replies it asked for are
// its own business (they are bounded where they are made) and never hold
// the others back.
qint64 backlog(SocketEndpoint& endpoint) {
    return endpoint.pendingOutput() - endpoint.pendingReplyOutput();
}

} // namespace

FlowControl::FlowControl(QObject* parent) : QObject(parent) {
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &FlowControl::tick);
}

FlowControl::Watch* FlowControl::at(int index) {
    if (index < 0 || index >= int(m_watches.size()) || !m_watches[index].endpoint)
        return nullptr;
    return &m_watches[index];
}

void FlowControl::watch(int index, SocketEndpoint* endpoint) {
    if (index < 0 || !endpoint)
        return;
    forget(index);
    if (index >= int(m_watches.size()))
        m_watches.resize(index + 1);
    m_watches[index].endpoint = endpoint;
    connect(endpoint, &SocketEndpoint::outputWritten, this, [this, index] { onWritten(index); });
}

void FlowControl::forget(int index) {
    Watch* watch = at(index);
    if (!watch)
        return;
    setLag(*watch, Lag::None);
    QObject::disconnect(watch->endpoint, &SocketEndpoint::outputWritten, this, nullptr);
    *watch = Watch();
}

void FlowControl::setOutputCap(qint64 bytes) {
    m_highWater = qMin(HighWater, bytes / 2);
}

bool FlowControl::admit(int index) {
    // The budget only needs watching while someone has stopped reading.
    if (m_stalled > 0)
        checkBudget();
    if (m_behind == 0)
        return true;
    hold(index);
    return false;
}

void FlowControl::hold(int index) {
    if (Watch* watch = at(index))
        watch->held = true;
    if (m_behind == 0 && !m_releaseQueued) {
        m_releaseQueued = true;
        QMetaObject::invokeMethod(this, &FlowControl::releaseHeld, Qt::QueuedConnection);
    }
}

void FlowControl::noteQueued(int index) {
    Watch* watch = at(index);
    if (watch && watch->lag == Lag::None && backlog(*watch->endpoint) > m_highWater)
        setLag(*watch, Lag::Behind);
}

void FlowControl::onWritten(int index) {
    Watch* watch = at(index);
    // Caught up at half the mark, so a reader near it does not flap between
    // holding and releasing with every block the kernel takes.
    if (watch && watch->lag != Lag::None && backlog(*watch->endpoint) <= m_highWater / 2)
        setLag(*watch, Lag::None);
}

// Keeps the counters in step with the lag of every watch; when the last
// reader that still reads catches up (or stalls), the held arrivals go.
void FlowControl::setLag(Watch& watch, Lag lag) {
    if (watch.lag == lag)
        return;
    const int behindBefore = m_behind;
    m_behind -= watch.lag == Lag::Behind;
    m_stalled -= watch.lag == Lag::Stalled;
    watch.lag = lag;
    m_behind += lag == Lag::Behind;
    m_stalled += lag == Lag::Stalled;
    if (lag == Lag::Behind)
        watch.behindSince.start();

    if (m_behind + m_stalled == 0)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
    if (behindBefore > 0 && m_behind == 0 && !m_releaseQueued) {
        // Not from inside a send loop or a socket signal: from the event loop.
        m_releaseQueued = true;
        QMetaObject::invokeMethod(this, &FlowControl::releaseHeld, Qt::QueuedConnection);
    }
}

// A stalled reader raises no event: its time behind is looked at here.
void FlowControl::tick() {
    for (Watch& watch : m_watches)
        if (watch.lag == Lag::Behind && watch.behindSince.elapsed() >= m_stallMs)
            setLag(watch, Lag::Stalled);
    if (m_stalled > 0)
        checkBudget();
}

void FlowControl::checkBudget() {
    qint64 total = 0;
    qint64 longest = 0;
    int longestStalled = -1;
    for (int i = 0; i < int(m_watches.size()); ++i) {
        const Watch& watch = m_watches[i];
        if (!watch.endpoint)
            continue;
        const qint64 pending = watch.endpoint->pendingOutput();
        total += pending;
        if (watch.lag == Lag::Stalled && pending > longest) {
            longest = pending;
            longestStalled = i;
        }
    }
    if (total > m_outputBudget && longestStalled >= 0)
        emit overBudget(longestStalled);
}

// Round robin from where the last release stopped, so a sender that always
// has more waiting cannot keep the others behind it. An index is released
// when it was held or still has bytes buffered.
void FlowControl::releaseHeld() {
    m_releaseQueued = false;
    const int count = int(m_watches.size());
    const int from = m_releaseFrom;
    for (int n = 0; n < count && m_behind == 0; ++n) {
        const int i = (from + n) % count;
        Watch* watch = at(i);
        if (!watch)
            continue;
        const bool waiting = watch->held || watch->endpoint->bytesAvailable() > 0;
        watch->held = false;
        if (!waiting)
            continue;
        m_releaseFrom = i + 1;
        emit released(i);
    }
}
