#include "toolcontroller.h"

#include "canvas.h"
#include "canvaswidget.h"
#include "palettecontroller.h"
#include "penwidthcontroller.h"
#include "viewportcontroller.h"

#include <QAction>
#include <QTabBar>
#include <cmath>
#include <optional>

namespace {

constexpr int CtrlAlone = CanvasWidget::CtrlBit; // Ctrl held, Shift and Alt not

// Pointer positions are whole pixels; a 16-bit copy rounds halves to even and
// does not exist when the value is out of range.
int wholePixel(double v) {
    return int(std::nearbyint(v));
}

std::optional<qint16> int16Pixel(int v) {
    if (v < -32768 || v > 32767)
        return std::nullopt;
    return qint16(v);
}

} // namespace

ToolController::ToolController(Parts parts, QObject* parent)
    : QObject(parent), m_p(std::move(parts)) {
    connect(m_p.tabStrip, &QTabBar::currentChanged, this, &ToolController::onTabChanged);
    for (int i = 0; i < 4; ++i)
        connect(m_p.toolItems[i], &QAction::triggered, this, [this, i] { selectTool(i + 1); });
    CanvasWidget* w = m_p.canvasWidget;
    connect(w, &CanvasWidget::keyDown, this, &ToolController::keyDown);
    connect(w, &CanvasWidget::keyUp, this, &ToolController::keyUp);
    connect(w, &CanvasWidget::focusLost, this, &ToolController::focusLost);
    connect(w, &CanvasWidget::pointerPressed, this, &ToolController::pointerPress);
    connect(w, &CanvasWidget::pointerMoved, this, &ToolController::pointerMove);
    connect(w, &CanvasWidget::pointerReleased, this, &ToolController::pointerRelease);
}

int ToolController::tool() const {
    return m_p.tabStrip->currentIndex() + 1;
}

void ToolController::selectTool(int tool) {
    if (tool < Pencil || tool > HandScroll)
        return;
    if (m_p.tabStrip->currentIndex() == tool - 1)
        onTabChanged(tool - 1); // selecting the current tab raises no change
    else
        m_p.tabStrip->setCurrentIndex(tool - 1);
    setCheckMarks(tool);
}

void ToolController::onTabChanged(int index) {
    const int tool = index + 1;
    if (tool < Pencil || tool > HandScroll)
        return;
    setCheckMarks(tool);
    setPointer(tool);
}

void ToolController::setCheckMarks(int tool) {
    for (int i = 0; i < 4; ++i)
        m_p.toolItems[i]->setChecked(i + 1 == tool);
}

void ToolController::setPointer(int tool) {
    m_p.canvasWidget->setCursor(tool == HandScroll ? Qt::ArrowCursor : Qt::CrossCursor);
}

void ToolController::keyDown(int, int shift) {
    m_shiftState = qint16(shift);
    if (m_shiftState == CtrlAlone) {
        m_p.canvasWidget->setCursor(Qt::ArrowCursor);
        m_penDown = 0;
    }
}

void ToolController::keyUp(int, int shift) {
    m_shiftState = qint16(shift);
    if (tool() == HandScroll)
        return;
    m_p.canvasWidget->setCursor(Qt::CrossCursor);
}

// As if every modifier had been released here.
void ToolController::focusLost() {
    if (m_shiftState != 0)
        keyUp(0, 0);
}

// Reads the pixel under the pointer into the pen colour. False outside the
// drawing area: there the pen keeps its colour and nothing is to be sent.
bool ToolController::pick(int x, int y, qint32& picked) {
    picked = m_p.canvas.pixelValue(x, y);
    if (picked < 0)
        return false;
    m_p.palette.setPenColor(picked);
    return true;
}

void ToolController::pointerPress(Qt::MouseButton, QPointF pos) {
    const int x = wholePixel(pos.x());
    const int y = wholePixel(pos.y());
    m_penDown = 1;
    if (auto x16 = int16Pixel(x), y16 = int16Pixel(y); x16 && y16) {
        m_lastX = *x16;
        m_lastY = *y16;
    }
    qint32 picked = -1;
    const bool picking = tool() == Picker;
    const bool pickedInside = picking && pick(x, y, picked);
    if (!picking)
        emit penDownAt(x, y);
    else if (pickedInside)
        emit colorPicked(picked);
}

void ToolController::handScroll(int x, int y) {
    const double newTop = m_p.viewport.canvasTop() - (m_lastY - y);
    const double newLeft = m_p.viewport.canvasLeft() - (m_lastX - x);
    m_p.viewport.scrollCanvasTo(newLeft, newTop);
}

void ToolController::paintSegment(int x, int y) {
    const auto x16 = int16Pixel(x);
    const auto y16 = int16Pixel(y);
    if (!x16 || !y16)
        return;
    const qint32 colour = tool() == Pencil ? m_p.canvas.foreColor() : Canvas::Background;
    m_p.canvas.lineWrite(m_lastX, m_lastY, *x16, *y16, m_p.width.value(), colour);
    m_lastX = *x16;
    m_lastY = *y16;
}

void ToolController::pointerMove(Qt::MouseButtons buttons, QPointF pos) {
    const int x = wholePixel(pos.x());
    const int y = wholePixel(pos.y());
    const bool leftAlone = buttons == Qt::LeftButton;
    if (leftAlone && (tool() == HandScroll || m_shiftState == CtrlAlone)) {
        handScroll(x, y); // the grabbed point stays under the pointer: lastX/Y unchanged
        return;
    }
    if (!leftAlone)
        return;
    if (m_penDown != 1) {
        if (auto x16 = int16Pixel(x), y16 = int16Pixel(y); x16 && y16) {
            m_lastX = *x16;
            m_lastY = *y16;
        }
        m_penDown = 1;
        emit restart(x, y);
        return;
    }
    const int current = tool();
    qint32 picked = -1;
    bool pickedInside = false;
    if (current == Picker)
        pickedInside = pick(x, y, picked);
    else
        paintSegment(x, y);
    if (current == Pencil)
        emit pencilTo(x, y);
    else if (current == Eraser)
        emit eraserTo(x, y);
    else if (current == Picker && pickedInside)
        emit colorPicked(picked);
}

void ToolController::pointerRelease(Qt::MouseButton, QPointF) {
    m_penDown = 0;
    if (m_p.refreshPreview)
        m_p.refreshPreview();
    emit penUp();
}
