// web_latency: what the browser bridge adds to a drawing segment's trip.
//
// Starts the built sketoraServer on free ports, connects two desktop members
// (plain TCP) and one browser member (a QWebSocket speaking the page's
// messages), then times single segments one at a time, each sent only after
// the previous one arrived:
//   desktop -> desktop   the reference, through the relay alone
//   browser -> desktop   page -> bridge -> relay -> desktop
//   desktop -> browser   desktop -> relay -> bridge -> page
// and prints p50 / p99 of each and what the browser path adds. Also the page
// weight (every file the server serves for it). Figures only.

#include "eventwait.h"
#include "webserver.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Desk {
    QTcpSocket socket;
    QByteArray received;
    explicit Desk(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
};

struct Page {
    QWebSocket socket;
    QString received;
    explicit Page(quint16 port) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& m) { received += m; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
    }
};

struct Figures {
    double p50 = 0;
    double p99 = 0;
};

Figures percentiles(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return {};
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

// Times n segments: `send(i)` sends segment i, `arrived(i)` tells whether it is there.
Figures measure(int n, const std::function<void(int)>& send,
                const std::function<bool(int)>& arrived) {
    std::vector<double> ms;
    QElapsedTimer timer;
    for (int i = 0; i < n; ++i) {
        timer.start();
        send(i);
        if (!bench::waitFor([&] { return arrived(i); }, 5000))
            break;
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return percentiles(ms);
}

qint64 pageWeight() {
    qint64 total = 0;
    QDirIterator files(QStringLiteral(":/web"), QDir::Files);
    while (files.hasNext())
        total += QFileInfo(files.next()).size();
    return total;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(100, atoi(argv[1])) : 3000;
    const quint16 drawPort = bench::freePort(), textPort = bench::freePort(),
                  httpPort = bench::freePort();
    QTemporaryDir dir;
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    server.setProcessEnvironment(env);
    server.setWorkingDirectory(dir.path());
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sketoraServer"),
                 {QStringLiteral("--draw-port"), QString::number(drawPort),
                  QStringLiteral("--text-port"), QString::number(textPort),
                  QStringLiteral("--http-port"), QString::number(httpPort)});
    if (!server.waitForStarted() ||
        !bench::waitFor([&] { return server.readAllStandardError().contains("http://"); }, 10000)) {
        std::fprintf(stderr, "web_latency: sketoraServer did not start\n");
        return 1;
    }

    Desk a(drawPort), b(drawPort);
    Page page(httpPort);
    if (!bench::waitFor([&] { return page.received.contains(u'r'); }, 5000))
        return 1;
    bench::waitFor([] { return false; }, 300); // greetings and counts settle
    b.received.clear();
    page.received.clear();

    const auto line = [](int i) { return QByteArray("2: ") + QByteArray::number(i) + ", 7\r\n"; };
    const auto gotAt = [](const QByteArray& data, int i) {
        return data.endsWith(":2: " + QByteArray::number(i) + ", 7\r\n");
    };
    const Figures deskDesk = measure(
        n, [&](int i) { a.socket.write(line(i)); }, [&](int i) { return gotAt(b.received, i); });
    const Figures pageDesk = measure(
        n,
        [&](int i) {
            page.socket.sendTextMessage(QLatin1Char('d') + QString::fromLatin1(line(i)));
        },
        [&](int i) { return gotAt(b.received, i); });
    const Figures deskPage = measure(
        n, [&](int i) { a.socket.write(line(i)); },
        [&](int i) { return gotAt(page.received.toLatin1(), i); });

    std::printf("web_latency: %d single segments each way on loopback\n", n);
    std::printf("  desktop -> desktop  p50 %.3f ms  p99 %.3f ms  (reference)\n", deskDesk.p50,
                deskDesk.p99);
    std::printf("  browser -> desktop  p50 %.3f ms  p99 %.3f ms  adds %.3f ms at p99 (x%.2f)\n",
                pageDesk.p50, pageDesk.p99, pageDesk.p99 - deskDesk.p99,
                pageDesk.p99 / deskDesk.p99);
    std::printf("  desktop -> browser  p50 %.3f ms  p99 %.3f ms  adds %.3f ms at p99 (x%.2f)\n",
                deskPage.p50, deskPage.p99, deskPage.p99 - deskDesk.p99,
                deskPage.p99 / deskDesk.p99);
    std::printf("  page weight %lld bytes (all files)\n", (long long)pageWeight());
    server.terminate();
    server.waitForFinished(15000);
    return 0;
}
