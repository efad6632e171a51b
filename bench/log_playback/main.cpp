// Prints figures for playing a drawing log: total time and lines per second
// through the real player (reading, parsing, applying, yielding, repainting),
// the time to render the same segments alone with the same routine, and the
// player's overhead as a share of the total. Figures only, never pass/fail.
//
//   log_playback [lines] [runs]      defaults: 200000 lines, 3 runs (best kept)
#include "canvas.h"
#include "drawreceiver.h"
#include "form1.h"
#include "logplayer.h"
#include "prompts.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>

namespace {

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

GeneratedLog generate(int lineCount) {
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

double playOnce(const QString& path, QImage& result) {
    QtPrompts prompts;
    Form1 main(prompts);
    main.load();
    main.show();
    DrawReceiver receiver(main.canvas(), [&main] { main.refreshPreview(); });
    LogPlayer player(main, receiver, prompts);
    main.mLSNoWait()->trigger();
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    player.logPlay(path);
    const double seconds = timer.nsecsElapsed() / 1e9;
    result = main.canvas().image();
    return seconds;
}

double renderOnce(const QList<Segment>& segments, QImage& result) {
    Canvas canvas;
    QElapsedTimer timer;
    timer.start();
    for (const Segment& s : segments)
        canvas.lineWrite(s.ox, s.oy, s.x, s.y, s.wdt, s.colour);
    const double seconds = timer.nsecsElapsed() / 1e9;
    result = canvas.image();
    return seconds;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lineCount = argc > 1 ? std::max(1, atoi(argv[1])) : 200000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

    const GeneratedLog log = generate(lineCount);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.skl"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(log.text) != log.text.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();

    double play = 1e9, render = 1e9;
    QImage played, rendered;
    for (int run = 0; run < runs; ++run) {
        play = std::min(play, playOnce(path, played));
        render = std::min(render, renderOnce(log.segments, rendered));
    }

    const double overhead = play - render;
    std::printf("log playback, %d lines (%lld segments, %.1f MB), best of %d runs, speed 一瞬\n",
                log.lines, qlonglong(log.segments.size()), log.text.size() / 1e6, runs);
    std::printf("  player total        %8.3f s   %10.0f lines/s\n", play, log.lines / play);
    std::printf("  segments alone      %8.3f s   %10.0f segments/s\n", render,
                log.segments.size() / render);
    std::printf("  ratio total/render  %8.2f\n", play / render);
    std::printf("  player overhead     %8.3f s   %5.1f %% of the total\n", overhead,
                100.0 * overhead / play);
    std::printf("  pixels identical    %s\n", played == rendered ? "yes" : "NO");
    return 0;
}
