#include "connectiontable.h"

#include <limits>

void ConnectionTable::addRow(const QString& address, quint16 port) {
    m_rows.append({address, port});
    emit rowAdded(address, port);
}

bool ConnectionTable::removeRow(const QString& address, quint16 port) {
    const qsizetype row = m_rows.indexOf(Row{address, port});
    if (row < 0)
        return false;
    m_rows.removeAt(row);
    emit rowRemoved(int(row));
    return true;
}

void ConnectionTable::clearRows() {
    m_rows.clear();
    emit rowsCleared();
}

void ConnectionTable::appendLog(const QString& line) {
    m_log += line;
    if (m_log.size() > LogLimit) {
        // Drop the older half, at a line end.
        const qsizetype cut = m_log.indexOf(QLatin1String("\r\n"), m_log.size() - LogLimit / 2);
        m_log.remove(0, cut < 0 ? m_log.size() - LogLimit / 2 : cut + 2);
    }
    emit logAppended(line);
}

void ConnectionTable::tick() {
    if (m_rows.isEmpty())
        return;
    const qint16 count = qint16(qMin<qsizetype>(m_rows.size(), std::numeric_limits<qint16>::max()));
    if (count != m_memCount) {
        m_memCount = count;
    }
}
