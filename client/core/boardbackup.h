#pragma once

#include <QString>
#include <functional>
#include <optional>

class Clock;
class QImage;

// Keeps the member's own picture before a shared one replaces it:
// "sketora-backup-YYYYMMDD-hhmmss.png" (local time of the clock), with "-2",
// "-3", ... when that name is taken, in the folder asked for at the moment of
// writing (empty: the current directory). A backup is written whole or not
// at all.
class BoardBackup {
public:
    explicit BoardBackup(const Clock& clock) : m_clock(clock) {}

    void setDirectory(std::function<QString()> directory) { m_directory = std::move(directory); }

    // The path of the file written, nullopt when it could not be written.
    std::optional<QString> write(const QImage& picture) const;

private:
    const Clock& m_clock;
    std::function<QString()> m_directory;
};
