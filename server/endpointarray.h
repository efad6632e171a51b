#pragma once

#include "framesplitter.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

namespace net {
class SocketEndpoint;
}

// The endpoints of one channel (`WS` for drawing, `WS_txt` for text), indexed
// by connection index. An index holds nothing or one endpoint; element 0
// always exists, later elements are created when a listener is needed and
// destroyed when their connection ends. All elements listen on the port that
// element 0 first listened on.
//
// Besides the endpoints the array keeps, per connected element, the peer's
// address and port as read at accept time (the close handlers need them after
// the socket is gone) and the frame splitter that reassembles lines split
// over several arrivals.
//
// Exactly one element listens while the channel runs. A new listener takes
// the lowest free index (no element, or element 0 closed), so indices are
// reused and stay within the 21 table slots as long as at most 21 clients
// are connected at once.
class EndpointArray : public QObject {
    Q_OBJECT
public:
    struct Peer {
        QString address;
        quint16 port = 0;
    };

    EndpointArray(quint16 port, QByteArray terminator, QObject* parent = nullptr);
    ~EndpointArray() override;

    void setListenAddress(const QHostAddress& address) { m_address = address; }
    // Applies to every element, present and future.
    void setOutputCap(qint64 bytes);
    // The port the channel listens on (the chosen one once a listen on port 0 succeeded).
    quint16 port() const { return m_port; }

    net::SocketEndpoint* element(int index) const;
    int highestIndex() const { return int(m_slots.size()) - 1; }
    bool isConnected(int index) const;
    bool anyListening() const;
    int lowestFreeIndex() const;
    Peer peer(int index) const;

    // Closes element `index` and listens on it (creating it when missing).
    // On failure the element is left closed and the error is in listenError().
    bool listenOn(int index);
    bool listenOnLowestFree() { return listenOn(lowestFreeIndex()); }
    QString listenError() const { return m_listenError; }

    // Closes the listening element `index` and takes over the request on it.
    // On success the element carries the connection, its peer is recorded and
    // its frame splitter starts empty.
    bool acceptOn(int index, qintptr requestId);

    // Sends to one element; false when it is missing or not connected.
    bool send(int index, QByteArrayView bytes);

    // All complete pieces that have arrived on `index`, terminators removed.
    QList<QByteArray> takeFrames(int index);
    // Bytes of an incomplete piece kept on `index` for its next arrival.
    qsizetype pendingFrameBytes(int index) const;

    // Closes element `index`; destroys it unless it is element 0.
    void closeAndDestroy(int index);
    // Closes every element and destroys all but element 0.
    void closeAll();

signals:
    void connectionRequest(int index, qintptr requestId);
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
    };

    net::SocketEndpoint* create(int index);
    void wire(int index, net::SocketEndpoint* endpoint);
    void trimTail();

    quint16 m_port;
    QByteArray m_terminator;
    QHostAddress m_address = QHostAddress::Any;
    qint64 m_outputCap;
    QString m_listenError;
    std::vector<Slot> m_slots;
};
