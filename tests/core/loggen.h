#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// Drawing logs as the server writes them: relayed lines "index:command:args"
// in the client's number form (a blank before numbers that are not negative),
// "\r\n" after each. Strokes of several senders with colour and width changes,
// pencil and eraser segments of 1..20 pixels, pen-up at each stroke's end.
inline QByteArray generatedLog(int lines, quint32 seed)
{
    QRandomGenerator random(seed);
    const auto number = [](int v) { return (v < 0 ? QByteArray() : QByteArray(" ")) + QByteArray::number(v); };
    QByteArray log;
    int written = 0;
    const auto add = [&](int index, const QByteArray& line) {
        if (written == lines)
            return;
        log += QByteArray::number(index) + ':' + line + "\r\n";
        ++written;
    };
    while (written < lines) {
        const int index = random.bounded(6);
        if (random.bounded(3) == 0)
            add(index, "4:" + number(random.bounded(16777216)));
        if (random.bounded(3) == 0)
            add(index, "5:" + number(random.bounded(4)));
        int x = random.bounded(-20, 1620), y = random.bounded(-20, 1220);
        add(index, "1:" + number(x) + ',' + number(y));
        const QByteArray command = random.bounded(8) == 0 ? "6:" : "2:";
        for (int segments = random.bounded(5, 30); segments > 0; --segments) {
            x += random.bounded(-20, 21);
            y += random.bounded(-20, 21);
            add(index, command + number(x) + ',' + number(y));
        }
        add(index, "0:0");
    }
    return log;
}
