#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

// The member's heartbeat on one channel (the verbs: server/linkkeeper.h): a
// ping every pingMs while watching, and the link is dead when no pong has
// come for deadMs. A server that never answered a ping on this connection is
// never taken for dead: described servers do not speak the verb.
class LinkWatch : public QObject {
    Q_OBJECT
public:
    struct Timing {
        int pingMs = 5000;
        int deadMs = 20000;
    };
    // `ping` sends one ping with the token given.
    explicit LinkWatch(std::function<void(const QByteArray& token)> ping,
                       QObject* parent = nullptr);

    void setTiming(const Timing& timing) { m_timing = timing; }
    // Pings from now on (a first one at once), until stop().
    void start();
    void stop();
    bool watching() const { return m_timer.isActive(); }
    // A pong arrived on the watched connection.
    void heard();
    // At least one pong came on this watch.
    bool answered() const { return m_answered; }

signals:
    void dead();

private:
    void tick();

    std::function<void(const QByteArray&)> m_ping;
    Timing m_timing;
    QTimer m_timer;
    QElapsedTimer m_lastPong;
    QElapsedTimer m_lastPing;
    bool m_answered = false;
    quint64 m_serial = 0;
};
