#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// How long a wait may take before the test gives up. Generous: a wait ends
// as soon as its condition holds, so only a hang costs the whole guard, and
// a busy machine never makes a correct run fail.
inline constexpr int WaitGuardMs = 60000;

// One client connection for the server tests: a real loopback TCP socket
// that collects everything it receives and hands it out piece by piece,
// split at the channel's terminator.
class TestPeer {
public:
    TestPeer(quint16 port, QByteArray terminator) : m_terminator(std::move(terminator)) {
        QObject::connect(&m_socket, &QTcpSocket::readyRead,
                         [this] { m_received += m_socket.readAll(); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool waitConnected(int ms = WaitGuardMs) {
        return QTest::qWaitFor(
            [this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, ms);
    }

    void send(QByteArrayView bytes) {
        m_socket.write(bytes.data(), bytes.size());
        m_socket.flush();
    }

    quint16 localPort() const { return m_socket.localPort(); }
    QTcpSocket& socket() { return m_socket; }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    // Complete pieces received and not yet taken.
    int available() const {
        int count = 0;
        for (qsizetype at = m_cursor; (at = m_received.indexOf(m_terminator, at)) >= 0;
             at += m_terminator.size())
            ++count;
        return count;
    }

    // Waits for `n` further pieces and takes them (terminators removed).
    // Returns fewer when they do not come in time.
    QList<QByteArray> next(int n, int ms = WaitGuardMs) {
        [[maybe_unused]] const bool complete =
            QTest::qWaitFor([&] { return available() >= n; }, ms);
        QList<QByteArray> pieces;
        while (pieces.size() < n) {
            const qsizetype end = m_received.indexOf(m_terminator, m_cursor);
            if (end < 0)
                break;
            pieces.append(m_received.mid(m_cursor, end - m_cursor));
            m_cursor = end + m_terminator.size();
        }
        return pieces;
    }
    QByteArray nextOne(int ms = WaitGuardMs) {
        const QList<QByteArray> one = next(1, ms);
        return one.isEmpty() ? QByteArray("<nothing>") : one.first();
    }

    // Waits until the server has closed this connection.
    bool waitClosedByPeer(int ms = WaitGuardMs) {
        return QTest::qWaitFor(
            [this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }

    const QByteArray& received() const { return m_received; }

private:
    QTcpSocket m_socket;
    QByteArray m_terminator;
    QByteArray m_received;
    qsizetype m_cursor = 0;
};

// A client that connects and never reads by itself: a plain socket with a
// small receive buffer, so the server's queue for it grows quickly. Returns
// the descriptor, -1 on failure.
inline int connectStuckClient(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A reader that is behind until the test lets it read: the server sees a
// slow reader (and holds arrivals back) for as long as the test wants.
class SlowReader {
public:
    explicit SlowReader(quint16 port) : m_fd(connectStuckClient(port)) {}
    ~SlowReader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SlowReader(const SlowReader&) = delete;
    SlowReader& operator=(const SlowReader&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    quint16 localPort() const {
        sockaddr_in address = {};
        socklen_t size = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }
    void send(QByteArrayView bytes) { ::send(m_fd, bytes.data(), size_t(bytes.size()), 0); }

    // Reads, while the event loop runs, until `done` holds for what has
    // arrived so far; false when it does not within `ms`.
    template <typename Done> bool readUntil(Done done, int ms) {
        return QTest::qWaitFor(
            [&] {
                char chunk[65536];
                ssize_t n;
                while ((n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0)
                    m_received.append(chunk, n);
                return done(m_received);
            },
            ms);
    }
    const QByteArray& received() const { return m_received; }

private:
    int m_fd;
    QByteArray m_received;
};
