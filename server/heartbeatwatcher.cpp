#include "heartbeatwatcher.h"

#include "endpointarray.h"

#include <algorithm>

HeartbeatWatcher::HeartbeatWatcher(EndpointArray& endpoints, QObject* parent)
    : QObject(parent), m_endpoints(endpoints) {
    setTimeoutMs(DefaultTimeoutMs);
    connect(&m_timer, &QTimer::timeout, this, &HeartbeatWatcher::check);
}

// Checked four times per timeout: a silent member goes between one and one
// and a quarter timeouts after its last byte.
void HeartbeatWatcher::setTimeoutMs(int ms) {
    m_timeoutMs = std::max(ms, 1);
    m_timer.setInterval(std::clamp(m_timeoutMs / 4, 50, 5000));
}

void HeartbeatWatcher::heard(int k) {
    const quint64 serial = m_endpoints.connectionSerial(k);
    if (serial == 0)
        return;
    if (size_t(k) >= m_watched.size())
        m_watched.resize(size_t(k) + 1, 0);
    m_watched[size_t(k)] = serial;
    if (!m_timer.isActive())
        m_timer.start();
}

bool HeartbeatWatcher::isWatched(int k) const {
    return k >= 0 && size_t(k) < m_watched.size() && m_watched[size_t(k)] != 0 &&
           m_watched[size_t(k)] == m_endpoints.connectionSerial(k);
}

void HeartbeatWatcher::check() {
    bool any = false;
    for (size_t k = 0; k < m_watched.size(); ++k) {
        if (m_watched[k] == 0)
            continue;
        if (m_watched[k] != m_endpoints.connectionSerial(int(k))) {
            m_watched[k] = 0; // that connection is gone
            continue;
        }
        if (m_endpoints.silentMs(int(k)) > m_timeoutMs) {
            m_watched[k] = 0;
            m_endpoints.cut(int(k)); // may change the array: look each index up again
            continue;
        }
        any = true;
    }
    if (!any)
        m_timer.stop();
}
