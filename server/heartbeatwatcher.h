#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

class EndpointArray;

// Cuts the connections of one channel that have sent a heartbeat and then
// fall silent. A member of ours whose program stopped (suspended, hung) keeps
// its TCP connection alive: its machine still answers the kernel's keepalive
// probes. Only the member itself can say it is alive, by sending something
// at least every few seconds; one that has started to do so and then sends
// nothing for timeoutMs() is cut through the channel's normal close path
// (EndpointArray::cut), so the member list and the count are true again.
//
// Connections that never sent a heartbeat (every described client) are
// never watched, however quiet they are.
class HeartbeatWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 20000;

    explicit HeartbeatWatcher(EndpointArray& endpoints, QObject* parent = nullptr);

    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms);

    // Connection k sent a heartbeat: from now on its silence is watched.
    void heard(int k);
    bool isWatched(int k) const;

private:
    void check();

    EndpointArray& m_endpoints;
    int m_timeoutMs = DefaultTimeoutMs;
    std::vector<quint64> m_watched; // connection serial by index, 0: not watched
    QTimer m_timer;                 // runs while anything is watched
};
