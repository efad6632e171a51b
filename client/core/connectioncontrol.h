#pragma once

#include "ports.h"

#include <QObject>
#include <QString>
#include <QStringList>

class ConnectionView;
class DrawingChannel;
class Prompts;

// The addresses connected to before, kept between runs (newest first).
class AddressBook {
public:
    virtual ~AddressBook() = default;
    virtual QStringList addresses() const = 0;
    virtual void remember(const QString& address) = 0;
};

namespace net {
class SocketEndpoint;
}

// The network menu of the main window and the drawing connection's ups and
// downs. A client talks to one host over two connections: drawing on
// ports.drawing and text on ports.text. The drawing channel announces the
// pen as each drawing connection comes up; the menu entries follow this
// table:
//
//   event                    接続  再接続  切断
//   start-up                 on    on      off
//   drawing socket connected off   off     on
//   closed by the server     on    on      off
//   切断 chosen              on    on      off
//
// A failed attempt leaves a socket in state Error (shown as "Error" by the
// status line). Reconnect closes such a socket before connecting again, so a
// client whose server was down can reconnect once it is back; a socket that
// is still connecting or connected makes reconnect report "接続できません".
class ConnectionControl : public QObject {
    Q_OBJECT
public:
    struct Ports {
        quint16 drawing = protocol::ports::Drawing;
        quint16 text = protocol::ports::Text;
    };
    // The drawing channel, the text endpoint, the window as far as the
    // network menu and its title go, and where the addresses that connected
    // are kept (none: nothing is kept).
    struct Parts {
        DrawingChannel& drawing;
        net::SocketEndpoint& text;
        ConnectionView& view;
        AddressBook* addresses = nullptr;
    };

    ConnectionControl(Parts parts, Prompts& prompts, Ports ports, QObject* parent = nullptr);

    // "接続(&C)...": the address dialog, offering the server last talked to
    // and the addresses connected to before; announces the pen again if the
    // drawing socket is connected once the dialog has closed.
    void mConClick();
    // "再接続(&R)": connects both sockets to the address last used.
    void mReconnectClick();
    // "切断(&Q)": closes both sockets; the title says " / Disconnect".
    void mCloseClick();

    // The start-up dialog's Connect: opens both connections to `address`.
    void openConnections(const QString& address);
    // The address dialog's Connect: closes both sockets, then opens anew.
    void replaceConnections(const QString& address);

    // `addr`: the address the dialog last connected to, used by reconnect.
    QString addr() const { return m_addr; }

private:
    void wsConnect();
    void wsClose();

    Parts m_parts;
    Prompts& m_prompts;
    Ports m_ports;
    QString m_addr;
    // The address the drawing socket was last connected to; the connect
    // dialog offers it once the socket itself has forgotten its peer.
    QString m_lastPeer;
};
