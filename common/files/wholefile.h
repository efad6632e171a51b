#pragma once

#include <QByteArrayView>
#include <QString>

class QSaveFile;

// Files are written whole: through QSaveFile, which writes beside the target
// and renames on commit, so a failed save leaves the earlier file as it was
// and never half a file.
namespace wholefile {

// Ends a save: flushes, then commits. QSaveFile::commit() does not notice a
// failed flush of its buffer (Qt 6.4; a full disk shows only there), so a
// failed flush cancels the save instead. False when nothing was replaced.
bool commit(QSaveFile& file);

enum class Sync {
    No,     // the new content may still sit in the system's cache
    ToDisk, // on the disk before it replaces the old file (survives a power cut)
};

// Writes `content` as the whole new content of `path`. Returns an empty
// string on success, otherwise why it failed (the old file is kept).
QString write(const QString& path, QByteArrayView content, Sync sync = Sync::No);

} // namespace wholefile
