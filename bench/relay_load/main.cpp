// relay_load: drawing-channel load against a relay server on loopback.
//
// Connects N clients (default 20, each from a loopback address of its own)
// to a running sketoraServer (or starts one with --server / --start-server;
// --server may be given more than once, to compare builds in one run), then
//   paced:    every client sends 200 draw lines per second for 10 s;
//   flat out: every client sends as fast as the relay delivers for 5 s.
// Every line must reach every other client once and in order; the tool
// prints what was lost, duplicated or reordered, delivered lines per second
// and the end-to-end latency (p50, p99, max). With --reference the same load
// runs against two references in child processes — a bare fan-out relay on
// Qt's sockets, and a bare epoll fan-out in plain C++ (the floor of what one
// core can relay) — and the ratios of every server to each are printed.
// With --compare-journal every started server is measured a second time
// with --no-journal, and the ratios of with / without the board journal are
// printed (--rounds N: N pairs in alternating order, and the median).
// Figures only: the exit code says nothing about speed.

#include "barerelay.h"
#include "epollrelay.h"
#include "loadrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
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
    double flatCpuNsPerLine = 0; // the relay's own CPU time per delivered line, flat out
};

// CPU seconds (user + system) the process has used so far; 0 when unknown.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name in parentheses: utime is the 14th, stime the 15th.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return 0;
    return double(f[11].toLongLong() + f[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
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

// `pid`: the relay's process, for its CPU time (0: not known).
std::optional<Figures> runLoad(const Settings& s, const QString& host, quint16 port,
                               const char* title, qint64 pid) {
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
        const double cpuBefore = cpuSeconds(pid);
        figures.flat = run.flatOut(s.flatSeconds, s.window);
        printPhase("flat out", *figures.flat);
        const double cpu = cpuSeconds(pid) - cpuBefore;
        if (cpu > 0 && figures.flat->delivered > 0) {
            figures.flatCpuNsPerLine = cpu * 1e9 / double(figures.flat->delivered);
            std::printf("  %-9s relay CPU %.2f s: %.0f ns per delivered line\n", "", cpu,
                        figures.flatCpuNsPerLine);
        }
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
    QCommandLineOption port{{"p", "port"},
                            "Drawing port (of a server started here too; text: the next one).",
                            "port",
                            "13467"};
    QCommandLineOption clients{{"n", "clients"}, "Number of clients.", "n", "20"};
    QCommandLineOption rate{{"r", "rate"}, "Paced lines per second per client.", "rate", "200"};
    QCommandLineOption seconds{"seconds", "Length of the paced phase.", "s", "10"};
    QCommandLineOption flatSeconds{"flat-seconds", "Length of the flat-out phase.", "s", "5"};
    QCommandLineOption window{"window", "Lines in flight per client when flat out.", "n", "256"};
    QCommandLineOption phase{"phase", "paced, flat or both.", "which", "both"};
    QCommandLineOption server{"server", "Start this sketoraServer binary first (repeatable).",
                              "path"};
    QCommandLineOption startServer{"start-server",
                                   "Start sketoraServer from SKETORA_BIN_DIR or beside this tool."};
    QCommandLineOption reference{"reference",
                                 "Also measure the bare Qt and epoll relays; print ratios."};
    QCommandLineOption bareRelay{"bare-relay", "Run only the bare reference relay (internal)."};
    QCommandLineOption epollRelay{"epoll-relay", "Run only the epoll reference relay (internal)."};
    QCommandLineOption compareJournal{
        "compare-journal", "Also measure each started server with --no-journal; print ratios."};
    QCommandLineOption rounds{"rounds",
                              "With --compare-journal: pairs of runs, in alternating order; the "
                              "median ratio is printed.",
                              "n", "1"};

    void addTo(QCommandLineParser& parser) const {
        parser.addOptions({host, port, clients, rate, seconds, flatSeconds, window, phase, server,
                           startServer, reference, bareRelay, epollRelay, compareJournal, rounds});
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

// The relay server itself, headless, in a scratch directory, drawing on
// `port`, text on the next one, no page.
bool startRelayServer(QProcess& process, const QString& binary, const QString& directory,
                      quint16 port, const QStringList& extra) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The program runs in the scratch directory: a relative path must not follow it there.
    const QStringList arguments =
        QStringList{QStringLiteral("--draw-port"), QString::number(port),
                    QStringLiteral("--text-port"), QString::number(port + 1),
                    QStringLiteral("--no-http")} +
        extra;
    process.start(QFileInfo(binary).absoluteFilePath(), arguments);
    if (process.waitForStarted())
        return true;
    std::fprintf(stderr, "relay_load: cannot start %s\n", qPrintable(binary));
    return false;
}

// The same load against a reference relay in a child process of this tool
// (`mode` is its internal option).
std::optional<Figures> runReference(const Settings& s, const QString& mode, const char* title) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {mode});
    QByteArray announce; // "port N"
    while (!announce.contains('\n') && child.waitForReadyRead(10000))
        announce += child.readAllStandardOutput();
    const quint16 port = quint16(announce.trimmed().mid(5).toUInt());
    const auto figures =
        port ? runLoad(s, QStringLiteral("127.0.0.1"), port, title, child.processId())
             : std::nullopt;
    child.kill();
    child.waitForFinished();
    return figures;
}

void printRatios(const QString& server, const Figures& measured, const char* name,
                 const Figures& ref) {
    std::printf("ratio %s / %s:\n", qPrintable(server), name);
    if (measured.paced && ref.paced && ref.paced->p99Ms > 0 && ref.paced->p50Ms > 0)
        std::printf("  paced latency p50 %.2f, p99 %.2f\n",
                    measured.paced->p50Ms / ref.paced->p50Ms,
                    measured.paced->p99Ms / ref.paced->p99Ms);
    if (measured.flat && ref.flat && ref.flat->linesPerSecond > 0)
        std::printf("  flat-out delivered lines/s %.2f\n",
                    measured.flat->linesPerSecond / ref.flat->linesPerSecond);
    // The load clients share the machine with the relay and may be what limits
    // the rate; the relay's own CPU per line does not depend on that.
    if (measured.flatCpuNsPerLine > 0 && ref.flatCpuNsPerLine > 0)
        std::printf("  flat-out lines per relay CPU second %.2f\n",
                    ref.flatCpuNsPerLine / measured.flatCpuNsPerLine);
}

// One server binary (or the one already running when `binary` is empty).
std::optional<Figures> measureServer(const Settings& s, const QString& binary,
                                     const QStringList& extra = {}) {
    QTemporaryDir scratch;
    QProcess serverProcess;
    if (!binary.isEmpty() &&
        !startRelayServer(serverProcess, binary, scratch.path(), s.port, extra))
        return std::nullopt;
    if (!waitForPort(s.host, s.port, 15000)) {
        std::fprintf(stderr, "relay_load: nothing listens on %s:%u\n", qPrintable(s.host), s.port);
        return std::nullopt;
    }
    const QByteArray title = binary.isEmpty()
                                 ? QByteArray("sketoraServer")
                                 : (QStringList{binary} + extra).join(u' ').toLocal8Bit();
    const auto measured = runLoad(s, s.host, s.port, title.constData(), serverProcess.processId());
    if (serverProcess.state() != QProcess::NotRunning) {
        serverProcess.terminate();
        serverProcess.waitForFinished(10000);
    }
    return measured;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Journal / no journal, `rounds` times. The machine drifts between runs (the
// second of two identical runs can differ by a tenth), so the pairs alternate
// which goes first and the median ratio is what counts.
void compareJournal(const Settings& s, const QString& binary, const Figures& first, int rounds) {
    const QString name = binary + QStringLiteral(" (journal)");
    const QStringList without{QStringLiteral("--no-journal")};
    std::vector<double> p50, p99, rate, perCpu;
    for (int round = 0; round < rounds; ++round) {
        std::optional<Figures> with, bare;
        if (round == 0) {
            with = first;
            bare = measureServer(s, binary, without);
        } else if (round % 2 == 1) {
            bare = measureServer(s, binary, without);
            with = measureServer(s, binary);
        } else {
            with = measureServer(s, binary);
            bare = measureServer(s, binary, without);
        }
        if (!with || !bare)
            continue;
        printRatios(name, *with, "--no-journal", *bare);
        if (with->paced && bare->paced && bare->paced->p50Ms > 0 && bare->paced->p99Ms > 0) {
            p50.push_back(with->paced->p50Ms / bare->paced->p50Ms);
            p99.push_back(with->paced->p99Ms / bare->paced->p99Ms);
        }
        if (with->flat && bare->flat && bare->flat->linesPerSecond > 0)
            rate.push_back(with->flat->linesPerSecond / bare->flat->linesPerSecond);
        if (with->flatCpuNsPerLine > 0 && bare->flatCpuNsPerLine > 0)
            perCpu.push_back(bare->flatCpuNsPerLine / with->flatCpuNsPerLine);
    }
    if (rounds < 2)
        return;
    std::printf("median of %d rounds, %s / --no-journal:\n", rounds, qPrintable(name));
    const auto line = [](const char* what, const std::vector<double>& ratios) {
        if (!ratios.empty())
            std::printf("  %s %.2f (%.2f .. %.2f)\n", what, median(ratios),
                        *std::min_element(ratios.begin(), ratios.end()),
                        *std::max_element(ratios.begin(), ratios.end()));
    };
    line("paced latency p50", p50);
    line("paced latency p99", p99);
    line("flat-out delivered lines/s", rate);
    line("flat-out lines per relay CPU second", perCpu);
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
    if (parser.isSet(options.epollRelay))
        return runEpollRelay();
    const Settings s = options.settings(parser);

    QStringList binaries = parser.values(options.server);
    if (binaries.isEmpty())
        binaries << (parser.isSet(options.startServer) ? serverBesideUs() : QString());
    std::vector<std::pair<QString, Figures>> measured;
    for (const QString& binary : binaries) {
        const auto figures = measureServer(s, binary);
        if (!figures)
            return 2;
        const QString name = binary.isEmpty() ? QStringLiteral("sketoraServer") : binary;
        measured.emplace_back(name, *figures);
        if (parser.isSet(options.compareJournal) && !binary.isEmpty())
            compareJournal(s, binary, *figures, qMax(1, parser.value(options.rounds).toInt()));
    }
    if (!parser.isSet(options.reference))
        return 0;
    const auto bare =
        runReference(s, QStringLiteral("--bare-relay"), "reference (bare fan-out relay, Qt)");
    const auto epoll =
        runReference(s, QStringLiteral("--epoll-relay"), "reference (epoll fan-out, plain C++)");
    for (const auto& [name, figures] : measured) {
        if (bare)
            printRatios(name, figures, "bare Qt relay", *bare);
        if (epoll)
            printRatios(name, figures, "epoll relay", *epoll);
    }
    return 0;
}
