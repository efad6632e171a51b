#include "boardbackup.h"

#include "clock.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

std::optional<QString> BoardBackup::write(const QImage& picture) const {
    const QString folder = m_directory ? m_directory() : QString();
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QString stem = QStringLiteral("sketora-backup-") +
                         m_clock.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = dir.filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFile::exists(path); ++n)
        path = dir.filePath(stem + QStringLiteral("-%1.png").arg(n));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    QImageWriter writer(&file, "png");
    if (!writer.write(picture) || !wholefile::commit(file))
        return std::nullopt;
    return path;
}
