#include "connectioncontrol.h"

#include "drawingchannel.h"
#include "prompts.h"
#include "socketendpoint.h"
#include "windowviews.h"

using net::SocketEndpoint;

ConnectionControl::ConnectionControl(Parts parts, Prompts& prompts, Ports ports, QObject* parent)
    : QObject(parent), m_parts(parts), m_prompts(prompts), m_ports(ports) {
    connect(&m_parts.drawing, &DrawingChannel::connected, this, &ConnectionControl::wsConnect);
    connect(&m_parts.drawing, &DrawingChannel::closed, this, &ConnectionControl::wsClose);
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
    // are not.
    for (SocketEndpoint* socket : {&ws, &m_parts.text}) {
        if (socket->state() == SocketEndpoint::Error)
            socket->close();
    }
    const bool ok =
        ws.connectTo(m_addr, m_ports.drawing) && m_parts.text.connectTo(m_addr, m_ports.text);
    if (ok && m_parts.drawing.isConnected())
        m_parts.drawing.announcePen();
    if (!ok)
        m_prompts.message(parent, QStringLiteral("接続できません"), QStringLiteral("エラー"));
}

void ConnectionControl::mCloseClick() {
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
    m_parts.view.showConnected(true);
}

void ConnectionControl::wsClose() {
    m_parts.drawing.socket().close();
    m_parts.view.showConnected(false);
}
