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
// that owns it (the user-interface thread) and exposes a small State that
// callers read instead of handling errors.
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
// A link that dies without a word (a machine switched off, a network gone)
// looks alive to TCP for hours. setKeepAlive makes the kernel probe an idle
// connection and give up on output nobody acknowledges; the connection then
// breaks, which the owner hears as a Close like any other.
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
    // The numbers are those the endpoint states have always had (the status
    // line and tests read them); 1 (open) and 5 (host resolved) are never
    // entered by this endpoint.
    enum State {
        Closed = 0,
        Listening = 2,
        ConnectionPending = 3, // while connectionRequest() is being handled
        ResolvingHost = 4,
        Connecting = 6,
        Connected = 7,
        Closing = 8, // the peer closed; close() returns to Closed
        Error = 9,
    };
    static constexpr qint64 DefaultOutputCap = 32LL * 1024 * 1024;

    // Kernel timers for a silent link (TCP keepalive and TCP_USER_TIMEOUT).
    // An idle connection is probed after `idleSeconds`, then every
    // `intervalSeconds`; it is broken after `probes` unanswered probes, or
    // once sent data or a probe has gone unacknowledged for `userTimeoutMs`.
    // All zero: the system's defaults (no probes).
    struct KeepAlive {
        int idleSeconds = 0;
        int intervalSeconds = 0;
        int probes = 0;
        int userTimeoutMs = 0;
        bool isSet() const { return idleSeconds > 0; }
    };

    explicit SocketEndpoint(QObject* parent = nullptr);
    ~SocketEndpoint() override;

    State state() const { return m_state; }

    // Port used by listen(); 0 lets the system choose (see localPort after listen).
    void setLocalPort(quint16 port) { m_localPort = port; }
    quint16 localPort() const;

    // Starts an outgoing connection. Fails at once (returns false, nothing
    // changes) unless Closed. The outcome shows in state(): Connected and
    // connected() on success, Error on failure.
    bool connectTo(const QString& host, quint16 port);

    // Listens on the local port (all addresses unless `address` is given).
    // Fails unless Closed; on failure the state reads Error.
    bool listen(const QHostAddress& address = QHostAddress::Any);
    QString listenError() const { return m_listenError; }

    // Takes over the connection announced by connectionRequest(id). Fails
    // unless Closed (close a listening endpoint first).
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

    // Closes the connection or stops listening; the state returns to Closed.
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

    // Applies to the current and later connections.
    void setKeepAlive(const KeepAlive& keepAlive);
    // The system's descriptor of the connection, -1 without one.
    qintptr socketDescriptor() const;

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
    void applyKeepAlive();
    void dropSocket();
    void onIncoming(qintptr descriptor);
    void onSocketError();
    void onDisconnected();
    void onBytesWritten();
    bool queue(QByteArrayView bytes, bool reply);
    void forgetWrittenReplies();

    State m_state = Closed;
    quint16 m_localPort = 0;
    qint64 m_outputCap = DefaultOutputCap;
    qint64 m_readBufferSize = 0;
    KeepAlive m_keepAlive;
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
