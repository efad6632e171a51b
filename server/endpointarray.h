#pragma once

#include "addresslimiter.h"
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

class PeerAddressBook;

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
// One arrival hands its handler at most ArrivalSlice bytes; what is left is
// handed over in a later pass of the event loop, so a peer that sends a lot
// at once delays the others' lines by one slice at most.
//
// A peer's close is reported only after everything it sent before has been
// handled: bytes still held back, then an unterminated last piece as a piece
// of its own (no further arrival will complete it). Once the peer has closed,
// isConnected() is false: what it still sent is relayed, but nothing is
// answered any more.
//
// Output is bounded where it is queued. Everything queued for a connection
// and not yet sent — in its socket, gathered during an arrival, held (see
// holdOutput) — counts against the output cap at the moment a send adds to
// it; a send that would pass the cap cuts the connection there: it counts as
// not connected from then on, what was waiting for it is dropped, nothing
// more is queued, and outputCapExceeded() follows from the event loop for its
// handler to close it. Sends are relayed output or replies (sendReply: what
// the peer asked for), which flow control does not count as being behind.
//
// Each address may hold at most a set number of connections on the channel
// (the address as the PeerAddressBook resolves it); a request past that is
// closed at once and reported as refused().
//
// Each accepted connection gets a serial number that no later connection on
// the array repeats, so a part that remembers "index k" can tell whether k is
// still the same connection. The array also notes when each connection last
// delivered bytes, for the heartbeat watch.
class EndpointArray : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 ReadChunk = 64 * 1024;
    static constexpr qint64 ArrivalSlice = 8 * 1024;
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
    qint64 outputCap() const { return m_outputCap; }
    // Connections one address may hold on this channel; 0: no limit.
    void setPerAddressLimit(int connections) { m_perAddress.setLimit(connections); }
    int perAddressLimit() const { return m_perAddress.limit(); }
    // Where the addresses of the bridge's loopback connections are noted (may be null).
    void setAddressBook(const PeerAddressBook* book) { m_book = book; }
    // Unsent output of all elements together above which stalled ones are cut.
    void setOutputBudget(qint64 bytes) { m_flow.setOutputBudget(bytes); }
    // The port the channel listens on (the chosen one once a listen on port 0 succeeded).
    quint16 port() const { return m_port; }

    net::SocketEndpoint* element(int index) const;
    int highestIndex() const { return int(m_slots.size()) - 1; }
    // Connected, not cut, and the peer has not closed.
    bool isConnected(int index) const;
    // A number of its own for every connection taken over (never reused);
    // 0 when `index` carries none.
    quint64 connectionId(int index) const;
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

    // Sends to one element; false when it is missing, not connected, or
    // the bytes would pass its output cap (which cuts it).
    bool send(int index, QByteArrayView bytes);
    // The same for a reply: something the peer asked for.
    bool sendReply(int index, QByteArrayView bytes);
    // send() to every element but `except`, lowest index first.
    void sendToAllExcept(int except, QByteArrayView bytes);
    // Everything queued for `index` and not yet sent.
    qint64 queuedOutput(int index) const;
    // The part of it queued as replies.
    qint64 pendingReplyOutput(int index) const;

    // From now on output for `index` waits here (counted against its cap)
    // instead of going out, until releaseOutput() sends `reply` and then
    // everything that waited, in order. So a reply made later can take its
    // place in the connection's stream at the moment the hold began.
    void holdOutput(int index);
    void releaseOutput(int index, QByteArrayView reply);

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
    // The last reply queued for `index` has gone out.
    void repliesWritten(int index);
    // A request from this peer was closed: its address holds the most it may.
    void refused(const QString& address, quint16 port);

private:
    // Output waiting in the array, in order; the spans of it that are
    // replies are noted apart (relayed bytes alone, the usual case, need
    // nothing more than the bytes).
    struct Pieces {
        struct Span {
            qsizetype begin;
            qsizetype end;
        };
        QByteArray data;
        std::vector<Span> replies;
        qint64 replyBytes = 0;
        void append(QByteArrayView more, bool reply) {
            if (reply && !more.isEmpty()) {
                if (!replies.empty() && replies.back().end == data.size())
                    replies.back().end += more.size();
                else
                    replies.push_back({data.size(), data.size() + more.size()});
                replyBytes += more.size();
            }
            data.append(more);
        }
        qint64 size() const { return data.size(); }
        bool isEmpty() const { return data.isEmpty(); }
    };
    struct Slot {
        net::SocketEndpoint* endpoint = nullptr;
        Peer peer;
        quint64 id = 0;
        std::unique_ptr<protocol::FrameSplitter> splitter;
        bool closePending = false; // the peer closed; held bytes come first
        bool finishing = false;    // the peer closed; its last piece needs no terminator
        bool admitted = false;     // counted by the per-address limit
        bool cut = false;          // past the output cap: nothing more is queued
        bool holding = false;      // output waits in `held`
        bool restQueued = false;   // a later pass hands over what is left
        Pieces gathered;           // output sent while an arrival is handled
        qint64 gatherBase = 0;     // what else was queued when gathering began
        Pieces held;
        quint64 serial = 0;
        QElapsedTimer heard; // since the last arrival
        bool wholeFramesOnly = false;
    };

    net::SocketEndpoint* create(int index);
    void wire(int index, net::SocketEndpoint* endpoint);
    void trimTail();
    bool enqueue(int index, QByteArrayView bytes, bool reply, qint64 alsoWaiting = 0);
    void cutAtCap(int index);
    void flush(int index, Pieces pieces);
    template <typename Each> static void forEachRun(const Pieces& pieces, Each each);
    bool write(int index, QByteArrayView bytes, bool reply);
    void deliver(int index);
    void onArrival(int index);
    void deliverRestLater(int index);
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
    AddressLimiter m_perAddress;
    const PeerAddressBook* m_book = nullptr;
    quint64 m_lastId = 0;
    bool m_gathering = false; // while dataArrival is handled
    std::vector<int> m_gatheredIndices;
};
