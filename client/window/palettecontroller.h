#pragma once

#include <QObject>
#include <array>

class Canvas;
class ColorCell;
class PictureBox;
class Prompts;
class QWidget;

// The eight palette cells, the colour box pC and the pen colour.
//
// The pen colour is the canvas's fore colour and pC always shows the same
// value. A click on a cell takes its colour as pen colour; a double click (which
// arrives after the click) redefines the cell through the colour dialog; a
// double click on pC, or the menu item, picks a pen colour without touching the
// cells. Every choice is told with penColorChosen, for the drawing channel,
// also when the colour did not actually change.
class PaletteController : public QObject {
    Q_OBJECT
public:
    static constexpr int Cells = 8;
    static const std::array<qint32, Cells>
        DefaultColors;                  // red, green, blue, white, cyan, magenta, yellow, black
    static constexpr int BlackCell = 7; // the start pen

    PaletteController(Canvas& canvas, PictureBox* colorBox, std::array<ColorCell*, Cells> cells,
                      Prompts& prompts, QWidget* dialogParent, QObject* parent = nullptr);

    qint32 paletteColor(int cell) const; // -1 for a cell index outside 0..7
    // False (nothing changes) for a cell outside 0..7 or a value that is not a colour.
    bool setPaletteColor(int cell, qint32 value);
    void setDefaultColors();

    qint32 penColor() const; // pC's colour, the canvas fore colour
    // pC and the fore colour take the value; false (no change) if it is not a colour.
    bool setPenColor(qint32 value);

    void clickCell(int cell);
    void doubleClickCell(int cell);
    void choosePenColor(); // double click on pC, or the menu item

signals:
    void penColorChosen(qint32 colour);

private:
    void announce();

    Canvas& m_canvas;
    PictureBox* m_colorBox;
    std::array<ColorCell*, Cells> m_cells;
    Prompts& m_prompts;
    QWidget* m_dialogParent;
};
