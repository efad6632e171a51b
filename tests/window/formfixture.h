#pragma once

#include "canvaswidget.h"
#include "fakeprompts.h"
#include "form1.h"

#include <QTest>
#include <memory>

using client::Form1;

// A loaded, visible main window with scripted prompts.
struct FormFixture {
    FakePrompts prompts;
    std::unique_ptr<Form1> form;

    explicit FormFixture(bool show = true) {
        form = std::make_unique<Form1>(prompts);
        form->load();
        if (show) {
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        }
    }
    ~FormFixture() {
        // Closing would ask; leave without the question.
        prompts.questionAnswers.clear();
        form->hide();
    }

    CanvasWidget* canvas() const { return form->controls().pCanvas; }
    // Pointer input in drawing-area pixels.
    void press(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mousePress(canvas(), b, {}, CanvasWidget::widgetPos(p));
    }
    void move(QPoint p) { QTest::mouseMove(canvas(), CanvasWidget::widgetPos(p)); }
    void release(QPoint p, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mouseRelease(canvas(), b, {}, CanvasWidget::widgetPos(p));
    }
    void useTool(QAction* item) { item->trigger(); }
};
