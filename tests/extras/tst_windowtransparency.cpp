#include "windowtransparency.h"

#include <QAction>
#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace {

// The menu items as the main window holds them: the submenu's own item and
// its four levels.
struct TransparencyMenu {
    QMenu menu{QStringLiteral("ウィンドウの透明度(&T)")};
    QAction* mT100 = menu.addAction(QStringLiteral("100%(不透明)"));
    QAction* mT75 = menu.addAction(QStringLiteral("75%"));
    QAction* mT50 = menu.addAction(QStringLiteral("50%"));
    QAction* mT25 = menu.addAction(QStringLiteral("25%"));

    WindowTransparency::Actions actions() { return {menu.menuAction(), mT100, mT75, mT50, mT25}; }
    QList<bool> ticks() const {
        return {mT100->isChecked(), mT75->isChecked(), mT50->isChecked(), mT25->isChecked()};
    }
};

constexpr double OneStep = 1.0 / 255.0;

} // namespace

class TestWindowTransparency : public QObject {
    Q_OBJECT
private slots:
    // Every start is opaque with 100% ticked, whatever the window had.
    void startsOpaque() {
        QWidget main;
        main.setWindowOpacity(0.25);
        TransparencyMenu menu;
        menu.mT50->setCheckable(true);
        menu.mT50->setChecked(true);
        WindowTransparency transparency(&main, menu.actions(), 2);
        QCOMPARE(main.windowOpacity(), 1.0);
        QCOMPARE(menu.ticks(), (QList<bool>{true, false, false, false}));
        QVERIFY(menu.menu.menuAction()->isEnabled());
    }

    void levelsSetOpacityAndTicks_data() {
        QTest::addColumn<QList<int>>("choices"); // indices of the items triggered in order
        QTest::addColumn<double>("opacity");
        QTest::addColumn<int>("ticked");
        QTest::newRow("75") << QList<int>{1} << 191 / 255.0 << 1;
        QTest::newRow("50") << QList<int>{2} << 128 / 255.0 << 2;
        QTest::newRow("25") << QList<int>{3} << 64 / 255.0 << 3;
        QTest::newRow("25 twice") << QList<int>{3, 3} << 64 / 255.0 << 3;
        QTest::newRow("50 then 100") << QList<int>{2, 0} << 1.0 << 0;
        QTest::newRow("100 again") << QList<int>{0, 0} << 1.0 << 0;
        QTest::newRow("75 then 25") << QList<int>{1, 3} << 64 / 255.0 << 3;
    }

    void levelsSetOpacityAndTicks() {
        QFETCH(QList<int>, choices);
        QFETCH(double, opacity);
        QFETCH(int, ticked);
        QWidget main;
        QWidget chat; // another top-level window: never affected
        QDialog dialog(&main);
        main.show();
        TransparencyMenu menu;
        WindowTransparency transparency(&main, menu.actions(), 2);
        const QList<QAction*> items{menu.mT100, menu.mT75, menu.mT50, menu.mT25};
        for (int choice : choices)
            items[choice]->trigger();

        QVERIFY2(qAbs(main.windowOpacity() - opacity) < OneStep,
                 qPrintable(QString::number(main.windowOpacity())));
        QList<bool> expected(4, false);
        expected[ticked] = true;
        QCOMPARE(menu.ticks(), expected);
        QCOMPARE(int(transparency.level()), ticked);
        QCOMPARE(chat.windowOpacity(), 1.0);
        QCOMPARE(dialog.windowOpacity(), 1.0);
    }

    // Without the platform's support the menu and its levels are disabled and
    // choosing a level anyway leaves the window opaque.
    void disabledWithoutSupport() {
        QWidget main;
        TransparencyMenu menu;
        WindowTransparency transparency(&main, menu.actions(), 0);
        QVERIFY(!menu.menu.menuAction()->isEnabled());
        for (QAction* item : {menu.mT100, menu.mT75, menu.mT50, menu.mT25})
            QVERIFY(!item->isEnabled());
        menu.mT25->trigger();
        transparency.choose(WindowTransparency::T50);
        QCOMPARE(main.windowOpacity(), 1.0);
        QCOMPARE(menu.ticks(), (QList<bool>{true, false, false, false}));
    }

    // Off X the answer comes from the platform name alone; the offscreen
    // platform must not be asked for an X connection it does not have.
    void winVerWithoutX() {
        if (QGuiApplication::platformName() == QLatin1String("xcb"))
            QSKIP("runs on the offscreen platform");
        QCOMPARE(getWinVer(), 0);
    }

    // On X the answer follows the owner of _NET_WM_CM_S0: this test takes the
    // selection itself, as a compositing manager would, and lets it go.
    void winVerFollowsTheCompositorSelection() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (runs under xvfb-run)");
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        QVERIFY(x11 && x11->connection());
        xcb_connection_t* c = x11->connection();
        QCOMPARE(getWinVer(), 0); // a bare Xvfb has no compositor

        const QByteArray name("_NET_WM_CM_S0");
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name.constData()), nullptr);
        QVERIFY(atom);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t owner = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(c, owner, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        xcb_flush(c);
        QCOMPARE(getWinVer(), 2);

        xcb_destroy_window(c, owner); // the selection goes with its owner
        xcb_flush(c);
        QCOMPARE(getWinVer(), 0);
    }
};

QTEST_MAIN(TestWindowTransparency)
#include "tst_windowtransparency.moc"
