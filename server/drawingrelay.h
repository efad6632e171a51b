#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <array>

class ConnectionTable;
class DrawingHistory;
class EndpointArray;
class LogWriter;

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
// arrivals is put back together) and never decoded.
class DrawingRelay : public QObject {
    Q_OBJECT
public:
    static constexpr int TableSlots = 21; // indices 0 to 20

    DrawingRelay(EndpointArray& ws, ConnectionTable& table, DrawingHistory& history,
                 LogWriter& logWriter, QObject* parent = nullptr);

    // Check mark of `mAutoSave`: a clear-all, or a line arriving while the
    // history is full, first saves the history to a log file.
    void setAutoSave(bool on) { m_autoSave = on; }
    bool autoSave() const { return m_autoSave; }

    qint32 penColor(int index) const { return m_penColor.at(index); }
    qint16 penSize(int index) const { return m_penSize.at(index); }

    // `dtSave`: bookkeeping of one line from connection k with command cmd
    // and its second field.
    void dtSave(int k, qint16 cmd, QByteArrayView data);

signals:
    // An automatic save wrote this file (or failed: empty path).
    void logSaved(const QString& path);

private:
    void onConnectionRequest(qintptr requestId);
    void onDataArrival(int k);
    void onClose(int k);
    void handleLine(int k, QByteArrayView line);
    void greet(int n);
    void store(QByteArrayView line, bool blockTest = true);
    void clearHistory();
    void sendToAllExcept(int except, QByteArrayView bytes);

    EndpointArray& m_ws;
    ConnectionTable& m_table;
    DrawingHistory& m_history;
    LogWriter& m_logWriter;
    bool m_autoSave = false;
    std::array<qint32, TableSlots> m_penColor{};
    std::array<qint16, TableSlots> m_penSize{};
};
