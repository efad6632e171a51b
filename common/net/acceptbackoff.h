#pragma once

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QTcpServer;

// Keeps a listener accepting through a shortage of descriptors or memory.
// When accept() fails that way, Qt's listener stops accepting for good; this
// waits a moment and resumes it, waiting longer while the shortage lasts
// (50 ms doubling up to 1 s, back to 50 ms after a quiet while). Waiting
// requests stay in the kernel's queue meanwhile, so nothing spins and a
// newcomer gets in once a descriptor is free again.
//
// Lives as a child of the listener it watches.
class AcceptBackoff : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstDelayMs = 50;
    static constexpr int LongestDelayMs = 1000;

    explicit AcceptBackoff(QTcpServer* server);

    int nextDelayMs() const { return m_delayMs; }

private:
    void onAcceptError(QAbstractSocket::SocketError error);

    QTcpServer* m_server;
    QTimer m_resume;
    QElapsedTimer m_lastError;
    int m_delayMs = FirstDelayMs;
};
