#pragma once

#include "logblocks.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>

class DrawReceiver;
class PlaybackView;
class Prompts;
class QAction;
class QWidget;

// Plays a drawing log (".skl": one downstream drawing line per "\r\n" line,
// as the server stores them) onto the canvas through the same board rules
// that apply network data, the log's undo and redo markers included, as a
// playback, so pen-up lines do not refresh the preview; the preview is
// refreshed once at the end.
//
// The whole file is read first (the progress panel says "読み込み中" and counts
// lines in thousands), gathered in blocks of 1000 lines so that appending
// never copies the text read so far; any number of blocks is allowed. Then
// the lines are applied ("描画中", progress bar) and after every `playWait`
// applied lines the player yields to the event loop once: 1000 lines with
// "一瞬", 100 with "速め", 5 with "遅め". The canvas is not cleared first; it
// repaints what was drawn during each yield.
//
// While it yields, anything may happen: network lines are applied between
// played lines, a second playback may run to its end, and the main window
// may be closed or destroyed. The player checks after each yield and stops
// without touching the window once it has gone.
class LogPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr int BlockLines = logblocks::BlockLines;
    static constexpr int NoWaitLines = 1000;
    static constexpr int HighLines = 100;
    static constexpr int SlowLines = 5;
    // Least time between two repaints of the line count while reading.
    static constexpr int CountRepaintMs = 20;

    // The speed items of the window's menu, in this order.
    enum SpeedItem { NoWaitItem, HighItem, SlowItem, SpeedItems };

    // The window's progress panel and preview, its three speed items (一瞬,
    // 速め, 遅め: one of them ticked) and the receiver that applies lines.
    struct Parts {
        PlaybackView& view;
        std::array<QAction*, SpeedItems> speedItems;
        DrawReceiver& receiver;
    };

    LogPlayer(Parts parts, Prompts& prompts, QObject* parent = nullptr);

    // Lines between two yields, from the checked speed entry.
    int playWait() const;

    // "描画ログ再生(&L)...": asks for a file and plays it; silent on cancel
    // and on any failure.
    void logPlayDialog();
    // Plays one file. False when it could not be read or the playback was
    // stopped because the window went away.
    bool logPlay(const QString& path);

    // Stops every running playback at its next yield.
    void abort() { m_abort = true; }
    bool isPlaying() const { return m_depth > 0; }

signals:
    void readProgress(qint64 linesRead); // every 1000 lines while reading
    void yielded(qint64 linesApplied);   // right before each yield

private:
    bool readBlocks(const QString& path, QList<QString>& blocks, qint64& lineCount);
    bool drawBlocks(const QList<QString>& blocks, int playWait, bool wasVisible);
    bool windowGone(bool wasVisible) const;
    void speedChosen(int entry);

    PlaybackView& m_view;
    QPointer<QWidget> m_window; // the view is only used while this is set
    std::array<QAction*, SpeedItems> m_speeds;
    DrawReceiver& m_receiver;
    Prompts& m_prompts;
    int m_depth = 0;
    bool m_abort = false;
};
