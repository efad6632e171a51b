#include "viewportframe.h"

#include "picturebox.h"

#include <QPainter>

ViewportFrame::ViewportFrame(QWidget* parent) : QWidget(parent), m_client(new QWidget(this)) {
    // The area around a scrolled or small canvas shows the window-border grey.
    QPalette pal = m_client->palette();
    pal.setColor(QPalette::Window, QColor(0xc0, 0xc0, 0xc0));
    m_client->setPalette(pal);
    m_client->setAutoFillBackground(true);
    m_client->move(Border, Border);
}

void ViewportFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PictureBox::paintBorder(painter, rect(), palette());
}

void ViewportFrame::setOuterGeometry(const QRect& outer) {
    setGeometry(outer);
    m_client->setGeometry(Border, Border, qMax(0, outer.width() - 2 * Border),
                          qMax(0, outer.height() - 2 * Border));
}
