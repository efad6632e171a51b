#include "connectioncontrol.h"

#include "form1.h"
#include "form2.h"
#include "prompts.h"
#include "socketendpoint.h"

#include <QAction>

using net::SocketEndpoint;

ConnectionControl::ConnectionControl(Form1& main, Prompts& prompts, Ports ports, QObject* parent)
    : QObject(parent), m_main(main), m_prompts(prompts), m_ports(ports)
{
    connect(&m_main.WS(), &SocketEndpoint::connected, this, &ConnectionControl::wsConnect);
    connect(&m_main.WS(), &SocketEndpoint::closed, this, &ConnectionControl::wsClose);
}

void ConnectionControl::attachDialog(Form2& dialog)
{
    connect(&dialog, &Form2::connectRequested, this, &ConnectionControl::connectFromDialog);
}

void ConnectionControl::mConClick()
{
    Form2 dialog(m_main, &m_main);
    dialog.setDlgMode(Form2::Connect);
    dialog.setLastPeer(m_lastPeer);
    attachDialog(dialog);
    emit connectDialogOpened(&dialog);
    dialog.exec();
    if (m_main.WS().state() == SocketEndpoint::Connected)
        announcePen();
}

void ConnectionControl::connectFromDialog(const QString& address, qint16 mode)
{
    if (mode == Form2::Connect) {
        m_main.WS().close();
        m_main.WS_txt().close();
    }
    m_main.WS().connectTo(address, m_ports.drawing);
    m_main.WS_txt().connectTo(address, m_ports.text);
    m_main.setAddr(address);
}

void ConnectionControl::mReconnectClick()
{
    const QString address = m_main.addr();
    if (address.isEmpty()) {
        m_prompts.message(&m_main, QStringLiteral("サーバのアドレスが入力されていません"),
                          QStringLiteral("エラー"));
        return;
    }
    // A socket left in state 9 by a failed attempt would refuse to connect
    // for ever; it is closed first. Connected or connecting sockets are not.
    for (SocketEndpoint* socket : {&m_main.WS(), &m_main.WS_txt()}) {
        if (socket->state() == SocketEndpoint::Error)
            socket->close();
    }
    bool ok = m_main.WS().connectTo(address, m_ports.drawing) &&
              m_main.WS_txt().connectTo(address, m_ports.text);
    if (ok && m_main.WS().state() == SocketEndpoint::Connected)
        announcePen();
    if (!ok)
        m_prompts.message(&m_main, QStringLiteral("接続できません"), QStringLiteral("エラー"));
}

void ConnectionControl::mCloseClick()
{
    m_main.WS().close();
    m_main.WS_txt().close();
    setMenusConnected(false);
    m_main.setWindowTitle(baseTitle() + QStringLiteral(" / Disconnect"));
}

void ConnectionControl::wsConnect()
{
    m_lastPeer = m_main.WS().remoteHostIP();
    setMenusConnected(true);
    announcePen();
}

void ConnectionControl::wsClose()
{
    m_main.WS().close();
    setMenusConnected(false);
}

void ConnectionControl::announcePen()
{
    m_main.sendColor(m_main.foreColor());
    m_main.sendSize(m_main.penWidth());
}

void ConnectionControl::setMenusConnected(bool connected)
{
    m_main.mCon()->setEnabled(!connected);
    m_main.mReconnect()->setEnabled(!connected);
    m_main.mClose()->setEnabled(connected);
}
