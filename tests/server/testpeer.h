#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QTest>

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

    bool waitConnected(int ms = 5000) {
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
    QList<QByteArray> next(int n, int ms = 5000) {
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
    QByteArray nextOne(int ms = 5000) {
        const QList<QByteArray> one = next(1, ms);
        return one.isEmpty() ? QByteArray("<nothing>") : one.first();
    }

    // Waits until the server has closed this connection.
    bool waitClosedByPeer(int ms = 10000) {
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
