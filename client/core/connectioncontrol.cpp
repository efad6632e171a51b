#include "connectioncontrol.h"

#include "form2.h"
#include "prompts.h"
#include "socketendpoint.h"
#include "windowviews.h"

using net::SocketEndpoint;

ConnectionControl::ConnectionControl(Parts parts, Prompts& prompts, Ports ports, QObject* parent)
    : QObject(parent), m_parts(parts), m_prompts(prompts), m_ports(ports) {
    connect(&m_parts.ws, &SocketEndpoint::connected, this, &ConnectionControl::wsConnect);
    connect(&m_parts.ws, &SocketEndpoint::closed, this, &ConnectionControl::wsClose);
}

void ConnectionControl::attachDialog(Form2& dialog) {
    connect(&dialog, &Form2::connectRequested, this, &ConnectionControl::connectFromDialog);
}

void ConnectionControl::mConClick() {
    Form2 dialog(m_parts.view.dialogParent());
    dialog.setDlgMode(Form2::Connect);
    // The server the drawing socket talks to, or else the one it talked to last.
    const QString peer = m_parts.ws.remoteHostIP();
    dialog.setLastPeer(peer.isEmpty() ? m_lastPeer : peer);
    attachDialog(dialog);
    emit connectDialogOpened(&dialog);
    dialog.exec();
    if (m_parts.ws.state() == SocketEndpoint::Connected)
        m_parts.view.announcePen();
}

void ConnectionControl::connectFromDialog(const QString& address, qint16 mode) {
    if (mode == Form2::Connect) {
        m_parts.ws.close();
        m_parts.wsTxt.close();
    }
    m_parts.ws.connectTo(address, m_ports.drawing);
    m_parts.wsTxt.connectTo(address, m_ports.text);
    m_addr = address;
}

void ConnectionControl::mReconnectClick() {
    QWidget* parent = m_parts.view.dialogParent();
    if (m_addr.isEmpty()) {
        m_prompts.message(parent, QStringLiteral("サーバのアドレスが入力されていません"),
                          QStringLiteral("エラー"));
        return;
    }
    // A socket left in state 9 by a failed attempt would refuse to connect
    // for ever; it is closed first. Connected or connecting sockets are not.
    for (SocketEndpoint* socket : {&m_parts.ws, &m_parts.wsTxt}) {
        if (socket->state() == SocketEndpoint::Error)
            socket->close();
    }
    bool ok = m_parts.ws.connectTo(m_addr, m_ports.drawing) &&
              m_parts.wsTxt.connectTo(m_addr, m_ports.text);
    if (ok && m_parts.ws.state() == SocketEndpoint::Connected)
        m_parts.view.announcePen();
    if (!ok)
        m_prompts.message(parent, QStringLiteral("接続できません"), QStringLiteral("エラー"));
}

void ConnectionControl::mCloseClick() {
    m_parts.ws.close();
    m_parts.wsTxt.close();
    m_parts.view.showConnected(false);
    m_parts.view.setTitleStatus(QStringLiteral("Disconnect"));
}

void ConnectionControl::wsConnect() {
    m_lastPeer = m_parts.ws.remoteHostIP();
    m_parts.view.showConnected(true);
    m_parts.view.announcePen();
}

void ConnectionControl::wsClose() {
    m_parts.ws.close();
    m_parts.view.showConnected(false);
}
