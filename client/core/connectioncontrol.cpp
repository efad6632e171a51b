#include "connectioncontrol.h"

#include "drawingchannel.h"
#include "prompts.h"
#include "socketendpoint.h"
#include "windowviews.h"

using net::SocketEndpoint;

namespace {
const QString retryText = QStringLiteral("サーバとの接続が切れました。再接続しています…");
}

ConnectionControl::ConnectionControl(Parts parts, Prompts& prompts, Ports ports, QObject* parent)
    : QObject(parent), m_parts(parts), m_prompts(prompts), m_ports(ports) {
    connect(&m_parts.drawing, &DrawingChannel::connected, this, &ConnectionControl::wsConnect);
    connect(&m_parts.drawing, &DrawingChannel::closed, this, &ConnectionControl::wsClose);
    connect(&m_parts.text, &SocketEndpoint::connected, this, [this] {
        if (m_retrying && bothConnected())
            stopRetrying();
    });
    // After the text channel's own close handling (connected earlier).
    connect(&m_parts.text, &SocketEndpoint::closed, this, &ConnectionControl::textClosed);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ConnectionControl::retryNow);
}

void ConnectionControl::mConClick() {
    SocketEndpoint& ws = m_parts.drawing.socket();
    // The server the drawing socket talks to, or else the one it talked to last.
    const QString peer = ws.remoteHostIP();
    const QStringList earlier = m_parts.addresses ? m_parts.addresses->addresses() : QStringList();
    const std::optional<QString> address = m_prompts.serverAddress(
        m_parts.view.dialogParent(), peer.isEmpty() ? m_lastPeer : peer, earlier);
    if (address)
        replaceConnections(*address);
    if (m_parts.drawing.isConnected())
        m_parts.drawing.announcePen();
}

void ConnectionControl::openConnections(const QString& address) {
    if (address != m_addr) {
        m_reached = false;
        if (!m_addr.isEmpty())
            emit sessionEnded();
    }
    m_wanted = true;
    stopRetrying();
    m_parts.drawing.socket().connectTo(address, m_ports.drawing);
    m_parts.text.connectTo(address, m_ports.text);
    m_addr = address;
}

void ConnectionControl::replaceConnections(const QString& address) {
    m_parts.drawing.socket().close();
    m_parts.text.close();
    openConnections(address);
}

void ConnectionControl::mReconnectClick() {
    QWidget* parent = m_parts.view.dialogParent();
    if (m_addr.isEmpty()) {
        m_prompts.message(parent, QStringLiteral("サーバのアドレスが入力されていません"),
                          QStringLiteral("エラー"));
        return;
    }
    SocketEndpoint& ws = m_parts.drawing.socket();
    // A socket left in state Error by a failed attempt would refuse to
    // connect for ever; it is closed first. Connected or connecting sockets
    // are not, but while retrying an attempt on its way is begun again.
    for (SocketEndpoint* socket : {&ws, &m_parts.text}) {
        if (socket->state() == SocketEndpoint::Error ||
            (m_retrying && socket->state() != SocketEndpoint::Connected))
            socket->close();
    }
    m_wanted = true;
    if (m_retrying) {
        m_attempt = 0;
        m_attemptSince.start();
        m_retry.start(RetryDelaysMs[0]);
        const bool drawingUp = ws.state() == SocketEndpoint::Connected;
        if (!drawingUp)
            ws.connectTo(m_addr, m_ports.drawing);
        if (m_parts.text.state() != SocketEndpoint::Connected)
            m_parts.text.connectTo(m_addr, m_ports.text);
        return;
    }
    const bool ok =
        ws.connectTo(m_addr, m_ports.drawing) && m_parts.text.connectTo(m_addr, m_ports.text);
    if (ok && m_parts.drawing.isConnected())
        m_parts.drawing.announcePen();
    if (!ok)
        m_prompts.message(parent, QStringLiteral("接続できません"), QStringLiteral("エラー"));
}

void ConnectionControl::mCloseClick() {
    m_wanted = false;
    stopRetrying();
    emit sessionEnded();
    m_parts.drawing.socket().close();
    m_parts.text.close();
    m_parts.view.showConnected(false);
    m_parts.view.setTitleStatus(QStringLiteral("Disconnect"));
}

// Only an address that connected is kept for next time, as it was typed.
void ConnectionControl::wsConnect() {
    m_lastPeer = m_parts.drawing.socket().remoteHostIP();
    if (m_parts.addresses && !m_addr.isEmpty())
        m_parts.addresses->remember(m_addr);
    m_reached = true;
    m_parts.view.showConnected(true);
    if (m_retrying && bothConnected())
        stopRetrying();
}

void ConnectionControl::wsClose() {
    m_parts.drawing.socket().close();
    m_parts.view.showConnected(false);
    startRetrying();
}

void ConnectionControl::textClosed() {
    m_parts.text.close();
    startRetrying();
}

void ConnectionControl::linkLost() {
    m_parts.drawing.socket().close();
    m_parts.text.close();
    m_parts.view.showConnected(false);
    startRetrying();
}

bool ConnectionControl::bothConnected() const {
    return m_parts.drawing.isConnected() && m_parts.text.state() == SocketEndpoint::Connected;
}

void ConnectionControl::startRetrying() {
    if (m_retrying || !m_wanted || !m_reached || m_addr.isEmpty() || !m_parts.ourServer ||
        !m_parts.ourServer())
        return;
    m_retrying = true;
    m_attempt = 0;
    m_attemptSince.invalidate();
    if (m_parts.notices)
        m_parts.notices->showNotice(NoticeKind::Reconnecting, retryText);
    if (!m_parts.drawing.isConnected())
        m_parts.view.showRetrying();
    m_retry.start(RetryDelaysMs[0]);
    emit retryingChanged(true);
}

void ConnectionControl::stopRetrying() {
    if (!m_retrying)
        return;
    m_retrying = false;
    m_retry.stop();
    if (m_parts.notices)
        m_parts.notices->clearNotice(NoticeKind::Reconnecting);
    emit retryingChanged(false);
}

// One attempt: each connection that is down is opened again; one still on
// its way is left to finish unless it has taken too long.
void ConnectionControl::retryNow() {
    if (!m_retrying)
        return;
    const bool stale = m_attemptSince.isValid() && m_attemptSince.elapsed() > AttemptLimitMs;
    bool started = false;
    const std::pair<SocketEndpoint*, quint16> sockets[] = {
        {&m_parts.drawing.socket(), m_ports.drawing}, {&m_parts.text, m_ports.text}};
    for (const auto& [socket, port] : sockets) {
        const SocketEndpoint::State state = socket->state();
        if (state == SocketEndpoint::Connected)
            continue;
        const bool onItsWay =
            state == SocketEndpoint::Connecting || state == SocketEndpoint::ResolvingHost;
        if (onItsWay && !stale)
            continue;
        socket->close();
        socket->connectTo(m_addr, port);
        started = true;
    }
    if (started)
        m_attemptSince.start();
    ++m_attempt;
    const int count = int(std::size(RetryDelaysMs));
    m_retry.start(m_attempt < count ? RetryDelaysMs[m_attempt] : RetryEveryMs);
}
