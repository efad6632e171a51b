#include "palettecontroller.h"

#include "canvas.h"
#include "colorcell.h"
#include "cp932.h"
#include "picturebox.h"
#include "prompts.h"
#include "qcolorvalue.h"

const std::array<qint32, PaletteController::Cells> PaletteController::DefaultColors = {
    255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0};

PaletteController::PaletteController(Canvas& canvas, PictureBox* colorBox,
                                     std::array<ColorCell*, Cells> cells, Prompts& prompts,
                                     QWidget* dialogParent, QObject* parent)
    : QObject(parent), m_canvas(canvas), m_colorBox(colorBox), m_cells(cells), m_prompts(prompts),
      m_dialogParent(dialogParent) {
    for (int i = 0; i < Cells; ++i) {
        connect(m_cells[i], &ColorCell::clicked, this, [this, i] { clickCell(i); });
        connect(m_cells[i], &ColorCell::doubleClicked, this, [this, i] { doubleClickCell(i); });
    }
    connect(m_colorBox, &PictureBox::doubleClicked, this, &PaletteController::choosePenColor);
}

qint32 PaletteController::paletteColor(int cell) const {
    if (cell < 0 || cell >= Cells)
        return -1;
    return m_cells[cell]->colorValue();
}

bool PaletteController::setPaletteColor(int cell, qint32 value) {
    if (cell < 0 || cell >= Cells || !protocol::isColorValue(value))
        return false;
    m_cells[cell]->setColorValue(value);
    return true;
}

void PaletteController::setDefaultColors() {
    for (int i = 0; i < Cells; ++i)
        setPaletteColor(i, DefaultColors[i]);
}

qint32 PaletteController::penColor() const {
    return valueFromColor(m_colorBox->fillColor());
}

bool PaletteController::setPenColor(qint32 value) {
    if (!protocol::isColorValue(value))
        return false;
    m_colorBox->fill(colorFromValue(value));
    m_canvas.setForeColor(value);
    return true;
}

void PaletteController::announce() {
    emit penColorChosen(penColor());
}

void PaletteController::clickCell(int cell) {
    if (cell < 0 || cell >= Cells)
        return;
    setPenColor(m_cells[cell]->colorValue());
    announce();
}

void PaletteController::doubleClickCell(int cell) {
    if (cell < 0 || cell >= Cells)
        return;
    const auto chosen = m_prompts.chooseColor(m_dialogParent, colorFromValue(paletteColor(cell)));
    if (!chosen)
        return;
    const qint32 value = valueFromColor(*chosen);
    setPaletteColor(cell, value);
    setPenColor(value);
    announce();
}

void PaletteController::choosePenColor() {
    const auto chosen = m_prompts.chooseColor(m_dialogParent, colorFromValue(penColor()));
    if (!chosen)
        return;
    setPenColor(valueFromColor(*chosen));
    announce();
}
