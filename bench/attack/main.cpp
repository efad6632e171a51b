// attack: one peer against the built server, row by row.
//
// For every row of rows.h and every server binary given, a fresh
// sketoraServer is started (headless, own ports, 3 GiB of address space, a
// soft descriptor limit of 1,024), two honest members connect from their own
// addresses and each draws 100 numbered lines a second, and an attacker
// process replays the row for --seconds. Printed per row and server:
//   survived   the server still runs and greets a newcomer at the end
//              ("stalled": it runs but greets nobody within 3 s)
//   peak RSS   the most memory the server held (VmHWM)
//   p50/p99    honest line latency during the attack, and p99 in the
//              second that begins one second after it ended
//   lost       honest lines not delivered within 5 s after the attack
//   newcomer   how long a new desktop member and a page load took halfway
//              through the attack ("locked out" after 3 s), and whether
//              the desktop member got a pen slot
//   notes      what the attacker saw (when it was cut, what was accepted),
//              for long-lines whether honest lines reached a log file
// With --check the exit status is 1 when the last server given did not
// survive a row, lost an honest line or held 256 MB or more (latency is
// never checked: the machine may be busy). Figures, not a test.
//
// usage: attack [--server PATH]... [--rows a,b] [--seconds S] [--check]
#include "eventwait.h"
#include "honest.h"
#include "rows.h"
#include "serverrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr int64_t Ms = 1000000;

void runFor(int ms, const std::function<void()>& each = {}) {
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (each)
            each();
        if (clock.elapsed() >= ms)
            loop.quit();
    });
    tick.start(5);
    loop.exec();
}

struct Probe {
    std::optional<double> drawMs; // time to the end of the greeting
    bool penSlot = false;
    std::optional<double> pageMs; // time to a complete page answer
};

// A newcomer from 127.0.0.5: a desktop member, then a page load.
Probe probe(const ServerRun& server) {
    Probe p;
    QElapsedTimer clock;
    clock.start();
    {
        QTcpSocket draw;
        draw.bind(QHostAddress(QStringLiteral("127.0.0.5")), 0);
        draw.connectToHost(QHostAddress::LocalHost, server.drawPort);
        QByteArray got;
        QObject::connect(&draw, &QTcpSocket::readyRead, [&] { got += draw.readAll(); });
        if (bench::waitFor([&] { return got.count("\r\n") >= 41; }, 3000)) {
            p.drawMs = clock.nsecsElapsed() / 1e6;
            p.penSlot = got.contains("0:8:");
        }
        draw.abort();
    }
    clock.restart();
    QTcpSocket page;
    page.bind(QHostAddress(QStringLiteral("127.0.0.5")), 0);
    page.connectToHost(QHostAddress::LocalHost, server.httpPort);
    QByteArray answer;
    QObject::connect(&page, &QTcpSocket::connected, [&] {
        page.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(&page, &QTcpSocket::readyRead, [&] { answer += page.readAll(); });
    if (bench::waitFor([&] { return answer.contains("</html>"); }, 3000))
        p.pageMs = clock.nsecsElapsed() / 1e6;
    page.abort();
    return p;
}

// A picture that costs something to encode: thousands of strokes in
// random colours all over the board, and one snapshot so the server has it.
void drawBusyPicture(const ServerRun& server) {
    QTcpSocket painter;
    painter.bind(QHostAddress(QStringLiteral("127.0.0.6")), 0);
    painter.connectToHost(QHostAddress::LocalHost, server.drawPort);
    if (!painter.waitForConnected(3000))
        return;
    QRandomGenerator rng(22);
    QByteArray lines = "5: 2\r\n";
    for (int i = 0; i < 6000; ++i) {
        if (i % 3 == 0)
            lines += "4: " + QByteArray::number(rng.bounded(1 << 24)) + "\r\n";
        lines += "2: " + QByteArray::number(rng.bounded(1600)) + ", " +
                 QByteArray::number(rng.bounded(1200)) + "\r\n";
    }
    painter.write(lines + "7:snap warm\r\n");
    QByteArray got;
    QObject::connect(&painter, &QTcpSocket::readyRead, [&] { got += painter.readAll(); });
    bench::waitFor([&] { return got.contains("0:7:end warm "); }, 15000);
    painter.abort();
}

struct Outcome {
    bool running = false;
    bool survived = false;
    qint64 peakKb = -1;
    HonestTally::Figures during, after;
    int lost = 0;
    Probe newcomer;
    QStringList notes;
};

QString honestInLogs(const ServerRun& server, const HonestTally& tally, int64_t since);

// Stops the server; for long-lines, whether honest lines reached its logs.
void finishNotes(const Row& row, ServerRun& server, const HonestTally& tally, int64_t attackEnd,
                 QStringList& notes) {
    const QByteArray said = server.stop();
    if (qEnvironmentVariableIsSet("ATTACK_DEBUG"))
        std::fprintf(stderr, "%s\n", said.constData());
    if (QString::fromLatin1(row.name) != u"long-lines")
        return;
    notes << honestInLogs(server, tally, attackEnd);
    if (QString::fromUtf8(said).contains(QStringLiteral("描画履歴")))
        notes << QStringLiteral("full history said on stderr");
}

QStringList attackerNotes(const QByteArray& output) {
    QStringList notes;
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("result "))
            notes << QString::fromLatin1(line.mid(7));
    return notes;
}

// Honest lines sent after `since` that some log file of the server holds.
QString honestInLogs(const ServerRun& server, const HonestTally& tally, int64_t since) {
    QByteArray logs;
    for (const QFileInfo& file : QDir(server.directory()).entryInfoList({"*.skl"}, QDir::Files)) {
        QFile f(file.filePath());
        if (f.open(QIODevice::ReadOnly))
            logs += f.readAll();
    }
    int sent = 0, kept = 0;
    for (int member = 0; member < 2; ++member)
        for (size_t seq = 0; seq < tally.lines[member].size(); ++seq) {
            if (tally.lines[member][seq].sentNs < since)
                continue;
            ++sent;
            kept += logs.contains(":h" + QByteArray::number(member) + 's' +
                                  QByteArray::number(qulonglong(seq)) + "\r\n");
        }
    return QStringLiteral("honest lines in logs %1/%2").arg(kept).arg(sent);
}

// The attacker process for `row`, until it has run its time; its notes.
QStringList attack(const Row& row, const ServerRun& server, double seconds,
                   const std::function<void()>& sample, Probe& newcomer) {
    QProcess attacker;
    attacker.start(QCoreApplication::applicationFilePath(),
                   {"--attacker", QString::fromLatin1(row.name), "--draw-port",
                    QString::number(server.drawPort), "--text-port",
                    QString::number(server.textPort), "--http-port",
                    QString::number(server.httpPort), "--seconds", QString::number(seconds)});
    attacker.waitForStarted();
    runFor(int(seconds * 500), sample);
    newcomer = probe(server);
    bench::waitFor(
        [&] {
            sample();
            return attacker.state() == QProcess::NotRunning;
        },
        int(seconds * 1000) + 20000);
    if (attacker.state() != QProcess::NotRunning) {
        attacker.kill();
        attacker.waitForFinished();
    }
    return attackerNotes(attacker.readAllStandardOutput());
}

// One row against one server: honest members warm up, the attack runs, the
// honest members go on for two seconds after it, stragglers get five.
Outcome runRow(const Row& row, const QString& binary, double seconds) {
    Outcome out;
    ServerRun server;
    if (!server.start(binary)) {
        out.notes << QStringLiteral("server did not start");
        return out;
    }
    HonestTally tally;
    HonestMember a(0, "127.0.0.3", tally), b(1, "127.0.0.4", tally);
    for (HonestMember* m : {&a, &b}) {
        m->connectTo(server.drawPort);
        bench::waitFor([m] { return m->isGreeted(); }, 5000);
    }
    if (row.busyPicture)
        drawBusyPicture(server);
    const auto sample = [&] { out.peakKb = qMax(out.peakKb, server.peakRssKb()); };
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        for (HonestMember* m : {&a, &b})
            if (m->isOpen())
                m->sendNext();
    });
    pace.setTimerType(Qt::PreciseTimer);
    pace.start(10);
    runFor(500, sample); // warm: not counted

    const int64_t attackStart = nowNs();
    out.notes = attack(row, server, seconds, sample, out.newcomer);
    const int64_t attackEnd = nowNs();
    runFor(2000, sample);
    pace.stop();
    const int64_t lastSent = nowNs();
    bench::waitFor(
        [&] {
            sample();
            return tally.figures(attackStart, lastSent).lost == 0;
        },
        5000);
    out.during = tally.figures(attackStart, attackEnd);
    out.after = tally.figures(attackEnd + 1000 * Ms, attackEnd + 2000 * Ms);
    out.lost = tally.figures(attackStart, lastSent).lost;
    out.running = server.isRunning();
    out.survived = out.running && probe(server).drawMs.has_value();
    sample();
    finishNotes(row, server, tally, attackEnd, out.notes);
    return out;
}

QString ms(double value) {
    return QString::number(value, 'f', value < 10 ? 2 : value < 100 ? 1 : 0);
}

QString newcomerText(const Probe& p) {
    const QString draw =
        p.drawMs ? ms(*p.drawMs) + QStringLiteral(" ms") + (p.penSlot ? "" : " (no pen)")
                 : QStringLiteral("locked out");
    const QString page =
        p.pageMs ? ms(*p.pageMs) + QStringLiteral(" ms") : QStringLiteral("locked out");
    return QStringLiteral("draw %1, page %2").arg(draw, page);
}

void printRow(const QString& label, const Outcome& o) {
    std::printf(
        "| %s | %s | %s | %s / %s | %s | %d | %s | %s |\n", qPrintable(label),
        o.survived  ? "yes"
        : o.running ? "stalled"
                    : "NO (ended)",
        o.peakKb < 0 ? "?" : qPrintable(QString::number(o.peakKb / 1024)),
        qPrintable(o.during.sent > o.during.lost ? ms(o.during.p50Ms) : QStringLiteral("-")),
        qPrintable(o.during.sent > o.during.lost ? ms(o.during.p99Ms) : QStringLiteral("-")),
        qPrintable(o.after.sent > o.after.lost ? ms(o.after.p99Ms) : QStringLiteral("-")), o.lost,
        qPrintable(newcomerText(o.newcomer)), qPrintable(o.notes.join(QStringLiteral("; "))));
    std::fflush(stdout);
}

bool meetsTargets(const Outcome& o) {
    return o.survived && o.lost == 0 && o.peakKb >= 0 && o.peakKb < 256 * 1024;
}

int attackerMain(const QCommandLineParser& parser) {
    AttackerArgs args;
    args.row = parser.value(QStringLiteral("attacker"));
    args.drawPort = quint16(parser.value(QStringLiteral("draw-port")).toUInt());
    args.textPort = quint16(parser.value(QStringLiteral("text-port")).toUInt());
    args.httpPort = quint16(parser.value(QStringLiteral("http-port")).toUInt());
    args.seconds = parser.value(QStringLiteral("seconds")).toDouble();
    return runAttacker(args);
}

// Every row (or those in `only`) against every server; true when the last
// server met the hard targets in each.
bool runTable(const QStringList& servers, const QStringList& only, double seconds) {
    std::printf("attack: %.0f s per row; honest: 2 members x 100 lines/s\n\n", seconds);
    std::printf("| row | server | survived | peak RSS MB | p50 / p99 ms | after p99 ms | lost | "
                "newcomer | notes |\n|---|---|---|---|---|---|---|---|---|\n");
    bool met = true;
    for (const Row& row : rows()) {
        if (!only.isEmpty() && !only.contains(QString::fromLatin1(row.name)))
            continue;
        for (int i = 0; i < servers.size(); ++i) {
            const Outcome o = runRow(row, servers[i], seconds);
            const QString label = QStringLiteral("%1 [%2]")
                                      .arg(QString::fromLatin1(row.name))
                                      .arg(servers.size() > 1 ? QString::number(i + 1) : QString());
            printRow(label, o);
            if (i == servers.size() - 1 && !meetsTargets(o))
                met = false;
        }
    }
    std::printf("\nservers: ");
    for (int i = 0; i < servers.size(); ++i)
        std::printf("[%d] %s  ", i + 1, qPrintable(servers[i]));
    std::printf("\n");
    return met;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("One peer against the relay server, row by row."));
    parser.addHelpOption();
    parser.addOptions({
        {"server", "A sketoraServer binary (repeat to compare; default: beside this tool).",
         "path"},
        {"rows", "Rows to run, comma-separated (default: all).", "names"},
        {"seconds", "How long each attack lasts.", "s", "10"},
        {"check", "Exit 1 when the last server misses a hard target."},
        {"attacker", "Run one row's attacker (internal).", "row"},
        {"draw-port", "(internal)", "port"},
        {"text-port", "(internal)", "port"},
        {"http-port", "(internal)", "port"},
    });
    parser.process(app);
    if (parser.isSet(QStringLiteral("attacker")))
        return attackerMain(parser);

    QStringList servers = parser.values(QStringLiteral("server"));
    if (servers.isEmpty())
        servers << QDir(qEnvironmentVariable("SKETORA_BIN_DIR", app.applicationDirPath()))
                       .filePath(QStringLiteral("sketoraServer"));
    const bool met =
        runTable(servers, parser.value(QStringLiteral("rows")).split(',', Qt::SkipEmptyParts),
                 parser.value(QStringLiteral("seconds")).toDouble());
    return parser.isSet(QStringLiteral("check")) && !met ? 1 : 0;
}
