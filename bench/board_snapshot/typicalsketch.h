#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <algorithm>

// The README's typical sketch as relayed lines, shared by the tools that
// measure the shared picture (board_snapshot, board_undo).
namespace benchlog {

// About 80 strokes of 5..40 moves in a handful of colours and widths, as a
// few people sketching together leave it.
inline QByteArray typicalSketch() {
    QRandomGenerator random(42);
    const qint32 colours[] = {0, 255, 16711680, 65280, 8421504, 33023};
    QByteArray log;
    for (int stroke = 0; stroke < 80; ++stroke) {
        const QByteArray index = QByteArray::number(random.bounded(4));
        if (stroke % 6 == 0) {
            log += index + ":4: " + QByteArray::number(colours[random.bounded(6)]) + "\r\n";
            log += index + ":5: " + QByteArray::number(random.bounded(4)) + "\r\n";
        }
        int x = random.bounded(100, 1500), y = random.bounded(100, 1100);
        log += index + ":1: " + QByteArray::number(x) + ", " + QByteArray::number(y) + "\r\n";
        for (int n = random.bounded(5, 41); n > 0; --n) {
            x = std::clamp(x + random.bounded(-25, 26), 0, 1599);
            y = std::clamp(y + random.bounded(-25, 26), 0, 1199);
            log += index + ":2: " + QByteArray::number(x) + ", " + QByteArray::number(y) + "\r\n";
        }
        log += index + ":0:0\r\n";
    }
    return log;
}

} // namespace benchlog
