// Stroke rendering benchmark.
//
// Typical strokes: chains of segments 1..20 px long in random directions,
// kept inside the drawing area. For each pen width value 0..3 the same
// segments are drawn three ways on same-sized Format_RGB32 images:
//   lineWrite  - Canvas::lineWrite (one walk, spans per row)
//   QPainter   - the literal definition with QPainter::drawLine, one call per
//                shifted copy (1, 9, 25 or 49 per segment)
//   literal    - the literal definition with our own one-pixel line primitive
// and lineWrite must come out pixel-identical to "literal". QPainter's own end
// point rule differs from ours, so its picture is only reported, not required.
//
// Times are the CPU time of the thread (steadier than the wall clock on a
// shared machine); lineWrite is the best of `runs` runs on a fresh canvas,
// the slow references are run once.
//
//   stroke_render [segments] [runs]   (default 200000 segments, 5 runs)
#include "canvas.h"
#include "colorvalue.h"
#include "literalstroke.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// CPU time of the calling thread since restart(), in seconds.
class ThreadTimer {
public:
    void restart() { m_start = now(); }
    double seconds() const { return now() - m_start; }

private:
    static double now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec / 1e9;
    }
    double m_start = 0;
};

struct Segment {
    qint16 ox, oy, x, y;
    qint32 colour;
};

std::vector<Segment> typicalStrokes(int count) {
    QRandomGenerator rng(20240611u);
    std::vector<Segment> out;
    out.reserve(count);
    int x = 800, y = 600;
    qint32 colour = 0;
    while (int(out.size()) < count) {
        if (out.size() % 50 == 0) { // a new stroke every 50 segments
            x = rng.bounded(0, Canvas::Width);
            y = rng.bounded(0, Canvas::Height);
            colour = qint32(rng.bounded(0, 0x1000000));
        }
        const double angle = rng.generateDouble() * 2 * M_PI;
        const double length = 1 + rng.generateDouble() * 19;
        const int nx =
            std::clamp(int(std::lround(x + length * std::cos(angle))), 0, Canvas::Width - 1);
        const int ny =
            std::clamp(int(std::lround(y + length * std::sin(angle))), 0, Canvas::Height - 1);
        out.push_back({qint16(x), qint16(y), qint16(nx), qint16(ny), colour});
        x = nx;
        y = ny;
    }
    return out;
}

QImage whiteImage() {
    QImage image(Canvas::Width, Canvas::Height, QImage::Format_RGB32);
    image.fill(protocol::argbFromValue(Canvas::Background));
    return image;
}

// Literal drawing with QPainter: every shifted copy its own drawLine.
void painterLiteral(QPainter& painter, const Segment& s, int r) {
    painter.setPen(QPen(QColor::fromRgb(protocol::argbFromValue(s.colour)), 0));
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            painter.drawLine(s.ox + dx, s.oy + dy, s.x + dx, s.y + dy);
}

qint64 differingPixels(const QImage& a, const QImage& b) {
    qint64 n = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const quint32*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const quint32*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x)
            n += la[x] != lb[x];
    }
    return n;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::vector<Segment> segments = typicalStrokes(count);
    std::printf("stroke_render: %d segments (1-20 px, random directions), image %dx%d, "
                "lineWrite best of %d runs\n\n",
                count, Canvas::Width, Canvas::Height, runs);
    std::printf("%-6s %6s | %14s %10s | %14s %10s | %14s | %7s %7s | %s\n", "pen", "lines",
                "lineWrite/s", "time", "QPainter/s", "time", "literal/s", "xQPaint", "xLiteral",
                "identical (QPainter diff px)");
    bool allIdentical = true;
    for (int wdt = 0; wdt <= 3; ++wdt) {
        const int side = 2 * wdt + 1;
        ThreadTimer timer;
        double fastSec = 1e9;
        QImage fast;
        for (int run = 0; run < runs; ++run) {
            Canvas canvas;
            timer.restart();
            for (const Segment& s : segments)
                canvas.lineWrite(s.ox, s.oy, s.x, s.y, qint16(wdt), s.colour);
            fastSec = std::min(fastSec, timer.seconds());
            fast = canvas.image();
        }

        QImage painted = whiteImage();
        QPainter painter(&painted);
        painter.setRenderHint(QPainter::Antialiasing, false);
        timer.restart();
        for (const Segment& s : segments)
            painterLiteral(painter, s, wdt);
        painter.end();
        const double painterSec = timer.seconds();

        QImage literal = whiteImage();
        timer.restart();
        for (const Segment& s : segments)
            literalLineWrite(literal, s.ox, s.oy, s.x, s.y, qint16(wdt), s.colour);
        const double literalSec = timer.seconds();

        const bool identical = differingPixels(fast, literal) == 0;
        allIdentical = allIdentical && identical;
        std::printf(
            "%dx%-4d %6d | %14.0f %9.3fs | %14.0f %9.3fs | %14.0f | %7.1f %7.1f | %s (%lld)\n",
            side, side, side * side, count / fastSec, fastSec, count / painterSec, painterSec,
            count / literalSec, painterSec / fastSec, literalSec / fastSec,
            identical ? "yes" : "NO", static_cast<long long>(differingPixels(fast, painted)));
    }
    std::printf("\nlineWrite pixel-identical to the literal one-pixel lines: %s\n",
                allIdentical ? "yes" : "NO");
    return allIdentical ? 0 : 1;
}
