#include "linkwatch.h"

LinkWatch::LinkWatch(std::function<void(const QByteArray&)> ping, QObject* parent)
    : QObject(parent), m_ping(std::move(ping)) {
    connect(&m_timer, &QTimer::timeout, this, &LinkWatch::tick);
}

void LinkWatch::start() {
    m_answered = false;
    m_lastPong.start();
    m_lastPing.invalidate();
    // Checked often enough to notice death within a second of its deadline.
    m_timer.start(qMin(m_timing.pingMs, 1000));
    tick();
}

void LinkWatch::stop() {
    m_timer.stop();
}

void LinkWatch::heard() {
    if (!watching())
        return;
    m_answered = true;
    m_lastPong.restart();
}

void LinkWatch::tick() {
    if (m_answered && m_lastPong.elapsed() > m_timing.deadMs) {
        stop();
        emit dead();
        return;
    }
    if (m_lastPing.isValid() && m_lastPing.elapsed() < m_timing.pingMs)
        return;
    m_lastPing.start();
    m_ping("p" + QByteArray::number(++m_serial, 36));
}
