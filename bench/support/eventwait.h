#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <functional>

// What every benchmark tool needs around its event loop.
namespace bench {

// Handles events until `done` or `ms` have passed; false on timeout. It
// polls rather than sleeping between events, so a figure holds no pause of
// its own (as QTest::qWaitFor's would).
inline bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// A loopback port nobody listens on at the moment of asking.
inline quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace bench
