#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

class QPainter;

// A small picture surface: a 2-pixel sunken border around a client area whose
// pixels live in an off-screen image, so covering the window loses nothing.
// Used for the preview, the pen-width box and the colour box. Pointer
// positions are reported in client pixels (border excluded).
class PictureBox : public QWidget {
    Q_OBJECT
public:
    static constexpr int Border = 2;

    PictureBox(QSize outerSize, QWidget* parent = nullptr);

    QImage& image() { return m_image; }
    const QImage& image() const { return m_image; }
    QSize clientSize() const { return m_image.size(); }
    void fill(const QColor& colour);
    QColor fillColor() const { return m_fill; }

    // The sunken 2-pixel panel shared by every bordered surface.
    static void paintBorder(QPainter& painter, const QRect& outer, const QPalette& palette);

signals:
    void pointerPressed(Qt::MouseButtons buttons, QPoint clientPos);
    void pointerMoved(Qt::MouseButtons buttons, QPoint clientPos);
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QPoint clientPos(const QMouseEvent* event) const;

    QImage m_image;
    QColor m_fill = Qt::white;
};
