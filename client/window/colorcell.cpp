#include "colorcell.h"

#include "cp932.h"
#include "qcolorvalue.h"

#include <QMouseEvent>
#include <QPainter>

ColorCell::ColorCell(QWidget* parent) : QWidget(parent) {
    setFixedSize(9, 9);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ColorCell::setColorValue(qint32 value) {
    m_value = value;
    update();
}

void ColorCell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), colorFromValue(m_value));
}

void ColorCell::mousePressEvent(QMouseEvent*) {
    m_inDoubleClick = false;
}

void ColorCell::mouseReleaseEvent(QMouseEvent* event) {
    if (m_inDoubleClick) {
        m_inDoubleClick = false;
        return;
    }
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void ColorCell::mouseDoubleClickEvent(QMouseEvent*) {
    m_inDoubleClick = true;
    emit doubleClicked();
}
