#pragma once

#include "undohistory.h"
#include "undowire.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <vector>

class Board;

// Undo and redo for the members of ours (wire in undowire.h): who each
// drawing connection is, the undoable history of the server's board, and the
// answers, patches and notices.
//
// The board is changed only through the lines the history holds: every line
// the relay applies is taken here in relay order, and an undo or redo is
// first stored as its marker line and then taken like any other, so the
// undo state is a function of the stored history (a log or a journal replays
// it). A request names no action: the server picks the asker's own newest
// one, so nobody can take back another member's stroke, and a described
// client, which never sends command 7, can cause none.
//
// Costs a member can cause are bounded: each connection has a bucket of
// Burst requests refilled at RatePerSecond, and rebuilding takes at most
// BudgetShare of the server's time over any stretch longer than one
// expensive rebuild (see allow()); a request past either is answered "busy"
// and changes nothing.
class UndoRelay {
public:
    static constexpr int Burst = 20;
    static constexpr int RatePerSecond = 10;
    static constexpr double BudgetMs = 100;
    static constexpr double BudgetShare = 0.25;

    // What the drawing relay lends: sends, and storing one line in the
    // history without starting it over (false when it cannot take the line).
    struct Outlet {
        std::function<void(int k, QByteArrayView bytes)> send;
        std::function<void(QByteArrayView bytes)> sendToOurs;
        std::function<bool(QByteArrayView line)> store;
        std::function<quint32()> checksum;
        std::function<QString(int k)> knownName; // the chat's name, may be empty
    };

    UndoRelay(Board& board, Outlet outlet);

    static std::optional<undowire::Request> parse(QByteArrayView line) {
        return undowire::parseRequest(line);
    }
    void answer(int k, const undowire::Request& request);

    // A line relayed from connection k, applied to the board here; `stored`
    // false when the history could not take it.
    void relayed(int k, QByteArrayView relayedLine, bool stored);
    // The history was emptied (a clear-all, with or without a log file).
    void historyEmptied();
    // The board and a history that the undo lists know nothing of came back
    // from the journal: an epoch marker in the history starts them over here,
    // so a player of the log numbers the actions as the server does.
    void historyRecovered();
    void opened(int k);
    void closed(int k);

    const UndoHistory& history() const { return m_history; }

private:
    struct Connection {
        QByteArray member;
        QString name;
        double tokens = Burst;
        qint64 refilledMs = 0;
    };

    void announce(int k, const undowire::Request& request);
    void takeBack(int k, const undowire::Request& request);
    bool storeAndTake(QByteArrayView line);
    void forget(int k);
    bool allow(int k);
    void sendCounts(const QByteArray& except = {});
    QString nameOf(int k) const;
    Connection& connection(int k);

    Board& m_board;
    Outlet m_outlet;
    UndoHistory m_history;
    std::vector<Connection> m_connections; // by connection index
    QElapsedTimer m_clock;
    qint64 m_paidMs = 0;
    double m_debtMs = 0;
};
