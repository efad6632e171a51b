#include "serverrun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <array>
#include <sys/resource.h>

namespace {

// Three distinct ports nobody listens on: held open together while chosen,
// so the system cannot hand out the same one twice.
std::array<quint16, 3> freePorts() {
    QTcpServer probes[3];
    std::array<quint16, 3> ports{};
    for (int i = 0; i < 3; ++i) {
        probes[i].listen(QHostAddress::Any, 0);
        ports[size_t(i)] = probes[i].serverPort();
    }
    return ports;
}

} // namespace

ServerRun::~ServerRun() {
    if (isRunning())
        stop();
}

bool listensWithin(quint16 port, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

bool ServerRun::start(const QString& binary) {
    const auto ports = freePorts();
    drawPort = ports[0];
    textPort = ports[1];
    httpPort = ports[2];
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setChildProcessModifier([] {
        rlimit memory = {3ULL << 30, 3ULL << 30};
        ::setrlimit(RLIMIT_AS, &memory);
        rlimit files = {};
        ::getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = 1024;
        ::setrlimit(RLIMIT_NOFILE, &files);
    });
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_stderr += m_process.readAllStandardError(); });
    m_process.start(QFileInfo(binary).absoluteFilePath(),
                    {QStringLiteral("--draw-port"), QString::number(drawPort),
                     QStringLiteral("--text-port"), QString::number(textPort),
                     QStringLiteral("--http-port"), QString::number(httpPort)});
    if (!m_process.waitForStarted(10000))
        return false;
    return listensWithin(drawPort, 15000) && listensWithin(httpPort, 5000);
}

qint64 ServerRun::peakRssKb() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
    if (!isRunning() || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

QByteArray ServerRun::stop() {
    if (isRunning()) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}
