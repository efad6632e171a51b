#include "boardfile.h"

#include "board.h"
#include "snapshot.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QImageReader>

namespace boardfile {

QString pathIn(const QString& directory) {
    return QDir(directory).filePath(QString::fromLatin1(FileName));
}

QString save(const Board& board, const QString& path) {
    const QByteArray png = boardsnapshot::encodePng(board.image());
    if (png.isEmpty())
        return QStringLiteral("the board cannot be encoded");
    return wholefile::write(path, png);
}

QString load(Board& board, const QString& path) {
    if (!QFile::exists(path))
        return {};
    QImageReader reader(path, "png");
    // The size is checked before any pixel is allocated.
    if (reader.size() != QSize(Board::Width, Board::Height))
        return QStringLiteral("%1 is not a %2x%3 PNG picture")
            .arg(path)
            .arg(Board::Width)
            .arg(Board::Height);
    const QImage picture = reader.read();
    if (picture.size() != QSize(Board::Width, Board::Height))
        return QStringLiteral("%1 cannot be read: %2").arg(path, reader.errorString());
    board.replace(picture, board.pens());
    return {};
}

} // namespace boardfile
