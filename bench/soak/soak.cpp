// Soak and hostile-peer run against the built relay server.
//
// Starts sketoraServer (offscreen, in a scratch folder) on the fixed ports,
// then, all at once: 25 members that read everything (so indices above 20
// are in play), a few of them sending numbered stroke lines at a steady
// pace; churn clients that connect, talk and leave thousands of times;
// garbage and invalid CP932 on both channels; 1 MiB without a terminator;
// one member that never reads while a flooder fills its queue. At the end
// it checks that every numbered line reached every reading member exactly
// once and in order, that the server still answers, and reports the
// server's peak memory.
//
// usage: soak [--server PATH] [--cycles N] [--lines N] [--flood-mib N]
#include "eventwait.h"
#include "framesplitter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr quint16 DrawPort = 13467;
constexpr quint16 TextPort = 13468;

struct Options {
    QString server;
    int cycles = 2000;
    int lines = 3000; // numbered lines per sender
    int senders = 5;
    int members = 25;
    int floodMiB = 64;
};

QString argValue(const QStringList& args, const QString& name, const QString& fallback) {
    const int at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

qint64 statusKb(qint64 pid, const char* key) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLongLong();
    return -1;
}

// A member that reads everything and checks the numbered lines it sees.
// Numbered lines look like "2: <seq>, <9000 + sender id>"; no hostile byte
// stream below contains digits, so they cannot forge one.
struct Member {
    QTcpSocket draw;
    QTcpSocket text;
    protocol::FrameSplitter lines{"\r\n"};
    QHash<int, int> nextSeq; // sender id -> next expected sequence number
    int errors = 0;
    int received = 0;
    int id = -1; // sender id, -1 for pure readers
    int sent = 0;
};

void checkLine(Member& m, const QByteArray& line) {
    // index ":" "2" ":" " seq, id"
    const QList<QByteArray> f = line.split(':');
    if (f.size() != 3 || f[1] != "2")
        return;
    const QList<QByteArray> point = f[2].split(',');
    if (point.size() != 2)
        return;
    bool okSeq = false, okId = false;
    const int seq = point[0].trimmed().toInt(&okSeq);
    const int tag = point[1].trimmed().toInt(&okId);
    if (!okSeq || !okId || tag < 9000 || tag >= 9100)
        return;
    const int sender = tag - 9000;
    int& expected = m.nextSeq[sender];
    if (seq != expected)
        ++m.errors;
    expected = seq + 1;
    ++m.received;
}

QByteArray garbage(QRandomGenerator& rng, int size) {
    // Bytes that can never form a digit: invalid CP932 lead/trail pairs,
    // separators, terminators.
    static const QByteArray pool = QByteArray("\x81\xff\x80\xa0\xfd\xfe:,<>%EOTabcxyz \r\n\t", 28);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = pool[rng.bounded(int(pool.size()))];
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Options opt;
    const QString binDir = qEnvironmentVariable("SKETORA_BIN_DIR", app.applicationDirPath());
    opt.server = argValue(args, "--server", binDir + "/sketoraServer");
    opt.cycles = argValue(args, "--cycles", "2000").toInt();
    opt.lines = argValue(args, "--lines", "3000").toInt();
    opt.floodMiB = argValue(args, "--flood-mib", "64").toInt();

    QTemporaryDir scratch;
    QProcess server;
    server.setWorkingDirectory(scratch.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Every member here speaks from 127.0.0.1: the per-address limit (which
    // the attack tool measures) would turn most of them away.
    server.start(opt.server, {"--connections-per-address", "0"});
    if (!server.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(opt.server));
        return 2;
    }
    const qint64 pid = server.processId();
    {
        bool up = bench::waitFor(
            [] {
                QTcpSocket probe;
                probe.connectToHost("127.0.0.1", DrawPort);
                const bool ok = probe.waitForConnected(200);
                probe.abort();
                return ok;
            },
            10000);
        if (!up) {
            std::fprintf(stderr, "server does not listen on %d\n", DrawPort);
            return 2;
        }
    }

    QElapsedTimer clock;
    clock.start();
    QRandomGenerator rng(20261207);
    qint64 peakRssKb = 0;
    QTimer rssTimer;
    QObject::connect(&rssTimer, &QTimer::timeout,
                     [&] { peakRssKb = qMax(peakRssKb, statusKb(pid, "VmHWM:")); });
    rssTimer.start(100);

    // Members: all read; the first `senders` also send numbered lines.
    std::vector<std::unique_ptr<Member>> members;
    for (int i = 0; i < opt.members; ++i) {
        auto m = std::make_unique<Member>();
        Member* raw = m.get();
        raw->id = i < opt.senders ? i : -1;
        QObject::connect(&raw->draw, &QTcpSocket::readyRead, [raw] {
            for (const QByteArray& line : raw->lines.feed(raw->draw.readAll()))
                checkLine(*raw, line);
        });
        QObject::connect(&raw->text, &QTcpSocket::readyRead, [raw] { raw->text.readAll(); });
        raw->draw.connectToHost("127.0.0.1", DrawPort);
        raw->text.connectToHost("127.0.0.1", TextPort);
        members.push_back(std::move(m));
        bench::waitFor(
            [raw] {
                return raw->draw.state() == QAbstractSocket::ConnectedState &&
                       raw->text.state() == QAbstractSocket::ConnectedState;
            },
            5000);
        raw->text.write("1<:>member" + QByteArray::number(i) + "%EOT%");
    }

    // The member that never reads, and the flooder that fills its queue.
    QTcpSocket stuck;
    stuck.setReadBufferSize(1);
    stuck.connectToHost("127.0.0.1", DrawPort);
    QTcpSocket flooder;
    flooder.connectToHost("127.0.0.1", DrawPort);
    bench::waitFor(
        [&] {
            return stuck.state() == QAbstractSocket::ConnectedState &&
                   flooder.state() == QAbstractSocket::ConnectedState;
        },
        5000);

    // Hostile connections: garbage on both channels, 1 MiB without terminator.
    QTcpSocket hostileDraw, hostileText, huge;
    hostileDraw.connectToHost("127.0.0.1", DrawPort);
    hostileText.connectToHost("127.0.0.1", TextPort);
    huge.connectToHost("127.0.0.1", DrawPort);

    // Senders: one numbered line per member each tick.
    QTimer sendTimer;
    QObject::connect(&sendTimer, &QTimer::timeout, [&] {
        for (auto& m : members) {
            if (m->id < 0 || m->sent >= opt.lines)
                continue;
            m->draw.write("2: " + QByteArray::number(m->sent) + ", " +
                          QByteArray::number(9000 + m->id) + "\r\n");
            ++m->sent;
        }
    });
    sendTimer.start(2);

    // Hostile traffic on a timer so it interleaves with the good lines.
    qint64 flooded = 0;
    // Command 9: relayed and stored like any line, dropped by every client.
    // (Command 7 would not do: the server answers or drops those itself.)
    const QByteArray floodLine = "9:" + QByteArray(4094, 'x') + "\r\n";
    QTimer hostileTimer;
    int hugeSent = 0;
    QObject::connect(&hostileTimer, &QTimer::timeout, [&] {
        if (hostileDraw.state() == QAbstractSocket::ConnectedState)
            hostileDraw.write(garbage(rng, 512));
        if (hostileText.state() == QAbstractSocket::ConnectedState)
            hostileText.write(garbage(rng, 512) + "%EOT%" + garbage(rng, 64));
        if (huge.state() == QAbstractSocket::ConnectedState && hugeSent < 1024 * 1024) {
            huge.write(QByteArray(64 * 1024, 'z'));
            hugeSent += 64 * 1024;
        }
        if (flooded < qint64(opt.floodMiB) * 1024 * 1024 && flooder.bytesToWrite() < 1 << 20) {
            for (int i = 0; i < 64; ++i)
                flooder.write(floodLine);
            flooded += 64 * floodLine.size();
        }
    });
    hostileTimer.start(5);

    // Churn: connect both channels, join, draw a little, leave, close.
    int cyclesDone = 0;
    int churnActive = 0;
    std::function<void()> churnOne = [&] {
        if (cyclesDone + churnActive >= opt.cycles)
            return;
        ++churnActive;
        auto* d = new QTcpSocket;
        auto* t = new QTcpSocket;
        auto over = std::make_shared<bool>(false);
        auto finish = [&, d, t, over] {
            if (*over)
                return;
            *over = true;
            d->disconnect();
            t->disconnect();
            d->abort();
            t->abort();
            d->deleteLater();
            t->deleteLater();
            --churnActive;
            ++cyclesDone;
            QTimer::singleShot(0, churnOne);
        };
        QObject::connect(d, &QTcpSocket::connected,
                         [d] { d->write("4: 255\r\n5: 1\r\n1: 5, 5\r\n0:0\r\n"); });
        QObject::connect(t, &QTcpSocket::connected, [t, &rng] {
            t->write("1<:>churn%EOT%2<:>hello<:>x%EOT%");
            if (rng.bounded(2))
                t->write("0<:>END%EOT%");
        });
        // Members above index 20 cannot join the chat, so the cycle ends on
        // the drawing greeting, which every newcomer gets.
        QObject::connect(t, &QTcpSocket::readyRead, [t] { t->readAll(); });
        auto seen = std::make_shared<QByteArray>();
        QObject::connect(d, &QTcpSocket::readyRead, [d, finish, seen] {
            *seen += d->readAll();
            if (seen->contains("0:8:"))
                finish();
        });
        QObject::connect(d, &QTcpSocket::errorOccurred, [finish] { finish(); });
        d->connectToHost("127.0.0.1", DrawPort);
        t->connectToHost("127.0.0.1", TextPort);
    };
    for (int i = 0; i < 4; ++i)
        churnOne();

    std::fprintf(stderr, "soak: members connected, traffic running\n");
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        int sent = 0;
        for (auto& m : members)
            sent += m->sent;
        std::fprintf(stderr,
                     "soak: %.0f s, cycles %d, sent %d, flooded %lld MiB, server RSS %.1f MiB\n",
                     clock.elapsed() / 1000.0, cyclesDone, sent, flooded >> 20,
                     statusKb(pid, "VmRSS:") / 1024.0);
    });
    progress.start(5000);
    const bool churned = bench::waitFor([&] { return cyclesDone >= opt.cycles; }, 240000);
    const bool allSent = bench::waitFor(
        [&] {
            for (auto& m : members)
                if (m->id >= 0 && m->sent < opt.lines)
                    return false;
            return true;
        },
        120000);
    sendTimer.stop();
    // The flood must reach its full size whatever the pace of the good
    // traffic: only a queue well past the server's cap proves the cut.
    const qint64 floodTarget = qint64(opt.floodMiB) * 1024 * 1024;
    const bool floodDone = bench::waitFor([&] { return flooded >= floodTarget; }, 120000);
    hostileTimer.stop();

    // Every reading member must see every sender's lines (its own excepted).
    const bool delivered = bench::waitFor(
        [&] {
            for (auto& m : members)
                for (int s = 0; s < opt.senders; ++s)
                    if (s != m->id && m->nextSeq.value(s) < opt.lines)
                        return false;
            return true;
        },
        60000);

    // The member that never read: a socket that reads nothing cannot see its
    // connection end, so it starts reading now and must find that the server
    // has cut it (everything it had been sent ends in a close).
    QObject::connect(&stuck, &QTcpSocket::readyRead, [&] { stuck.readAll(); });
    stuck.setReadBufferSize(0);
    const bool stuckDropped =
        bench::waitFor([&] { return stuck.state() != QAbstractSocket::ConnectedState; }, 30000);

    int lost = 0, disorder = 0;
    for (auto& m : members) {
        disorder += m->errors;
        for (int s = 0; s < opt.senders; ++s)
            if (s != m->id)
                lost += opt.lines - m->nextSeq.value(s);
    }

    // Still serving: a fresh client gets a member count answer.
    QTcpSocket last;
    last.connectToHost("127.0.0.1", DrawPort);
    bool answers = last.waitForConnected(5000);
    QByteArray seen;
    if (answers) {
        last.write("8:member\r\n");
        answers = bench::waitFor(
            [&] {
                seen += last.readAll();
                return seen.contains("0:8:");
            },
            5000);
    }
    peakRssKb = qMax(peakRssKb, statusKb(pid, "VmHWM:"));
    const bool alive = server.state() == QProcess::Running;

    std::printf("soak: %d connect/disconnect cycles, %d members, %d senders x %d lines, "
                "%lld MiB flooded, %.1f s\n",
                cyclesDone, opt.members, opt.senders, opt.lines, flooded >> 20,
                clock.elapsed() / 1000.0);
    std::printf("soak: server alive %s, answers %s, slow reader dropped %s, peak RSS %.1f MiB\n",
                alive ? "yes" : "NO", answers ? "yes" : "NO", stuckDropped ? "yes" : "NO",
                peakRssKb / 1024.0);
    std::printf("soak: numbered lines lost %d, out of order %d%s%s%s\n", lost, disorder,
                churned ? "" : " (churn incomplete)",
                allSent && delivered ? "" : " (delivery timed out)",
                floodDone ? "" : " (flood incomplete)");

    server.terminate();
    server.waitForFinished(5000);
    const bool ok = alive && answers && stuckDropped && churned && floodDone && lost == 0 &&
                    disorder == 0 && peakRssKb < 200 * 1024;
    std::printf("soak: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
