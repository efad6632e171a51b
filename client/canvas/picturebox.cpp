#include "picturebox.h"

#include <QMouseEvent>
#include <QPainter>
#include <qdrawutil.h>

PictureBox::PictureBox(QSize outerSize, QWidget* parent)
    : QWidget(parent), m_image(outerSize.width() - 2 * Border, outerSize.height() - 2 * Border,
                               QImage::Format_RGB32) {
    setFixedSize(outerSize);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_image.fill(m_fill);
}

void PictureBox::fill(const QColor& colour) {
    m_fill = colour;
    m_image.fill(colour);
    update();
}

void PictureBox::paintBorder(QPainter& painter, const QRect& outer, const QPalette& palette) {
    qDrawWinPanel(&painter, outer, palette, true, nullptr);
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintBorder(painter, rect(), palette());
    painter.drawImage(Border, Border, m_image);
}

QPoint PictureBox::clientPos(const QMouseEvent* event) const {
    return event->position().toPoint() - QPoint(Border, Border);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    emit pointerPressed(event->buttons(), clientPos(event));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    emit pointerMoved(event->buttons(), clientPos(event));
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    emit pointerPressed(event->buttons(), clientPos(event));
    emit doubleClicked();
}
