#pragma once

#include <QList>
#include <QObject>
#include <QString>

// The connection list and event log of the server window, kept as data: one
// row (peer address, peer port) per accepted drawing connection, the lines
// of the event log, and the member count `memCount`.
//
// `memCount` follows the rows only on the 500 ms tick: a count sent between
// two ticks carries the value of the last tick, and an empty list keeps the
// last value (so after the last client leaves it stays at least 1).
class ConnectionTable : public QObject {
    Q_OBJECT
public:
    struct Row {
        QString address;
        quint16 port = 0;
        bool operator==(const Row&) const = default;
    };

    using QObject::QObject;

    const QList<Row>& rows() const { return m_rows; }
    void addRow(const QString& address, quint16 port);
    // Removes the first row with this address and port; false when there is none.
    bool removeRow(const QString& address, quint16 port);
    void clearRows();

    // Appends one line (with its "\r\n") to the event log. The log keeps its
    // newest lines only, up to about LogLimit characters: peers that come
    // and go all day cannot make it grow without end.
    static constexpr qsizetype LogLimit = 256 * 1024;
    void appendLog(const QString& line);
    const QString& logText() const { return m_log; }

    qint16 memCount() const { return m_memCount; }
    // `Timer1_Timer`: takes the row count when there is at least one row.
    void tick();

signals:
    void rowAdded(const QString& address, quint16 port);
    void rowRemoved(int row);
    void rowsCleared();
    void logAppended(const QString& line);

private:
    QList<Row> m_rows;
    QString m_log;
    qint16 m_memCount = 0;
};
