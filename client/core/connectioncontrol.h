#pragma once

#include "ports.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class ConnectionView;
class DrawingChannel;
class NoticeView;
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
//   retrying (see below)     on    on      on
//
// A failed attempt leaves a socket in state Error (shown as "Error" by the
// status line). Reconnect closes such a socket before connecting again, so a
// client whose server was down can reconnect once it is back; a socket that
// is still connecting or connected makes reconnect report "接続できません".
//
// Retrying. Towards a server of ours (one that answered the member's
// session, see sessionkeeper.h) a lost connection is made again without
// being asked: when the server closes either connection, when a heartbeat
// finds the link dead (linkLost), or when the server cannot be reached after
// it had been. Attempts follow RetryDelaysMs, then come every RetryEveryMs,
// for as long as it takes; a notice above the canvas says so until both
// connections are up again. 切断 or connecting to another address stops it.
// 再接続 while retrying starts a fresh attempt at once. A server that never
// answered is left alone when it closes, as before.
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
        // Where the retry notice goes, and whether the server is one of ours
        // (none: never retry).
        NoticeView* notices = nullptr;
        std::function<bool()> ourServer;
    };
    static constexpr int RetryDelaysMs[] = {500, 1000, 2000};
    static constexpr int RetryEveryMs = 3000;
    // An attempt still connecting after this long is given up and made anew.
    static constexpr int AttemptLimitMs = 10000;

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

    // A heartbeat found a connection dead (it was closed from this side).
    void linkLost();
    bool retrying() const { return m_retrying; }

signals:
    // The member stops talking to the server: 切断, or another address.
    void sessionEnded();
    void retryingChanged(bool retrying);

private:
    void wsConnect();
    void wsClose();
    void textClosed();
    void startRetrying();
    void stopRetrying();
    void retryNow();
    bool bothConnected() const;

    Parts m_parts;
    Prompts& m_prompts;
    Ports m_ports;
    QString m_addr;
    // The address the drawing socket was last connected to; the connect
    // dialog offers it once the socket itself has forgotten its peer.
    QString m_lastPeer;

    bool m_wanted = false;  // the member wants to be connected to m_addr
    bool m_reached = false; // ... and the drawing connection was up there
    bool m_retrying = false;
    int m_attempt = 0;
    QTimer m_retry;
    QElapsedTimer m_attemptSince;
};
