#include "tileframe.h"

#include <cstring>

namespace {

void copyRows(QImage& target, const QImage& source, const QRect& area, QPoint sourceOrigin) {
    const size_t rowBytes = size_t(area.width()) * 4;
    for (int y = area.top(); y <= area.bottom(); ++y)
        memcpy(target.scanLine(y) + qsizetype(area.left()) * 4,
               source.constScanLine(y - sourceOrigin.y()) +
                   qsizetype(area.left() - sourceOrigin.x()) * 4,
               rowBytes);
}

} // namespace

std::shared_ptr<const QImage> TileFrame::copyTile(const QImage& picture, const QRect& rect) {
    return std::make_shared<const QImage>(picture.copy(rect));
}

QRect TileFrame::tileRect(int index) const {
    const int x = (index % m_columns) * TileSize, y = (index / m_columns) * TileSize;
    return QRect(x, y, TileSize, TileSize).intersected(QRect(QPoint(0, 0), m_size));
}

TileFrame TileFrame::copyOf(const QImage& picture) {
    TileFrame frame;
    frame.m_size = picture.size();
    frame.m_columns = (picture.width() + TileSize - 1) / TileSize;
    const int rows = (picture.height() + TileSize - 1) / TileSize;
    frame.m_tiles.resize(size_t(frame.m_columns * rows));
    for (int i = 0; i < frame.tileCount(); ++i)
        frame.m_tiles[size_t(i)] = copyTile(picture, frame.tileRect(i));
    return frame;
}

TileFrame TileFrame::update(const TileFrame& previous, const QImage& picture,
                            const std::vector<char>& dirty) {
    if (previous.isNull() || previous.m_size != picture.size())
        return copyOf(picture);
    TileFrame frame = previous;
    for (int i = 0; i < frame.tileCount(); ++i)
        if (size_t(i) < dirty.size() && dirty[size_t(i)])
            frame.m_tiles[size_t(i)] = copyTile(picture, frame.tileRect(i));
    return frame;
}

void TileFrame::markDirty(std::vector<char>& dirty, const QRect& area) const {
    const QRect inside = area.intersected(QRect(QPoint(0, 0), m_size));
    if (inside.isEmpty() || dirty.size() < m_tiles.size())
        return;
    for (int ty = inside.top() / TileSize; ty <= inside.bottom() / TileSize; ++ty)
        for (int tx = inside.left() / TileSize; tx <= inside.right() / TileSize; ++tx)
            dirty[size_t(ty * m_columns + tx)] = 1;
}

void TileFrame::paint(QImage& target, const QRect& area) const {
    const QRect inside = area.intersected(QRect(QPoint(0, 0), m_size));
    if (inside.isEmpty())
        return;
    for (int ty = inside.top() / TileSize; ty <= inside.bottom() / TileSize; ++ty)
        for (int tx = inside.left() / TileSize; tx <= inside.right() / TileSize; ++tx) {
            const int i = ty * m_columns + tx;
            const QRect tile = tileRect(i);
            copyRows(target, *m_tiles[size_t(i)], tile.intersected(inside), tile.topLeft());
        }
}

QImage TileFrame::copy(const QRect& area) const {
    const QRect inside = area.intersected(QRect(QPoint(0, 0), m_size));
    QImage out(inside.size(), QImage::Format_RGB32);
    for (int ty = inside.top() / TileSize; !inside.isEmpty() && ty <= inside.bottom() / TileSize;
         ++ty)
        for (int tx = inside.left() / TileSize; tx <= inside.right() / TileSize; ++tx) {
            const int i = ty * m_columns + tx;
            const QRect tile = tileRect(i);
            // Into `out`, whose origin is inside.topLeft(): shift both.
            const QRect part = tile.intersected(inside);
            const size_t rowBytes = size_t(part.width()) * 4;
            for (int y = part.top(); y <= part.bottom(); ++y)
                memcpy(out.scanLine(y - inside.top()) + qsizetype(part.left() - inside.left()) * 4,
                       m_tiles[size_t(i)]->constScanLine(y - tile.top()) +
                           qsizetype(part.left() - tile.left()) * 4,
                       rowBytes);
        }
    return out;
}

void TileFrame::replace(const QImage& source, const QRect& area) {
    const QRect inside = area.intersected(QRect(QPoint(0, 0), m_size));
    if (inside.isEmpty())
        return;
    for (int ty = inside.top() / TileSize; ty <= inside.bottom() / TileSize; ++ty)
        for (int tx = inside.left() / TileSize; tx <= inside.right() / TileSize; ++tx) {
            const int i = ty * m_columns + tx;
            const QRect tile = tileRect(i);
            QImage fresh = m_tiles[size_t(i)]->copy();
            const QRect part = tile.intersected(inside);
            const QRect local = part.translated(-tile.topLeft());
            copyRows(fresh, source, local, -tile.topLeft());
            m_tiles[size_t(i)] = std::make_shared<const QImage>(std::move(fresh));
        }
}

qsizetype TileFrame::countNew(std::unordered_set<const QImage*>& seen) const {
    qsizetype bytes = 0;
    for (const auto& tile : m_tiles)
        if (seen.insert(tile.get()).second)
            bytes += tile->sizeInBytes();
    return bytes;
}
