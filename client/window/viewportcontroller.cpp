#include "viewportcontroller.h"

#include "canvaswidget.h"
#include "picturebox.h"
#include "viewportframe.h"

#include <QEvent>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {

constexpr int ScrollBarThickness = 17;
constexpr int RightColumn = 136; // column left edge from the right
constexpr int ViewportRightGap = 163;
constexpr int ViewportBottomGap = 20;

// Rounds to the nearest integer, halves to even.
int roundEven(double v) {
    return int(std::nearbyint(v));
}

} // namespace

ViewportController::ViewportController(const Widgets& widgets, QObject* parent)
    : QObject(parent), m_w(widgets) {
    for (QScrollBar* bar : {m_w.hs1, m_w.vs1}) {
        bar->setMinimum(0);
        bar->setSingleStep(10);
        bar->setPageStep(20);
        bar->setFocusPolicy(Qt::NoFocus);
        bar->installEventFilter(this);
    }
    connect(m_w.hs1, &QScrollBar::valueChanged, this, &ViewportController::onHorizontal);
    connect(m_w.vs1, &QScrollBar::valueChanged, this, &ViewportController::onVertical);
    connect(m_w.preview, &PictureBox::pointerMoved, this,
            [this](Qt::MouseButtons buttons, QPoint pos) {
                if (buttons == Qt::LeftButton)
                    previewDrag(pos);
            });
}

void ViewportController::layout(int w, int h) {
    const int column = w - RightColumn;
    m_w.tabStrip->setGeometry(w - 126, 8, 113, 27);
    m_w.frame1->setGeometry(column, 48, 129, 65);
    m_w.frame2->setGeometry(column, 120, 129, 65);
    m_w.frame3->setGeometry(column, 192, 129, 41);
    m_w.preview->move(column, 240);
    m_w.frame4->setGeometry(column, 352, 129, 57);

    const int outerW = std::max(0, w - ViewportRightGap);
    const int barW = outerW + ScrollBarThickness;
    // The bar never takes more than half of the height: the canvas stays in view.
    const int top = std::max(0, std::min(noticeBarHeight(barW), (h - ViewportBottomGap) / 2));
    m_w.noticeBar->setGeometry(0, 0, barW, top);
    const int outerH = std::max(0, h - ViewportBottomGap - top);
    m_w.viewport->setOuterGeometry(QRect(0, top, outerW, outerH));
    const QSize inner = m_w.viewport->innerSize();
    m_w.vs1->setVisible(inner.height() <= 1200);
    m_w.hs1->setVisible(inner.width() <= 1600);
    m_w.vs1->setGeometry(w - ViewportRightGap, top, ScrollBarThickness, outerH);
    m_w.hs1->setGeometry(0, h - ViewportBottomGap, outerW, ScrollBarThickness);
    updateScrollRanges();
}

int ViewportController::noticeBarHeight(int width) const {
    if (m_w.noticeBar->isHidden())
        return 0;
    const int wrapped = m_w.noticeBar->heightForWidth(width);
    return wrapped >= 0 ? wrapped : m_w.noticeBar->sizeHint().height();
}

int ViewportController::maxOffsetX() const {
    return std::max(0, CanvasWidget::OuterWidth - m_w.viewport->innerSize().width());
}

int ViewportController::maxOffsetY() const {
    return std::max(0, CanvasWidget::OuterHeight - m_w.viewport->innerSize().height());
}

void ViewportController::updateScrollRanges() {
    // A value beyond the new maximum is pulled back by the bar, and its change
    // handling moves the canvas with it.
    m_w.vs1->setMaximum(maxOffsetY());
    m_w.hs1->setMaximum(maxOffsetX());
}

int ViewportController::canvasLeft() const {
    return m_w.canvas->x();
}

int ViewportController::canvasTop() const {
    return m_w.canvas->y();
}

void ViewportController::placeCanvas(int left, int top) {
    m_w.canvas->move(left, top);
}

void ViewportController::scrollCanvasTo(double newLeft, double newTop) {
    newLeft = std::clamp(newLeft, -double(maxOffsetX()), 0.0);
    newTop = std::clamp(newTop, -double(maxOffsetY()), 0.0);
    const int left = roundEven(newLeft);
    const int top = roundEven(newTop);
    m_w.vs1->setValue(-top);
    m_w.hs1->setValue(-left);
    placeCanvas(left, top);
}

void ViewportController::previewDrag(QPoint previewClientPos) {
    const QSize previewOuter = m_w.preview->size();
    const QSize viewportOuter = m_w.viewport->size();
    const double newLeft = viewportOuter.width() / 2.0 - double(CanvasWidget::OuterWidth) *
                                                             previewClientPos.x() /
                                                             previewOuter.width();
    const double newTop = viewportOuter.height() / 2.0 - double(CanvasWidget::OuterHeight) *
                                                             previewClientPos.y() /
                                                             previewOuter.height();
    scrollCanvasTo(newLeft, newTop);
}

void ViewportController::focusCanvas() {
    m_w.canvas->setFocus(Qt::OtherFocusReason);
}

void ViewportController::onHorizontal(int value) {
    placeCanvas(-value, canvasTop());
    focusCanvas();
}

void ViewportController::onVertical(int value) {
    placeCanvas(canvasLeft(), -value);
    focusCanvas();
}

bool ViewportController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn)
        focusCanvas();
    return QObject::eventFilter(watched, event);
}
