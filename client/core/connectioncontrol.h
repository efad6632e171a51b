#pragma once

#include <QObject>
#include <QString>

class ConnectionView;
class Form2;
class Prompts;

namespace net {
class SocketEndpoint;
}

// The network menu of the main window and the drawing socket's connect and
// close events. A client talks to one host over two connections: drawing on
// ports.drawing (13467) and text on ports.text (13468). Once the drawing
// connection is up the client announces its pen, colour line first, then
// width line; the menu entries follow this table:
//
//   event                    接続  再接続  切断
//   start-up                 on    on      off
//   drawing socket connected off   off     on
//   closed by the server     on    on      off
//   切断 chosen              on    on      off
//
// A failed attempt leaves a socket in state 9 (shown as "Error" by the status
// line). Reconnect closes such a socket before connecting again, so a client
// whose server was down can reconnect once it is back; a socket that is still
// connecting or connected makes reconnect report "接続できません".
class ConnectionControl : public QObject {
    Q_OBJECT
public:
    struct Ports {
        quint16 drawing = 13467;
        quint16 text = 13468;
    };
    // The drawing and text endpoints, and the window as far as the network
    // menu, its title and the pen announcement go.
    struct Parts {
        net::SocketEndpoint& ws;
        net::SocketEndpoint& wsTxt;
        ConnectionView& view;
    };

    ConnectionControl(Parts parts, Prompts& prompts, Ports ports, QObject* parent = nullptr);

    // Hooks a dialog's Connect (modes 0 and 1) to connectFromDialog.
    void attachDialog(Form2& dialog);

    // "接続(&C)...": the dialog in mode 1, modal; announces the pen if the
    // drawing socket is connected by the time it closes.
    void mConClick();
    // "再接続(&R)": connects both sockets to the address last used.
    void mReconnectClick();
    // "切断(&Q)": closes both sockets; the title says " / Disconnect".
    void mCloseClick();

    // The dialog's Connect in mode 0 or 1 with the trimmed address.
    void connectFromDialog(const QString& address, qint16 mode);

    // Drawing socket events.
    void wsConnect();
    void wsClose();

    // `addr`: the address the dialog last connected to, used by reconnect.
    QString addr() const { return m_addr; }

signals:
    // The connect dialog of the menu is about to run modally (tests drive it).
    void connectDialogOpened(Form2* dialog);

private:
    Parts m_parts;
    Prompts& m_prompts;
    Ports m_ports;
    QString m_addr;
    // The address the drawing socket was last connected to; the connect
    // dialog offers it once the socket itself has forgotten its peer.
    QString m_lastPeer;
};
