#pragma once

#include <QObject>
#include <array>

class PictureBox;
class QAction;
class QSlider;
class QWidget;

// The pen width: the slider sWidth (0..3) holds the value, the box pWidth shows
// the pen square in black, the four menu items mirror it with one check mark.
// Every change is told with widthChosen and the value itself (never a pixel
// count), for the drawing channel, and the keyboard focus goes back to the
// canvas so that Ctrl scrolling works at once.
class PenWidthController : public QObject {
    Q_OBJECT
public:
    PenWidthController(QSlider* slider, PictureBox* box, std::array<QAction*, 4> items,
                       QWidget* canvas, QObject* parent = nullptr);

    qint16 value() const;
    void sliderChanged();        // the slider's change handling
    void chooseWidth(int index); // a menu item; one announcement per choice

signals:
    void widthChosen(qint16 width);

private:
    void setCheckMarks(int index);
    void drawPenSquare(int w);

    QSlider* m_slider;
    PictureBox* m_box;
    std::array<QAction*, 4> m_items;
    QWidget* m_canvas;
};
