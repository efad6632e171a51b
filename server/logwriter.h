#pragma once

#include <QString>
#include <optional>

class Clock;
class DrawingHistory;

// Writes the drawing history to a drawing log file (".skl") in one directory.
//
// File name: the moment of saving as "yyyy-MM-dd_HH-mm-ss.skl" (24-hour
// clock); a file of that name is replaced. Content: the history's blocks as
// stored, each followed by "\r\n" (see DrawingHistory::fileContent). The
// lines are written as the bytes the clients sent (CP932), never re-encoded.
class LogWriter {
public:
    // `directory` is where files go ("." = the current directory).
    LogWriter(QString directory, const Clock& clock);

    // `SaveLog`: writes one file and, with `clear`, empties the history
    // afterwards. Returns the path written, or nullopt when the file could not
    // be written (lastError() says why); the history is then left as it was.
    std::optional<QString> saveLog(DrawingHistory& history, bool clear);
    // Why the last save failed, naming the file ("" after a success).
    QString lastError() const { return m_lastError; }

    static QString fileNameFor(const class QDateTime& moment);
    QString directory() const { return m_directory; }

private:
    QString m_directory;
    const Clock& m_clock;
    QString m_lastError;
};
