#pragma once

#include "colorvalue.h"
#include "membertables.h"
#include "strokerenderer.h"

#include <QImage>
#include <QRect>
#include <QStringView>
#include <array>
#include <functional>

// The shared picture and the pens that paint it: a 1600 x 1200 Format_RGB32
// image (white at start) and one pen per sender index 0..20 (position,
// colour, width). Everything that paints a drawing line goes through here —
// the client's receiver, the log player, the server's own copy of the picture
// and the browser bridge — so every holder of the same lines holds the same
// pixels.
//
// Downstream lines are applied step by step: a step that cannot be carried
// out (a sender index beyond 20, a number that does not fit its integer
// width, a missing field) is skipped and nothing is reported. Pen-up (0),
// member count (8) and command 7 change nothing here; callers that care
// (preview refresh, status line, snapshot replies) look at the command
// themselves.
//
// Colour values are red + 256*green + 65536*blue. Values outside
// 0..16777215 are not colours: lineWrite paints nothing with them.
//
// `revision` counts changes of the picture (not of the pens), so a holder can
// cache what it derived from the pixels; a clear-all of a board that is
// already white changes nothing. The paint observer hears of every painted
// (or cleared) area, whoever painted it.
class Board {
public:
    static constexpr int Width = 1600, Height = 1200;
    static constexpr int Slots = protocol::TableSlots; // sender indices 0..20
    static constexpr qint32 Background = protocol::White;
    static constexpr qint32 EraseColor = protocol::White; // whatever the background

    struct Pen {
        qint16 x = 0;
        qint16 y = 0;
        qint32 color = 0;
        qint16 size = 0;
        bool operator==(const Pen&) const = default;
    };
    using Pens = std::array<Pen, Slots>;

    Board();

    // One stroke segment with the square pen of width value wdt (0..3, others
    // like 3), clipped to the drawing area. Returns the painted area.
    QRect lineWrite(qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 tRGB);
    void clearAll(); // fill with Background (costs nothing when already blank)

    // What one accepted line does to the board, read once: a holder that
    // replays lines (the undo history) keeps these instead of the text, and
    // applying a step is exactly applying its line. Each step of the reading
    // rules that fails is already left out: a pen down may move x only, y
    // only or both; an erase without a second coordinate moves x only.
    struct Step {
        enum Kind : quint8 { None, PenDown, Draw, Erase, MoveX, Clear, Color, Width };
        enum Axis : quint8 { X = 1, Y = 2 }; // which coordinates a pen down sets
        Kind kind = None;
        quint8 axes = 0;
        qint16 index = 0;
        qint16 x = 0;
        qint16 y = 0;
        qint32 value = 0; // colour or width
        bool paints() const { return kind == Draw || kind == Erase || kind == Clear; }
    };
    static Step readStep(qint16 i, qint16 cmd, QStringView arg);
    // Applies a step; returns the painted area.
    QRect apply(const Step& step);

    // One downstream line without its terminator: accepted with three or four
    // fields, a command below 9, index and command that fit 16 bits. Returns
    // the command applied, or -1 when the line was dropped.
    int applyLine(QStringView line);
    // Applies one accepted line: sender index i, command, argument text.
    void drawLineProc(qint16 i, qint16 cmd, QStringView arg) { apply(readStep(i, cmd, arg)); }

    // While set, segments that cannot reach `clip` are not painted (their
    // pens still move): a replay that only needs one area skips the rest.
    // Pixels inside the clip are exactly those of a full replay.
    void setClip(const QRect& clip) { m_clip = clip; }
    // Copies a Format_RGB32 picture (or part of one) onto the board at `at`.
    void paste(const QImage& pixels, QPoint at);
    void setPens(const Pens& pens) { m_pens = pens; }

    const QImage& image() const { return m_image; }
    // Colour value of a pixel, -1 outside the drawing area.
    qint32 pixelValue(int x, int y) const;
    bool isBlank() const { return isBlank(m_image); }
    // True when every pixel of a Format_RGB32 picture is Background.
    static bool isBlank(const QImage& picture);
    quint64 revision() const { return m_revision; }

    const Pens& pens() const { return m_pens; }
    const Pen& pen(int i) const { return m_pens.at(i); }

    // Replaces picture and pens at once (a snapshot). The image must be
    // Width x Height; it is converted to Format_RGB32.
    void replace(const QImage& image, const Pens& pens);

    void setPaintObserver(std::function<void(const QRect&)> observer) {
        m_observer = std::move(observer);
    }

private:
    static Step penDown(qint16 i, QStringView arg);
    static Step draw(qint16 i, QStringView arg);
    static Step erase(qint16 i, QStringView arg);
    QRect segment(Pen& pen, qint16 x, qint16 y, qint32 colour);
    void painted(const QRect& area);

    QImage m_image;
    StrokeRenderer m_renderer;
    Pens m_pens{};
    quint64 m_revision = 0;
    QRect m_clip;
    QRect m_dirty; // bounds everything painted since the last clearing
    std::function<void(const QRect&)> m_observer;
};
