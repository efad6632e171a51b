#pragma once

#include "canvaswidget.h"
#include "colorcell.h"
#include "drawingchannel.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form2.h"
#include "sketoraclient.h"
#include "socketendpoint.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <memory>

using client::Form1;

// One whole client in the test process, driven like a person would: the
// start-up dialog, the menus, the palette, the width slider and pointer
// strokes on the canvas widget.
struct ClientDriver {
    FakePrompts prompts;
    std::unique_ptr<SketoraClient> client;

    explicit ClientDriver(ConnectionControl::Ports ports = {}) {
        client = std::make_unique<SketoraClient>(SketoraClient::Options{&prompts, ports});
        client->start();
    }
    ~ClientDriver() { prompts.questionAnswers.clear(); }

    Form1& main() { return client->form1(); }
    const QImage& picture() { return main().canvas().image(); }

    // Types the address into the start-up dialog and presses Enter.
    // Types the address over whatever the dialog offers (the address used
    // last, once one was remembered in the settings folder).
    void connectAtStartUp(const QString& address = QStringLiteral("127.0.0.1")) {
        client->startupDialog().Text1()->clear();
        QTest::keyClicks(client->startupDialog().Text1(), address);
        QTest::keyClick(client->startupDialog().Text1(), Qt::Key_Return);
    }
    void standAlone() { client->startupDialog().Command2()->click(); }
    bool connected() {
        return client->drawing().socket().state() == 7 && client->textSocket().state() == 7;
    }

    void pickPalette(int cell) {
        QTest::mouseClick(main().controls().lColPal[cell], Qt::LeftButton);
    }
    void setWidth(int value) { main().controls().sWidth->setValue(value); }

    // One stroke through the given canvas pixels with the current tool.
    void stroke(const QList<QPoint>& points) {
        CanvasWidget* canvas = main().controls().pCanvas;
        QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(points.first()));
        for (qsizetype i = 1; i < points.size(); ++i)
            QTest::mouseMove(canvas, CanvasWidget::widgetPos(points[i]));
        QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos(points.last()));
    }
};

inline bool isWhite(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFF) != 0xFFFFFF)
                return false;
    }
    return true;
}
