#include "logwriter.h"

#include "clock.h"
#include "drawinghistory.h"

#include <QDir>
#include <QSaveFile>

LogWriter::LogWriter(QString directory, const Clock& clock)
    : m_directory(std::move(directory)), m_clock(clock) {}

QString LogWriter::fileNameFor(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".skl");
}

std::optional<QString> LogWriter::saveLog(DrawingHistory& history, bool clear) {
    const QString path = QDir(m_directory).filePath(fileNameFor(m_clock.now()));
    // QSaveFile writes beside the target and renames on commit, so a failed
    // write never leaves half a log where an earlier file of that name was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    const QByteArray content = history.fileContent();
    if (file.write(content) != content.size() || !file.commit())
        return std::nullopt;
    if (clear)
        history.clear();
    return path;
}
