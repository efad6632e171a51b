#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <array>
#include <optional>

// The built server on ports found free a moment before, so a test needs no
// lock on the fixed ports (which other builds on a shared machine may hold
// for minutes). A port taken in between shows in what the server says on
// stderr before its page address, its last start-up line; it is then
// started again on other ports.
//
// The ports come from below the system's range for outgoing connections:
// a server started again on the same ports after a kill would otherwise
// find one of them taken as the local end of some other program's
// connection.
namespace freeports {

struct Ports {
    quint16 drawing = 0, text = 0, http = 0;
};

// The lowest port the system hands out by itself (32768 unless set).
inline int ephemeralLow() {
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (!range.open(QIODevice::ReadOnly))
        return 32768;
    bool ok = false;
    const int low = range.readAll().simplified().split(' ').value(0).toInt(&ok);
    return ok ? low : 32768;
}

inline Ports pick() {
    constexpr int First = 20000;
    const int span = std::max(ephemeralLow() - First, 1);
    int candidate = int(QRandomGenerator::global()->bounded(span));
    std::array<QTcpServer, 3> probes;
    for (QTcpServer& probe : probes) {
        for (int tries = 0; tries < span && !probe.isListening(); ++tries)
            probe.listen(QHostAddress::Any, quint16(First + candidate++ % span));
        if (!probe.isListening()) // no room below the range: any port
            probe.listen(QHostAddress::Any, 0);
    }
    return {probes[0].serverPort(), probes[1].serverPort(), probes[2].serverPort()};
}

// Starts `program` in `server` and returns the ports it listens on, or
// nothing when it would not start.
inline std::optional<Ports> start(QProcess& server, const QString& program) {
    server.setProcessChannelMode(QProcess::SeparateChannels);
    for (int attempt = 0; attempt < 20; ++attempt) {
        const Ports ports = pick();
        server.start(program,
                     {"--draw-port", QString::number(ports.drawing), "--text-port",
                      QString::number(ports.text), "--http-port", QString::number(ports.http)});
        if (!server.waitForStarted())
            return std::nullopt;
        QByteArray said;
        const bool over = QTest::qWaitFor(
            [&] {
                said += server.readAllStandardError();
                return said.contains("ブラウザ用ページ") || server.state() != QProcess::Running;
            },
            120000);
        if (!over || server.state() != QProcess::Running)
            return std::nullopt;
        if (!said.contains("待ち受けできません") && !said.contains("開けません"))
            return ports;
        server.terminate();
        if (!server.waitForFinished(60000))
            server.kill();
        server.waitForFinished();
    }
    return std::nullopt;
}

} // namespace freeports
