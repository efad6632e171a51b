#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTest>

// The built server on its fixed ports (13467 drawing, 13468 text). They are
// one per machine: within one test run CTest keeps the tests that use them
// apart (RESOURCE_LOCK sketora_ports), but on a machine shared with other
// builds another program may take one at any moment, even between our check
// that they are free and our server's start. start() waits until they are
// free, starts the server and reads its start-up on stderr, where it says
// when it could not listen on a port; the line about the page comes last
// either way. When it could not, it is stopped and started again once the
// ports are free, so a test always talks to its own server.
namespace fixedports {

inline constexpr quint16 Drawing = 13467;
inline constexpr quint16 Text = 13468;
inline constexpr int GuardMs = 240000; // other programs may hold them for minutes

inline bool areFree() {
    QTcpServer drawing;
    QTcpServer text;
    return drawing.listen(QHostAddress::Any, Drawing) && text.listen(QHostAddress::Any, Text);
}

// Starts `program` with `arguments` in `server` (its stderr read separately)
// and returns true once it listens on both ports; `startup` gets what it said
// on stderr until then. False when the ports stay taken or it does not start.
inline bool start(QProcess& server, const QString& program, const QStringList& arguments = {},
                  QByteArray* startup = nullptr) {
    const QDeadlineTimer deadline(GuardMs);
    const auto remaining = [&] { return int(qMax<qint64>(0, deadline.remainingTime())); };
    server.setProcessChannelMode(QProcess::SeparateChannels);
    while (QTest::qWaitFor(areFree, remaining())) {
        QByteArray said;
        server.start(program, arguments);
        if (!server.waitForStarted())
            return false;
        const bool over = QTest::qWaitFor(
            [&] {
                said += server.readAllStandardError();
                return said.contains("ブラウザ用ページ") || server.state() != QProcess::Running;
            },
            remaining());
        if (!over || server.state() != QProcess::Running)
            return false;
        if (!said.contains("待ち受けできません")) {
            if (startup)
                *startup = said;
            return true;
        }
        server.terminate(); // another program took a port after our check
        if (!server.waitForFinished(GuardMs))
            server.kill();
        server.waitForFinished();
    }
    return false;
}

} // namespace fixedports
