// The main window: menus, start-up state, layout and scrolling.
#include "formfixture.h"
#include "noticebar.h"
#include "palettecontroller.h"
#include "picturebox.h"
#include "showncanvas.h"
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
#include <QToolButton>

namespace {

// Captions of a menu in order, "-" for a separator, with shortcut and marks.
QStringList describeMenu(QMenu* menu) {
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

QSize outerSize(const QWidget& w) {
    return w.frameGeometry().size();
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
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
    void layoutFollowsResize();
    void windowNeverBelow400();
    void scrollBarsHideWhenCanvasFits();
    void scrollBarsMoveCanvasAndKeepFocus();
    void resizeKeepsScrollInRange();
    void noticesStackAboveTheCanvasUntilClosed();
    void previewDragCentresAndClamps();
    void canvasRepaintsOncePerEventLoopPass();
};

void TestForm1::menuBarInOrder() {
    FormFixture f(false);
    const QList<QAction*> top = f.form->menuBar()->actions();
    QCOMPARE(top.size(), 5);
    QCOMPARE(top[0], f.form->controls().menu.mFile);
    QCOMPARE(top[1], f.form->controls().menu.mEdit);
    QCOMPARE(top[2], f.form->controls().menu.mKinou);
    QCOMPARE(top[3], f.form->controls().menu.mNetWork);
    QCOMPARE(top[4], f.form->controls().menu.mInfo);
    QCOMPARE(f.form->controls().menu.mFile->text(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(f.form->controls().menu.mEdit->text(), QStringLiteral("編集(&E)"));
    QCOMPARE(f.form->controls().menu.mKinou->text(), QStringLiteral("機能(&T)"));
    QCOMPARE(f.form->controls().menu.mNetWork->text(), QStringLiteral("通信(&N)"));
    QCOMPARE(f.form->controls().menu.mInfo->text(), QStringLiteral("情報(&I)"));

    const QStringList file = {"画像を保存する(&S)... [Ctrl+S]",
                              "-",
                              "描画ログ再生(&L)...",
                              "描画速度(&V) > 一瞬(&1) | 速め(&2) * | 遅め(&3)",
                              "描画ログダウンロード(&D)... (off)",
                              "-",
                              "終了(&X) [Ctrl+Q]"};
    QCOMPARE(describeMenu(f.form->controls().menu.mFile->menu()), file);
    // Offered only once a server says there is something to take back.
    const QStringList edit = {"元に戻す(&U) [Ctrl+Z] (off)", "やり直し(&Y) [Ctrl+Y] (off)"};
    QCOMPARE(describeMenu(f.form->controls().menu.mEdit->menu()), edit);
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
    QCOMPARE(describeMenu(f.form->controls().menu.mKinou->menu()), kinou);
    const QStringList network = {"接続(&C)... [Ctrl+T]",
                                 "再接続(&R) [Ctrl+R]",
                                 "切断(&Q) [Ctrl+D] (off)",
                                 "共有画面を取り直す(&S) (off)",
                                 "-",
                                 "会話ウィンドウ(&M) [Ctrl+M]"};
    QCOMPARE(describeMenu(f.form->controls().menu.mNetWork->menu()), network);
    QCOMPARE(describeMenu(f.form->controls().menu.mInfo->menu()),
             QStringList{"バージョン情報(&V)"});

    QCOMPARE(f.form->controls().menu.mWdt[2]->text(), QStringLiteral("5x5ドット(&3)"));
    QCOMPARE(f.form->controls().menu.mWdt.size(), size_t(4));
    QCOMPARE(f.form->controls().menu.mLogSpeed->menu()->actions().at(0),
             f.form->controls().menu.mLSNoWait);
    QCOMPARE(f.form->controls().menu.mTranse->menu()->actions().at(3),
             f.form->controls().menu.mT25);
}

void TestForm1::loadSetsStartState() {
    FormFixture f(false);
    Form1& w = *f.form;
    QCOMPARE(w.windowTitle(), QStringLiteral("Sketora - クライアント"));
    QCOMPARE(w.controls().lStatus->text(), QStringLiteral("Disconnect"));
    QCOMPARE(w.controls().Frame3->title(), QStringLiteral("通信状態"));
    QVERIFY(w.controls().menu.mCon->isEnabled());
    QVERIFY(w.controls().menu.mReconnect->isEnabled());
    QVERIFY(!w.controls().menu.mClose->isEnabled());
    QVERIFY(w.controls().menu.mLogPlay->isEnabled());
    QVERIFY(w.controls().Frame4->isHidden());

    const qint32 defaults[8] = {255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0};
    for (int i = 0; i < 8; ++i)
        QCOMPARE(w.paletteColor(i), defaults[i]);
    QCOMPARE(w.foreColor(), 0);
    QCOMPARE(w.controls().pC->image().pixel(5, 5), 0xff000000u);
    QCOMPARE(w.controls().sWidth->value(), 0);
    QCOMPARE(w.penWidth(), qint16(0));

    QCOMPARE(w.controls().tools.tool(), int(ToolController::HandScroll));
    QCOMPARE(w.controls().TabStrip1->currentIndex(), 3);
    QCOMPARE(w.controls().pCanvas->cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(0, 0));
    // Viewport 413 x 442 outer, 409 x 438 inner at the design size 576 x 462.
    QCOMPARE(w.controls().pCBase->size(), QSize(413, 442));
    QCOMPARE(w.controls().VS1->maximum(), 1200 - 438 + 4);
    QCOMPARE(w.controls().HS1->maximum(), 1600 - 409 + 4);
    // The width box shows the 1 x 1 pen: a single black pixel at (10, 10).
    const QImage& box = w.controls().pWidth->image();
    QCOMPARE(box.size(), QSize(21, 21));
    int black = 0;
    for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 21; ++x)
            black += box.pixel(x, y) == 0xff000000u;
    QCOMPARE(black, 1);
    QCOMPARE(box.pixel(10, 10), 0xff000000u);
}

void TestForm1::layoutFollowsResize() {
    FormFixture f;
    Form1& w = *f.form;
    w.resize(700, 560);
    QTRY_COMPARE(w.centralWidget()->width(), 700);
    const int W = w.centralWidget()->width();
    const int H = w.centralWidget()->height();
    QCOMPARE(w.controls().TabStrip1->geometry(), QRect(W - 126, 8, 113, 27));
    QCOMPARE(w.controls().Frame1->geometry(), QRect(W - 136, 48, 129, 65));
    QCOMPARE(w.controls().Frame2->geometry(), QRect(W - 136, 120, 129, 65));
    QCOMPARE(w.controls().Frame3->geometry(), QRect(W - 136, 192, 129, 41));
    QCOMPARE(w.controls().pPreview->geometry(), QRect(W - 136, 240, 129, 97));
    QCOMPARE(w.controls().Frame4->geometry(), QRect(W - 136, 352, 129, 57));
    QCOMPARE(w.controls().pCBase->geometry(), QRect(0, 0, W - 163, H - 20));
    QCOMPARE(w.controls().VS1->geometry(), QRect(W - 163, 0, 17, H - 20));
    QCOMPARE(w.controls().HS1->geometry(), QRect(0, H - 20, W - 163, 17));
    QCOMPARE(w.controls().VS1->maximum(), 1204 - (H - 24));
    QCOMPARE(w.controls().HS1->maximum(), 1604 - (W - 167));
}

void TestForm1::windowNeverBelow400() {
    FormFixture f;
    Form1& w = *f.form;
    const QSize frame = outerSize(w) - w.size(); // the outer size includes the frame
    w.resize(300, 250);
    QTRY_COMPARE(outerSize(w), QSize(400, 400));
    w.resize(450 - frame.width(), 300);
    QTRY_COMPARE(outerSize(w), QSize(450, 400));
    QCOMPARE(w.controls().pCBase->width(), w.centralWidget()->width() - 163);
}

void TestForm1::scrollBarsHideWhenCanvasFits() {
    FormFixture f;
    Form1& w = *f.form;
    const int menu = w.height() - w.centralWidget()->height();
    // Viewport inner height = client height - 24: 1200 keeps the bar, 1201 hides it.
    w.resize(800, 1224 + menu);
    QTRY_COMPARE(w.centralWidget()->height(), 1224);
    QVERIFY(!w.controls().VS1->isHidden());
    QCOMPARE(w.controls().VS1->maximum(), 4);
    w.resize(800, 1225 + menu);
    QTRY_COMPARE(w.centralWidget()->height(), 1225);
    QVERIFY(w.controls().VS1->isHidden());
    QVERIFY(!w.controls().HS1->isHidden());
    w.resize(1767 + 1, 600);
    QTRY_COMPARE(w.centralWidget()->width(), 1768);
    QVERIFY(w.controls().HS1->isHidden());
    w.resize(1767, 600);
    QTRY_COMPARE(w.centralWidget()->width(), 1767);
    QVERIFY(!w.controls().HS1->isHidden());
    // Far larger than the canvas: no negative ranges, the canvas stays at the origin.
    w.resize(2000, 1500 + menu);
    QTRY_COMPARE(w.centralWidget()->width(), 2000);
    QCOMPARE(w.controls().HS1->maximum(), 0);
    QCOMPARE(w.controls().VS1->maximum(), 0);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(0, 0));
}

void TestForm1::scrollBarsMoveCanvasAndKeepFocus() {
    FormFixture f;
    Form1& w = *f.form;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_VERIFY(w.controls().pCanvas->hasFocus());
    w.controls().sWidth->setFocus();
    QVERIFY(!w.controls().pCanvas->hasFocus());
    w.controls().HS1->setValue(120);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-120, 0));
    QVERIFY(w.controls().pCanvas->hasFocus());
    w.controls().sWidth->setFocus();
    w.controls().VS1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-120, -10));
    w.controls().VS1->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-120, -30));
    QVERIFY(w.controls().pCanvas->hasFocus());
    w.controls().HS1->setFocus(); // a scroll bar that gets the focus hands it on
    QVERIFY(w.controls().pCanvas->hasFocus());
    // After the slider is used the Ctrl key reaches the canvas at once.
    w.controls().sWidth->setFocus();
    w.controls().sWidth->setValue(1);
    QVERIFY(w.controls().pCanvas->hasFocus());
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control);
    QCOMPARE(w.controls().tools.shiftState(), qint16(2));
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control);
    QCOMPARE(w.controls().tools.shiftState(), qint16(0));
}

void TestForm1::resizeKeepsScrollInRange() {
    FormFixture f;
    Form1& w = *f.form;
    w.controls().HS1->setValue(w.controls().HS1->maximum());
    w.controls().VS1->setValue(w.controls().VS1->maximum());
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-1195, -766));
    w.resize(w.width() + 100, w.height() + 50);
    QTRY_COMPARE(w.controls().HS1->maximum(), 1095);
    QCOMPARE(w.controls().VS1->maximum(), 716);
    QCOMPARE(w.controls().HS1->value(), 1095);
    QCOMPARE(w.controls().VS1->value(), 716);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-1095, -716));
    // The far edges meet the viewport's inner edges exactly.
    const QRect inner = w.controls().pCBase->client()->rect();
    QCOMPARE(w.controls().pCanvas->geometry().bottomRight(), inner.bottomRight());
}

// Notices take the top of the viewport's column, newest first, one line per
// kind; the canvas keeps the rest, scrollable to its far edge, and gets the
// space back when the last notice goes.
void TestForm1::noticesStackAboveTheCanvasUntilClosed() {
    FormFixture f;
    Form1& w = *f.form;
    NoticeBar* bar = w.controls().notices;
    const QRect viewport = w.controls().pCBase->geometry();
    QVERIFY(bar->isHidden());

    w.showNotice(NoticeKind::BackupWritten, QStringLiteral("控え 1"));
    w.showNotice(NoticeKind::LocalView, QStringLiteral("ローカル表示"));
    w.showNotice(NoticeKind::BackupWritten, QStringLiteral("控え 2"));
    QCOMPARE(bar->kinds(),
             (std::vector<NoticeKind>{NoticeKind::BackupWritten, NoticeKind::LocalView}));
    QCOMPARE(bar->text(NoticeKind::BackupWritten), QStringLiteral("控え 2"));
    QTRY_VERIFY(bar->isVisible() && bar->height() > 0);
    QCOMPARE(w.controls().pCBase->y(), bar->geometry().bottom() + 1);
    QCOMPARE(w.controls().pCBase->geometry().bottom(), viewport.bottom());
    QCOMPARE(w.controls().VS1->y(), w.controls().pCBase->y());
    w.controls().VS1->setValue(w.controls().VS1->maximum());
    QCOMPARE(w.controls().pCanvas->geometry().bottom(),
             w.controls().pCBase->client()->rect().bottom());

    // Closed by the person, or cleared because its condition ended.
    QTest::mouseClick(bar->closeButton(NoticeKind::BackupWritten), Qt::LeftButton);
    QCOMPARE(bar->kinds(), std::vector<NoticeKind>{NoticeKind::LocalView});
    w.clearNotice(NoticeKind::LocalView);
    w.clearNotice(NoticeKind::LocalView); // already gone: nothing happens
    QVERIFY(bar->isHidden());
    QCOMPARE(w.controls().pCBase->geometry(), viewport);
}

void TestForm1::previewDragCentresAndClamps() {
    FormFixture f;
    Form1& w = *f.form;
    PictureBox* preview = w.controls().pPreview;
    auto drag = [&](QPoint client) {
        QTest::mousePress(preview, Qt::LeftButton, {}, client + QPoint(2, 2));
        QTest::mouseMove(preview, client + QPoint(2, 2));
        QTest::mouseRelease(preview, Qt::LeftButton, {}, client + QPoint(2, 2));
    };
    drag(QPoint(62, 46));
    // 413/2 - 1604*62/129 = -564.4; 442/2 - 1204*46/97 = -349.96
    QCOMPARE(w.controls().HS1->value(), 564);
    QCOMPARE(w.controls().VS1->value(), 350);
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-564, -350));
    drag(QPoint(0, 0));
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(0, 0));
    drag(QPoint(124, 92));
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-1195, -766));
    // A press alone, or a move with the right button, scrolls nothing.
    QTest::mousePress(preview, Qt::LeftButton, {}, QPoint(30, 30));
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-1195, -766));
    QTest::mouseRelease(preview, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mousePress(preview, Qt::RightButton, {}, QPoint(30, 30));
    QTest::mouseMove(preview, QPoint(31, 31));
    QTest::mouseRelease(preview, Qt::RightButton, {}, QPoint(31, 31));
    QCOMPARE(w.controls().pCanvas->pos(), QPoint(-1195, -766));
}

void TestForm1::canvasRepaintsOncePerEventLoopPass() {
    FormFixture f;
    CanvasWidget& widget = *f.form->controls().pCanvas;
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
