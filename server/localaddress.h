#pragma once

#include <QString>
#include <QStringList>

// The machine's own IPv4 address in dotted decimal, as shown in the server's
// title: the first address of an interface that is up and not the loopback,
// or 127.0.0.1 when the machine has none.
QString localIpAddress();

// Every IPv4 address at which others on the network may reach this machine:
// those of the interfaces that are up, connected and not the loopback, in
// the system's order; the title's address alone when there is none.
QStringList localIpAddresses();
