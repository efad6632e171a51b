#include "reconnect.h"
#include "eventwait.h"

#include "boardsync.h"
#include "connectioncontrol.h"
#include "drawingchannel.h"
#include "form1.h"
#include "form2.h"
#include "nooneprompts.h"
#include "sessionkeeper.h"
#include "sketoraclient.h"
#include "socketendpoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Member {
    NoOnePrompts prompts;
    std::unique_ptr<SketoraClient> client;

    Member(quint16 draw, quint16 text, const QString& settings) {
        SketoraClient::Options options;
        options.prompts = &prompts;
        options.ports = {draw, text};
        options.settingsDirectory = settings;
        client = std::make_unique<SketoraClient>(options);
        client->start();
        client->startupDialog().Command2()->click(); // the main window shows
        client->connection().replaceConnections(QStringLiteral("127.0.0.1"));
    }
    bool retrying() const { return client->connection().retrying(); }
    // Connected again, its session answered, nothing left to send, the board shown.
    bool back(const QImage& expected) const {
        const SessionKeeper& session = client->session();
        return client->drawing().isConnected() &&
               client->textSocket().state() == net::SocketEndpoint::Connected &&
               session.phase() == SessionKeeper::Phase::Open && session.knownServer() &&
               !retrying() && client->form1().canvas().image() == expected;
    }
};

} // namespace

void measureReconnect(const QString& journal, const QImage& expected, int runs) {
    QTemporaryDir dir, settings;
    const QString target = QDir(dir.path()).filePath(QFileInfo(journal).fileName());
    QDir().mkpath(target);
    for (const QString& name : QDir(journal).entryList(QDir::Files))
        QFile::copy(QDir(journal).filePath(name), QDir(target).filePath(name));

    const quint16 draw = bench::freePort(), text = bench::freePort();
    QString program = qEnvironmentVariable("SKETORA_BIN_DIR");
    program = QDir(program.isEmpty() ? QCoreApplication::applicationDirPath() : program)
                  .filePath(QStringLiteral("sketoraServer"));
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    server.setProcessEnvironment(env);
    server.setWorkingDirectory(dir.path());
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto start = [&] {
        server.start(program, {"--draw-port", QString::number(draw), "--text-port",
                               QString::number(text), "--no-http"});
        return server.waitForStarted();
    };
    if (!start()) {
        std::printf("  !! %s did not start\n", qPrintable(program));
        return;
    }
    // The first members join once the port answers (a member reconnects by
    // itself only to a server it has reached).
    if (!bench::waitFor(
            [&] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, draw);
                return probe.waitForConnected(200);
            },
            30000)) {
        std::printf("  !! the server did not answer\n");
        return;
    }
    std::vector<std::unique_ptr<Member>> members;
    for (int i = 0; i < 4; ++i)
        members.push_back(std::make_unique<Member>(draw, text, settings.path()));
    const auto all = [&](const std::function<bool(const Member&)>& done, int ms) {
        return bench::waitFor(
            [&] {
                return std::all_of(members.begin(), members.end(),
                                   [&](const auto& m) { return done(*m); });
            },
            ms);
    };
    if (!all([&](const Member& m) { return m.back(expected); }, 120000)) {
        std::printf("  !! the members did not join\n");
        for (const auto& m : members)
            std::printf("     sync %d drawing %d text %d phase %d known %d retrying %d canvas %s\n",
                        int(m->client->boardSync().state()), m->client->drawing().isConnected(),
                        int(m->client->textSocket().state()), int(m->client->session().phase()),
                        m->client->session().knownServer(), m->retrying(),
                        m->client->form1().canvas().image() == expected ? "board" : "other");
        return;
    }
    std::vector<double> ms;
    for (int run = 0; run < runs; ++run) {
        ::kill(pid_t(server.processId()), SIGKILL);
        server.waitForFinished();
        if (!all([](const Member& m) { return m.retrying(); }, 60000)) {
            std::printf("  !! the members did not notice the server was gone\n");
            return;
        }
        const int outageMs = 300 + 900 * run; // 0.3 s, 1.2 s, 2.1 s, ...
        (void)bench::waitFor([] { return false; }, outageMs);
        QElapsedTimer timer;
        timer.start();
        if (!start()) {
            std::printf("  !! the server did not start again\n");
            return;
        }
        if (!all([&](const Member& m) { return m.back(expected); }, 120000)) {
            std::printf("  !! a member did not come back within two minutes\n");
            return;
        }
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        std::printf("  outage %5d ms: every member back and showing the board %8.1f ms after the "
                    "start\n",
                    outageMs, ms.back());
        std::fflush(stdout);
    }
    server.kill();
    server.waitForFinished();
    std::sort(ms.begin(), ms.end());
    std::printf("  %-34s best %8.1f ms, median %8.1f ms, max %8.1f ms\n", "four whole clients back",
                ms.front(), ms[ms.size() / 2], ms.back());
}
