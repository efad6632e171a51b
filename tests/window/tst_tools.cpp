// Pointer tools, palette, pen width and clear-all on a stand-alone window.
#include "colorcell.h"
#include "colorvalue.h"
#include "formfixture.h"
#include "palettecontroller.h"
#include "picturebox.h"
#include "toolcontroller.h"

#include <QScrollBar>
#include <QSlider>
#include <QTabBar>

namespace {

constexpr qint32 White = Canvas::Background;

int countColour(const Canvas& canvas, QRect area, qint32 colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += canvas.pixelValue(x, y) == colour;
    return n;
}

bool allWhite(const Canvas& canvas) {
    return countColour(canvas, QRect(0, 0, Canvas::Width, Canvas::Height), White) ==
           Canvas::Width * Canvas::Height;
}

int blackPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == 0xff000000u;
    return n;
}

void realDoubleClick(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
    QTest::mouseDClick(w, Qt::LeftButton);
    QTest::mouseRelease(w, Qt::LeftButton);
}

} // namespace

class TestTools : public QObject {
    Q_OBJECT
private slots:
    void pencilPaintsSegmentsAndRefreshesPreviewOnRelease();
    void clickWithoutMovementAndOtherButtonsPaintNothing();
    void eraserPaintsWhite();
    void ctrlScrollsThenStrokeRestartsWithoutJoin();
    void pickerTakesColourInsideOnly();
    void handScrollStopsAtTheEdges();
    void toolSelectionMarksAndPointer();
    void paletteClickAndDialogs();
    void widthSliderAndMenu();
    void clearAllAsksFirst();
};

void TestTools::pencilPaintsSegmentsAndRefreshesPreviewOnRelease() {
    FormFixture f;
    Canvas& c = f.form->canvas();
    f.useTool(f.form->controls().menu.mPencil);
    f.press({10, 10});
    QVERIFY(allWhite(c)); // a press paints nothing
    f.move({30, 10});
    f.move({30, 40});
    QCOMPARE(countColour(c, QRect(10, 10, 21, 1), 0), 21);
    QCOMPARE(countColour(c, QRect(30, 10, 1, 31), 0), 31);
    QCOMPARE(countColour(c, QRect(0, 0, 100, 100), 0), 51);
    QCOMPARE(f.form->controls().pPreview->image().pixel(0, 0), 0xffffffffu); // not yet
    f.release({30, 40});
    QCOMPARE(f.form->controls().pPreview->image().pixel(0, 0), 0xff000000u);
    QCOMPARE(f.form->controls().tools.penDown(), qint16(0));

    // Width and colour are read at every move; dragging past the edge clips.
    f.form->controls().lColPal[0]->setFocus();
    QTest::mouseClick(f.form->controls().lColPal[0], Qt::LeftButton); // red
    f.press({1590, 300});
    f.move({1595, 300});
    f.form->controls().menu.mWdt[1]->trigger();
    f.move({1700, 300});
    f.release({1700, 300});
    QCOMPARE(countColour(c, QRect(1590, 300, 5, 1), 255), 5);
    QCOMPARE(c.pixelValue(1590, 299), White);
    QCOMPARE(countColour(c, QRect(1594, 299, 6, 3), 255), 18);
}

void TestTools::clickWithoutMovementAndOtherButtonsPaintNothing() {
    FormFixture f;
    f.useTool(f.form->controls().menu.mPencil);
    f.press({50, 50});
    f.release({50, 50});
    f.press({60, 60}, Qt::RightButton);
    f.move({90, 90});
    f.release({90, 90}, Qt::RightButton);
    f.press({60, 60}, Qt::MiddleButton);
    f.move({90, 90});
    f.release({90, 90}, Qt::MiddleButton);
    QVERIFY(allWhite(f.form->canvas()));
}

void TestTools::eraserPaintsWhite() {
    FormFixture f;
    Canvas& c = f.form->canvas();
    c.lineWrite(0, 100, 200, 100, 3, 0); // rows 97..103 black
    f.useTool(f.form->controls().menu.mEraser);
    QCOMPARE(f.form->foreColor(), 0);
    f.press({50, 100});
    f.move({150, 100});
    f.release({150, 100});
    QCOMPARE(countColour(c, QRect(50, 100, 101, 1), White), 101);
    QCOMPARE(c.pixelValue(49, 100), 0);
    QCOMPARE(c.pixelValue(100, 99), 0);
    QCOMPARE(f.form->foreColor(), 0); // the pen keeps its colour
}

void TestTools::ctrlScrollsThenStrokeRestartsWithoutJoin() {
    FormFixture f;
    Canvas& c = f.form->canvas();
    ToolController& tools = f.form->controls().tools;
    f.useTool(f.form->controls().menu.mPencil);
    f.press({100, 100});
    f.move({120, 100});
    QTest::keyPress(f.canvas(), Qt::Key_Control);
    QCOMPARE(tools.shiftState(), qint16(2));
    QCOMPARE(tools.penDown(), qint16(0));
    QCOMPARE(f.canvas()->cursor().shape(), Qt::ArrowCursor);
    f.move({110, 90}); // drags the picture 10 left and 10 up
    QCOMPARE(f.form->controls().pCanvas->pos(), QPoint(-10, -10));
    QCOMPARE(tools.lastX(), qint16(120)); // the grab point stays
    QCOMPARE(countColour(c, QRect(0, 0, 300, 300), 0), 21);
    QTest::keyRelease(f.canvas(), Qt::Key_Control);
    QCOMPARE(tools.shiftState(), qint16(0));
    QCOMPARE(f.canvas()->cursor().shape(), Qt::CrossCursor);
    f.move({200, 200}); // restart: nothing painted
    QCOMPARE(tools.penDown(), qint16(1));
    QCOMPARE(countColour(c, QRect(0, 0, 300, 300), 0), 21);
    f.move({210, 200});
    f.release({210, 200});
    QCOMPARE(countColour(c, QRect(200, 200, 11, 1), 0), 11);
    QCOMPARE(countColour(c, QRect(0, 0, 300, 300), 0), 32); // no joining segment
}

void TestTools::pickerTakesColourInsideOnly() {
    FormFixture f;
    Canvas& c = f.form->canvas();
    c.lineWrite(300, 300, 300, 300, 0, 0x00ff80);
    f.useTool(f.form->controls().menu.mSpoit);
    f.press({300, 300});
    QCOMPARE(f.form->foreColor(), 0x00ff80);
    QCOMPARE(f.form->controls().palette.penColor(), 0x00ff80);
    QCOMPARE(f.form->controls().pC->image().pixel(3, 3), protocol::argbFromValue(0x00ff80));
    f.move({310, 300}); // white
    QCOMPARE(f.form->foreColor(), White);
    f.move({300, 300});
    f.move({-5, 300}); // outside: no colour there, the pen keeps its own
    QCOMPARE(f.form->foreColor(), 0x00ff80);
    f.release({-5, 300});
    f.press({1600, 20});
    f.release({1600, 20});
    QCOMPARE(f.form->foreColor(), 0x00ff80);
    QCOMPARE(c.pixelValue(300, 300), 0x00ff80); // picking paints nothing
    QCOMPARE(countColour(c, QRect(290, 290, 30, 30), White), 899);
}

void TestTools::handScrollStopsAtTheEdges() {
    FormFixture f;
    QCOMPARE(f.form->controls().tools.tool(), int(ToolController::HandScroll));
    f.press({200, 200});
    f.move({150, 180});
    QCOMPARE(f.form->controls().pCanvas->pos(), QPoint(-50, -20));
    QCOMPARE(f.form->controls().HS1->value(), 50);
    QCOMPARE(f.form->controls().VS1->value(), 20);
    f.move({400, 400}); // past the top-left corner
    QCOMPARE(f.form->controls().pCanvas->pos(), QPoint(0, 0));
    f.move({-3000, -3000}); // past the bottom-right corner
    QCOMPARE(f.form->controls().pCanvas->pos(), QPoint(-1195, -766));
    QCOMPARE(f.form->controls().HS1->value(), 1195);
    f.release({-3000, -3000});
    QVERIFY(allWhite(f.form->canvas()));
}

void TestTools::toolSelectionMarksAndPointer() {
    FormFixture f;
    Form1& w = *f.form;
    QAction* items[4] = {w.controls().menu.mPencil, w.controls().menu.mEraser,
                         w.controls().menu.mSpoit, w.controls().menu.mScroll};
    auto checked = [&] {
        QList<bool> marks;
        for (QAction* a : items)
            marks << a->isChecked();
        return marks;
    };
    QCOMPARE(checked(), (QList<bool>{false, false, false, true}));
    w.controls().menu.mEraser->trigger();
    QCOMPARE(w.controls().TabStrip1->currentIndex(), 1);
    QCOMPARE(checked(), (QList<bool>{false, true, false, false}));
    QCOMPARE(w.controls().pCanvas->cursor().shape(), Qt::CrossCursor);
    w.controls().menu.mEraser->trigger(); // choosing it again keeps the mark
    QCOMPARE(checked(), (QList<bool>{false, true, false, false}));
    w.controls().TabStrip1->setCurrentIndex(2); // a click on the tab strip
    QCOMPARE(w.controls().tools.tool(), int(ToolController::Picker));
    QCOMPARE(checked(), (QList<bool>{false, false, true, false}));
    w.controls().menu.mScroll->trigger();
    QCOMPARE(w.controls().pCanvas->cursor().shape(), Qt::ArrowCursor);
    // Ctrl released with the hand tool keeps the arrow.
    QTest::keyPress(w.controls().pCanvas, Qt::Key_Control);
    QTest::keyRelease(w.controls().pCanvas, Qt::Key_Control);
    QCOMPARE(w.controls().pCanvas->cursor().shape(), Qt::ArrowCursor);
    // Other modifier combinations do not scroll.
    QTest::keyPress(w.controls().pCanvas, Qt::Key_Control, Qt::ShiftModifier);
    QCOMPARE(w.controls().tools.shiftState(), qint16(3));
    QTest::keyRelease(w.controls().pCanvas, Qt::Key_Control, Qt::ShiftModifier);
}

void TestTools::paletteClickAndDialogs() {
    FormFixture f;
    Form1& w = *f.form;
    QTest::mouseClick(w.controls().lColPal[2], Qt::LeftButton);
    QCOMPARE(w.foreColor(), 16711680);
    QCOMPARE(w.controls().pC->image().pixel(0, 0), 0xff0000ffu);

    // Double click on cell 5: the click selects it, then the dialog redefines it.
    f.prompts.colorAnswers = {QColor(1, 2, 3)};
    realDoubleClick(w.controls().lColPal[5]);
    const qint32 chosen = 1 + 2 * 256 + 3 * 65536;
    QCOMPARE(f.prompts.count("color"), 1);
    QCOMPARE(w.paletteColor(5), chosen);
    QCOMPARE(w.foreColor(), chosen);

    // Cancel changes nothing (the click before it still selected the cell).
    f.prompts.colorAnswers = {std::nullopt};
    realDoubleClick(w.controls().lColPal[0]);
    QCOMPARE(w.paletteColor(0), 255);
    QCOMPARE(w.foreColor(), 255);

    // The pen alone through pC or the menu item; the cells keep their colours.
    f.prompts.colorAnswers = {QColor(255, 255, 255), QColor(10, 20, 30)};
    QTest::mouseDClick(w.controls().pC, Qt::LeftButton);
    QTest::mouseRelease(w.controls().pC, Qt::LeftButton);
    QCOMPARE(w.foreColor(), White);
    // A white pencil paints like the eraser.
    w.canvas().lineWrite(0, 5, 50, 5, 0, 0);
    w.controls().menu.mPencil->trigger();
    f.press({0, 5});
    f.move({50, 5});
    f.release({50, 5});
    QCOMPARE(countColour(w.canvas(), QRect(0, 5, 51, 1), White), 51);
    w.controls().menu.mColor->trigger();
    QCOMPARE(w.foreColor(), 10 + 20 * 256 + 30 * 65536);
    const qint32 cells[8] = {255, 65280, 16711680, 16777215, 16776960, chosen, 65535, 0};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.paletteColor(i), cells[i]);
}

void TestTools::widthSliderAndMenu() {
    FormFixture f;
    Form1& w = *f.form;
    auto marks = [&] {
        QList<bool> m;
        for (int i = 0; i < 4; ++i)
            m << w.controls().menu.mWdt[i]->isChecked();
        return m;
    };
    w.controls().sWidth->setValue(3);
    QCOMPARE(w.penWidth(), qint16(3));
    QCOMPARE(marks(), (QList<bool>{false, false, false, true}));
    QCOMPARE(blackPixels(w.controls().pWidth->image()), 49);
    QCOMPARE(w.controls().pWidth->image().pixel(7, 7), 0xff000000u);
    QCOMPARE(w.controls().pWidth->image().pixel(13, 13), 0xff000000u);
    QCOMPARE(w.controls().pWidth->image().pixel(14, 13), 0xffffffffu);

    w.controls().menu.mWdt[2]->trigger();
    QCOMPARE(w.controls().sWidth->value(), 2);
    QCOMPARE(marks(), (QList<bool>{false, false, true, false}));
    QCOMPARE(blackPixels(w.controls().pWidth->image()), 25);
    w.controls().menu.mWdt[2]->trigger(); // again: the mark stays
    QCOMPARE(marks(), (QList<bool>{false, false, true, false}));

    w.controls().menu.mPencil->trigger();
    f.press({100, 100});
    f.move({100, 100});
    f.release({100, 100});
    QCOMPARE(countColour(w.canvas(), QRect(90, 90, 20, 20), 0), 25);
}

void TestTools::clearAllAsksFirst() {
    FormFixture f;
    Form1& w = *f.form;
    w.controls().menu.mPencil->trigger();
    w.controls().menu.mWdt[1]->trigger();
    QTest::mouseClick(w.controls().lColPal[1], Qt::LeftButton);
    f.press({10, 10});
    f.move({600, 10});
    f.release({600, 10});
    QCOMPARE(w.controls().pPreview->image().pixel(1, 0), protocol::argbFromValue(65280));

    f.prompts.questionAnswers = {false};
    w.controls().menu.mClear->trigger();
    QCOMPARE(f.prompts.shown.last().text, QStringLiteral("全消去しますか？"));
    QCOMPARE(f.prompts.shown.last().title, QStringLiteral("消去確認"));
    QCOMPARE(w.canvas().pixelValue(300, 10), 65280);
    QCOMPARE(w.controls().pPreview->image().pixel(1, 0), protocol::argbFromValue(65280));

    f.prompts.questionAnswers = {true};
    w.controls().menu.mClear->trigger();
    QVERIFY(allWhite(w.canvas()));
    QCOMPARE(w.controls().pPreview->image().pixel(1, 0), 0xffffffffu);
    QCOMPARE(w.foreColor(), 65280);
    QCOMPARE(w.penWidth(), qint16(1));
    QCOMPARE(w.controls().tools.tool(), int(ToolController::Pencil));
}

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
