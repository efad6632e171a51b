// The built sketoraServer as a process on the fixed ports: it serves
// headless, ends cleanly on SIGTERM and SIGINT (with status 1 when its board
// cannot be written), says on stderr when a port is taken, comes back with
// its board and history after being killed, and cuts a member of ours that
// stopped.

#include "board.h"
#include "fixedports.h"
#include "qrdecode.h"
#include "snapshot.h"
#include "testpeer.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <QDir>

#include <csignal>
#include <memory>
#include <sys/wait.h>

namespace {

constexpr quint16 DrawingPort = 13467;
constexpr quint16 TextPort = 13468;

QString serverBinary() {
    return qEnvironmentVariable("SKETORA_BIN_DIR") + QStringLiteral("/sketoraServer");
}

void prepare(QProcess& process, const QString& directory) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory);
}

// Once the fixed ports are free, and again should another program take one
// before the server listens; what it said on stderr while starting goes to
// `startup`.
bool startServer(QProcess& process, const QString& directory, const QStringList& arguments = {},
                 QByteArray* startup = nullptr) {
    prepare(process, directory);
    return fixedports::start(process, serverBinary(), arguments, startup);
}

// Connects once the program listens; it needs a moment to start.
std::unique_ptr<TestPeer> connectWhenReady(quint16 port, const QByteArray& terminator) {
    std::unique_ptr<TestPeer> peer;
    const bool ok = QTest::qWaitFor(
        [&] {
            if (peer && peer->isOpen())
                return true;
            if (!peer || peer->socket().state() == QAbstractSocket::UnconnectedState)
                peer = std::make_unique<TestPeer>(port, terminator);
            return false;
        },
        WaitGuardMs);
    return ok ? std::move(peer) : nullptr;
}

} // namespace

class TestServerProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void servesAndEndsOnSignal_data();
    void servesAndEndsOnSignal();
    void takenPortIsReportedOnStderr();
    void headlessStartPrintsThePageWithItsCode();
    void boardSurvivesARestart();
    void boardAndHistorySurviveAKillDuringAStroke();
    void stoppedMemberOfOursIsCutQuietDescribedOneIsNot();
    void boardThatCannotBeWrittenEndsWithStatus1();
};

void TestServerProcess::initTestCase() {
    QVERIFY2(QFile::exists(serverBinary()), qPrintable(serverBinary()));
}

void TestServerProcess::servesAndEndsOnSignal_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestServerProcess::servesAndEndsOnSignal() {
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QProcess server;
    QVERIFY2(startServer(server, dir.path()), "ports 13467/13468 stay taken by another program");

    auto a = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(a);
    QCOMPARE(a->next(41).size(), 41);
    auto b = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(b);
    const QList<QByteArray> greeting = b->next(41);
    QCOMPARE(greeting.first(), QByteArray("0:4:0"));
    QCOMPARE(a->nextOne(), QByteArray("0:8:0"));
    b->send("2: 120, 45\r\n");
    QCOMPARE(a->nextOne(), QByteArray("1:2: 120, 45"));

    auto t = connectWhenReady(TextPort, "%EOT%");
    QVERIFY(t);
    const QByteArray guest("\x83\x51\x83\x58\x83\x67"); // "ゲスト" in CP932
    t->send("1<:>" + guest + "%EOT%");
    QCOMPARE(t->nextOne(), "0<:>1<:>" + guest);

    ::kill(server.processId(), signalNumber);
    QVERIFY(server.waitForFinished(WaitGuardMs));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(a->waitClosedByPeer());
    QVERIFY(t->waitClosedByPeer());
}

// Without a screen the page's address and its QR code (as text) go to
// stderr; a reader of the code gets the address printed under it.
void TestServerProcess::headlessStartPrintsThePageWithItsCode() {
    QTemporaryDir dir;
    QProcess server;
    QByteArray startup;
    QVERIFY2(startServer(server, dir.path(), {}, &startup), "ports 13467/13468 stay taken");
    QTRY_VERIFY_WITH_TIMEOUT((startup += server.readAllStandardError()).endsWith('\n'),
                             WaitGuardMs);
    server.terminate();
    QVERIFY(server.waitForFinished(WaitGuardMs));

    const QStringList lines = QString::fromUtf8(startup).split(QLatin1Char('\n'));
    const QString said = QStringLiteral("sketoraServer: ブラウザ用ページ: ");
    QStringList code;
    int pages = 0;
    for (const QString& line : lines) {
        if (line.startsWith(said)) {
            const QString page = line.mid(said.size());
            QVERIFY2(page.startsWith("http://") && page.endsWith(":13469/"), qPrintable(page));
            QCOMPARE(decodeQrCodes(pictureOfTextQr(code)), QStringList{page});
            ++pages;
            code.clear();
        } else if (line.contains(u'█')) {
            code << line;
        }
    }
    QVERIFY2(pages > 0, startup.constData());
}

void TestServerProcess::takenPortIsReportedOnStderr() {
    QTcpServer squatter;
    QVERIFY(QTest::qWaitFor([&] { return squatter.listen(QHostAddress::Any, DrawingPort); },
                            fixedports::GuardMs));
    QTemporaryDir dir;
    QProcess server;
    prepare(server, dir.path());
    server.start(serverBinary(), {});
    QVERIFY(server.waitForStarted());
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += server.readAllStandardError()).contains("13467"),
                             WaitGuardMs);
    QVERIFY2(errors.contains("エラー"), errors.constData());
    QCOMPARE(server.state(), QProcess::Running); // still there, Start can be pressed again
    server.terminate();
    QVERIFY(server.waitForFinished(WaitGuardMs));
    QCOMPARE(server.exitCode(), 0);
}

namespace {

// Asks for the shared picture and reads the reply.
boardsnapshot::Reader::Event askForBoard(TestPeer& peer) {
    peer.send("7:snap r1\r\n");
    boardsnapshot::Reader reader;
    for (;;) {
        const QByteArray line = peer.nextOne();
        if (!line.startsWith("0:7:"))
            return {};
        const auto event = reader.feed(QString::fromLatin1(line.mid(4)));
        if (event.kind != boardsnapshot::Reader::Event::None)
            return event;
    }
}

// The same on a fresh connection.
boardsnapshot::Reader::Event askForBoard() {
    auto peer = connectWhenReady(DrawingPort, "\r\n");
    if (!peer || peer->next(41).size() != 41)
        return {};
    return askForBoard(*peer);
}

// The rest of the next line that starts with `prefix`; lines before it are
// passed over. Empty when none comes.
QByteArray skipTo(TestPeer& peer, const QByteArray& prefix) {
    for (;;) {
        const QByteArray line = peer.nextOne();
        if (line == "<nothing>")
            return {};
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
}

} // namespace

void TestServerProcess::boardSurvivesARestart() {
    QTemporaryDir dir;
    Board expected;
    {
        QProcess server;
        QVERIFY(startServer(server, dir.path()));
        auto a = connectWhenReady(DrawingPort, "\r\n");
        QVERIFY(a);
        QCOMPARE(a->next(41).size(), 41);
        for (const char* line : {"4: 255", "5: 3", "1: 100, 100", "2: 800, 600", "0:0"}) {
            a->send(QByteArray(line) + "\r\n");
            expected.applyLine(QStringLiteral("0:") + QString::fromLatin1(line));
        }
        a->send("8:member\r\n");
        QVERIFY(a->nextOne().startsWith("0:8:"));
        ::kill(server.processId(), SIGTERM);
        QVERIFY(server.waitForFinished(WaitGuardMs));
        QCOMPARE(server.exitCode(), 0);
    }
    QVERIFY(QFile::exists(dir.filePath("board.png")));
    {
        QProcess server;
        QVERIFY(startServer(server, dir.path()));
        const auto event = askForBoard();
        QCOMPARE(event.kind, boardsnapshot::Reader::Event::Snapshot);
        QVERIFY(!expected.isBlank());
        QCOMPARE(event.picture, expected.image());
        server.terminate();
        QVERIFY(server.waitForFinished(WaitGuardMs));
    }
    // A picture of another size: said on stderr, ignored, the server serves.
    QImage odd(20, 20, QImage::Format_RGB32);
    odd.fill(Qt::black);
    QVERIFY(odd.save(dir.filePath("board.png"), "PNG"));
    QProcess server;
    QByteArray errors;
    QVERIFY(startServer(server, dir.path(), {}, &errors));
    const auto event = askForBoard();
    QCOMPARE(event.kind, boardsnapshot::Reader::Event::Snapshot);
    QVERIFY(Board::isBlank(event.picture));
    QTRY_VERIFY((errors += server.readAllStandardError()).contains("board.png"));
    server.terminate();
    QVERIFY(server.waitForFinished(WaitGuardMs));
}

namespace {

// What member A sent after its claim, in order (pings left empty), and how
// many of those lines the server had acknowledged as durable.
struct Sent {
    QList<QByteArray> counted;
    qint64 acknowledged = 0;
};

// `count` pencil moves along a zigzag, from `x` on.
QByteArray moves(int count, int x, int step) {
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += "2: " + QByteArray::number(x + i * step) + ", " +
                 QByteArray::number(100 + (i * 53) % 1000) + "\r\n";
    return lines;
}

// A claims its session and draws the first part of a stroke; once the
// server has acknowledged it, the rest goes out and the server is killed
// with it in flight.
bool drawAndKill(QProcess& server, Sent& sent) {
    auto a = connectWhenReady(DrawingPort, "\r\n");
    if (!a)
        return false;
    a->send("7:session A1\r\n");
    if (skipTo(*a, "0:7:session A1 ") != "0")
        return false;
    const auto send = [&](const QByteArray& lines) {
        a->send(lines);
        for (const QByteArray& line : lines.split('\n'))
            if (!line.isEmpty())
                sent.counted.append(line.chopped(1));
    };
    send("4: 255\r\n5: 2\r\n1: 100, 100\r\n" + moves(300, 100, 4));
    const bool acknowledged = QTest::qWaitFor(
        [&] {
            const qint64 before = sent.counted.size();
            a->send("7:ping p\r\n");
            sent.counted.append(QByteArray());
            sent.acknowledged = skipTo(*a, "0:7:pong p ").toLongLong();
            return sent.acknowledged >= before;
        },
        30000);
    send(moves(40, 1300, -7));
    ::kill(server.processId(), SIGKILL);
    return server.waitForFinished(10000) && acknowledged;
}

} // namespace

// After the restart the session count says how many of A's lines the server
// kept, at least all it acknowledged; a newcomer's picture is exactly those
// lines, and a log file written then holds them as history.
void TestServerProcess::boardAndHistorySurviveAKillDuringAStroke() {
    QTemporaryDir dir;
    Sent sent;
    {
        QProcess server;
        QVERIFY(startServer(server, dir.path()));
        QVERIFY(drawAndKill(server, sent));
    }
    QProcess server;
    QVERIFY(startServer(server, dir.path()));
    auto b = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(b);
    b->send("7:session A1\r\n");
    const qint64 kept = skipTo(*b, "0:7:session A1 ").toLongLong();
    QVERIFY2(kept >= sent.acknowledged && kept <= sent.counted.size(),
             QByteArray::number(kept).constData());

    Board expected;
    QByteArray history;
    for (const QByteArray& line : sent.counted.first(kept)) {
        if (line.isEmpty())
            continue;
        expected.applyLine(QStringLiteral("0:") + QString::fromLatin1(line));
        history += "0:" + line + "\r\n";
    }
    const auto event = askForBoard(*b);
    QCOMPARE(event.kind, boardsnapshot::Reader::Event::Snapshot);
    QCOMPARE(event.picture, expected.image());

    ::kill(server.processId(), SIGTERM);
    QVERIFY(server.waitForFinished(10000));
    const QStringList logs = QDir(dir.path()).entryList({"*.skl"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QFile log(QDir(dir.path()).filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray content = log.readAll();
    QVERIFY(content.contains(history));
    // and not the line after them
    for (qint64 i = kept; i < sent.counted.size(); ++i) {
        if (!sent.counted[i].isEmpty()) {
            QVERIFY(!content.contains(history + "0:" + sent.counted[i] + "\r\n"));
            break;
        }
    }
}

// A member of ours that pinged and was then stopped (its machine still
// answers TCP, so only the heartbeat can tell) is cut by the server; a
// described member that has been quiet for longer stays.
void TestServerProcess::stoppedMemberOfOursIsCutQuietDescribedOneIsNot() {
    QTemporaryDir dir;
    QProcess server;
    QVERIFY(startServer(server, dir.path(),
                        {QStringLiteral("--heartbeat-timeout"), QStringLiteral("1")}));
    auto quiet = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(quiet);
    QCOMPARE(quiet->next(41).size(), 41);

    const pid_t child = ::fork();
    if (child == 0) {
        // Plain system calls only in the child of a threaded program.
        const int fd = connectStuckClient(DrawingPort);
        static const char ping[] = "7:ping z\r\n";
        if (fd >= 0)
            ::send(fd, ping, sizeof ping - 1, 0);
        ::raise(SIGSTOP);
        ::_exit(0);
    }
    QVERIFY(child > 0);
    QVERIFY(quiet->nextOne(15000).startsWith("0:8:")); // the member came
    QVERIFY(quiet->nextOne(30000).startsWith("0:8:")); // the server closed it
    QVERIFY(quiet->isOpen());
    quiet->send("8:member\r\n");
    QVERIFY(quiet->nextOne().startsWith("0:8:"));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    server.terminate();
    QVERIFY(server.waitForFinished(10000));
}

// The service manager must see that the picture was lost: the reason goes to
// stderr and the program ends with status 1.
void TestServerProcess::boardThatCannotBeWrittenEndsWithStatus1() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("board.png"))); // no file can go there
    QProcess server;
    QVERIFY(startServer(server, dir.path()));
    auto a = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(a);
    QCOMPARE(a->next(41).size(), 41);
    ::kill(server.processId(), SIGTERM);
    QVERIFY(server.waitForFinished(WaitGuardMs));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 1);
    QVERIFY(QString::fromUtf8(server.readAllStandardError()).contains(u"共有画面を保存できません"));
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
