#pragma once

#include <QString>

// The machine's own IPv4 address in dotted decimal, as shown in the server's
// title: the first address of an interface that is up and not the loopback,
// or 127.0.0.1 when the machine has none.
QString localIpAddress();
