// board_undo: what taking back a stroke or a clear-all costs.
//
// For the typical sketch and the 200,000-line benchmark board (the pictures
// board_snapshot measures), drawn into the server's relay over real
// loopback sockets (server classes in this process on a port the system
// chooses): a member of ours draws one typical stroke (20 moves, width 2)
// and then alternately takes it back and restores it; three more members of
// ours and a described client watch. Per request it prints the time from
// sending "7:undo" / "7:redo" until the asker's answer has come and every
// member of ours has painted the patch (wall clock; best and median of
// `runs`), and the bytes each member of ours received for it. Then the same
// for a clear-all taken back and restored (the whole board changes), and
// the relay's latency for another member while one floods requests.
//
// Then the same stroke figure as a person meets it: four whole desktop
// clients join, one draws a typical stroke with the mouse and presses Ctrl+Z
// and Ctrl+Y in turn; timed until every client has pasted the patch and
// repainted its canvas (wholeclients.h).
//
// After every request the members' canvases must equal the server's board;
// the tool says so when they do not. Figures only, never pass/fail.
//
//   board_undo [runs] [--no-clients]      default 20 runs, with whole clients
#include "board.h"
#include "canvas.h"
#include "drawingline.h"
#include "drawingrelay.h"
#include "drawreceiver.h"
#include "eventwait.h"
#include "framesplitter.h"
#include "generatedlog.h"
#include "relayserver.h"
#include "typicalsketch.h"
#include "undowire.h"
#include "wholeclients.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

// A member of ours as the client holds the board: received lines through
// the receiver, patches pasted, answers counted.
struct Member {
    Canvas canvas;
    DrawReceiver receiver{canvas, nullptr};
    protocol::FrameSplitter splitter{"\r\n"};
    undowire::Reader reader;
    QTcpSocket socket;
    qint64 extensionBytes = 0; // command-7 bytes received
    int patches = 0, answers = 0, counts = 0;
    undowire::Outcome lastOutcome = undowire::Outcome::None;

    explicit Member(quint16 port, const QByteArray& id) {
        receiver.setExtensionHandler([this](QStringView arg) {
            const auto e = reader.feed(arg);
            if (e.kind == undowire::Reader::Event::Patch) {
                canvas.board().paste(e.pixels, e.area.topLeft());
                ++patches;
            } else if (e.kind == undowire::Reader::Event::Answer) {
                ++answers;
                lastOutcome = e.outcome;
            }
        });
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            const QByteArray bytes = socket.readAll();
            for (const QByteArray& line : bytes.split('\n'))
                if (line.startsWith("0:7:"))
                    extensionBytes += line.size() + 1;
            counts += int(bytes.count("0:8:"));
            for (const QByteArray& line : splitter.feed(bytes))
                receiver.applyLine(protocol::drawing::decodeText(line),
                                   DrawReceiver::Source::Network);
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        socket.write(undowire::meLine(id, {}));
    }
    // Paints its own lines as it sends them.
    void draw(int index, const QByteArray& upstream) {
        socket.write(upstream);
        for (const QByteArray& line : upstream.split('\n'))
            if (line.size() > 1)
                receiver.applyLine(QString::number(index) + u':' +
                                       QString::fromLatin1(line.chopped(1)),
                                   DrawReceiver::Source::Network);
    }
    bool sync() {
        const int before = counts;
        socket.write("8:member\r\n");
        return bench::waitFor([&] { return counts > before; }, 300000);
    }
};

QByteArray typicalStroke() {
    QByteArray up = "4: 255\r\n5: 2\r\n1: 700, 500\r\n";
    for (int n = 1; n <= 20; ++n)
        up += "2: " + QByteArray::number(700 + 9 * n) + ", " +
              QByteArray::number(500 + (n % 2 ? 12 : -12) + n * 4) + "\r\n";
    return up + "0:0\r\n";
}

struct Figures {
    std::vector<double> ms;
    qint64 bytes = 0;
    bool differs = false;
};

// Alternate undo and redo `runs` times each; figures per request.
Figures alternate(RelayServer& server, std::vector<std::unique_ptr<Member>>& members, int runs) {
    Figures f;
    Member& asker = *members.front();
    for (int run = 0; run < 2 * runs; ++run) {
        for (auto& m : members)
            m->extensionBytes = 0;
        std::vector<int> patchesBefore;
        for (auto& m : members)
            patchesBefore.push_back(m->patches);
        const QByteArray token = "t" + QByteArray::number(run);
        QElapsedTimer timer;
        bool painted = false;
        // A request the server refuses as busy (it is still paying for an
        // expensive rebuild) is sent again a little later; timed from the
        // request that was taken.
        for (int attempt = 0; attempt < 100 && !painted; ++attempt) {
            const int answersBefore = asker.answers;
            timer.start();
            asker.socket.write(run % 2 == 0 ? undowire::undoLine(token)
                                            : undowire::redoLine(token));
            if (!bench::waitFor([&] { return asker.answers > answersBefore; }, 60000))
                break;
            if (asker.lastOutcome == undowire::Outcome::Busy) {
                bench::waitFor([] { return false; }, 100);
                continue;
            }
            painted = bench::waitFor(
                [&] {
                    for (size_t i = 0; i < members.size(); ++i)
                        if (members[i]->patches == patchesBefore[i])
                            return false;
                    return true;
                },
                60000);
        }
        f.ms.push_back(timer.nsecsElapsed() / 1e6);
        if (!painted) {
            std::printf("  !! no patch within a minute\n");
            f.differs = true;
            return f;
        }
        f.bytes = std::max(f.bytes, members.back()->extensionBytes);
        for (auto& m : members)
            f.differs = f.differs || m->canvas.image() != server.drawing().board().image();
    }
    return f;
}

void print(const char* what, Figures f) {
    std::sort(f.ms.begin(), f.ms.end());
    if (f.ms.empty())
        return;
    std::printf("  %-22s best %7.1f ms, median %7.1f ms, max %7.1f ms; %8lld B per member%s\n",
                what, f.ms.front(), f.ms[f.ms.size() / 2], f.ms.back(), qlonglong(f.bytes),
                f.differs ? "  !! a canvas differs from the server's board" : "");
    std::fflush(stdout);
}

// The relay's latency while one member floods: the asker sends 400 undo and
// redo requests at once; another member's member-count round trips meanwhile.
void printFlood(std::vector<std::unique_ptr<Member>>& members) {
    Member& asker = *members.front();
    Member& other = *members.back();
    QByteArray flood;
    for (int i = 0; i < 200; ++i)
        flood += undowire::undoLine("f" + QByteArray::number(i)) +
                 undowire::redoLine("g" + QByteArray::number(i));
    const int answersBefore = asker.answers;
    asker.socket.write(flood);
    std::vector<double> rtt;
    while (asker.answers - answersBefore < 400 && rtt.size() < 2000) {
        QElapsedTimer timer;
        timer.start();
        if (!other.sync())
            break;
        rtt.push_back(timer.nsecsElapsed() / 1e6);
    }
    asker.sync();
    std::sort(rtt.begin(), rtt.end());
    if (!rtt.empty())
        std::printf("  %-22s member-count round trip during it: median %5.1f ms, max %5.1f ms "
                    "(%zu trips)\n",
                    "400 requests at once", rtt[rtt.size() / 2], rtt.back(), rtt.size());
    std::fflush(stdout);
}

void measure(const char* name, const QByteArray& history, int runs, bool wholeClients) {
    QTemporaryDir dir;
    RelayServer server(0, 0, dir.path());
    server.setListenAddress(QHostAddress::LocalHost);
    if (!server.start()) {
        std::printf("%s: server did not start\n", name);
        return;
    }
    std::vector<std::unique_ptr<Member>> members;
    for (int i = 0; i < 4; ++i)
        members.push_back(
            std::make_unique<Member>(server.drawingPort(), "benchmember" + QByteArray::number(i)));
    QTcpSocket described;
    QObject::connect(&described, &QTcpSocket::readyRead, [&] { described.readAll(); });
    described.connectToHost(QHostAddress::LocalHost, server.drawingPort());
    described.waitForConnected(5000);
    for (auto& m : members)
        m->sync();

    // The picture, one feeder per index of the history.
    std::map<QByteArray, QByteArray> upstream;
    for (const QByteArray& line : history.split('\n'))
        if (line.size() > 1) {
            const qsizetype colon = line.indexOf(':');
            upstream[line.left(colon)] += line.mid(colon + 1) + '\n';
        }
    std::vector<std::unique_ptr<QTcpSocket>> feeders;
    for (const auto& [index, lines] : upstream) {
        feeders.push_back(std::make_unique<QTcpSocket>());
        feeders.back()->connectToHost(QHostAddress::LocalHost, server.drawingPort());
        feeders.back()->waitForConnected(5000);
        feeders.back()->write(lines);
    }
    for (auto& m : members)
        if (!m->sync()) {
            std::printf("%s: the history did not come through\n", name);
            return;
        }
    Member& asker = *members.front();
    const int index = 0; // the first connection
    asker.draw(index, typicalStroke());
    for (auto& m : members)
        m->sync();
    std::printf("%s (%lld stored lines, %d frames kept, spacing %d steps)\n", name,
                qlonglong(server.history().storedLines()),
                server.drawing().undo().history().frameCount(),
                server.drawing().undo().history().frameSpacing());
    print("stroke undo/redo", alternate(server, members, runs));

    printFlood(members);
    if (wholeClients)
        measureWholeClients(server, runs);

    asker.draw(index, "3: 0, 0\r\n");
    for (auto& m : members)
        m->sync();
    print("clear-all undo/redo", alternate(server, members, std::max(1, runs / 4)));
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool wholeClients = !args.contains(QStringLiteral("--no-clients"));
    const int runs =
        args.size() > 1 && args[1] != u"--no-clients" ? std::max(1, args[1].toInt()) : 20;
    std::printf("board undo: request to every member of ours painted, on loopback, %d runs\n\n",
                runs);
    measure("typical sketch", benchlog::typicalSketch(), runs, wholeClients);
    measure("200,000-line log", benchlog::generate(200000).text, runs, wholeClients);
    return 0;
}
