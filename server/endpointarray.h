#pragma once

#include "flowcontrol.h"
#include "framesplitter.h"
#include "socketendpoint.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

// The endpoints of one channel (`WS` for drawing, `WS_txt` for text), indexed
// by connection index. An index holds nothing or one endpoint carrying a
// connection; element 0 always exists (closed when unused), later elements
// are created for a connection and destroyed when it ends.
//
// One listening endpoint per channel waits for requests and stays listening:
// each request is taken over by the element at the lowest free index (no
// element, or element 0 closed). So indices are reused and stay within the
// 21 table slots while at most 21 clients are connected at once, and a
// client that connects while another request is being handled is not
// refused (closing and reopening a listener would reset its connection).
//
// Besides the endpoints the array keeps, per connected element, the peer's
// address and port as read at accept time (the close handlers need them after
// the socket is gone) and the frame splitter that reassembles lines split
// over several arrivals. Arrivals pass through the channel's FlowControl,
// which may hold them back while a reader is behind; each socket then keeps
// at most ReadChunk bytes, so TCP slows the sender down.
//
// A peer's close is reported only after everything it sent before has been
// handled: bytes still held back, then an unterminated last piece as a piece
// of its own (no further arrival will complete it).
//
// Each accepted connection gets a serial number that no later connection on
// the array repeats, so a part that remembers "index k" can tell whether k is
// still the same connection. The array also notes when each connection last
// delivered bytes, for the heartbeat watch.
class EndpointArray : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 ReadChunk = 64 * 1024;
    static constexpr qsizetype WriteBlock = 4 * 1024;

    struct Peer {
        QString address;
        quint16 port = 0;
    };

    EndpointArray(quint16 port, QByteArray terminator, QObject* parent = nullptr);
    ~EndpointArray() override;

    void setListenAddress(const QHostAddress& address) { m_address = address; }
    // Applies to every element, present and future.
    void setOutputCap(qint64 bytes);
    // Applies to every element, present and future.
    void setKeepAlive(const net::SocketEndpoint::KeepAlive& keepAlive);
    // Unsent output of all elements together above which stalled ones are cut.
    void setOutputBudget(qint64 bytes) { m_flow.setOutputBudget(bytes); }
    // The port the channel listens on (the chosen one once a listen on port 0 succeeded).
    quint16 port() const { return m_port; }

    net::SocketEndpoint* element(int index) const;
    int highestIndex() const { return int(m_slots.size()) - 1; }
    bool isConnected(int index) const;
    int lowestFreeIndex() const;
    Peer peer(int index) const;
    // The serial of the connection on `index` (0: none). Serials only grow.
    quint64 connectionSerial(int index) const;
    // Milliseconds since `index` last received bytes (or was accepted); -1
    // when no connection is there. Bytes waiting unread count as heard now.
    qint64 silentMs(int index) const;

    // Starts listening; on failure nothing listens and listenError() says why.
    bool listen();
    bool isListening() const;
    void stopListening();
    QString listenError() const { return m_listenError; }

    // Takes over the request on the element at the lowest free index and
    // returns that index (-1 on failure). The element's peer is recorded and
    // its frame splitter starts empty.
    int acceptNext(qintptr requestId);

    // Sends to one element; false when it is missing or not connected.
    bool send(int index, QByteArrayView bytes);

    // All complete pieces that have arrived on `index`, terminators removed.
    QList<QByteArray> takeFrames(int index);
    // Bytes of an incomplete piece kept on `index` for its next arrival.
    qsizetype pendingFrameBytes(int index) const;

    // True while arrivals are held back because a reader is behind.
    bool isHoldingArrivals() const { return m_flow.isHolding(); }
    qint64 highWater() const { return m_flow.highWater(); }
    FlowControl& flowControl() { return m_flow; }

    // Closes element `index`; destroys it unless it is element 0.
    void closeAndDestroy(int index);
    // Ends the connection on `index` as if its peer had closed it, but drops
    // what it sent and nobody has handled yet: closed(index) is raised at
    // once, so the channel's owner runs its normal close path.
    void cut(int index);
    // A peer that closes with an unterminated last piece normally has that
    // piece handled; after this call such a piece of `index` is dropped
    // instead (a member of ours only ever sends whole lines, so the piece is
    // the broken end of one). Reset by the next accept on the index.
    void dropUnterminatedTail(int index);
    // Stops listening, closes every element and destroys all but element 0.
    void closeAll();

signals:
    void connectionRequest(qintptr requestId);
    void dataArrival(int index);
    void closed(int index);
    // Delivered from the event loop, after the handler whose send passed the
    // cap has finished, and only while the same connection is still there.
    void outputCapExceeded(int index);

private:
    struct Slot {
        net::SocketEndpoint* endpoint = nullptr;
        Peer peer;
        std::unique_ptr<protocol::FrameSplitter> splitter;
        bool closePending = false; // the peer closed; held bytes come first
        bool finishing = false;    // the peer closed; its last piece needs no terminator
        QByteArray gathered;       // output sent while an arrival is handled
        quint64 serial = 0;
        QElapsedTimer heard; // since the last arrival
        bool wholeFramesOnly = false;
    };

    net::SocketEndpoint* create(int index);
    void wire(int index, net::SocketEndpoint* endpoint);
    void trimTail();
    bool write(int index, QByteArrayView bytes);
    void deliver(int index);
    void onArrival(int index);
    void onReleased(int index);
    void onPeerClosed(int index);
    void finishClose(int index);
    void reportOverflow(int index);

    quint16 m_port;
    QByteArray m_terminator;
    QHostAddress m_address = QHostAddress::Any;
    qint64 m_outputCap;
    net::SocketEndpoint::KeepAlive m_keepAlive;
    quint64 m_lastSerial = 0;
    QString m_listenError;
    net::SocketEndpoint* m_listener;
    std::vector<Slot> m_slots;
    FlowControl m_flow;
    bool m_gathering = false; // while dataArrival is handled
    std::vector<int> m_gatheredIndices;
};
