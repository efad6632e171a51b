#pragma once

#include "board.h"
#include "encodingworker.h"
#include "membertables.h"
#include "snapshot.h"
#include "snapshotservice.h"
#include "undorelay.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <array>
#include <vector>

class ConnectionTable;
class DrawingHistory;
class EndpointArray;
class ExtensionReader;
class LogWriter;
class RelayRecorder;

// The drawing channel of the server (TCP 13467, endpoint array `WS`).
//
// Every line a client sends goes out again to every other drawing connection
// as  index ":" line "\r\n"  — the line exactly as received, blanks included —
// and is appended to the history. Lines whose command reads as 8 are member
// count requests: answered to the sender alone with "0:8:" memCount, neither
// stored nor relayed. The relay keeps the last colour (command 4) and pen size
// (command 5) of each index 0..20 and greets every newcomer with them.
//
// The relay works on bytes: lines are framed at "\r\n" (a line split over two
// arrivals is put back together) and relayed undecoded.
//
// The relay also keeps the shared picture: every relayed line, in relay
// order, is applied to its board exactly as a client applies it (the
// downstream text through the same reader), so the board is what every
// member who saw the whole stream shows. Command 7 asks about it ("7:snap",
// "7:sum", see snapshot.h): answered to the asker alone by the snapshot
// service, neither stored nor relayed. Further command-7 verbs are read by the
// extension readers added to the relay; a line nobody knows is dropped. The
// greeting keeps its own colour and width tables: they follow the upstream
// second field, which for odd lines (five fields) differs from the client's
// reading. Undo and redo ("7:me", "7:undo", "7:redo", see undowire.h) belong
// to UndoRelay, through which every relayed line reaches the board.
//
// A connection of ours that has no pen slot (index above 20: the board is
// full, its lines reach nobody's picture) is told so once, when it first asks
// something of command 7:
//   "0:7:full"      server -> that connection alone
//
// History: a relayed line longer than MaxStoredLine is relayed but not
// stored (no drawing line is longer than a few dozen bytes). When the history
// cannot take a line, it is written to a log file and started afresh with
// that line, with or without auto-save, and historySaved() says so.
class DrawingRelay : public QObject {
    Q_OBJECT
public:
    static constexpr int TableSlots = protocol::TableSlots;
    static constexpr qsizetype MaxStoredLine = 4096;
    // A full history that could not be written is tried again after this long.
    static constexpr int FullRetryMs = 10000;

    DrawingRelay(EndpointArray& ws, ConnectionTable& table, DrawingHistory& history,
                 LogWriter& logWriter, QObject* parent = nullptr);

    // Check mark of `mAutoSave`: a clear-all first saves the history to a log
    // file (a full history is saved either way).
    void setAutoSave(bool on) { m_autoSave = on; }
    bool autoSave() const { return m_autoSave; }

    qint32 penColor(int index) const { return m_penColor.at(index); }
    qint16 penSize(int index) const { return m_penSize.at(index); }
    // Sets slot k's greeting pen (bringing back a kept state).
    void setGreetingPen(int k, qint32 colour, qint16 size);

    // Who keeps the relay's state durable; null for nobody.
    void setRecorder(RelayRecorder* recorder) { m_recorder = recorder; }
    // Asked, in the order added, for every command-7 line the relay does not
    // read itself.
    void addExtensionReader(ExtensionReader* reader) { m_readers.push_back(reader); }
    void removeExtensionReader(ExtensionReader* reader) { std::erase(m_readers, reader); }

    // `dtSave`: bookkeeping of one line from connection k with command cmd
    // and its second field.
    void dtSave(int k, qint16 cmd, QByteArrayView data);

    Board& board() { return m_board; }
    const Board& board() const { return m_board; }

    // True once connection k has sent a command-7 request the relay knows:
    // it is one of ours and may be sent command-7 lines it did not ask for.
    // A described client never qualifies, so it never receives one. Cleared
    // when a new connection takes the index.
    bool speaksExtension(int k) const;
    // Sends `bytes` to every connection that speaks command 7, except `except`.
    void sendToExtendedExcept(int except, QByteArrayView bytes);

    // The chat name of the member at this peer address, where the server
    // knows one (used when a member of ours did not announce its name).
    void setNameSource(std::function<QString(const QString& address)> source) {
        m_nameSource = std::move(source);
    }
    const UndoRelay& undo() const { return m_undo; }
    // The board was replaced from outside (loaded at start): what is undoable
    // begins over that picture.
    void boardReplaced() { m_undo.historyEmptied(); }
    // The board and the history came back from the journal.
    void boardRecovered();
    SnapshotService& snapshots() { return m_snapshots; }
    // For other picture work that must stay off the relay's thread.
    EncodingWorker& encodingWorker() { return m_worker; }

signals:
    // An automatic save wrote this file (or failed: empty path).
    void logSaved(const QString& path);
    // The history was full: written to `path` and started afresh, or (empty
    // path) it could not be written for `error` and lines are not stored.
    void historySaved(const QString& path, const QString& error);

private:
    void onConnectionRequest(qintptr requestId);
    void onDataArrival(int k);
    void onClose(int k);
    void handleLine(int k, QByteArrayView line);
    void handleExtension(int k, QByteArrayView line);
    void markExtended(int k);
    void noteGreetingPen(int k);
    void greet(int n);
    bool store(QByteArrayView line, bool blockTest = true);
    void saveFullHistory();
    UndoRelay::Outlet undoOutlet();
    void clearHistory();
    void sendToAllExcept(int except, QByteArrayView bytes);

    EndpointArray& m_ws;
    ConnectionTable& m_table;
    DrawingHistory& m_history;
    LogWriter& m_logWriter;
    bool m_autoSave = false;
    std::array<qint32, TableSlots> m_penColor{};
    std::array<qint16, TableSlots> m_penSize{};
    std::vector<bool> m_extended; // by connection index, see speaksExtension()
    RelayRecorder* m_recorder = nullptr;
    std::vector<ExtensionReader*> m_readers;
    Board m_board;
    EncodingWorker m_worker;
    SnapshotService m_snapshots{m_ws, m_board, m_worker};
    QElapsedTimer m_fullSaveFailed; // valid while a full history could not be written
    std::function<QString(const QString&)> m_nameSource;
    UndoRelay m_undo{m_board, undoOutlet()};
};
