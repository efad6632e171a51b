#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <vector>

class QTcpSocket;
class QTcpServer;

namespace net {

// One stream socket endpoint: either listening on its local port or carrying
// one TCP connection. It reports what happens to it as signals on the thread
// that owns it (the user-interface thread) and exposes a small State number
// that callers read instead of handling errors.
//
// The listening side does not take connections by itself: it raises
// connectionRequest(id), and whoever handles it calls accept(id) on an
// endpoint of its choice (usually this one, after close()). A request nobody
// accepts during the signal is refused.
//
// Every connection runs with TCP_NODELAY. Unsent output is capped (default
// 32 MiB): once a peer stops reading and the queue passes the cap,
// outputCapExceeded() is raised once and further sends fail until the queue
// drains below the cap.
//
// Input can be bounded too (setReadBufferSize): then at most that many bytes
// wait here until getData() takes them, and a peer that sends faster than the
// owner takes is held back by TCP itself instead of filling memory.
//
// Output queued as a reply (something the peer asked for, see sendReply) is
// told apart from other output while it waits: pendingReplyOutput() is the
// part of pendingOutput() that is replies, and repliesWritten() says when the
// last of them has gone out. Bytes go out in the order they were queued.
//
// A listener that cannot accept for lack of descriptors or memory stops
// accepting for a moment and tries again, instead of spinning or giving up.
class SocketEndpoint : public QObject {
    Q_OBJECT
public:
    enum State {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };
    static constexpr qint64 DefaultOutputCap = 32LL * 1024 * 1024;

    explicit SocketEndpoint(QObject* parent = nullptr);
    ~SocketEndpoint() override;

    int state() const { return m_state; }

    // Port used by listen(); 0 lets the system choose (see localPort after listen).
    void setLocalPort(quint16 port) { m_localPort = port; }
    quint16 localPort() const;

    // Starts an outgoing connection. Fails at once (returns false, nothing
    // changes) unless the state is 0. The outcome shows in state(): 7 and
    // connected() on success, 9 on failure.
    bool connectTo(const QString& host, quint16 port);

    // Listens on the local port (all addresses unless `address` is given).
    // Fails unless the state is 0; on failure the state reads 9.
    bool listen(const QHostAddress& address = QHostAddress::Any);
    QString listenError() const { return m_listenError; }

    // Takes over the connection announced by connectionRequest(id). Fails
    // unless the state is 0 (close a listening endpoint first).
    bool accept(qintptr requestId);

    // Queues bytes (text is encoded by the caller, see protocol::toCp932).
    // Fails unless connected.
    bool sendBytes(QByteArrayView bytes);
    // The same, counted as a reply.
    bool sendReply(QByteArrayView bytes);

    // All bytes received and not yet taken. Framing and decoding are the
    // caller's business (see protocol::FrameSplitter).
    QByteArray getData();
    // At most `maxBytes` of them; the rest stays for the next call.
    QByteArray getData(qint64 maxBytes);

    // Closes the connection or stops listening; the state returns to 0.
    void close();

    QString remoteHostIP() const;
    quint16 remotePort() const;

    void setOutputCap(qint64 bytes) { m_outputCap = bytes; }
    qint64 outputCap() const { return m_outputCap; }
    qint64 pendingOutput() const;
    // The part of pendingOutput() that was queued with sendReply().
    qint64 pendingReplyOutput();

    // 0 (the default): unbounded. Applies to the current and later connections.
    void setReadBufferSize(qint64 bytes);
    // Received bytes waiting for getData().
    qint64 bytesAvailable() const;

signals:
    void connected(); // outgoing connection established
    void connectionRequest(qintptr requestId);
    void dataArrival(qint64 bytesTotal);
    void closed(); // the peer closed (or the connection broke)
    void outputCapExceeded();
    void outputWritten();  // part of the queued output went out
    void repliesWritten(); // the last reply byte queued went out

private:
    void adoptSocket(QTcpSocket* socket);
    void dropSocket();
    void onIncoming(qintptr descriptor);
    void onSocketError();
    void onDisconnected();
    void onBytesWritten();
    bool queue(QByteArrayView bytes, bool reply);
    void forgetWrittenReplies();

    int m_state = Closed;
    quint16 m_localPort = 0;
    qint64 m_outputCap = DefaultOutputCap;
    qint64 m_readBufferSize = 0;
    bool m_capReported = false;
    QString m_listenError;
    QTcpSocket* m_socket = nullptr;
    QTcpServer* m_server = nullptr;
    // Reply bytes in the socket's queue, as spans of the connection's output
    // (positions counted from its first byte); adjacent spans are merged.
    struct Span {
        qint64 begin;
        qint64 end;
    };
    std::vector<Span> m_replySpans;
    qint64 m_queuedTotal = 0; // bytes handed to the socket on this connection
};

} // namespace net
