#include "endpointarray.h"

#include "peeraddressbook.h"
#include "socketendpoint.h"

#include <QPointer>
#include <utility>

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
    connect(&m_flow, &FlowControl::released, this, &EndpointArray::onReleased);
    connect(&m_flow, &FlowControl::overBudget, this, &EndpointArray::reportOverflow);
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
    m_flow.setOutputCap(bytes);
    for (Slot& slot : m_slots)
        if (slot.endpoint)
            slot.endpoint->setOutputCap(bytes);
}

void EndpointArray::setKeepAlive(const SocketEndpoint::KeepAlive& keepAlive) {
    m_keepAlive = keepAlive;
    for (Slot& slot : m_slots)
        if (slot.endpoint)
            slot.endpoint->setKeepAlive(keepAlive);
}

SocketEndpoint* EndpointArray::element(int index) const {
    if (index < 0 || index >= int(m_slots.size()))
        return nullptr;
    return m_slots[index].endpoint;
}

bool EndpointArray::isConnected(int index) const {
    const SocketEndpoint* endpoint = element(index);
    return endpoint && endpoint->state() == SocketEndpoint::Connected && !m_slots[index].cut;
}

quint64 EndpointArray::connectionId(int index) const {
    return isConnected(index) ? m_slots[index].id : 0;
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

quint64 EndpointArray::connectionSerial(int index) const {
    if (!isConnected(index))
        return 0;
    return m_slots[index].serial;
}

qint64 EndpointArray::silentMs(int index) const {
    if (!isConnected(index))
        return -1;
    const Slot& slot = m_slots[index];
    if (slot.endpoint->bytesAvailable() > 0)
        return 0;
    return slot.heard.elapsed();
}

SocketEndpoint* EndpointArray::create(int index) {
    if (index >= int(m_slots.size()))
        m_slots.resize(index + 1);
    Slot& slot = m_slots[index];
    if (!slot.endpoint) {
        slot.endpoint = new SocketEndpoint(this);
        slot.endpoint->setOutputCap(m_outputCap);
        slot.endpoint->setReadBufferSize(ReadChunk);
        slot.endpoint->setKeepAlive(m_keepAlive);
        wire(index, slot.endpoint);
    }
    return slot.endpoint;
}

void EndpointArray::wire(int index, SocketEndpoint* endpoint) {
    connect(endpoint, &SocketEndpoint::dataArrival, this,
            [this, index](qint64) { onArrival(index); });
    connect(endpoint, &SocketEndpoint::closed, this, [this, index] { onPeerClosed(index); });
    connect(endpoint, &SocketEndpoint::outputCapExceeded, this,
            [this, index] { reportOverflow(index); });
    connect(endpoint, &SocketEndpoint::repliesWritten, this,
            [this, index] { emit repliesWritten(index); });
}

// The cap is passed inside a send loop of some handler; closing the peer
// there would change the array under that loop. Its handler hears of it
// afterwards, and only while the same connection is still there.
void EndpointArray::reportOverflow(int index) {
    QPointer<SocketEndpoint> guard(element(index));
    const quint64 id = index < int(m_slots.size()) ? m_slots[index].id : 0;
    QMetaObject::invokeMethod(
        this,
        [this, index, guard, id] {
            if (guard && element(index) == guard.data() && m_slots[index].id == id &&
                guard->state() == SocketEndpoint::Connected)
                emit outputCapExceeded(index);
        },
        Qt::QueuedConnection);
}

// Bytes beyond the slice raise no further arrival of their own.
void EndpointArray::deliverRestLater(int index) {
    SocketEndpoint* endpoint = element(index);
    if (!endpoint || endpoint->bytesAvailable() == 0 || m_slots[index].finishing ||
        m_slots[index].restQueued)
        return;
    m_slots[index].restQueued = true;
    const quint64 id = m_slots[index].id;
    QMetaObject::invokeMethod(
        this,
        [this, index, id] {
            if (index >= int(m_slots.size()) || m_slots[index].id != id)
                return;
            m_slots[index].restQueued = false;
            if (isConnected(index) && m_slots[index].endpoint->bytesAvailable() > 0)
                onArrival(index);
        },
        Qt::QueuedConnection);
}

void EndpointArray::onArrival(int index) {
    // Heard even when the arrival is held back: the peer is alive.
    if (index >= 0 && index < int(m_slots.size()))
        m_slots[index].heard.start();
    if (m_flow.admit(index))
        deliver(index);
}

void EndpointArray::onReleased(int index) {
    if (index < 0 || index >= int(m_slots.size()) || !m_slots[index].endpoint)
        return;
    if (m_slots[index].closePending)
        finishClose(index);
    else if (m_slots[index].endpoint->bytesAvailable() > 0)
        deliver(index);
}

// The peer closed. What it sent before is still buffered here (and maybe
// held back): its close waits until that has been handled.
void EndpointArray::onPeerClosed(int index) {
    if (index < 0 || index >= int(m_slots.size()) || !m_slots[index].endpoint)
        return;
    Slot& slot = m_slots[index];
    const bool waiting = slot.endpoint->bytesAvailable() > 0 || pendingFrameBytes(index) > 0;
    if (waiting && m_flow.isHolding()) {
        slot.closePending = true;
        m_flow.hold(index);
        return;
    }
    finishClose(index);
}

void EndpointArray::finishClose(int index) {
    Slot& slot = m_slots[index];
    SocketEndpoint* endpoint = slot.endpoint;
    slot.closePending = false;
    slot.finishing = true;
    if (endpoint->bytesAvailable() > 0 || pendingFrameBytes(index) > 0) {
        deliver(index);
        // The handler may have closed the element itself.
        if (element(index) != endpoint || endpoint->state() == SocketEndpoint::Closed)
            return;
    }
    emit closed(index);
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
    const QString address = endpoint->remoteHostIP();
    const quint16 port = endpoint->remotePort();
    slot.peer = {m_book ? m_book->resolve(address, port) : address, port};
    if (!m_perAddress.admit(slot.peer.address)) {
        const Peer refusedPeer = slot.peer;
        closeAndDestroy(index);
        emit refused(refusedPeer.address, refusedPeer.port);
        return -1;
    }
    slot.admitted = true;
    slot.id = ++m_lastId;
    slot.cut = false;
    slot.holding = false;
    slot.closePending = false;
    slot.finishing = false;
    slot.wholeFramesOnly = false;
    slot.serial = ++m_lastSerial;
    slot.heard.start();
    slot.splitter = std::make_unique<protocol::FrameSplitter>(m_terminator);
    m_flow.watch(index, endpoint);
    return index;
}

bool EndpointArray::send(int index, QByteArrayView bytes) {
    return enqueue(index, bytes, false);
}

bool EndpointArray::sendReply(int index, QByteArrayView bytes) {
    return enqueue(index, bytes, true);
}

qint64 EndpointArray::queuedOutput(int index) const {
    const SocketEndpoint* endpoint = element(index);
    if (!endpoint)
        return 0;
    const Slot& slot = m_slots[index];
    return endpoint->pendingOutput() + slot.gathered.size() + slot.held.size();
}

qint64 EndpointArray::pendingReplyOutput(int index) const {
    SocketEndpoint* endpoint = element(index);
    if (!endpoint)
        return 0;
    const Slot& slot = m_slots[index];
    return endpoint->pendingReplyOutput() + slot.gathered.replyBytes + slot.held.replyBytes;
}

void EndpointArray::sendToAllExcept(int except, QByteArrayView bytes) {
    for (int i = 0; i < int(m_slots.size()); ++i)
        if (i != except && m_slots[i].endpoint)
            enqueue(i, bytes, false);
}

// The one place output is admitted: counted against the cap first.
// `alsoWaiting` is output that will follow and is not counted anywhere yet.
// While an arrival is handled (the hot path: every relayed line, once per
// reader) the socket's queue is read once per reader: it only shrinks until
// the gathered bytes are written.
bool EndpointArray::enqueue(int index, QByteArrayView bytes, bool reply, qint64 alsoWaiting) {
    if (index < 0 || index >= int(m_slots.size()))
        return false;
    Slot& slot = m_slots[index];
    SocketEndpoint* endpoint = slot.endpoint;
    if (!endpoint || slot.cut || endpoint->state() != SocketEndpoint::Connected)
        return false;
    if (m_gathering && !slot.holding) {
        if (slot.gathered.isEmpty()) {
            m_gatheredIndices.push_back(index);
            slot.gatherBase = endpoint->pendingOutput() + slot.held.size();
        }
        if (slot.gatherBase + slot.gathered.size() + alsoWaiting + bytes.size() > m_outputCap) {
            cutAtCap(index);
            return false;
        }
        slot.gathered.append(bytes, reply);
        return true;
    }
    if (queuedOutput(index) + alsoWaiting + bytes.size() > m_outputCap) {
        cutAtCap(index);
        return false;
    }
    if (slot.holding) {
        slot.held.append(bytes, reply);
        return true;
    }
    return write(index, bytes, reply);
}

void EndpointArray::cutAtCap(int index) {
    Slot& slot = m_slots[index];
    slot.cut = true;
    slot.gathered = Pieces();
    slot.held = Pieces();
    slot.holding = false;
    reportOverflow(index);
}

void EndpointArray::holdOutput(int index) {
    if (isConnected(index))
        m_slots[index].holding = true;
}

void EndpointArray::releaseOutput(int index, QByteArrayView reply) {
    if (index < 0 || index >= int(m_slots.size()))
        return;
    Slot& slot = m_slots[index];
    Pieces held = std::exchange(slot.held, Pieces());
    slot.holding = false;
    if (!reply.isEmpty() && !enqueue(index, reply, true, held.size()))
        return;
    forEachRun(held,
               [&](QByteArrayView run, bool isReply) { return enqueue(index, run, isReply); });
}

// Calls `each(bytes, isReply)` for the runs of `pieces` in order, until it
// returns false.
template <typename Each> void EndpointArray::forEachRun(const Pieces& pieces, Each each) {
    const QByteArrayView data(pieces.data);
    qsizetype at = 0;
    for (const Pieces::Span& span : pieces.replies) {
        if (span.begin > at && !each(data.sliced(at, span.begin - at), false))
            return;
        if (!each(data.sliced(span.begin, span.end - span.begin), true))
            return;
        at = span.end;
    }
    if (at < data.size())
        each(data.sliced(at), false);
}

bool EndpointArray::write(int index, QByteArrayView bytes, bool reply) {
    SocketEndpoint* endpoint = m_slots[index].endpoint;
    if (!(reply ? endpoint->sendReply(bytes) : endpoint->sendBytes(bytes)))
        return false;
    m_flow.noteQueued(index);
    return true;
}

// One arrival is relayed to many connections, often many lines at once:
// what its handler sends to each connection is gathered and goes out in one
// write per connection, in the order it was sent, once the handler is done.
void EndpointArray::deliver(int index) {
    m_gathering = true;
    emit dataArrival(index);
    m_gathering = false;
    deliverRestLater(index);
    // Writing may report a broken connection, whose handler may change the
    // slots: look each one up again.
    for (size_t n = 0; n < m_gatheredIndices.size(); ++n) {
        const int i = m_gatheredIndices[n];
        if (i >= int(m_slots.size()) || m_slots[i].gathered.isEmpty())
            continue;
        flush(i, std::exchange(m_slots[i].gathered, Pieces()));
    }
    m_gatheredIndices.clear();
}

// In pieces of a quarter of the socket's own buffer blocks: a piece that fits
// the last block is added to it, a larger one takes a new block and leaves
// the rest of the last one unused, so small pieces keep a long queue's memory
// near its size. The socket still sends one block per pass of the event
// loop, as it did line by line. The cap was checked when the bytes were
// gathered.
void EndpointArray::flush(int index, Pieces pieces) {
    forEachRun(pieces, [&](QByteArrayView run, bool isReply) {
        for (qsizetype at = 0; at < run.size(); at += WriteBlock) {
            if (!isConnected(index))
                return false;
            write(index, run.sliced(at, qMin(WriteBlock, run.size() - at)), isReply);
        }
        return true;
    });
}

QList<QByteArray> EndpointArray::takeFrames(int index) {
    SocketEndpoint* endpoint = element(index);
    if (!endpoint)
        return {};
    Slot& slot = m_slots[index];
    // Once the peer has closed, everything it sent is handled at once.
    const QByteArray arrival =
        slot.finishing ? endpoint->getData() : endpoint->getData(ArrivalSlice);
    if (!slot.splitter)
        slot.splitter = std::make_unique<protocol::FrameSplitter>(m_terminator);
    QList<QByteArray> frames = slot.splitter->feed(arrival);
    // Nothing will follow: the unterminated rest is a piece too.
    if (slot.finishing && !slot.wholeFramesOnly)
        frames += slot.splitter->feed(m_terminator);
    return frames;
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
    m_flow.forget(index);
    if (slot.admitted)
        m_perAddress.release(slot.peer.address);
    slot.admitted = false;
    slot.id = 0;
    slot.splitter.reset();
    slot.gathered = Pieces();
    slot.held = Pieces();
    slot.holding = false;
    slot.cut = false;
    slot.closePending = false;
    slot.finishing = false;
    if (index != 0) {
        // The endpoint may be the sender of the signal being handled.
        QObject::disconnect(endpoint, nullptr, this, nullptr);
        endpoint->deleteLater();
        slot = Slot();
        trimTail();
    }
}

void EndpointArray::cut(int index) {
    if (!isConnected(index))
        return;
    Slot& slot = m_slots[index];
    slot.endpoint->getData();
    slot.splitter = std::make_unique<protocol::FrameSplitter>(m_terminator);
    slot.closePending = false;
    emit closed(index);
}

void EndpointArray::dropUnterminatedTail(int index) {
    if (isConnected(index))
        m_slots[index].wholeFramesOnly = true;
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
