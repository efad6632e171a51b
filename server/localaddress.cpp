#include "localaddress.h"

#include <QNetworkInterface>

namespace {

// The IPv4 addresses of the interfaces whose flags include all of `needed`.
QStringList addressesOfInterfaces(QNetworkInterface::InterfaceFlags needed) {
    QStringList addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if ((flags & needed) != needed || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol && !ip.isLoopback())
                addresses << ip.toString();
        }
    }
    return addresses;
}

} // namespace

QString localIpAddress() {
    const QStringList addresses = addressesOfInterfaces(QNetworkInterface::IsUp);
    return addresses.isEmpty() ? QStringLiteral("127.0.0.1") : addresses.first();
}

// A bridge without a cable or a container (docker0, virbr0) is up but not
// running: nobody reaches the machine there.
QStringList localIpAddresses() {
    QStringList addresses =
        addressesOfInterfaces(QNetworkInterface::IsUp | QNetworkInterface::IsRunning);
    addresses.removeDuplicates();
    return addresses.isEmpty() ? QStringList{localIpAddress()} : addresses;
}
