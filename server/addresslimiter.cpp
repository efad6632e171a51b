#include "addresslimiter.h"

bool AddressLimiter::admit(const QString& address) {
    int& count = m_counts[address];
    if (m_limit > 0 && count >= m_limit) {
        if (count == 0)
            m_counts.remove(address);
        return false;
    }
    ++count;
    return true;
}

void AddressLimiter::release(const QString& address) {
    const auto it = m_counts.find(address);
    if (it == m_counts.end())
        return;
    if (--*it <= 0)
        m_counts.erase(it);
}
