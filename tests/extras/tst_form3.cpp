#include "form3.h"

#include "fakeprompts.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestForm3 : public QObject {
    Q_OBJECT
private slots:
    void showsBannerIconAndVersion() {
        QWidget main;
        Form3 form(&main);
        QCOMPARE(form.windowTitle(), QStringLiteral("バージョン情報"));
        QCOMPARE(form.size(), QSize(197, 133));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.windowType(), Qt::Tool);
        QVERIFY(
            !(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));

        QCOMPARE(form.label1()->text(), QStringLiteral("Version 0.3b"));
        QCOMPARE(form.label1()->font().family(), QStringLiteral("MS UI Gothic"));
        QCOMPARE(form.label1()->font().pointSizeF(), 11.25);
        QCOMPARE(form.label1()->geometry(), QRect(104, 96, 89, 17));

        QCOMPARE(form.image1()->geometry(), QRect(0, 0, 201, 97));
        QCOMPARE(form.image1()->pixmap().size(), QSize(201, 97));
        QCOMPARE(form.image2()->geometry(), QRect(16, 96, 41, 33));
        QVERIFY(!form.image2()->pixmap().isNull());
    }

    // Image2 shows the main window's own icon when it has one.
    void showsTheMainWindowsIcon() {
        QWidget main;
        QPixmap red(32, 32);
        red.fill(Qt::red);
        main.setWindowIcon(QIcon(red));
        Form3 form(&main);
        const QImage shown = form.image2()->pixmap().toImage();
        QCOMPARE(shown.pixelColor(10, 10), QColor(Qt::red));
    }

    // Half the main window's outer size less 20 twips (4/3 pixel), measured
    // from the screen's corner: where the main window stands plays no part.
    void placementDependsOnlyOnTheMainWindowsSize() {
        QCOMPARE(Form3::placementFor(QSize(576, 462)), QPoint(287, 230));
        QCOMPARE(Form3::placementFor(QSize(400, 400)), QPoint(199, 199));

        QWidget main;
        main.resize(500, 420);
        main.move(10, 20);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        const QSize outer = main.frameGeometry().size();
        const QPoint first = Form3(&main).pos();
        main.move(200, 150);
        QCOMPARE(Form3(&main).pos(), first);
        QCOMPARE(first, Form3::placementFor(outer));
    }

    // The menu command beeps, then holds the main window until the box is
    // closed.
    void menuCommandBeepsAndShowsModal() {
        QWidget main;
        auto* button = new QPushButton("x", &main);
        main.resize(300, 300);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QSignalSpy clicks(button, &QPushButton::clicked);
        // Clicks go through the window system, where a modal box blocks them.
        const QPoint buttonCentre = button->geometry().center();
        const auto clickButton = [&] {
            QTest::mouseClick(main.windowHandle(), Qt::LeftButton, {}, buttonCentre);
        };
        clickButton();
        QCOMPARE(clicks.size(), 1); // the click reaches the button while no box is open

        FakePrompts prompts;
        VersionCommand command(prompts, &main);
        QAction mVersion;
        command.attach(&mVersion);

        bool sawForm = false;
        int beepsWhileOpen = -1;
        QTimer::singleShot(0, this, [&] {
            auto* form = qobject_cast<Form3*>(QApplication::activeModalWidget());
            sawForm = form != nullptr;
            beepsWhileOpen = prompts.beeps;
            clickButton();
            if (form)
                form->close();
        });
        mVersion.trigger();

        QVERIFY(sawForm);
        QCOMPARE(beepsWhileOpen, 1);
        QCOMPARE(clicks.size(), 1); // blocked while the box was open
        QVERIFY(!QApplication::activeModalWidget());
    }
};

QTEST_MAIN(TestForm3)
#include "tst_form3.moc"
