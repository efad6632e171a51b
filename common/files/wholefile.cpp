#include "wholefile.h"

#include <QSaveFile>

namespace wholefile {

bool commit(QSaveFile& file) {
    if (!file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString write(const QString& path, QByteArrayView content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(content.data(), content.size()) != content.size() || !commit(file)) {
        const QString reason = file.errorString();
        return reason.isEmpty() ? QStringLiteral("%1 cannot be written").arg(path) : reason;
    }
    return {};
}

} // namespace wholefile
