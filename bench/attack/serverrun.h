#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// One sketoraServer for one row: headless, in a scratch folder, on ports of
// its own, with the limits a service would meet: 3 GiB of address space and
// a soft descriptor limit of 1,024 (the hard one as the system has it).
class ServerRun {
public:
    ~ServerRun();

    bool start(const QString& binary);
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // VmHWM: the most memory the process has held, in KiB (-1 once gone).
    qint64 peakRssKb() const;
    // SIGTERM, then a kill after 10 s; what the server wrote to stderr.
    QByteArray stop();
    QString directory() const { return m_dir.path(); }

    quint16 drawPort = 0;
    quint16 textPort = 0;
    quint16 httpPort = 0;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_stderr;
};

// Whether something accepts on 127.0.0.1:port within `ms`.
bool listensWithin(quint16 port, int ms);
