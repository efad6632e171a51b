#pragma once

#include <QHash>
#include <QString>

// Open connections per peer address on one port, and the most one address
// may hold there. admit() counts a newcomer when there is room for it,
// release() forgets it again. A limit of 0 lets every address in.
class AddressLimiter {
public:
    explicit AddressLimiter(int limit = 0) : m_limit(limit) {}

    void setLimit(int limit) { m_limit = limit; }
    int limit() const { return m_limit; }

    // True (and counted) when `address` holds fewer than the limit.
    bool admit(const QString& address);
    void release(const QString& address);
    int count(const QString& address) const { return m_counts.value(address); }

private:
    QHash<QString, int> m_counts;
    int m_limit;
};
