#pragma once

#include <QWidget>

// One palette cell: a plain 9 x 9 patch of colour without border. It reports a
// click when the button goes up over it and a double click on the second
// press; the release that ends a double click is not another click, so one
// double click reads as "click, double click".
class ColorCell : public QWidget {
    Q_OBJECT
public:
    explicit ColorCell(QWidget* parent = nullptr);

    qint32 colorValue() const { return m_value; }
    void setColorValue(qint32 value);

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    qint32 m_value = 0;
    bool m_inDoubleClick = false;
};
