#pragma once

#include <QHash>
#include <QString>

// Whom a loopback connection stands for. The browser bridge runs inside the
// server and reaches the relay's ports from the loopback address; before it
// connects it notes here which browser address its local port speaks for,
// so the connection list, the event log, the chat's default name and the
// per-address limits see the browser instead of 127.0.0.1.
class PeerAddressBook {
public:
    void add(quint16 loopbackPort, const QString& address) {
        m_byPort.insert(loopbackPort, address);
    }
    void remove(quint16 loopbackPort) { m_byPort.remove(loopbackPort); }
    // `address` itself unless it is a loopback address whose port was noted.
    QString resolve(const QString& address, quint16 port) const;

private:
    QHash<quint16, QString> m_byPort;
};
