#pragma once

#include <QObject>
#include <QPoint>

class CanvasWidget;
class PictureBox;
class QScrollBar;
class QWidget;
class ViewportFrame;

// Layout of the main window and every way of scrolling the canvas.
//
// The scroll offset is held by the canvas position inside the viewport
// (left, top: 0 or negative) and mirrored by the scroll bars (value = -left
// for HS1, -top for VS1). The largest offset is the canvas outer size minus
// the viewport inner size, where the canvas's far edge meets the viewport's
// inner edge; it is never below 0, so a viewport larger than the canvas keeps
// the canvas at the origin. Scroll bars, hand scrolling and preview dragging
// all clamp to the same range, and every scroll hands the keyboard focus back
// to the canvas so that holding Ctrl keeps working.
//
// The notice bar, while shown, takes the top of the viewport's column (the
// viewport and its vertical bar move down by its height), so a notice never
// covers the canvas.
class ViewportController : public QObject {
    Q_OBJECT
public:
    struct Widgets {
        QWidget* tabStrip;
        QWidget* frame1;
        QWidget* frame2;
        QWidget* frame3;
        QWidget* frame4;
        QWidget* noticeBar; // above the viewport while it is shown
        PictureBox* preview;
        ViewportFrame* viewport;
        CanvasWidget* canvas;
        QScrollBar* hs1;
        QScrollBar* vs1;
    };

    explicit ViewportController(const Widgets& widgets, QObject* parent = nullptr);

    // Places everything for a client area of w x h and recomputes the ranges.
    void layout(int w, int h);
    void updateScrollRanges();

    int canvasLeft() const;
    int canvasTop() const;
    void placeCanvas(int left, int top);
    int maxOffsetX() const;
    int maxOffsetY() const;

    // Scrolls so that the canvas sits at (newLeft, newTop), clamped to the
    // range; bars first, then the canvas itself.
    void scrollCanvasTo(double newLeft, double newTop);
    // Centres the viewport on the canvas point under a preview pixel.
    void previewDrag(QPoint previewClientPos);
    void focusCanvas();

private:
    int noticeBarHeight(int width) const;
    void onHorizontal(int value);
    void onVertical(int value);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Widgets m_w;
};
