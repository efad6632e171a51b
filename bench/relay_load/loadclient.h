#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <vector>

struct LoadTally;

// One drawing client of the load: sends draw lines "2: seq, id" (id is the
// client's own number, seq counts its lines from 0) and checks every relayed
// draw line it receives: each sender's lines must come once and in order.
class LoadClient : public QObject {
    Q_OBJECT
public:
    LoadClient(int id, LoadTally& tally, QObject* parent = nullptr);

    // On the loopback each client speaks from an address of its own
    // (127.0.1.<1 + id>), as the members of a room do.
    void connectTo(const QString& host, quint16 port);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // The server's greeting carries a member-count line "0:8:" (at the
    // newcomer's own slot); once it has come the connection is served.
    bool isGreeted() const { return m_greeted; }
    bool failed() const { return m_failed; }
    QString errorString() const { return m_socket.errorString(); }

    // Sends this client's next line, stamped in the tally.
    void sendNext();
    // Forgets the expected sequence numbers (a new phase starts at 0 again).
    void resetExpectations(int clients);

private:
    void onReadyRead();
    void handleLine(const char* begin, const char* end);

    int m_id;
    LoadTally& m_tally;
    QTcpSocket m_socket;
    QByteArray m_pending;
    std::vector<int64_t> m_expected; // next seq per sender id
    bool m_greeted = false;
    bool m_failed = false;
};

// What all clients of one run share: send stamps, delivery counts, latency
// samples and the faults seen.
struct LoadTally {
    std::vector<std::vector<int64_t>> sentAtNs; // per sender id, per seq
    std::vector<int64_t> deliveredFrom;         // per sender id, over all receivers
    std::vector<int64_t> latencyNs;
    int64_t delivered = 0;
    int64_t duplicated = 0;
    int64_t outOfOrder = 0;
    int64_t lastDeliveryNs = 0;
    bool sampleLatency = true;

    void reset(int clients);
    int64_t sent() const;
};

int64_t nowNs();
