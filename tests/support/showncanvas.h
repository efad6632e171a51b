#pragma once
// The visible part of the canvas as the window last painted it (grabbed from
// the screen, not read from the canvas image), and where it is in
// drawing-area pixels.
#include "canvas.h"
#include "canvaswidget.h"

#include <QImage>
#include <QRect>
#include <QScreen>
#include <QWidget>

inline QImage shownCanvas(const CanvasWidget& widget, QRect& area) {
    const QRect inner(CanvasWidget::widgetPos({0, 0}), QSize(Canvas::Width, Canvas::Height));
    const QRect visible = widget.visibleRegion().boundingRect() & inner;
    const QPoint at = widget.mapTo(widget.window(), visible.topLeft());
    area = visible.translated(-inner.topLeft());
    return widget.screen()
        ->grabWindow(widget.window()->winId(), at.x(), at.y(), visible.width(), visible.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
