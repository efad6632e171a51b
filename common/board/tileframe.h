#pragma once

#include <QImage>
#include <QRect>
#include <memory>
#include <unordered_set>
#include <vector>

// A kept copy of a board picture in 64 x 64 tiles that copies share: a frame
// taken after a few strokes copies only the tiles those strokes touched and
// shares the rest with the frame before it, so many frames of one board cost
// little more than the pixels that changed between them.
//
// Tiles are immutable once made; changing an area of a frame replaces the
// tiles it touches with new ones (copy on write), which leaves every other
// frame that shared them as it was; countNew() tells what several frames
// keep alive together, so an owner can budget them.
class TileFrame {
public:
    static constexpr int TileSize = 64;

    // A frame of `picture` (Format_RGB32), every tile copied.
    static TileFrame copyOf(const QImage& picture);
    // A frame of `picture` that shares with `previous` every tile not
    // flagged in `dirty` (one flag per tile, row-major; see tileIndex).
    static TileFrame update(const TileFrame& previous, const QImage& picture,
                            const std::vector<char>& dirty);

    bool isNull() const { return m_tiles.empty(); }
    QSize size() const { return m_size; }
    int tileCount() const { return int(m_tiles.size()); }
    int columns() const { return m_columns; }
    // Flags the tiles that `area` touches in a per-tile vector (tileCount()
    // long).
    void markDirty(std::vector<char>& dirty, const QRect& area) const;

    // Copies `area` of the frame into `target` at the same place.
    void paint(QImage& target, const QRect& area) const;
    // `area` of the frame as a picture of its own (Format_RGB32).
    QImage copy(const QRect& area) const;
    // Takes `area` from `source` into this frame (new tiles for those touched).
    void replace(const QImage& source, const QRect& area);
    // Bytes of the tiles not yet in `seen`, which takes them: summed over
    // several frames, what they keep alive together.
    qsizetype countNew(std::unordered_set<const QImage*>& seen) const;

private:
    QRect tileRect(int index) const;
    static std::shared_ptr<const QImage> copyTile(const QImage& picture, const QRect& rect);

    QSize m_size;
    int m_columns = 0;
    std::vector<std::shared_ptr<const QImage>> m_tiles;
};
