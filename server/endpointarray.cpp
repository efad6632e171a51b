#include "endpointarray.h"

#include "socketendpoint.h"

#include <QPointer>

using net::SocketEndpoint;

EndpointArray::EndpointArray(quint16 port, QByteArray terminator, QObject* parent)
    : QObject(parent), m_port(port), m_terminator(std::move(terminator)),
      m_outputCap(SocketEndpoint::DefaultOutputCap), m_listener(new SocketEndpoint(this)) {
    // Requests must be answered while the signal runs (the endpoint refuses
    // an unanswered one), so this connection is direct.
    connect(m_listener, &SocketEndpoint::connectionRequest, this,
            &EndpointArray::connectionRequest);
    m_slots.resize(1);
    create(0);
    // A stalled reader raises no event; while arrivals are held the queues
    // are looked at on a timer too.
    m_flowTimer.setInterval(100);
    connect(&m_flowTimer, &QTimer::timeout, this, &EndpointArray::updateFlow);
}

EndpointArray::~EndpointArray() {
    m_listener->close();
    for (Slot& slot : m_slots) {
        if (slot.endpoint) {
            QObject::disconnect(slot.endpoint, nullptr, this, nullptr);
            slot.endpoint->close();
        }
    }
}

void EndpointArray::setOutputCap(qint64 bytes) {
    m_outputCap = bytes;
    for (Slot& slot : m_slots)
        if (slot.endpoint)
            slot.endpoint->setOutputCap(bytes);
}

SocketEndpoint* EndpointArray::element(int index) const {
    if (index < 0 || index >= int(m_slots.size()))
        return nullptr;
    return m_slots[index].endpoint;
}

bool EndpointArray::isConnected(int index) const {
    const SocketEndpoint* endpoint = element(index);
    return endpoint && endpoint->state() == SocketEndpoint::Connected;
}

int EndpointArray::lowestFreeIndex() const {
    for (int i = 0; i < int(m_slots.size()); ++i) {
        const SocketEndpoint* endpoint = m_slots[i].endpoint;
        if (!endpoint || endpoint->state() == SocketEndpoint::Closed)
            return i;
    }
    return int(m_slots.size());
}

EndpointArray::Peer EndpointArray::peer(int index) const {
    if (index < 0 || index >= int(m_slots.size()))
        return {};
    return m_slots[index].peer;
}

SocketEndpoint* EndpointArray::create(int index) {
    if (index >= int(m_slots.size()))
        m_slots.resize(index + 1);
    Slot& slot = m_slots[index];
    if (!slot.endpoint) {
        slot.endpoint = new SocketEndpoint(this);
        slot.endpoint->setOutputCap(m_outputCap);
        slot.endpoint->setReadBufferSize(ReadChunk);
        wire(index, slot.endpoint);
    }
    return slot.endpoint;
}

void EndpointArray::wire(int index, SocketEndpoint* endpoint) {
    connect(endpoint, &SocketEndpoint::dataArrival, this, [this, index](qint64) { onArrival(index); });
    connect(endpoint, &SocketEndpoint::outputWritten, this, &EndpointArray::updateFlow);
    connect(endpoint, &SocketEndpoint::closed, this, [this, index] { emit closed(index); });
    connect(endpoint, &SocketEndpoint::outputCapExceeded, this,
            [this, index] { reportOverflow(index); });
}

// The cap is passed inside a send loop of some handler; cutting the peer
// there would change the array under that loop. Report it afterwards, and
// only while the same connection is still there.
void EndpointArray::reportOverflow(int index) {
    QPointer<SocketEndpoint> guard(element(index));
    QMetaObject::invokeMethod(
        this,
        [this, index, guard] {
            if (guard && element(index) == guard.data() && isConnected(index))
                emit outputCapExceeded(index);
        },
        Qt::QueuedConnection);
}

void EndpointArray::onArrival(int index) {
    if (m_holding) {
        if (index >= 0 && index < int(m_slots.size()))
            m_slots[index].arrivalHeld = true;
        return;
    }
    emit dataArrival(index);
    updateFlow();
}

// Holds arrivals back while a reader that still reads is behind; lets them
// through, in index order, once every such reader has caught up.
void EndpointArray::updateFlow() {
    const qint64 mark = highWater();
    bool behind = false;
    qint64 total = 0;
    int longestStalled = -1;
    qint64 longest = 0;
    for (int i = 0; i < int(m_slots.size()); ++i) {
        Slot& slot = m_slots[i];
        const qint64 pending = slot.endpoint ? slot.endpoint->pendingOutput() : 0;
        total += pending;
        if (pending <= mark) {
            slot.behindSince.invalidate();
            continue;
        }
        if (!slot.behindSince.isValid())
            slot.behindSince.start();
        if (slot.behindSince.elapsed() < StallMs) {
            behind = true;
        } else if (pending > longest) {
            longest = pending;
            longestStalled = i;
        }
    }
    if (total > m_outputBudget && longestStalled >= 0)
        reportOverflow(longestStalled);
    if (behind == m_holding)
        return;
    m_holding = behind;
    if (m_holding) {
        m_flowTimer.start();
        return;
    }
    m_flowTimer.stop();
    // Not from inside a send loop or a socket signal: from the event loop.
    QMetaObject::invokeMethod(this, &EndpointArray::deliverHeld, Qt::QueuedConnection);
}

// Round robin from where the last delivery stopped, so a sender that always
// has more waiting cannot keep the others behind it.
void EndpointArray::deliverHeld() {
    const int count = int(m_slots.size());
    for (int n = 0; n < count && !m_holding; ++n) {
        const int i = (m_deliverFrom + n) % count;
        if (i >= int(m_slots.size()))
            continue;
        Slot& slot = m_slots[i];
        const bool waiting = slot.endpoint && slot.endpoint->bytesAvailable() > 0;
        if (!slot.arrivalHeld && !waiting)
            continue;
        slot.arrivalHeld = false;
        if (!waiting)
            continue;
        m_deliverFrom = i + 1;
        onArrival(i);
    }
}

bool EndpointArray::listen() {
    m_listener->close();
    m_listener->setLocalPort(m_port);
    if (!m_listener->listen(m_address)) {
        m_listenError = m_listener->listenError();
        m_listener->close();
        return false;
    }
    m_listenError.clear();
    if (m_port == 0)
        m_port = m_listener->localPort();
    return true;
}

bool EndpointArray::isListening() const {
    return m_listener->state() == SocketEndpoint::Listening ||
           m_listener->state() == SocketEndpoint::ConnectionPending;
}

void EndpointArray::stopListening() {
    m_listener->close();
}

int EndpointArray::acceptNext(qintptr requestId) {
    const int index = lowestFreeIndex();
    SocketEndpoint* endpoint = create(index);
    endpoint->close();
    if (!endpoint->accept(requestId)) {
        closeAndDestroy(index);
        return -1;
    }
    Slot& slot = m_slots[index];
    slot.peer = {endpoint->remoteHostIP(), endpoint->remotePort()};
    slot.splitter = std::make_unique<protocol::FrameSplitter>(m_terminator);
    return index;
}

bool EndpointArray::send(int index, QByteArrayView bytes) {
    SocketEndpoint* endpoint = element(index);
    return endpoint && endpoint->state() == SocketEndpoint::Connected && endpoint->sendBytes(bytes);
}

QList<QByteArray> EndpointArray::takeFrames(int index) {
    SocketEndpoint* endpoint = element(index);
    if (!endpoint)
        return {};
    const QByteArray arrival = endpoint->getData();
    Slot& slot = m_slots[index];
    if (!slot.splitter)
        slot.splitter = std::make_unique<protocol::FrameSplitter>(m_terminator);
    return slot.splitter->feed(arrival);
}

qsizetype EndpointArray::pendingFrameBytes(int index) const {
    if (index < 0 || index >= int(m_slots.size()) || !m_slots[index].splitter)
        return 0;
    return m_slots[index].splitter->pendingSize();
}

void EndpointArray::closeAndDestroy(int index) {
    SocketEndpoint* endpoint = element(index);
    if (!endpoint)
        return;
    Slot& slot = m_slots[index];
    endpoint->close();
    slot.splitter.reset();
    slot.arrivalHeld = false;
    slot.behindSince.invalidate();
    if (index != 0) {
        // The endpoint may be the sender of the signal being handled.
        QObject::disconnect(endpoint, nullptr, this, nullptr);
        endpoint->deleteLater();
        slot = Slot();
        trimTail();
    }
}

void EndpointArray::closeAll() {
    stopListening();
    for (int i = highestIndex(); i >= 0; --i)
        closeAndDestroy(i);
}

void EndpointArray::trimTail() {
    while (m_slots.size() > 1 && !m_slots.back().endpoint)
        m_slots.pop_back();
}
