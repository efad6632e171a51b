#include "wholefile.h"

#include <QSaveFile>

#include <unistd.h>

namespace wholefile {

bool commit(QSaveFile& file) {
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString write(const QString& path, QByteArrayView content, Sync sync) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = file.write(content.data(), content.size()) == content.size();
    if (written && sync == Sync::ToDisk) {
        // The data first, then the rename: otherwise a power cut right after
        // the commit could leave the new name on an empty file.
        written = file.flush() && ::fdatasync(file.handle()) == 0;
        if (!written)
            file.cancelWriting();
    }
    if (!written || !commit(file)) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("%1 cannot be written").arg(path) : reason;
    }
    return {};
}

} // namespace wholefile
