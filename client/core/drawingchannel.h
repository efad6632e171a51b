#pragma once

#include "drawreceiver.h"
#include "framesplitter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class Canvas;
class PenView;

namespace net {
class SocketEndpoint;
}

// The client's side of the drawing channel, without any widget. The lines are
// those of drawingline.h; command 7 carries our own extensions, each verb
// written down where it is spoken (the shared picture: snapshot.h).
//
// Receiving: the arrivals of the drawing socket are framed at "\r\n" on bytes
// (an unterminated tail waits for the next arrival; a new connection starts
// without one), decoded and applied through the receiver, one line at a time.
// The receiver hands the server's command-7 lines back here, and each goes by
// its verb (the first word of its argument) to the handler registered for
// that verb; a verb nobody registered is ignored. A new extension registers
// its reply verbs with onExtension() and sends its requests with send().
//
// Sending: every upstream line goes out through send(), and only while the
// socket is connected, so a client running stand-alone sends nothing; a
// failed send is ignored, like every send of the drawing channel. When a
// connection comes up the pen is announced first (colour line, then width
// line) and connected() follows, so whatever its listeners send comes after
// the pen. A send gate, when set, decides about every line sent (the
// member's session: sessionkeeper.h); it puts lines on the wire with
// sendNow().
class DrawingChannel : public QObject {
    Q_OBJECT
public:
    using ExtensionHandler = std::function<void(QStringView argument)>;
    using SendGate = std::function<bool(const QByteArray& line)>;

    // Where downstream lines paint, the pen the announcement reads and the
    // preview refresh of pen-up and clear-all lines.
    struct Parts {
        Canvas& canvas;
        const PenView& pen;
        std::function<void()> refreshPreview;
    };

    explicit DrawingChannel(Parts parts, QObject* parent = nullptr);
    ~DrawingChannel() override;

    net::SocketEndpoint& socket() { return *m_ws; }
    bool isConnected() const;
    // The receive rules, for the log player and the status line.
    DrawReceiver& receiver() { return m_receiver; }
    const DrawReceiver& receiver() const { return m_receiver; }

    // --- receiving
    // Bytes as they arrived on the drawing socket.
    void receive(QByteArrayView arrival);
    // `handler` hears the whole argument ("verb ...") of every command-7 line
    // from the server whose verb is one of `verbs`, in stream order.
    void onExtension(const QStringList& verbs, const ExtensionHandler& handler);

    // --- sending (nothing while not connected)
    // The one way out; false when the line was not sent (a gate may also
    // keep it to send later).
    bool send(const QByteArray& line);
    // Onto the wire now, past the gate; false when not connected.
    bool sendNow(const QByteArray& line);
    void setSendGate(SendGate gate) { m_gate = std::move(gate); }
    void announcePen(); // colour line, then width line
    void sendColor(qint32 colour);
    void sendSize(qint16 width);
    void sendPenDown(int x, int y);
    void sendRestart(int x, int y); // a stroke restarted by a move: no blanks
    void sendDraw(int x, int y);
    void sendErase(int x, int y);
    void sendPenUp();
    void sendClearAll();
    void requestMemberCount();

signals:
    // A new connection: its pen announcement has just gone out.
    void penAnnounced(qint32 colour, qint16 width);
    void connected(); // a new connection, after the pen announcement
    void closed();    // the server closed the connection, or it broke

private:
    void onSocketConnected();
    void dispatchExtension(QStringView argument);

    std::unique_ptr<net::SocketEndpoint> m_ws;
    const PenView& m_pen;
    DrawReceiver m_receiver;
    protocol::FrameSplitter m_splitter;
    std::vector<std::pair<QString, ExtensionHandler>> m_extensions;
    SendGate m_gate;
};
