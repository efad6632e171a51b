#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <array>

// The benchmark drawing log, shared by the tools that need "the picture of
// 200,000 lines": log_playback plays it, board_snapshot measures the
// snapshot that replaces it.
namespace benchlog {

struct Segment {
    qint16 ox, oy, x, y, wdt;
    qint32 colour;
};

// A log as the server writes it, and the segments it draws. Six senders,
// each with its greeting (colour and width lines), then strokes: pen down,
// 5..29 pencil or eraser moves of up to 20 pixels, pen up; colour and width
// changes between strokes.
struct GeneratedLog {
    QByteArray text;
    QList<Segment> segments;
    int lines = 0;
};

inline GeneratedLog generate(int lineCount) {
    QRandomGenerator random(20240501);
    GeneratedLog log;
    std::array<qint32, 6> colour{};
    std::array<qint16, 6> width{}, penX{}, penY{};
    const auto number = [](int v) {
        return (v < 0 ? QByteArray() : QByteArray(" ")) + QByteArray::number(v);
    };
    const auto add = [&](int index, const QByteArray& line) {
        if (log.lines == lineCount)
            return false;
        log.text += QByteArray::number(index) + ':' + line + "\r\n";
        ++log.lines;
        return true;
    };
    for (int i = 0; i < 6; ++i) {
        add(i, "4:" + QByteArray::number(colour[i]));
        add(i, "5:" + QByteArray::number(width[i]));
    }
    while (log.lines < lineCount) {
        const int i = random.bounded(6);
        if (random.bounded(3) == 0 && add(i, "4:" + number(random.bounded(16777216))))
            colour[i] = qint32(log.text.mid(log.text.lastIndexOf(':') + 1).trimmed().toInt());
        if (random.bounded(3) == 0) {
            const int w = random.bounded(4);
            if (add(i, "5:" + number(w)))
                width[i] = qint16(w);
        }
        qint16 x = qint16(random.bounded(0, 1600)), y = qint16(random.bounded(0, 1200));
        if (add(i, "1:" + number(x) + ',' + number(y))) {
            penX[i] = x;
            penY[i] = y;
        }
        const bool erase = random.bounded(8) == 0;
        for (int n = random.bounded(5, 30); n > 0; --n) {
            x = qint16(x + random.bounded(-20, 21));
            y = qint16(y + random.bounded(-20, 21));
            if (!add(i, (erase ? "6:" : "2:") + number(x) + ',' + number(y)))
                break;
            log.segments.append({penX[i], penY[i], x, y, width[i], erase ? 16777215 : colour[i]});
            penX[i] = x;
            penY[i] = y;
        }
        add(i, "0:0");
    }
    return log;
}

} // namespace benchlog
