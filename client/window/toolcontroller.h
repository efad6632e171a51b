#pragma once

#include <QObject>
#include <QPointF>
#include <array>
#include <functional>

class Canvas;
class CanvasWidget;
class PaletteController;
class PenWidthController;
class QAction;
class QTabBar;
class ViewportController;

// Pointer and key input on the canvas and the choice of tool.
//
// A stroke is painted locally first and then told for the drawing channel,
// one signal per event: penDownAt on press (or restart when a move finds no
// stroke in progress), pencilTo/eraserTo per pencil/eraser move, penUp on
// every release. With Ctrl alone held, or with the hand tool, a left-button
// drag scrolls instead; Ctrl also ends the current stroke, so painting resumes
// with a restart and no connecting segment. Keys reach the canvas only while
// it has the keyboard focus, so losing it counts as releasing every modifier:
// a Ctrl released over another window (the chat window opened by Ctrl+M)
// leaves no hand behind.
//
// The colour picker reads the pixel under the pointer and tells colorPicked;
// outside the drawing area there is no pixel, so the pen keeps its colour and
// nothing is told.
class ToolController : public QObject {
    Q_OBJECT
public:
    enum Tool { Pencil = 1, Eraser = 2, Picker = 3, HandScroll = 4 }; // tab number

    struct Parts {
        Canvas& canvas;
        CanvasWidget* canvasWidget;
        QTabBar* tabStrip;
        std::array<QAction*, 4> toolItems; // mPencil, mEraser, mSpoit, mScroll
        PaletteController& palette;
        PenWidthController& width;
        ViewportController& viewport;
        std::function<void()> refreshPreview;
    };

    explicit ToolController(Parts parts, QObject* parent = nullptr);

    int tool() const;          // 1..4
    void selectTool(int tool); // as the menu item of that tool does

    qint16 lastX() const { return m_lastX; }
    qint16 lastY() const { return m_lastY; }
    qint16 penDown() const { return m_penDown; }
    qint16 shiftState() const { return m_shiftState; }

    void keyDown(int key, int shift);
    void keyUp(int key, int shift);
    void focusLost();
    void pointerPress(Qt::MouseButton button, QPointF pos);
    void pointerMove(Qt::MouseButtons buttons, QPointF pos);
    void pointerRelease(Qt::MouseButton button, QPointF pos);

signals:
    void penDownAt(int x, int y);
    void restart(int x, int y); // a move found no stroke in progress
    void pencilTo(int x, int y);
    void eraserTo(int x, int y);
    void penUp();
    void colorPicked(qint32 colour);

private:
    void onTabChanged(int index);
    void setCheckMarks(int tool);
    void setPointer(int tool);
    bool pick(int x, int y, qint32& picked);
    void handScroll(int x, int y);
    void paintSegment(int x, int y);

    Parts m_p;
    qint16 m_lastX = 0;
    qint16 m_lastY = 0;
    qint16 m_penDown = 0;
    qint16 m_shiftState = 0;
};
