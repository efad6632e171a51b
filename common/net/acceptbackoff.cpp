#include "acceptbackoff.h"

#include <QTcpServer>

namespace {

// A shortage that has not shown for this long is over.
constexpr int QuietMs = 5000;

} // namespace

AcceptBackoff::AcceptBackoff(QTcpServer* server) : QObject(server), m_server(server) {
    m_resume.setSingleShot(true);
    connect(&m_resume, &QTimer::timeout, m_server, &QTcpServer::resumeAccepting);
    connect(m_server, &QTcpServer::acceptError, this, &AcceptBackoff::onAcceptError);
}

void AcceptBackoff::onAcceptError(QAbstractSocket::SocketError error) {
    // A connection the peer gave up before it was taken is no shortage.
    if (error == QAbstractSocket::NetworkError || error == QAbstractSocket::TemporaryError) {
        m_server->resumeAccepting();
        return;
    }
    if (m_lastError.isValid() && m_lastError.elapsed() > QuietMs)
        m_delayMs = FirstDelayMs;
    if (!m_lastError.isValid() || m_delayMs == FirstDelayMs)
        qWarning("cannot accept connections on port %u (%s); trying again",
                 unsigned(m_server->serverPort()), qUtf8Printable(m_server->errorString()));
    m_lastError.start();
    m_server->pauseAccepting();
    m_resume.start(m_delayMs);
    m_delayMs = qMin(m_delayMs * 2, LongestDelayMs);
}
