// The stroke renderer and the preview reduction, pixel by pixel.
#include "canvas.h"
#include "colorvalue.h"
#include "literalstroke.h"
#include "previewreduction.h"
#include "strokerenderer.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <ctime>

namespace {

QImage whiteImage() {
    QImage image(Canvas::Width, Canvas::Height, QImage::Format_RGB32);
    image.fill(protocol::argbFromValue(Canvas::Background));
    return image;
}

struct Segment {
    qint16 ox, oy, x, y, wdt;
    qint32 colour;
};

QString describe(const Segment& s) {
    return QStringLiteral("(%1,%2)-(%3,%4) w%5 c%6")
        .arg(s.ox)
        .arg(s.oy)
        .arg(s.x)
        .arg(s.y)
        .arg(s.wdt)
        .arg(s.colour);
}

// First differing pixel as text, or empty when the images are equal.
QString firstDifference(const QImage& a, const QImage& b) {
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const quint32*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const quint32*>(b.constScanLine(y));
        if (std::equal(la, la + a.width(), lb))
            continue;
        for (int x = 0; x < a.width(); ++x) {
            if (la[x] != lb[x])
                return QStringLiteral("pixel (%1,%2): %3 vs %4")
                    .arg(x)
                    .arg(y)
                    .arg(la[x], 0, 16)
                    .arg(lb[x], 0, 16);
        }
    }
    return {};
}

} // namespace

class TestStroke : public QObject {
    Q_OBJECT
private slots:
    void randomSegmentsMatchLiteralLines_data();
    void randomSegmentsMatchLiteralLines();
    void widthOneHorizontalExample();
    void penSquaresForEveryWidthValue();
    void copiesPastThe16BitRangeAreSkippedAlone();
    void changedAreasGatherWhatIsPainted();
    void everySlopeMatchesTheOnePixelWalk();
    void farSegmentsCostOnlyTheirVisiblePart();
    void pixelValueAndClear();
    void previewKeepsDarkThinStrokes();
    void previewCombinesMergedPixelsWithAnd();
};

void TestStroke::randomSegmentsMatchLiteralLines_data() {
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("maxLength"); // 0: end point drawn independently, -1: length 0
    QTest::addColumn<int>("groups");
    QTest::newRow("inside, short") << 0 << 1599 << 20 << 100;
    QTest::newRow("inside, long") << 0 << 1599 << 0 << 60;
    QTest::newRow("crossing the edges") << -60 << 1660 << 0 << 60;
    QTest::newRow("crossing the edges, short") << -25 << 1625 << 30 << 100;
    QTest::newRow("far outside and through") << -32768 << 32767 << 0 << 25;
    QTest::newRow("length 0") << -5 << 1604 << -1 << 40;
}

// Every segment is drawn both ways into fresh images in a random colour;
// groups of segments overlap, so the order of drawing matters as well.
void TestStroke::randomSegmentsMatchLiteralLines() {
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, maxLength);
    QFETCH(int, groups);
    QRandomGenerator rng(4711u + quint32(low) * 31u + quint32(maxLength));
    Canvas canvas;
    QImage reference = whiteImage();
    for (int group = 0; group < groups; ++group) {
        canvas.clearAll();
        reference.fill(protocol::argbFromValue(Canvas::Background));
        Segment last{};
        for (int i = 0; i < 16; ++i) {
            Segment s;
            s.ox = qint16(rng.bounded(low, high + 1));
            s.oy = qint16(rng.bounded(low, high + 1));
            if (maxLength > 0) {
                s.x = qint16(std::clamp(s.ox + rng.bounded(-maxLength, maxLength + 1), low, high));
                s.y = qint16(std::clamp(s.oy + rng.bounded(-maxLength, maxLength + 1), low, high));
            } else if (maxLength < 0) {
                s.x = s.ox;
                s.y = s.oy;
            } else {
                s.x = qint16(rng.bounded(low, high + 1));
                s.y = qint16(rng.bounded(low, high + 1));
            }
            s.wdt = qint16(rng.bounded(-1, 8));
            s.colour = qint32(rng.bounded(0, 0x1000000));
            canvas.lineWrite(s.ox, s.oy, s.x, s.y, s.wdt, s.colour);
            literalLineWrite(reference, s.ox, s.oy, s.x, s.y, s.wdt, s.colour);
            last = s;
        }
        const QString diff = firstDifference(canvas.image(), reference);
        if (!diff.isEmpty())
            QFAIL(qPrintable(
                QStringLiteral("group %1, last %2: %3").arg(group).arg(describe(last), diff)));
    }
}

void TestStroke::widthOneHorizontalExample() {
    Canvas canvas;
    canvas.lineWrite(10, 10, 20, 10, 1, 0);
    // Both end points are set, so the square also reaches column 21.
    int painted = 0;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool inside = y >= 9 && y <= 11 && x >= 9 && x <= 21;
            QCOMPARE(canvas.pixelValue(x, y), inside ? 0 : Canvas::Background);
            painted += inside;
        }
    }
    QCOMPARE(painted, 39);
}

void TestStroke::penSquaresForEveryWidthValue() {
    const int expectedSide[] = {7, 1, 3, 5, 7, 7, 7, 7, 7}; // width values -1..7
    for (int wdt = -1; wdt <= 7; ++wdt) {
        Canvas canvas;
        canvas.lineWrite(100, 100, 100, 100, qint16(wdt), 255);
        int count = 0;
        for (int y = 90; y <= 110; ++y)
            for (int x = 90; x <= 110; ++x)
                count += canvas.pixelValue(x, y) == 255;
        const int side = expectedSide[wdt + 1];
        QCOMPARE(count, side * side);
        const int r = side / 2;
        QCOMPARE(canvas.pixelValue(100 - r, 100 - r), 255);
        QCOMPARE(canvas.pixelValue(100 + r, 100 + r), 255);
    }
}

// A segment starting at x = -32768 has no room for copies shifted left. On a
// shallow rising line those copies own pixels inside the drawing area, so the
// skipped copies must show as missing pixels, and only those.
void TestStroke::copiesPastThe16BitRangeAreSkippedAlone() {
    Canvas canvas;
    canvas.lineWrite(-32768, 17000, 1000, 600, 1, 0);
    QImage reference = whiteImage();
    literalLineWrite(reference, -32768, 17000, 1000, 600, 1, 0);
    QCOMPARE(firstDifference(canvas.image(), reference), QString());

    QImage unskipped = whiteImage();
    literalLineWrite(unskipped, -32768, 17000, 1000, 600, 1, 0, false);
    QVERIFY2(!firstDifference(unskipped, reference).isEmpty(),
             "the skipped copies should have been visible");

    // The opposite corner: copies shifted right and down leave the range.
    canvas.clearAll();
    reference = whiteImage();
    canvas.lineWrite(32767, 32767, 5, 700, 3, 65280);
    literalLineWrite(reference, 32767, 32767, 5, 700, 3, 65280);
    QCOMPARE(firstDifference(canvas.image(), reference), QString());
}

// The renderer computes the rows of a segment instead of walking it; every
// slope up to 40 in each direction, from a point inside a small image and
// from far outside it, must give the walk's pixels exactly.
void TestStroke::everySlopeMatchesTheOnePixelWalk() {
    QImage drawn(48, 40, QImage::Format_RGB32);
    QImage walked(drawn.size(), QImage::Format_RGB32);
    StrokeRenderer renderer;
    const auto check = [&](int ox, int oy, int x, int y) {
        drawn.fill(0xffffffff);
        walked.fill(0xffffffff);
        renderer.paint(drawn, qint16(ox), qint16(oy), qint16(x), qint16(y), 0, 0xff000000);
        forEachLinePixel(ox, oy, x, y, [&](int px, int py) {
            if (walked.rect().contains(px, py))
                walked.setPixel(px, py, 0xff000000);
        });
        return drawn == walked;
    };
    for (int dy = -40; dy <= 40; ++dy) {
        for (int dx = -40; dx <= 40; ++dx) {
            if (!check(20, 18, 20 + dx, 18 + dy))
                QFAIL(qPrintable(QStringLiteral("from (20,18) by (%1,%2)").arg(dx).arg(dy)));
        }
    }
    QRandomGenerator rng(90210);
    for (int i = 0; i < 3000; ++i) {
        const int ox = rng.bounded(-32768, 32768), oy = rng.bounded(-32768, 32768);
        // Aimed through the image so that the rows far from the start count.
        const int tx = rng.bounded(-4, 52), ty = rng.bounded(-4, 44);
        const int x = std::clamp(ox + (tx - ox) * 2, -32768, 32767);
        const int y = std::clamp(oy + (ty - oy) * 2, -32768, 32767);
        if (!check(ox, oy, x, y))
            QFAIL(qPrintable(QStringLiteral("(%1,%2)-(%3,%4)").arg(ox).arg(oy).arg(x).arg(y)));
    }
}

// A peer can send segments between the far ends of the 16-bit range; the work
// for one must not grow with its length outside the picture. Walking them
// cost up to 28 walks of 65536 pixels per segment at the widest pen (a start
// at -32768 leaves only the copies shifted right): seconds for a few thousand
// received lines that draw nothing. Rows far from the picture are now never
// looked at, so these take no measurable time. The bound is on this
// process's own processor time, which other work on the machine does not
// lengthen, and is far above what the segments take now.
void TestStroke::farSegmentsCostOnlyTheirVisiblePart() {
    Canvas canvas;
    const std::clock_t start = std::clock();
    for (int i = 0; i < 2000; ++i) {
        canvas.lineWrite(-32768, 30000, 32764, 30003, 3, 0);
        canvas.lineWrite(32764, -30000, -32768, -29990, 3, 0);
    }
    const double cpuMs = 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 5000, qPrintable(QString::number(cpuMs)));
    QCOMPARE(firstDifference(canvas.image(), whiteImage()), QString());

    // Through the picture from corner to corner, the copies that fit are all there.
    canvas.lineWrite(-32768, -32765, 32764, 32764, 3, 255);
    QImage reference = whiteImage();
    literalLineWrite(reference, -32768, -32765, 32764, 32764, 3, 255);
    QCOMPARE(firstDifference(canvas.image(), reference), QString());
}

void TestStroke::changedAreasGatherWhatIsPainted() {
    Canvas canvas;
    QSignalSpy changed(&canvas, &Canvas::changed);
    canvas.lineWrite(0, 0, 100, 100, 3, -1);
    canvas.lineWrite(0, 0, 100, 100, 3, 16777216);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(firstDifference(canvas.image(), whiteImage()), QString());
    canvas.lineWrite(-10, -10, -5, -5, 0, 0); // entirely outside
    QCOMPARE(changed.count(), 0);
    QCOMPARE(canvas.takeChangedArea(), QRect());
    // Areas gather into one until taken, with one signal for the batch.
    canvas.lineWrite(5, 5, 6, 6, 0, 0);
    canvas.lineWrite(20, 8, 21, 9, 0, 0);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(canvas.takeChangedArea(), QRect(5, 5, 17, 5));
    canvas.lineWrite(-10, 0, 0, 0, 0, 0); // partly outside: only the inside counts
    QCOMPARE(changed.count(), 2);
    QCOMPARE(canvas.takeChangedArea(), QRect(0, 0, 1, 1));
}

void TestStroke::pixelValueAndClear() {
    Canvas canvas;
    canvas.lineWrite(1599, 1199, 1599, 1199, 0, 0x123456);
    QCOMPARE(canvas.pixelValue(1599, 1199), 0x123456);
    QCOMPARE(canvas.image().pixel(1599, 1199), 0xff563412u); // value order is B G R
    QCOMPARE(canvas.pixelValue(1600, 0), -1);
    QCOMPARE(canvas.pixelValue(0, 1200), -1);
    QCOMPARE(canvas.pixelValue(-1, 5), -1);
    canvas.clearAll();
    QCOMPARE(canvas.pixelValue(1599, 1199), Canvas::Background);
}

void TestStroke::previewKeepsDarkThinStrokes() {
    Canvas canvas;
    canvas.lineWrite(0, 600, 1599, 600, 0, 0);   // one-pixel black line across
    canvas.lineWrite(800, 0, 800, 1199, 0, 255); // one-pixel red line down
    QImage preview(125, 93, QImage::Format_RGB32);
    preview.fill(Qt::green);
    reduceByAnd(canvas.image(), QSize(1604, 1204), preview);
    const int row = 600 * 93 / 1204;  // 46
    const int col = 800 * 125 / 1604; // 62
    for (int x = 0; x < 125; ++x)
        QCOMPARE(preview.pixel(x, row), 0xff000000u);
    for (int y = 0; y < 93; ++y) {
        if (y != row)
            QCOMPARE(preview.pixel(col, y), 0xffff0000u);
    }
    QCOMPARE(preview.pixel(col + 1, row + 1), 0xffffffffu);
    QCOMPARE(preview.pixel(124, 92), 0xffffffffu); // includes the 4 columns beyond the image
}

// Pixels that merge into one preview pixel combine bitwise: red and green
// (no common bits) give black, red and white give red. Source columns 12 and
// 13 belong to different preview columns (12*125/1604 = 0, 13*125/1604 = 1).
void TestStroke::previewCombinesMergedPixelsWithAnd() {
    Canvas canvas;
    canvas.lineWrite(3, 3, 3, 3, 0, 255);          // red
    canvas.lineWrite(5, 7, 5, 7, 0, 65280);        // green, same preview pixel (0, 0)
    canvas.lineWrite(12, 20, 12, 20, 0, 255);      // red alone in preview pixel (0, 1)
    canvas.lineWrite(13, 40, 13, 40, 0, 0x00ffff); // yellow in preview pixel (1, 3)
    canvas.lineWrite(14, 41, 14, 41, 0, 0xff00ff); // magenta in the same: AND is red
    QImage preview(125, 93, QImage::Format_RGB32);
    reduceByAnd(canvas.image(), QSize(1604, 1204), preview);
    QCOMPARE(preview.pixel(0, 0), 0xff000000u);
    QCOMPARE(preview.pixel(0, 1), 0xffff0000u);
    QCOMPARE(preview.pixel(1, 1), 0xffffffffu);
    QCOMPARE(preview.pixel(1, 3), 0xffff0000u);
    QCOMPARE(preview.pixel(0, 3), 0xffffffffu);
}

QTEST_GUILESS_MAIN(TestStroke)
#include "tst_stroke.moc"
