#pragma once

#include "clock.h"
#include "connectiontable.h"
#include "drawinghistory.h"
#include "logwriter.h"
#include "peeraddressbook.h"
#include "ports.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>

class DrawingRelay;
class EndpointArray;
class RelayKeeper;
class TextRelay;

// The relay server without its window: both channels, the connection table,
// the drawing history and the log writer, and the 500 ms member-count timer.
// The window calls start(), allDisconnect(), logSave(), setAutoSave() and
// shutdown(), and paints what the signals report.
//
// Ports are given here (0 lets the system choose; drawingPort() and
// textPort() tell the result after start()).
//
// The board, the history and the members' resend counts survive a crash
// through the board journal in the log directory (RelayKeeper); it is read
// back when the server is made.
class RelayServer : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 DrawingPort = protocol::ports::Drawing;
    static constexpr quint16 TextPort = protocol::ports::Text;
    // Unsent output a connection may hold before it is cut. Readers that keep
    // reading stay near the channels' high water mark (arrivals are held back
    // for them), so only a peer that has stopped reading gets here; normal
    // drawing lines would take hours to fill it.
    static constexpr qint64 OutputCap = 32 * 1024 * 1024;
    // Connections one address may hold on each of the two ports. A desktop
    // member takes one on each, a browser member one on each under the
    // browser's address; a room of people never comes near.
    static constexpr int ConnectionsPerAddress = 16;

    enum class Journal { On, Off };

    // `clock` may be null for the machine's clock; `logDirectory` is where
    // log files go, and the board journal.
    explicit RelayServer(quint16 drawingPort = DrawingPort, quint16 textPort = TextPort,
                         QString logDirectory = QStringLiteral("."), const Clock* clock = nullptr,
                         Journal journal = Journal::On, QObject* parent = nullptr);
    ~RelayServer() override;

    // Before start(): where to listen (all addresses by default).
    void setListenAddress(const QHostAddress& address);
    // Cap on unsent output per connection; a peer past it is cut.
    void setOutputCap(qint64 bytes);
    // Silence after which a member that sent heartbeats is cut (20 s).
    void setHeartbeatTimeoutMs(int ms);
    // Connections one address may hold on each port; 0: no limit.
    void setConnectionsPerAddress(int connections);
    // Where the browser bridge notes whom its loopback connections stand for.
    PeerAddressBook& addressBook() { return m_addressBook; }

    // Start (`Command1`): listens on both channels. On failure
    // nothing listens, listenFailed() names the port and false is returned.
    bool start();
    bool isRunning() const { return m_running; }
    // All Disconnect (`Command2`): closes every connection and listener
    // without a word to the clients; history and per-index tables stay.
    void allDisconnect();
    // Log Save (`Command3`): writes the history, keeps it. Path or nullopt
    // (lastLogError() says why).
    std::optional<QString> logSave();
    QString lastLogError() const { return m_logWriter.lastError(); }
    // Before the program ends: the board picture saved, the journal closed,
    // every endpoint of both channels closed. False when the picture could
    // not be written.
    bool shutdown();
    // Writes the board picture to board.png in the log directory; false (and
    // a line in the event log) when it cannot be written.
    bool saveBoard();

    void setAutoSave(bool on);
    bool autoSave() const;

    quint16 drawingPort() const;
    quint16 textPort() const;

    ConnectionTable& table() { return m_table; }
    const DrawingHistory& history() const { return m_history; }
    DrawingHistory& history() { return m_history; }
    DrawingRelay& drawing() { return *m_drawing; }
    TextRelay& text() { return *m_text; }
    EndpointArray& drawingEndpoints() { return *m_ws; }
    EndpointArray& textEndpoints() { return *m_wsTxt; }
    RelayKeeper& keeper() { return *m_keeper; }

signals:
    void runningChanged(bool running);
    void listenFailed(const QString& message);
    void logSaved(const QString& path); // automatic saves; empty path: failed

private:
    void setRunning(bool running);
    QString chatNameAt(const QString& address) const;
    void loadBoard();
    void note(const QString& message);
    void onHistorySaved(const QString& path, const QString& error);

    std::unique_ptr<Clock> m_ownClock;
    ConnectionTable m_table;
    PeerAddressBook m_addressBook;
    DrawingHistory m_history;
    LogWriter m_logWriter;
    QString m_boardPath;
    EndpointArray* m_ws;
    EndpointArray* m_wsTxt;
    DrawingRelay* m_drawing;
    TextRelay* m_text;
    QTimer m_timer;
    bool m_running = false;
    std::unique_ptr<RelayKeeper> m_keeper; // before the history it records goes
};
