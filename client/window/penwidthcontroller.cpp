#include "penwidthcontroller.h"

#include "picturebox.h"

#include <QAction>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

PenWidthController::PenWidthController(QSlider* slider, PictureBox* box,
                                       std::array<QAction*, 4> items, QWidget* canvas,
                                       QObject* parent)
    : QObject(parent), m_slider(slider), m_box(box), m_items(items), m_canvas(canvas) {
    m_slider->setRange(0, 3);
    connect(m_slider, &QSlider::valueChanged, this, &PenWidthController::sliderChanged);
    for (int i = 0; i < 4; ++i)
        connect(m_items[i], &QAction::triggered, this, [this, i] { chooseWidth(i); });
}

qint16 PenWidthController::value() const {
    return qint16(m_slider->value());
}

void PenWidthController::setCheckMarks(int index) {
    for (int i = 0; i < 4; ++i)
        m_items[i]->setChecked(i == index);
}

// A filled black square of side 2w+1 centred in the box, on white.
void PenWidthController::drawPenSquare(int w) {
    const QSize client = m_box->clientSize();
    const int cx = int(std::nearbyint(client.width() / 2.0));
    const int cy = int(std::nearbyint(client.height() / 2.0));
    m_box->fill(Qt::white);
    QImage& image = m_box->image();
    const int r = w >= 0 && w <= 2 ? w : 3;
    for (int dy = -r; dy <= r; ++dy) {
        for (int dx = -r; dx <= r; ++dx) {
            if (image.rect().contains(cx + dx, cy + dy))
                image.setPixel(cx + dx, cy + dy, 0xff000000u);
        }
    }
    m_box->update();
}

void PenWidthController::sliderChanged() {
    const qint16 w = value();
    setCheckMarks(w);
    drawPenSquare(w);
    if (m_canvas->isVisible())
        m_canvas->setFocus(Qt::OtherFocusReason);
    emit widthChosen(w);
}

void PenWidthController::chooseWidth(int index) {
    {
        const QSignalBlocker quiet(m_slider); // run the change handling once, below
        m_slider->setValue(index);
    }
    sliderChanged();
    setCheckMarks(index);
}
