#include "peeraddressbook.h"

QString PeerAddressBook::resolve(const QString& address, quint16 port) const {
    if (address != u"127.0.0.1" && address != u"::1")
        return address;
    return m_byPort.value(port, address);
}
