#pragma once

#include <QPointF>
#include <QWidget>

class Canvas;

// The canvas on screen (pCanvas): the drawing area inside a 2-pixel sunken
// border, 1604 x 1204 pixels in all. It paints the Canvas image and turns key
// and pointer events into signals; what they mean is the tool controller's
// business. Positions are drawing-area pixels (border excluded) and keep
// coming while a button is held, also beyond the edges.
//
// What the canvas painted is repainted once per pass of the event loop: a
// burst of received lines or a batch of played log lines costs one repaint,
// not one per segment, and a log player that yields to the event loop sees
// the canvas repainted during that yield.
//
// Modifier state uses the bit values 1 Shift, 2 Ctrl, 4 Alt; for a modifier
// key itself it already includes (press) or excludes (release) that key.
class CanvasWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int Border = 2;
    static constexpr int OuterWidth = 1604, OuterHeight = 1204;
    // The bits of the modifier state.
    static constexpr int ShiftBit = 1, CtrlBit = 2, AltBit = 4;

    explicit CanvasWidget(Canvas& canvas, QWidget* parent = nullptr);

    // Widget position of a drawing-area pixel (for callers that synthesise input).
    static QPoint widgetPos(QPoint canvasPixel) { return canvasPixel + QPoint(Border, Border); }

signals:
    void keyDown(int key, int shift);
    void keyUp(int key, int shift);
    void pointerPressed(Qt::MouseButton button, QPointF pos);
    void pointerMoved(Qt::MouseButtons buttons, QPointF pos);
    void pointerReleased(Qt::MouseButton button, QPointF pos);
    // The keyboard went elsewhere: key releases no longer arrive here.
    void focusLost();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void repaintPending();
    static int shiftState(const QKeyEvent* event, bool pressed);
    static QPointF canvasPos(const QMouseEvent* event);

    Canvas& m_canvas;
};
