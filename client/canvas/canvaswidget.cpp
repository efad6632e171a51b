#include "canvaswidget.h"

#include "canvas.h"
#include "picturebox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

CanvasWidget::CanvasWidget(Canvas& canvas, QWidget* parent) : QWidget(parent), m_canvas(canvas) {
    setFixedSize(OuterWidth, OuterHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    // The first paint of a batch queues the repaint for the next pass of the
    // event loop; the paints after it only grow the canvas's changed area.
    connect(&m_canvas, &Canvas::changed, this, &CanvasWidget::repaintPending, Qt::QueuedConnection);
}

// Repaints at once rather than through update(): this runs inside an event
// loop pass already (possibly the one a log player yields to), and an update
// request posted now would wait for the pass after it.
void CanvasWidget::repaintPending() {
    repaint(m_canvas.takeChangedArea().translated(Border, Border));
}

void CanvasWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect outer = rect();
    if (!outer.adjusted(Border, Border, -Border, -Border).contains(event->rect()))
        PictureBox::paintBorder(painter, outer, palette());
    const QRect area = event->rect().translated(-Border, -Border) & m_canvas.image().rect();
    painter.drawImage(area.topLeft() + QPoint(Border, Border), m_canvas.image(), area);
}

int CanvasWidget::shiftState(const QKeyEvent* event, bool pressed) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    int shift = (mods & Qt::ShiftModifier ? ShiftBit : 0) |
                (mods & Qt::ControlModifier ? CtrlBit : 0) | (mods & Qt::AltModifier ? AltBit : 0);
    int own = 0;
    switch (event->key()) {
    case Qt::Key_Shift:
        own = ShiftBit;
        break;
    case Qt::Key_Control:
        own = CtrlBit;
        break;
    case Qt::Key_Alt:
        own = AltBit;
        break;
    default:
        break;
    }
    return pressed ? (shift | own) : (shift & ~own);
}

QPointF CanvasWidget::canvasPos(const QMouseEvent* event) {
    return event->position() - QPointF(Border, Border);
}

void CanvasWidget::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key(), shiftState(event, true));
}

void CanvasWidget::keyReleaseEvent(QKeyEvent* event) {
    emit keyUp(event->key(), shiftState(event, false));
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
    emit pointerPressed(event->button(), canvasPos(event));
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
    emit pointerMoved(event->buttons(), canvasPos(event));
}

void CanvasWidget::mouseReleaseEvent(QMouseEvent* event) {
    emit pointerReleased(event->button(), canvasPos(event));
}

void CanvasWidget::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    emit focusLost();
}
