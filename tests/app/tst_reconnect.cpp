// Members that reconnect by themselves, with whole clients and the built
// relay server (sketoraServer from SKETORA_BIN_DIR on ports the system
// chose): the server killed in the middle of a member's stroke and started
// again in its folder on the same ports; both members come back without
// being asked, every segment drawn (during the outage too) reaches the
// server and both canvases, no backup is written, and the chat window that
// stayed open works again. And a server that stops answering is taken for
// dead and rejoined once it answers again.
#include "boardsync.h"
#include "chatcontroller.h"
#include "clientdriver.h"
#include "form4.h"
#include "freeports.h"
#include "noticebar.h"
#include "sessionkeeper.h"
#include "snapshot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int Generous = 60000;

QString serverProgram() {
    return qEnvironmentVariable("SKETORA_BIN_DIR") + "/sketoraServer";
}

// The server's board as a newcomer gets it.
std::optional<QImage> serverBoard(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(Generous))
        return std::nullopt;
    socket.write("7:snap check\r\n");
    boardsnapshot::Reader reader;
    QByteArray pending;
    QElapsedTimer since;
    since.start();
    while (since.elapsed() < Generous) {
        if (!socket.waitForReadyRead(1000) && socket.state() != QAbstractSocket::ConnectedState)
            return std::nullopt;
        pending += socket.readAll();
        qsizetype end;
        while ((end = pending.indexOf("\r\n")) >= 0) {
            const QByteArray line = pending.first(end);
            pending.remove(0, end + 2);
            if (!line.startsWith("0:7:"))
                continue;
            const auto event = reader.feed(QString::fromLatin1(line.mid(4)));
            if (event.kind == boardsnapshot::Reader::Event::Snapshot)
                return event.picture;
            if (event.kind == boardsnapshot::Reader::Event::Rejected)
                return std::nullopt;
        }
    }
    return std::nullopt;
}

bool shows(const ClientDriver& c, NoticeKind kind) {
    const std::vector<NoticeKind> kinds = c.client->form1().controls().notices->kinds();
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

// Back on the server, with nothing left to send again.
bool settled(ClientDriver& c) {
    const SessionKeeper& session = c.client->session();
    return c.connected() && session.phase() == SessionKeeper::Phase::Open &&
           session.log().hasNothingToSend() && !shows(c, NoticeKind::Reconnecting);
}

} // namespace

class TestReconnect : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void killedServerMidStrokeLosesNothing();
    void silentServerIsTakenForDeadAndRejoined();

private:
    bool startAgain();
    bool join(ClientDriver& c, const QString& name);

    QTemporaryDir m_dir;
    QProcess m_server;
    freeports::Ports m_ports;
};

void TestReconnect::init() {
    QVERIFY2(QFile::exists(serverProgram()), qPrintable("not built: " + serverProgram()));
    m_server.setWorkingDirectory(m_dir.path());
    const std::optional<freeports::Ports> ports = freeports::start(m_server, serverProgram());
    QVERIFY2(ports, "the server did not start");
    m_ports = *ports;
    QVERIFY(QDir::setCurrent(m_dir.path())); // settings file and backups
}

void TestReconnect::cleanup() {
    if (m_server.state() != QProcess::NotRunning) {
        ::kill(pid_t(m_server.processId()), SIGCONT);
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
        m_server.waitForFinished();
    }
}

// The server again, in the same folder on the same ports.
bool TestReconnect::startAgain() {
    m_server.start(serverProgram(),
                   {"--draw-port", QString::number(m_ports.drawing), "--text-port",
                    QString::number(m_ports.text), "--http-port", QString::number(m_ports.http)});
    if (!m_server.waitForStarted())
        return false;
    QByteArray said;
    return QTest::qWaitFor(
               [&] {
                   said += m_server.readAllStandardError();
                   return said.contains("ブラウザ用ページ") ||
                          m_server.state() != QProcess::Running;
               },
               Generous) &&
           m_server.state() == QProcess::Running && !said.contains("待ち受けできません");
}

// Connects with the chat window open, until the server has answered the session.
bool TestReconnect::join(ClientDriver& c, const QString& name) {
    c.client->settings().confMyName = name;
    BoardSync::Timing timing;
    timing.quietMs = 300;
    timing.pollMs = 50;
    c.client->boardSync().setTiming(timing);
    c.connectAtStartUp();
    if (!QTest::qWaitFor([&] { return c.connected() && c.client->session().knownServer(); },
                         Generous))
        return false;
    return c.client->chat().showChatWindow() != nullptr;
}

void TestReconnect::killedServerMidStrokeLosesNothing() {
    ClientDriver a({m_ports.drawing, m_ports.text}), b({m_ports.drawing, m_ports.text});
    QVERIFY(join(a, QStringLiteral("あき")));
    QVERIFY(join(b, QStringLiteral("ベン")));
    a.main().controls().menu.mPencil->trigger();
    a.pickPalette(0);
    a.setWidth(2);
    const qint32 colour = a.main().foreColor();

    Board expected;
    QPoint last;
    CanvasWidget* canvas = a.main().controls().pCanvas;
    const auto press = [&](QPoint p) {
        QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(p));
        last = p;
    };
    const auto move = [&](QPoint p) {
        QTest::mouseMove(canvas, CanvasWidget::widgetPos(p));
        expected.lineWrite(qint16(last.x()), qint16(last.y()), qint16(p.x()), qint16(p.y()), 2,
                           colour);
        last = p;
    };
    const auto release = [&] {
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(last));
    };

    press({100, 100});
    for (int i = 1; i <= 40; ++i)
        move({100 + 10 * i, 100 + (i * 37) % 300});
    release();
    QTRY_VERIFY_WITH_TIMEOUT(b.picture() == expected.image(), Generous);

    // The second stroke is under way when the server dies; it goes on.
    press({200, 600});
    for (int i = 1; i <= 30; ++i)
        move({200 + 15 * i, 600 + (i * 53) % 200});
    ::kill(pid_t(m_server.processId()), SIGKILL);
    QVERIFY(m_server.waitForFinished(Generous));
    for (int i = 31; i <= 60; ++i)
        move({200 + 15 * i, 600 + (i * 53) % 200});
    release();
    QTRY_VERIFY_WITH_TIMEOUT(shows(a, NoticeKind::Reconnecting), Generous);
    QTRY_VERIFY_WITH_TIMEOUT(shows(b, NoticeKind::Reconnecting), Generous);
    QVERIFY(a.main().controls().menu.mClose->isEnabled()); // 切断 stops the retries
    // A whole stroke while the server is away.
    press({1200, 900});
    for (int i = 1; i <= 20; ++i)
        move({1200 - 20 * i, 900 - 15 * i});
    release();
    QCOMPARE(a.picture(), expected.image());

    QVERIFY2(startAgain(), "the server did not start again");
    QElapsedTimer back;
    back.start();
    QTRY_VERIFY_WITH_TIMEOUT(settled(a) && settled(b), Generous);
    QTRY_VERIFY_WITH_TIMEOUT(a.picture() == expected.image() && b.picture() == expected.image(),
                             Generous);
    qInfo("both members showed the board again %lld ms after the server was back", back.elapsed());
    const std::optional<QImage> board = serverBoard(m_ports.drawing);
    QVERIFY(board);
    QVERIFY(*board == expected.image());
    // Nothing was discarded, so nothing was backed up.
    QVERIFY(a.client->boardSync().lastBackup().isEmpty());
    QVERIFY(b.client->boardSync().lastBackup().isEmpty());

    // The chat windows that stayed open speak again, both ways.
    Form4* chatA = a.client->chat().chatWindow();
    Form4* chatB = b.client->chat().chatWindow();
    QVERIFY(chatA && chatB);
    chatA->text2()->setPlainText(QStringLiteral("戻りました"));
    chatA->command1Click();
    QTRY_VERIFY_WITH_TIMEOUT(chatB->conversation()->toPlainText().contains("戻りました"), Generous);
    chatB->text2()->setPlainText(QStringLiteral("おかえり"));
    chatB->command1Click();
    QTRY_VERIFY_WITH_TIMEOUT(chatA->conversation()->toPlainText().contains("おかえり"), Generous);
}

// A server that stops (SIGSTOP) answers nothing and closes nothing; the
// member's heartbeat gives up on it, retries, and is back once it runs again.
void TestReconnect::silentServerIsTakenForDeadAndRejoined() {
    ClientDriver a({m_ports.drawing, m_ports.text});
    SessionKeeper::Timing timing;
    timing.watch = {200, 1500};
    a.client->session().setTiming(timing);
    a.client->textWatch().setTiming(timing.watch);
    QVERIFY(join(a, QStringLiteral("あき")));
    QTRY_VERIFY(a.client->textWatch().answered());

    // Its kernel still takes new connections: the retry may be "connected"
    // at once, and is answered once the server runs again.
    QSignalSpy retrying(&a.client->connection(), &ConnectionControl::retryingChanged);
    ::kill(pid_t(m_server.processId()), SIGSTOP);
    QVERIFY(retrying.wait(Generous));
    QCOMPARE(retrying.first().first().toBool(), true);
    ::kill(pid_t(m_server.processId()), SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(settled(a), Generous);

    // 切断 ends the retries for good.
    a.main().controls().menu.mClose->trigger();
    QVERIFY(!shows(a, NoticeKind::Reconnecting));
    QVERIFY(!a.client->connection().retrying());
}

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
