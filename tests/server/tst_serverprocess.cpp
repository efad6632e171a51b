// The built sketoraServer as a process on the fixed ports: it serves
// headless, ends cleanly on SIGTERM and SIGINT (with status 1 when its board
// cannot be written), and says on stderr when a port is taken.

#include "board.h"
#include "snapshot.h"
#include "testpeer.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr quint16 DrawingPort = 13467;
constexpr quint16 TextPort = 13468;

QString serverBinary() {
    return qEnvironmentVariable("SKETORA_BIN_DIR") + QStringLiteral("/sketoraServer");
}

void startServer(QProcess& process, const QString& directory) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(directory);
    process.start(serverBinary(), {});
}

// True when nothing else holds the fixed ports. Other programs' end-to-end
// tests use them too; within one test run a resource lock keeps us apart,
// across runs on one machine we wait for them to finish.
bool fixedPortsFree() {
    QTcpServer drawing;
    QTcpServer text;
    return drawing.listen(QHostAddress::Any, DrawingPort) &&
           text.listen(QHostAddress::Any, TextPort);
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
        15000);
    return ok ? std::move(peer) : nullptr;
}

} // namespace

class TestServerProcess : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void servesAndEndsOnSignal_data();
    void servesAndEndsOnSignal();
    void takenPortIsReportedOnStderr();
    void boardSurvivesARestart();
    void boardThatCannotBeWrittenEndsWithStatus1();
};

void TestServerProcess::init() {
    QVERIFY2(QTest::qWaitFor(fixedPortsFree, 120000),
             "ports 13467/13468 stay taken by another program");
}

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
    startServer(server, dir.path());
    QVERIFY(server.waitForStarted());

    auto a = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY2(!server.readAllStandardError().contains("13467"), "our server could not listen");
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
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(a->waitClosedByPeer());
    QVERIFY(t->waitClosedByPeer());
}

void TestServerProcess::takenPortIsReportedOnStderr() {
    QTcpServer squatter;
    QVERIFY(squatter.listen(QHostAddress::Any, DrawingPort));
    QTemporaryDir dir;
    QProcess server;
    startServer(server, dir.path());
    QVERIFY(server.waitForStarted());
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += server.readAllStandardError()).contains("13467"), 15000);
    QVERIFY2(errors.contains("エラー"), errors.constData());
    QCOMPARE(server.state(), QProcess::Running); // still there, Start can be pressed again
    server.terminate();
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitCode(), 0);
}

namespace {

// Asks for the shared picture on a fresh connection and reads the reply.
boardsnapshot::Reader::Event askForBoard() {
    auto peer = connectWhenReady(DrawingPort, "\r\n");
    if (!peer || peer->next(41).size() != 41)
        return {};
    peer->send("7:snap r1\r\n");
    boardsnapshot::Reader reader;
    for (;;) {
        const QByteArray line = peer->nextOne(10000);
        if (!line.startsWith("0:7:"))
            return {};
        const auto event = reader.feed(QString::fromLatin1(line.mid(4)));
        if (event.kind != boardsnapshot::Reader::Event::None)
            return event;
    }
}

} // namespace

void TestServerProcess::boardSurvivesARestart() {
    QTemporaryDir dir;
    Board expected;
    {
        QProcess server;
        startServer(server, dir.path());
        QVERIFY(server.waitForStarted());
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
        QVERIFY(server.waitForFinished(10000));
        QCOMPARE(server.exitCode(), 0);
    }
    QVERIFY(QFile::exists(dir.filePath("board.png")));
    QVERIFY(QTest::qWaitFor(fixedPortsFree, 120000));
    {
        QProcess server;
        startServer(server, dir.path());
        QVERIFY(server.waitForStarted());
        const auto event = askForBoard();
        QCOMPARE(event.kind, boardsnapshot::Reader::Event::Snapshot);
        QVERIFY(!expected.isBlank());
        QCOMPARE(event.picture, expected.image());
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }
    // A picture of another size: said on stderr, ignored, the server serves.
    QImage odd(20, 20, QImage::Format_RGB32);
    odd.fill(Qt::black);
    QVERIFY(odd.save(dir.filePath("board.png"), "PNG"));
    QVERIFY(QTest::qWaitFor(fixedPortsFree, 120000));
    QProcess server;
    startServer(server, dir.path());
    QVERIFY(server.waitForStarted());
    const auto event = askForBoard();
    QCOMPARE(event.kind, boardsnapshot::Reader::Event::Snapshot);
    QVERIFY(Board::isBlank(event.picture));
    QByteArray errors;
    QTRY_VERIFY((errors += server.readAllStandardError()).contains("board.png"));
    server.terminate();
    QVERIFY(server.waitForFinished(10000));
}

// The service manager must see that the picture was lost: the reason goes to
// stderr and the program ends with status 1.
void TestServerProcess::boardThatCannotBeWrittenEndsWithStatus1() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("board.png"))); // no file can go there
    QProcess server;
    startServer(server, dir.path());
    QVERIFY(server.waitForStarted());
    auto a = connectWhenReady(DrawingPort, "\r\n");
    QVERIFY(a);
    QCOMPARE(a->next(41).size(), 41);
    ::kill(server.processId(), SIGTERM);
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 1);
    QVERIFY(QString::fromUtf8(server.readAllStandardError()).contains(u"共有画面を保存できません"));
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
