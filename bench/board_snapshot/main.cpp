// board_snapshot: what the shared picture costs on command 7.
//
// For a blank board, a typical sketch, the picture of the 200,000-line
// benchmark log (the one log_playback plays: every colour change picks one
// of 16.7 million colours, so its picture is a mosaic of thousands), the
// same log drawn with the eight palette colours members pick from, and
// random noise it prints:
// the PNG size and the whole reply block, the server's time to build the
// reply (PNG + base64 + pens, uncached), the time to take the checksum, the
// client's time to read and apply the reply, and the size of the drawing
// history the snapshot replaces (the relayed lines that made the picture),
// with the ratio snapshot / history.
//
// Then request-to-painted on loopback through the server's relay over real
// sockets (server classes in this process on a port the system chooses; the
// picture is drawn into it by a client sending the lines): from sending
// "7:snap" to the asker's canvas holding the picture, first request
// (encoding) and later ones (the encoded picture kept while unchanged).
//
// Times are best of `runs` (CPU time of this thread for the local parts,
// wall clock for loopback). Figures only, never pass/fail.
//
//   board_snapshot [runs]      default 5
#include "board.h"
#include "canvas.h"
#include "drawingchannel.h"
#include "drawingrelay.h"
#include "eventwait.h"
#include "generatedlog.h"
#include "relayserver.h"
#include "snapshot.h"
#include "typicalsketch.h"
#include "windowviews.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

struct Picture {
    const char* name;
    QByteArray history; // relayed lines that draw it ("index:line\r\n")
    Board board;
};

void drawInto(Board& board, const QByteArray& history) {
    for (const QByteArray& line : history.split('\n'))
        if (line.size() > 1)
            board.applyLine(QString::fromLatin1(line.chopped(1)));
}

QList<QString> replyArguments(const QByteArray& reply) {
    QList<QString> out;
    for (const QByteArray& line : reply.split('\n'))
        if (line.startsWith("0:7:"))
            out.append(QString::fromLatin1(line.mid(4).chopped(1)));
    return out;
}

void measureLocal(Picture& p, int runs) {
    double build = 1e9, sum = 1e9, apply = 1e9;
    QByteArray reply;
    for (int run = 0; run < runs; ++run) {
        boardsnapshot::Encoder encoder(p.board); // fresh: nothing cached
        double t = threadSeconds();
        reply = encoder.snapshotReply("bench");
        build = std::min(build, threadSeconds() - t);
        t = threadSeconds();
        volatile quint32 h = boardsnapshot::checksum(p.board.image());
        (void)h;
        sum = std::min(sum, threadSeconds() - t);
        const QList<QString> args = replyArguments(reply);
        Board target;
        t = threadSeconds();
        boardsnapshot::Reader reader;
        for (const QString& arg : args)
            if (const auto e = reader.feed(arg); e.kind == boardsnapshot::Reader::Event::Snapshot)
                target.replace(e.picture, e.pens);
        apply = std::min(apply, threadSeconds() - t);
        if (target.image() != p.board.image())
            std::printf("  !! %s: the applied picture differs\n", p.name);
    }
    const qsizetype png = boardsnapshot::encodePng(p.board.image()).size();
    std::printf("%-18s %9lld %9lld %8.1f %8.1f %8.1f %11lld", p.name, qlonglong(png),
                qlonglong(reply.size()), build * 1e3, sum * 1e3, apply * 1e3,
                qlonglong(p.history.size()));
    if (p.history.isEmpty())
        std::printf("        -\n");
    else
        std::printf(" %8.3f\n", double(reply.size()) / double(p.history.size()));
    std::fflush(stdout);
}

// Request to painted through the relay: one client per index of the
// history draws its lines into the server, then another asks for the board
// and applies the reply to its canvas exactly as the client does. Lines of
// different senders may interleave differently than in the history, so the
// server's picture is like the history's, not necessarily equal.
void measureLoopback(const Picture& p, int runs) {
    QTemporaryDir dir;
    RelayServer server(0, 0, dir.path());
    server.setListenAddress(QHostAddress::LocalHost);
    if (!server.start()) {
        std::printf("%-18s server did not start\n", p.name);
        return;
    }
    struct : PenView {
        qint32 penColor() const override { return 0; }
        qint16 penWidth() const override { return 0; }
    } pen;
    Canvas canvas;
    DrawingChannel channel({canvas, pen, nullptr});
    boardsnapshot::Reader reader;
    bool painted = false;
    qint64 linesReceived = 0;
    channel.onExtension({"board", "data", "pen", "end", "sum"}, [&](QStringView arg) {
        const auto e = reader.feed(arg);
        if (e.kind == boardsnapshot::Reader::Event::Snapshot) {
            canvas.board().replace(e.picture, e.pens);
            painted = true;
        }
    });
    QTcpSocket asker;
    QObject::connect(&asker, &QTcpSocket::readyRead, [&] {
        const QByteArray bytes = asker.readAll();
        linesReceived += bytes.count('\n');
        channel.receive(bytes);
    });
    asker.connectToHost(QHostAddress::LocalHost, server.drawingPort());
    asker.waitForConnected(5000);
    bench::waitFor([] { return false; }, 300); // the greeting

    // Upstream form, per sender: the server puts the feeder's own index in.
    std::map<QByteArray, QByteArray> upstream;
    qint64 total = 0;
    for (const QByteArray& line : p.history.split('\n'))
        if (line.size() > 1) {
            const qsizetype colon = line.indexOf(':');
            upstream[line.left(colon)] += line.mid(colon + 1) + '\n';
            ++total;
        }
    std::vector<std::unique_ptr<QTcpSocket>> feeders;
    for (const auto& [index, lines] : upstream) {
        feeders.push_back(std::make_unique<QTcpSocket>());
        feeders.back()->connectToHost(QHostAddress::LocalHost, server.drawingPort());
        feeders.back()->waitForConnected(5000);
    }
    bench::waitFor([] { return false; }, 300);
    const qint64 before = linesReceived;
    size_t f = 0;
    for (const auto& [index, lines] : upstream)
        feeders[f++]->write(lines);
    if (!bench::waitFor([&] { return linesReceived - before >= total; }, 300000)) {
        std::printf("%-18s the lines did not all come through\n", p.name);
        return;
    }

    std::vector<double> times;
    for (int run = 0; run <= runs; ++run) {
        if (run == 0 && !feeders.empty()) // a new revision: the first request encodes
            feeders.front()->write("1: 0, 0\r\n2: 0, 0\r\n");
        bench::waitFor([] { return false; }, 50);
        painted = false;
        QElapsedTimer timer;
        timer.start();
        asker.write("7:snap r" + QByteArray::number(run) + "\r\n");
        if (!bench::waitFor([&] { return painted; }, 60000)) {
            std::printf("%-18s no reply\n", p.name);
            return;
        }
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    if (canvas.image() != server.drawing().board().image())
        std::printf("  !! %s: the asker's canvas differs from the server's board\n", p.name);
    const double first = times.front();
    std::sort(times.begin() + 1, times.end());
    std::printf("%-18s first %8.1f ms   cached: best %7.1f ms, median %7.1f ms\n", p.name, first,
                times[1], times[1 + (times.size() - 1) / 2]);
    std::fflush(stdout);
}

// The same lines with every colour line's value replaced by one of the
// eight default palette colours (chosen by the value, so the log stays the
// same length to within a few bytes).
QByteArray inPaletteColours(const QByteArray& history) {
    static constexpr qint32 palette[] = {255,      65280,    16711680, 16777215,
                                         16776960, 16711935, 65535,    0};
    QByteArray out;
    out.reserve(history.size());
    for (const QByteArray& line : history.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.trimmed().split(':');
        if (f.size() == 3 && f[1] == "4") {
            const qint32 colour = palette[f[2].trimmed().toLongLong() % 8];
            out += f[0] + ":4: " + QByteArray::number(colour) + "\r\n";
        } else {
            out += line + '\n';
        }
    }
    return out;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    std::vector<Picture> pictures(5);
    pictures[0].name = "blank";
    pictures[1].name = "typical sketch";
    pictures[1].history = benchlog::typicalSketch();
    pictures[2].name = "200,000-line log";
    pictures[2].history = benchlog::generate(200000).text;
    pictures[3].name = "200,000, 8 colours";
    pictures[3].history = inPaletteColours(pictures[2].history);
    pictures[4].name = "random noise";
    for (Picture& p : pictures)
        drawInto(p.board, p.history);
    QImage noise(Board::Width, Board::Height, QImage::Format_RGB32);
    QRandomGenerator random(9);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = 0xff000000u | random.generate();
    }
    pictures[4].board.replace(noise, pictures[4].board.pens());

    std::printf("board snapshot, %dx%d, best of %d runs\n\n", Board::Width, Board::Height, runs);
    std::printf("%-18s %9s %9s %8s %8s %8s %11s %8s\n", "picture", "PNG B", "reply B", "build ms",
                "sum ms", "apply ms", "history B", "reply/h");
    for (Picture& p : pictures)
        measureLocal(p, runs);

    std::printf("\nrequest to painted on loopback through the relay (wall clock)\n");
    for (const Picture& p : pictures)
        if (!p.history.isEmpty() || p.board.isBlank())
            measureLoopback(p, runs);
    return 0;
}
