// The main window: menus, start-up state, layout, scrolling and shutdown.
#include "formfixture.h"
#include "palettecontroller.h"
#include "showncanvas.h"
#include "picturebox.h"
#include "toolcontroller.h"
#include "viewportframe.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>

namespace {

// Captions of a menu in order, "-" for a separator, with shortcut and marks.
QStringList describeMenu(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            out << "-";
            continue;
        }
        QString text = a->text();
        if (!a->shortcut().isEmpty())
            text += " [" + a->shortcut().toString() + "]";
        if (a->isChecked())
            text += " *";
        if (!a->isEnabled())
            text += " (off)";
        if (a->menu())
            text += " > " + describeMenu(a->menu()).join(" | ");
        out << text;
    }
    return out;
}

QSize outerSize(const QWidget& w)
{
    return w.frameGeometry().size();
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void menuBarInOrder();
    void loadSetsStartState();
    void settingsLoadedAfterThePenIsChosen();
    void transparencyMenuFollowsPlatform();
    void layoutFollowsResize();
    void windowNeverBelow400();
    void scrollBarsHideWhenCanvasFits();
    void scrollBarsMoveCanvasAndKeepFocus();
    void resizeKeepsScrollInRange();
    void previewDragCentresAndClamps();
    void closeAsksAndShutsDownInOrder();
    void canvasRepaintsOncePerEventLoopPass();
};

void TestForm1::menuBarInOrder()
{
    FormFixture f(false);
    const QList<QAction*> top = f.form->menuBar()->actions();
    QCOMPARE(top.size(), 4);
    QCOMPARE(top[0], f.form->mFile());
    QCOMPARE(top[1], f.form->mKinou());
    QCOMPARE(top[2], f.form->mNetWork());
    QCOMPARE(top[3], f.form->mInfo());
    QCOMPARE(f.form->mFile()->text(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(f.form->mKinou()->text(), QStringLiteral("機能(&T)"));
    QCOMPARE(f.form->mNetWork()->text(), QStringLiteral("通信(&N)"));
    QCOMPARE(f.form->mInfo()->text(), QStringLiteral("情報(&I)"));

    const QStringList file = {
        "画像を保存する(&S)... [Ctrl+S]",
        "-",
        "描画ログ再生(&L)...",
        "描画速度(&V) > 一瞬(&1) | 速め(&2) * | 遅め(&3)",
        "描画ログダウンロード(&D)... (off)",
        "-",
        "終了(&X) [Ctrl+Q]"};
    QCOMPARE(describeMenu(f.form->mFile()->menu()), file);
    const QStringList kinou = {
        "鉛筆(&P) [Ctrl+P]",
        "消しゴム(&E) [Ctrl+E]",
        "スポイトツール(&S) [Ctrl+F]",
        "スクロール(&A) [Ctrl+G] *",
        "-",
        "線の太さ(&W) > 1x1ドット(&1) [Shift+F1] * | 3x3ドット(&2) [Shift+F2] | "
        "5x5ドット(&3) [Shift+F3] | 7x7ドット(&4) [Shift+F4]",
        "色指定（詳細）(&C)... [Shift+F5]",
        "全消し(&D) [Shift+F6]",
        "-",
        "ウィンドウの透明度(&T) (off) > 100%(不透明) * | 75% | 50% | 25%"};
    QCOMPARE(describeMenu(f.form->mKinou()->menu()), kinou);
    const QStringList network = {"接続(&C)... [Ctrl+T]", "再接続(&R) [Ctrl+R]",
                                 "切断(&Q) [Ctrl+D] (off)", "共有画面を取り直す(&S)",
                                 "-", "会話ウィンドウ(&M) [Ctrl+M]"};
    QCOMPARE(describeMenu(f.form->mNetWork()->menu()), network);
    QCOMPARE(describeMenu(f.form->mInfo()->menu()), QStringList{"バージョン情報(&V)"});

    QCOMPARE(f.form->mWdt(2)->text(), QStringLiteral("5x5ドット(&3)"));
    QCOMPARE(f.form->mWdt(4), nullptr);
    QCOMPARE(f.form->mLogSpeed()->menu()->actions().at(0), f.form->mLSNoWait());
    QCOMPARE(f.form->mTranse()->menu()->actions().at(3), f.form->mT25());
}

void TestForm1::loadSetsStartState()
{
    FormFixture f(false);
    Form1& w = *f.form;
    QCOMPARE(w.windowTitle(), QStringLiteral("Sketora - クライアント"));
    QCOMPARE(w.lStatus()->text(), QStringLiteral("Disconnect"));
    QCOMPARE(w.Frame3()->title(), QStringLiteral("通信状態"));
    QVERIFY(w.mCon()->isEnabled());
    QVERIFY(w.mReconnect()->isEnabled());
    QVERIFY(!w.mClose()->isEnabled());
    QVERIFY(w.mLogPlay()->isEnabled());
    QVERIFY(w.Frame4()->isHidden());
    QCOMPARE(w.WS().state(), 0);
    QCOMPARE(w.WS_txt().state(), 0);
    QVERIFY(w.addr().isEmpty());

    const qint32 defaults[8] = {255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.paletteColor(i), defaults[i]);
    QCOMPARE(w.foreColor(), 0);
    QCOMPARE(w.pC()->image().pixel(5, 5), 0xff000000u);
    QCOMPARE(w.sWidth()->value(), 0);
    QCOMPARE(w.penWidth(), qint16(0));

    QCOMPARE(w.tools().tool(), int(ToolController::HandScroll));
    QCOMPARE(w.TabStrip1()->currentIndex(), 3);
    QCOMPARE(w.pCanvas()->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(w.pCanvas()->pos(), QPoint(0, 0));
    // Viewport 413 x 442 outer, 409 x 438 inner at the design size 576 x 462.
    QCOMPARE(w.pCBase()->size(), QSize(413, 442));
    QCOMPARE(w.VS1()->maximum(), 1200 - 438 + 4);
    QCOMPARE(w.HS1()->maximum(), 1600 - 409 + 4);
    // The width box shows the 1 x 1 pen: a single black pixel at (10, 10).
    const QImage& box = w.pWidth()->image();
    QCOMPARE(box.size(), QSize(21, 21));
    int black = 0;
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 21; ++x)
            black += box.pixel(x, y) == 0xff000000u;
    QCOMPARE(black, 1);
    QCOMPARE(box.pixel(10, 10), 0xff000000u);
}

// A settings file whose cell 7 is not black must not change the start colour.
void TestForm1::settingsLoadedAfterThePenIsChosen()
{
    FakePrompts prompts;
    RecordingHooks hooks;
    Form1 form(prompts);
    int toolAtLoad = 0;
    hooks.onConfLoad = [&] {
        toolAtLoad = form.tools().tool();
        form.setPaletteColor(7, 255);
    };
    form.setHooks(&hooks);
    form.load();
    form.load(); // a second call changes nothing
    QCOMPARE(hooks.calls, (QStringList{"confLoad", "getWinVer"}));
    QCOMPARE(toolAtLoad, int(ToolController::HandScroll));
    QCOMPARE(form.paletteColor(7), 255);
    QCOMPARE(form.foreColor(), 0);
    QVERIFY(!form.setPaletteColor(8, 0));
    QVERIFY(!form.setPaletteColor(0, -1));
    QCOMPARE(form.paletteColor(0), 255);
}

void TestForm1::transparencyMenuFollowsPlatform()
{
    for (int ver : {0, 1, 2, 3}) {
        FakePrompts prompts;
        RecordingHooks hooks;
        hooks.winVer = ver;
        Form1 form(prompts);
        form.setHooks(&hooks);
        form.load();
        QCOMPARE(form.mTranse()->isEnabled(), ver == 2);
    }
}

void TestForm1::layoutFollowsResize()
{
    FormFixture f;
    Form1& w = *f.form;
    w.resize(700, 560);
    QTRY_COMPARE(w.centralWidget()->width(), 700);
    const int W = w.centralWidget()->width();
    const int H = w.centralWidget()->height();
    QCOMPARE(w.TabStrip1()->geometry(), QRect(W - 126, 8, 113, 27));
    QCOMPARE(w.Frame1()->geometry(), QRect(W - 136, 48, 129, 65));
    QCOMPARE(w.Frame2()->geometry(), QRect(W - 136, 120, 129, 65));
    QCOMPARE(w.Frame3()->geometry(), QRect(W - 136, 192, 129, 41));
    QCOMPARE(w.pPreview()->geometry(), QRect(W - 136, 240, 129, 97));
    QCOMPARE(w.Frame4()->geometry(), QRect(W - 136, 352, 129, 57));
    QCOMPARE(w.pCBase()->geometry(), QRect(0, 0, W - 163, H - 20));
    QCOMPARE(w.VS1()->geometry(), QRect(W - 163, 0, 17, H - 20));
    QCOMPARE(w.HS1()->geometry(), QRect(0, H - 20, W - 163, 17));
    QCOMPARE(w.VS1()->maximum(), 1204 - (H - 24));
    QCOMPARE(w.HS1()->maximum(), 1604 - (W - 167));
}

void TestForm1::windowNeverBelow400()
{
    FormFixture f;
    Form1& w = *f.form;
    const QSize frame = outerSize(w) - w.size(); // the outer size includes the frame
    w.resize(300, 250);
    QTRY_COMPARE(outerSize(w), QSize(400, 400));
    w.resize(450 - frame.width(), 300);
    QTRY_COMPARE(outerSize(w), QSize(450, 400));
    QCOMPARE(w.pCBase()->width(), w.centralWidget()->width() - 163);
}

void TestForm1::scrollBarsHideWhenCanvasFits()
{
    FormFixture f;
    Form1& w = *f.form;
    const int menu = w.height() - w.centralWidget()->height();
    // Viewport inner height = client height - 24: 1200 keeps the bar, 1201 hides it.
    w.resize(800, 1224 + menu);
    QTRY_COMPARE(w.centralWidget()->height(), 1224);
    QVERIFY(!w.VS1()->isHidden());
    QCOMPARE(w.VS1()->maximum(), 4);
    w.resize(800, 1225 + menu);
    QTRY_COMPARE(w.centralWidget()->height(), 1225);
    QVERIFY(w.VS1()->isHidden());
    QVERIFY(!w.HS1()->isHidden());
    w.resize(1767 + 1, 600);
    QTRY_COMPARE(w.centralWidget()->width(), 1768);
    QVERIFY(w.HS1()->isHidden());
    w.resize(1767, 600);
    QTRY_COMPARE(w.centralWidget()->width(), 1767);
    QVERIFY(!w.HS1()->isHidden());
    // Far larger than the canvas: no negative ranges, the canvas stays at the origin.
    w.resize(2000, 1500 + menu);
    QTRY_COMPARE(w.centralWidget()->width(), 2000);
    QCOMPARE(w.HS1()->maximum(), 0);
    QCOMPARE(w.VS1()->maximum(), 0);
    QCOMPARE(w.pCanvas()->pos(), QPoint(0, 0));
}

void TestForm1::scrollBarsMoveCanvasAndKeepFocus()
{
    FormFixture f;
    Form1& w = *f.form;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_VERIFY(w.pCanvas()->hasFocus());
    w.sWidth()->setFocus();
    QVERIFY(!w.pCanvas()->hasFocus());
    w.HS1()->setValue(120);
    QCOMPARE(w.pCanvas()->pos(), QPoint(-120, 0));
    QVERIFY(w.pCanvas()->hasFocus());
    w.sWidth()->setFocus();
    w.VS1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(w.pCanvas()->pos(), QPoint(-120, -10));
    w.VS1()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(w.pCanvas()->pos(), QPoint(-120, -30));
    QVERIFY(w.pCanvas()->hasFocus());
    w.HS1()->setFocus(); // a scroll bar that gets the focus hands it on
    QVERIFY(w.pCanvas()->hasFocus());
    // After the slider is used the Ctrl key reaches the canvas at once.
    w.sWidth()->setFocus();
    w.sWidth()->setValue(1);
    QVERIFY(w.pCanvas()->hasFocus());
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control);
    QCOMPARE(w.tools().shiftState(), qint16(2));
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control);
    QCOMPARE(w.tools().shiftState(), qint16(0));
}

void TestForm1::resizeKeepsScrollInRange()
{
    FormFixture f;
    Form1& w = *f.form;
    w.HS1()->setValue(w.HS1()->maximum());
    w.VS1()->setValue(w.VS1()->maximum());
    QCOMPARE(w.pCanvas()->pos(), QPoint(-1195, -766));
    w.resize(w.width() + 100, w.height() + 50);
    QTRY_COMPARE(w.HS1()->maximum(), 1095);
    QCOMPARE(w.VS1()->maximum(), 716);
    QCOMPARE(w.HS1()->value(), 1095);
    QCOMPARE(w.VS1()->value(), 716);
    QCOMPARE(w.pCanvas()->pos(), QPoint(-1095, -716));
    // The far edges meet the viewport's inner edges exactly.
    const QRect inner = w.pCBase()->client()->rect();
    QCOMPARE(w.pCanvas()->geometry().bottomRight(), inner.bottomRight());
}

void TestForm1::previewDragCentresAndClamps()
{
    FormFixture f;
    Form1& w = *f.form;
    PictureBox* preview = w.pPreview();
    auto drag = [&](QPoint client) {
        QTest::mousePress(preview, Qt::LeftButton, {}, client + QPoint(2, 2));
        QTest::mouseMove(preview, client + QPoint(2, 2));
        QTest::mouseRelease(preview, Qt::LeftButton, {}, client + QPoint(2, 2));
    };
    drag(QPoint(62, 46));
    // 413/2 - 1604*62/129 = -564.4; 442/2 - 1204*46/97 = -349.96
    QCOMPARE(w.HS1()->value(), 564);
    QCOMPARE(w.VS1()->value(), 350);
    QCOMPARE(w.pCanvas()->pos(), QPoint(-564, -350));
    drag(QPoint(0, 0));
    QCOMPARE(w.pCanvas()->pos(), QPoint(0, 0));
    drag(QPoint(124, 92));
    QCOMPARE(w.pCanvas()->pos(), QPoint(-1195, -766));
    // A press alone, or a move with the right button, scrolls nothing.
    QTest::mousePress(preview, Qt::LeftButton, {}, QPoint(30, 30));
    QCOMPARE(w.pCanvas()->pos(), QPoint(-1195, -766));
    QTest::mouseRelease(preview, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mousePress(preview, Qt::RightButton, {}, QPoint(30, 30));
    QTest::mouseMove(preview, QPoint(31, 31));
    QTest::mouseRelease(preview, Qt::RightButton, {}, QPoint(31, 31));
    QCOMPARE(w.pCanvas()->pos(), QPoint(-1195, -766));
}

void TestForm1::closeAsksAndShutsDownInOrder()
{
    FormFixture f;
    Form1& w = *f.form;
    int wsStateAtSave = -1;
    f.hooks.onConfSave = [&] { wsStateAtSave = w.WS().state(); };
    w.WS().setLocalPort(0);
    QVERIFY(w.WS().listen(QHostAddress::LocalHost)); // any open state will do

    f.prompts.questionAnswers = {false};
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(f.prompts.shown.last().text, QStringLiteral("終了しますか？"));
    QCOMPARE(f.prompts.shown.last().title, QStringLiteral("終了確認"));
    QCOMPARE(w.WS().state(), 2);
    QCOMPARE(f.hooks.calls, (QStringList{"confLoad", "getWinVer"}));

    f.prompts.questionAnswers = {true};
    w.mEnd()->trigger();
    QVERIFY(!w.isVisible());
    QCOMPARE(wsStateAtSave, 0);
    QCOMPARE(f.hooks.calls,
             (QStringList{"confLoad", "getWinVer", "confSave", "closeChatWindow"}));
    QCOMPARE(f.prompts.count("question"), 2);
}

void TestForm1::canvasRepaintsOncePerEventLoopPass()
{
    FormFixture f;
    CanvasWidget& widget = *f.form->pCanvas();
    Canvas& canvas = f.form->canvas();
    QCoreApplication::processEvents();
    PaintCounter counter;
    widget.installEventFilter(&counter);

    // Five hundred segments of a few strokes in view: one repaint, in the
    // next pass of the event loop, and it shows all of them.
    for (int i = 0; i < 500; ++i)
        canvas.lineWrite(20 + i % 100, 20 + i / 5, 21 + i % 100, 23 + i / 5, i % 4, i * 997);
    QCOMPARE(counter.paints, 0);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
    QRect area;
    QImage shown = shownCanvas(widget, area);
    QVERIFY(area.contains(QRect(17, 17, 110, 110)));
    QCOMPARE(shown, canvas.image().copy(area));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1); // nothing left over

    // Segments outside the view cost no paint; a clear repaints everything.
    canvas.lineWrite(1500, 1100, 1590, 1190, 3, 0);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
    canvas.clearAll();
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 2);
    shown = shownCanvas(widget, area);
    QCOMPARE(shown, canvas.image().copy(area));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
