// Prints figures for playing a drawing log: total time and lines per second
// through the real player (reading, parsing, applying, yielding, repainting),
// the time to render the same segments alone with the same routine, and the
// player's overhead as a share of the total. The overhead is broken down into
// reading the file (until the progress bar starts), reading the lines
// (the receiver applying the decoded text to a bare canvas, less the
// rendering) and the screen (yields, repaints, progress; the rest). Every
// figure is the best of its runs. Figures only, never pass/fail.
//
// Times are the CPU time of the thread, which on a shared machine varies far
// less than the wall clock; the player runs on this one thread and never waits
// (its yields do not block), so nothing it does is left out.
//
//   log_playback [lines] [runs]      defaults: 200000 lines, 5 runs (best kept)
#include "canvas.h"
#include "cp932.h"
#include "drawreceiver.h"
#include "form1.h"
#include "generatedlog.h"
#include "logplayer.h"
#include "qtprompts.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

using client::Form1;

namespace {

using benchlog::generate;
using benchlog::GeneratedLog;
using benchlog::Segment;

// CPU time of the calling thread since start(), in seconds.
class ThreadTimer {
public:
    void start() { m_start = now(); }
    double seconds() const { return now() - m_start; }

private:
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec / 1e9;
    }
    double m_start = 0;
};

struct Played {
    double total = 0;
    double reading = 0; // until the progress bar is set up for drawing
};

Played playOnce(const QString& path, QImage& result) {
    QtPrompts prompts;
    Form1 main(prompts);
    main.load();
    main.show();
    DrawReceiver receiver(main.canvas(), [&main] { main.refreshPreview(); });
    LogPlayer player({main, main.playbackSpeedItems(), receiver}, prompts);
    main.controls().menu.mLSNoWait->trigger();
    QApplication::processEvents();

    Played played;
    ThreadTimer timer;
    QObject::connect(main.controls().pBar, &QProgressBar::valueChanged, [&](int value) {
        if (value == 0 && played.reading == 0)
            played.reading = timer.seconds();
    });
    timer.start();
    player.logPlay(path);
    played.total = timer.seconds();
    result = main.canvas().image();
    return played;
}

// The receiver alone: parsing and rendering, no file, no window.
double applyOnce(const QString& text) {
    Canvas canvas;
    DrawReceiver receiver(canvas, nullptr);
    ThreadTimer timer;
    timer.start();
    receiver.drawDataProc(text, DrawReceiver::Source::Playback);
    return timer.seconds();
}

double renderOnce(const QList<Segment>& segments, QImage& result) {
    Canvas canvas;
    ThreadTimer timer;
    timer.start();
    for (const Segment& s : segments)
        canvas.lineWrite(s.ox, s.oy, s.x, s.y, s.wdt, s.colour);
    const double seconds = timer.seconds();
    result = canvas.image();
    return seconds;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lineCount = argc > 1 ? std::max(1, atoi(argv[1])) : 200000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    const GeneratedLog log = generate(lineCount);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.skl"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(log.text) != log.text.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    file.close();
    const QString text = protocol::fromCp932(log.text);

    Played play{1e9, 1e9};
    double render = 1e9, apply = 1e9;
    QImage played, rendered;
    for (int run = 0; run < runs; ++run) {
        const Played once = playOnce(path, played);
        play.total = std::min(play.total, once.total);
        play.reading = std::min(play.reading, once.reading);
        render = std::min(render, renderOnce(log.segments, rendered));
        apply = std::min(apply, applyOnce(text));
    }

    const double overhead = play.total - render;
    const auto share = [&](double part) { return 100.0 * part / play.total; };
    std::printf("log playback, %d lines (%lld segments, %.1f MB), best of %d runs, speed 一瞬\n",
                log.lines, qlonglong(log.segments.size()), log.text.size() / 1e6, runs);
    std::printf("  player total        %8.3f s   %10.0f lines/s\n", play.total,
                log.lines / play.total);
    std::printf("  segments alone      %8.3f s   %10.0f segments/s\n", render,
                log.segments.size() / render);
    std::printf("  ratio total/render  %8.2f\n", play.total / render);
    std::printf("  player overhead     %8.3f s   %5.1f %% of the total\n", overhead,
                share(overhead));
    std::printf("    reading the file  %8.3f s   %5.1f %%\n", play.reading, share(play.reading));
    std::printf("    reading the lines %8.3f s   %5.1f %%   (receiver alone %.3f s)\n",
                apply - render, share(apply - render), apply);
    const double screen = play.total - play.reading - apply;
    std::printf("    screen and yields %8.3f s   %5.1f %%\n", screen, share(screen));
    std::printf("  pixels identical    %s\n", played == rendered ? "yes" : "NO");
    return 0;
}
