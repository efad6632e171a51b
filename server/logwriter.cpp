#include "logwriter.h"

#include "clock.h"
#include "drawinghistory.h"
#include "wholefile.h"

#include <QDir>

LogWriter::LogWriter(QString directory, const Clock& clock)
    : m_directory(std::move(directory)), m_clock(clock) {}

QString LogWriter::fileNameFor(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".skl");
}

std::optional<QString> LogWriter::saveLog(DrawingHistory& history, bool clear) {
    const QString path = QDir(m_directory).filePath(fileNameFor(m_clock.now()));
    // A failed write never leaves half a log where an earlier file of that
    // name was.
    const QString error = wholefile::write(path, history.fileContent());
    if (!error.isEmpty()) {
        m_lastError = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), error);
        return std::nullopt;
    }
    m_lastError.clear();
    if (clear)
        history.clear();
    return path;
}
