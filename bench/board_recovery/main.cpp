// board_recovery: what bringing the board back after a crash costs.
//
// The 200,000-line benchmark log (the one log_playback plays) is drawn into
// a relay server in this process by one client per sender, over loopback;
// the server is then dropped without its clean end, as a crash leaves it.
// Then it prints
//   - the time a new server takes to recover from that journal: from the
//     segments alone (the journal as it stands: 200,000 lines are below the
//     checkpoint size) and from a checkpoint taken of the same board;
//   - the time from starting the sketoraServer program (SKETORA_BIN_DIR or
//     beside this tool) in a copy of that folder to a raw member of ours on
//     loopback holding the board: the port answering, the greeting, the
//     session answer, the shared picture applied;
//   - the same restart after a kill under four whole desktop clients: the
//     time until every one of them has reconnected by itself and shows the
//     board again (reconnect.h).
// Best and median of `runs`, each on a fresh copy of the folder. Figures
// only, never pass/fail.
//
//   board_recovery [runs]      default 5
#include "board.h"
#include "boardjournal.h"
#include "drawingrelay.h"
#include "eventwait.h"
#include "generatedlog.h"
#include "reconnect.h"
#include "relaykeeper.h"
#include "relayserver.h"
#include "snapshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

bool copyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name)))
            return false;
    return true;
}

QString journalIn(const QString& dir) {
    return QDir(dir).filePath(QString::fromLatin1(BoardJournal::FolderName));
}

// Draws the log into a server in `dir` and drops it. The picture it drew.
QImage drawAndCrash(const QString& dir, const QByteArray& history) {
    RelayServer server(0, 0, dir);
    server.setListenAddress(QHostAddress::LocalHost);
    if (!server.start())
        return {};
    std::map<QByteArray, QByteArray> upstream; // per sender, as it sent them
    qint64 total = 0;
    for (const QByteArray& line : history.split('\n'))
        if (line.size() > 1) {
            const qsizetype colon = line.indexOf(':');
            upstream[line.left(colon)] += line.mid(colon + 1) + '\n';
            ++total;
        }
    std::vector<std::unique_ptr<QTcpSocket>> feeders;
    for (size_t i = 0; i < upstream.size(); ++i) {
        feeders.push_back(std::make_unique<QTcpSocket>());
        feeders.back()->connectToHost(QHostAddress::LocalHost, server.drawingPort());
        feeders.back()->waitForConnected(5000);
    }
    const qint64 greetings = 40 * qint64(feeders.size());
    bench::waitFor([&] { return server.history().storedLines() >= greetings; }, 10000);
    size_t f = 0;
    for (const auto& [index, lines] : upstream)
        feeders[f++]->write(lines);
    if (!bench::waitFor([&] { return server.history().storedLines() >= greetings + total; },
                        300000))
        return {};
    server.keeper().journal().settle();
    return server.drawing().board().image();
}

struct Times {
    std::vector<double> ms;
    void add(double v) { ms.push_back(v); }
    void print(const char* what) {
        std::sort(ms.begin(), ms.end());
        if (ms.empty()) {
            std::printf("  %-34s no figures\n", what);
            return;
        }
        std::printf("  %-34s best %8.1f ms, median %8.1f ms\n", what, ms.front(),
                    ms[ms.size() / 2]);
    }
};

void measureInProcess(const QString& source, const QImage& expected, int runs, const char* what) {
    Times times;
    bool same = true;
    quint64 records = 0;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        copyFolder(source, journalIn(dir.path()));
        QElapsedTimer timer;
        timer.start();
        RelayServer server(0, 0, dir.path());
        times.add(timer.nsecsElapsed() / 1e6);
        records = server.keeper().journal().recovery().records;
        same = same && server.drawing().board().image() == expected;
    }
    std::printf("  (%llu records replayed, picture %s)\n", (unsigned long long)records,
                same ? "identical" : "DIFFERENT");
    times.print(what);
}

QString serverProgram() {
    const QString fromEnv = qEnvironmentVariable("SKETORA_BIN_DIR");
    const QString dir = fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() : fromEnv;
    return QDir(dir).filePath(QStringLiteral("sketoraServer"));
}

struct RestartTimes {
    Times listening, greeted, session, board;
    bool same = true;
};

// Reads what the member receives until the shared picture is applied,
// noting when the greeting, the session answer and the picture came.
void readUntilBoard(QTcpSocket& member, const QElapsedTimer& timer, const QImage& expected,
                    RestartTimes& t) {
    QByteArray pending;
    int lines = 0;
    boardsnapshot::Reader reader;
    while (member.waitForReadyRead(10000)) {
        pending += member.readAll();
        qsizetype end;
        while ((end = pending.indexOf("\r\n")) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 2);
            const double ms = timer.nsecsElapsed() / 1e6;
            if (++lines == 41)
                t.greeted.add(ms);
            if (line.startsWith("0:7:session "))
                t.session.add(ms);
            if (!line.startsWith("0:7:"))
                continue;
            const auto e = reader.feed(QString::fromLatin1(line.mid(4)));
            if (e.kind != boardsnapshot::Reader::Event::Snapshot)
                continue;
            Board shown;
            shown.replace(e.picture, e.pens);
            t.board.add(timer.nsecsElapsed() / 1e6);
            t.same = t.same && shown.image() == expected;
            return;
        }
    }
}

// A raw member of ours: connects as soon as the port answers, takes its
// greeting, claims its session and asks for the board, applies it.
void measureRestart(const QString& source, const QImage& expected, int runs) {
    RestartTimes t;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir dir;
        copyFolder(source, journalIn(dir.path()));
        const quint16 draw = bench::freePort(), text = bench::freePort();
        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        server.setProcessEnvironment(env);
        server.setWorkingDirectory(dir.path());
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        server.start(serverProgram(), {"--draw-port", QString::number(draw), "--text-port",
                                       QString::number(text), "--no-http"});
        QTcpSocket member;
        while (timer.elapsed() < 30000) {
            member.connectToHost(QHostAddress::LocalHost, draw);
            if (member.waitForConnected(200))
                break;
            member.abort();
            QThread::msleep(2);
        }
        t.listening.add(timer.nsecsElapsed() / 1e6);
        member.write("4: 0\r\n5: 0\r\n7:session bench\r\n7:snap b\r\n");
        readUntilBoard(member, timer, expected, t);
        server.kill();
        server.waitForFinished();
    }
    std::printf("  (picture %s)\n", t.same ? "identical" : "DIFFERENT");
    t.listening.print("port answers");
    t.greeted.print("greeting received");
    t.session.print("session answer received");
    t.board.print("board shown");
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the whole clients' windows
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;
    const benchlog::GeneratedLog log = benchlog::generate(200000);

    QTemporaryDir crashed;
    const QImage expected = drawAndCrash(crashed.path(), log.text);
    if (expected.isNull()) {
        std::printf("board_recovery: the lines did not all come through\n");
        return 1;
    }
    std::printf("board recovery, the 200,000-line board, best of %d runs\n", runs);
    std::printf("recovery in the server (constructing it in a copy of the folder)\n");
    measureInProcess(journalIn(crashed.path()), expected, runs, "from the segments");

    QTemporaryDir checkpointed;
    copyFolder(journalIn(crashed.path()), journalIn(checkpointed.path()));
    {
        RelayServer server(0, 0, checkpointed.path());
        server.keeper().journal().boardReplaced(); // the whole state, now
        server.keeper().journal().settle();
    }
    measureInProcess(journalIn(checkpointed.path()), expected, runs, "from a checkpoint");

    std::printf("restart of sketoraServer to a member of ours holding the board (wall clock)\n");
    measureRestart(journalIn(crashed.path()), expected, runs);

    std::printf("server killed and started again: back to four whole clients showing the board\n");
    measureReconnect(journalIn(crashed.path()), expected, runs);
    return 0;
}
