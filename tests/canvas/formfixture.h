#pragma once

#include "canvaswidget.h"
#include "fakeprompts.h"
#include "form1.h"

#include <QTest>
#include <memory>

// Hooks that record what the main window asked, in order.
class RecordingHooks : public Form1Hooks {
public:
    QStringList calls;
    int winVer = 0;
    std::function<void()> onConfLoad;
    std::function<void()> onConfSave;

    void confLoad() override
    {
        calls << "confLoad";
        if (onConfLoad)
            onConfLoad();
    }
    int getWinVer() override
    {
        calls << "getWinVer";
        return winVer;
    }
    void confSave() override
    {
        calls << "confSave";
        if (onConfSave)
            onConfSave();
    }
    void closeChatWindow() override { calls << "closeChatWindow"; }
};

// A loaded, visible main window with scripted prompts.
struct FormFixture {
    FakePrompts prompts;
    RecordingHooks hooks;
    std::unique_ptr<Form1> form;

    explicit FormFixture(bool show = true)
    {
        form = std::make_unique<Form1>(prompts);
        form->setHooks(&hooks);
        form->load();
        if (show) {
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        }
    }
    ~FormFixture()
    {
        // Closing would ask; leave without the question.
        prompts.questionAnswers.clear();
        form->hide();
    }

    CanvasWidget* canvas() const { return form->pCanvas(); }
    // Pointer input in drawing-area pixels.
    void press(QPoint p, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mousePress(canvas(), b, {}, CanvasWidget::widgetPos(p));
    }
    void move(QPoint p) { QTest::mouseMove(canvas(), CanvasWidget::widgetPos(p)); }
    void release(QPoint p, Qt::MouseButton b = Qt::LeftButton)
    {
        QTest::mouseRelease(canvas(), b, {}, CanvasWidget::widgetPos(p));
    }
    void useTool(QAction* item) { item->trigger(); }
};
