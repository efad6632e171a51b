#include "toolicons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

void drawPencil(QPainter& p)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(240, 200, 60));
    const QPointF body[] = {{11, 2}, {14, 5}, {6, 13}, {3, 10}};
    p.drawPolygon(body, 4);
    p.setBrush(QColor(230, 190, 150));
    const QPointF tip[] = {{3, 10}, {6, 13}, {2, 14}};
    p.drawPolygon(tip, 3);
}

void drawEraser(QPainter& p)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(250, 250, 250));
    const QPointF top[] = {{9, 2}, {14, 7}, {10, 11}, {5, 6}};
    p.drawPolygon(top, 4);
    p.setBrush(QColor(90, 120, 220));
    const QPointF bottom[] = {{5, 6}, {10, 11}, {7, 14}, {2, 9}};
    p.drawPolygon(bottom, 4);
}

void drawDropper(QPainter& p)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(QRectF(10, 1, 5, 5));
    p.setBrush(QColor(200, 230, 250));
    const QPointF tube[] = {{10, 4}, {12, 6}, {4, 14}, {2, 12}};
    p.drawPolygon(tube, 4);
}

void drawHand(QPainter& p)
{
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(250, 225, 190));
    QPainterPath hand;
    hand.addRoundedRect(QRectF(3, 7, 10, 8), 2, 2);
    for (int i = 0; i < 4; ++i)
        hand.addRoundedRect(QRectF(3 + 2.5 * i, 2 + (i == 0 || i == 3 ? 2 : 0), 2.5, 7), 1, 1);
    p.drawPath(hand.simplified());
}

} // namespace

QIcon toolIcon(int tool)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    switch (tool) {
    case 1:
        drawPencil(painter);
        break;
    case 2:
        drawEraser(painter);
        break;
    case 3:
        drawDropper(painter);
        break;
    default:
        drawHand(painter);
        break;
    }
    painter.end();
    return QIcon(pixmap);
}
