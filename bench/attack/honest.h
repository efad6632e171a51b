#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <vector>

// Send and arrival times of the honest members' lines.
struct HonestTally {
    struct Line {
        int64_t sentNs = 0;
        int64_t arrivedNs = -1;
    };
    std::vector<Line> lines[2]; // by member

    struct Figures {
        int sent = 0;
        int lost = 0; // not arrived (yet)
        double p50Ms = 0, p99Ms = 0, maxMs = 0;
    };
    // Lines sent in [fromNs, toNs).
    Figures figures(int64_t fromNs, int64_t toNs) const;
};

// One honest member on the drawing channel, from its own loopback address:
// it draws numbered lines on request and notes when the other member's
// lines arrive. A line is "2: x, y:h<member>s<seq>": a visible pencil
// segment (the board changes with every line) whose fourth field carries
// the number, relayed as it is.
class HonestMember : public QObject {
    Q_OBJECT
public:
    HonestMember(int member, const char* source, HonestTally& tally, QObject* parent = nullptr);

    void connectTo(quint16 port);
    bool isGreeted() const { return m_greeted; }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void sendNext();

private:
    void onReadyRead();
    void handleLine(const QByteArray& line);

    int m_member;
    HonestTally& m_tally;
    QTcpSocket m_socket;
    QByteArray m_pending;
    int m_greetingLines = 0;
    bool m_greeted = false;
};

int64_t nowNs();
