// relay_load: drawing-channel load against a relay server on loopback.
//
// Connects N clients (default 20) to a running sketoraServer (or starts one
// with --server / --start-server), then
//   paced:    every client sends 200 draw lines per second for 10 s;
//   flat out: every client sends as fast as the relay delivers for 5 s.
// Every line must reach every other client once and in order; the tool
// prints what was lost, duplicated or reordered, delivered lines per second
// and the end-to-end latency (p50, p99, max). With --reference the same load
// runs against a bare fan-out relay in a child process, and the ratios of the
// two are printed. With --compare-journal the started server is measured a
// second time with --no-journal, and the ratios of with / without the board
// journal are printed. Figures only: the exit code says nothing about speed.

#include "barerelay.h"
#include "loadrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

struct Settings {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 13467;
    int clients = 20;
    int rate = 200;
    double pacedSeconds = 10;
    double flatSeconds = 5;
    int window = 256;
    bool paced = true;
    bool flat = true;
};

struct Figures {
    std::optional<PhaseResult> paced;
    std::optional<PhaseResult> flat;
    double serverCpuSeconds = 0; // of a server this tool started, all its threads
};

// User and system time a process has used so far (Linux), in seconds.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: utime is the 12th, stime the 13th.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return 0;
    return double(f[11].toLongLong() + f[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

qint64 delivered(const Figures& f) {
    return (f.paced ? f.paced->delivered : 0) + (f.flat ? f.flat->delivered : 0);
}

void printCpu(const Figures& f) {
    if (f.serverCpuSeconds > 0 && delivered(f) > 0)
        std::printf("  server CPU %.2f s, %.3f us per delivered line\n", f.serverCpuSeconds,
                    f.serverCpuSeconds * 1e6 / double(delivered(f)));
}

void printPhase(const char* name, const PhaseResult& r) {
    std::printf("  %-9s sent %lld, delivered %lld of %lld (lost %lld, duplicated %lld, out of "
                "order %lld)%s\n",
                name, (long long)r.sent, (long long)r.delivered, (long long)r.expected,
                (long long)(r.expected - r.delivered), (long long)r.duplicated,
                (long long)r.outOfOrder, r.drained ? "" : " [not drained after 10 s]");
    std::printf("  %-9s %.0f delivered lines/s; latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                "", r.linesPerSecond, r.p50Ms, r.p99Ms, r.maxMs);
    std::fflush(stdout);
}

bool waitForPort(const QString& host, quint16 port, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket probe;
        probe.connectToHost(host, port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        // Refused at once: the relay is not up yet; give it a moment.
        QThread::msleep(50);
    }
    return false;
}

std::optional<Figures> runLoad(const Settings& s, const QString& host, quint16 port,
                               const char* title) {
    std::printf("%s: %d clients -> %s:%u\n", title, s.clients, qPrintable(host), port);
    LoadRun run(host, port, s.clients);
    if (!run.connectAll(30000)) {
        std::fprintf(stderr, "relay_load: could not connect %d clients to %s:%u\n", s.clients,
                     qPrintable(host), port);
        return std::nullopt;
    }
    Figures figures;
    if (s.paced) {
        std::printf("  paced: %d lines/s per client for %.1f s\n", s.rate, s.pacedSeconds);
        figures.paced = run.paced(s.rate, s.pacedSeconds);
        printPhase("paced", *figures.paced);
    }
    if (s.flat) {
        std::printf("  flat out: %.1f s, at most %d lines in flight per client\n", s.flatSeconds,
                    s.window);
        figures.flat = run.flatOut(s.flatSeconds, s.window);
        printPhase("flat out", *figures.flat);
    }
    return figures;
}

int runBareRelay() {
    BareRelay relay;
    if (!relay.listen())
        return 1;
    std::printf("port %u\n", relay.port());
    std::fflush(stdout);
    return QCoreApplication::exec();
}

QString serverBesideUs() {
    const QString fromEnv = qEnvironmentVariable("SKETORA_BIN_DIR");
    const QString dir = fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() : fromEnv;
    return QDir(dir).filePath(QStringLiteral("sketoraServer"));
}

struct Options {
    QCommandLineOption host{{"H", "host"}, "Relay host.", "address", "127.0.0.1"};
    QCommandLineOption port{{"p", "port"}, "Drawing port.", "port", "13467"};
    QCommandLineOption clients{{"n", "clients"}, "Number of clients.", "n", "20"};
    QCommandLineOption rate{{"r", "rate"}, "Paced lines per second per client.", "rate", "200"};
    QCommandLineOption seconds{"seconds", "Length of the paced phase.", "s", "10"};
    QCommandLineOption flatSeconds{"flat-seconds", "Length of the flat-out phase.", "s", "5"};
    QCommandLineOption window{"window", "Lines in flight per client when flat out.", "n", "256"};
    QCommandLineOption phase{"phase", "paced, flat or both.", "which", "both"};
    QCommandLineOption server{"server", "Start this sketoraServer binary first.", "path"};
    QCommandLineOption startServer{"start-server",
                                   "Start sketoraServer from SKETORA_BIN_DIR or beside this tool."};
    QCommandLineOption reference{"reference", "Also measure a bare fan-out relay; print ratios."};
    QCommandLineOption bareRelay{"bare-relay", "Run only the bare reference relay (internal)."};
    QCommandLineOption compareJournal{
        "compare-journal", "Also measure the started server with --no-journal; print ratios."};

    void addTo(QCommandLineParser& parser) const {
        parser.addOptions({host, port, clients, rate, seconds, flatSeconds, window, phase, server,
                           startServer, reference, bareRelay, compareJournal});
    }
    Settings settings(const QCommandLineParser& parser) const {
        Settings s;
        s.host = parser.value(host);
        s.port = quint16(parser.value(port).toUInt());
        s.clients = qMax(2, parser.value(clients).toInt());
        s.rate = qMax(1, parser.value(rate).toInt());
        s.pacedSeconds = parser.value(seconds).toDouble();
        s.flatSeconds = parser.value(flatSeconds).toDouble();
        s.window = qMax(1, parser.value(window).toInt());
        s.paced = parser.value(phase) != QLatin1String("flat");
        s.flat = parser.value(phase) != QLatin1String("paced");
        return s;
    }
};

// The relay server itself, headless, in a scratch directory.
bool startRelayServer(QProcess& process, const QString& binary, const QString& directory,
                      const QStringList& arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The program runs in the scratch directory: a relative path must not follow it there.
    process.start(QFileInfo(binary).absoluteFilePath(), arguments);
    if (process.waitForStarted())
        return true;
    std::fprintf(stderr, "relay_load: cannot start %s\n", qPrintable(binary));
    return false;
}

// The same load against a bare relay in a child process of this tool.
void runReference(const Settings& s, const Figures& measured) {
    QProcess bare;
    bare.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-relay")});
    QByteArray announce; // "port N"
    while (!announce.contains('\n') && bare.waitForReadyRead(10000))
        announce += bare.readAllStandardOutput();
    const quint16 barePort = quint16(announce.trimmed().mid(5).toUInt());
    const auto ref = barePort ? runLoad(s, QStringLiteral("127.0.0.1"), barePort,
                                        "reference (bare fan-out relay)")
                              : std::nullopt;
    bare.kill();
    bare.waitForFinished();
    if (!ref)
        return;
    std::printf("ratio sketoraServer / reference:\n");
    if (measured.paced && ref->paced && ref->paced->p99Ms > 0 && ref->paced->p50Ms > 0)
        std::printf("  paced latency p50 %.2f, p99 %.2f\n",
                    measured.paced->p50Ms / ref->paced->p50Ms,
                    measured.paced->p99Ms / ref->paced->p99Ms);
    if (measured.flat && ref->flat && ref->flat->linesPerSecond > 0)
        std::printf("  flat-out delivered lines/s %.2f\n",
                    measured.flat->linesPerSecond / ref->flat->linesPerSecond);
}

void printRatios(const char* title, const Figures& a, const Figures& b) {
    std::printf("%s:\n", title);
    if (a.paced && b.paced && b.paced->p50Ms > 0 && b.paced->p99Ms > 0)
        std::printf("  paced latency p50 %.2f, p99 %.2f\n", a.paced->p50Ms / b.paced->p50Ms,
                    a.paced->p99Ms / b.paced->p99Ms);
    if (a.flat && b.flat && b.flat->linesPerSecond > 0)
        std::printf("  flat-out delivered lines/s %.2f; latency p50 %.2f, p99 %.2f\n",
                    a.flat->linesPerSecond / b.flat->linesPerSecond, a.flat->p50Ms / b.flat->p50Ms,
                    a.flat->p99Ms / b.flat->p99Ms);
    if (a.serverCpuSeconds > 0 && b.serverCpuSeconds > 0 && delivered(a) > 0 && delivered(b) > 0)
        std::printf("  server CPU per delivered line %.2f\n",
                    (a.serverCpuSeconds / double(delivered(a))) /
                        (b.serverCpuSeconds / double(delivered(b))));
}

// The same load against the same program started again without its journal.
void runWithoutJournal(const Settings& s, const QString& binary, const Figures& measured) {
    QTemporaryDir scratch;
    QProcess process;
    if (!startRelayServer(process, binary, scratch.path(), {QStringLiteral("--no-journal")}) ||
        !waitForPort(s.host, s.port, 15000))
        return;
    auto without = runLoad(s, s.host, s.port, "sketoraServer --no-journal");
    if (without) {
        without->serverCpuSeconds = cpuSeconds(process.processId());
        printCpu(*without);
    }
    process.terminate();
    process.waitForFinished(10000);
    if (without)
        printRatios("ratio with / without the board journal", measured, *without);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drawing-channel load on a relay server (figures only)."));
    parser.addHelpOption();
    const Options options;
    options.addTo(parser);
    parser.process(app);
    if (parser.isSet(options.bareRelay))
        return runBareRelay();
    const Settings s = options.settings(parser);

    QTemporaryDir scratch;
    QProcess serverProcess;
    const QString binary =
        parser.isSet(options.server) ? parser.value(options.server) : serverBesideUs();
    if (parser.isSet(options.server) || parser.isSet(options.startServer)) {
        if (!startRelayServer(serverProcess, binary, scratch.path()))
            return 2;
    }
    if (!waitForPort(s.host, s.port, 15000)) {
        std::fprintf(stderr, "relay_load: nothing listens on %s:%u\n", qPrintable(s.host), s.port);
        return 2;
    }
    auto measured = runLoad(s, s.host, s.port, "sketoraServer");
    if (measured && serverProcess.state() != QProcess::NotRunning) {
        measured->serverCpuSeconds = cpuSeconds(serverProcess.processId());
        printCpu(*measured);
    }
    if (serverProcess.state() != QProcess::NotRunning) {
        serverProcess.terminate();
        serverProcess.waitForFinished(10000);
    }
    if (!measured)
        return 2;
    if (parser.isSet(options.compareJournal) &&
        (parser.isSet(options.server) || parser.isSet(options.startServer)))
        runWithoutJournal(s, binary, *measured);
    if (parser.isSet(options.reference))
        runReference(s, *measured);
    return 0;
}
