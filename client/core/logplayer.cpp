#include "logplayer.h"

#include "drawingline.h"
#include "drawreceiver.h"
#include "logblocks.h"
#include "prompts.h"
#include "undohistory.h"
#include "windowviews.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>
#include <optional>

namespace {

// Decrements the nesting depth however a playback ends; clears a pending stop
// request once the outermost playback is over.
struct DepthGuard {
    int& depth;
    bool& abort;
    explicit DepthGuard(int& d, bool& a) : depth(d), abort(a) { ++depth; }
    ~DepthGuard() {
        if (--depth == 0)
            abort = false;
    }
};

} // namespace

LogPlayer::LogPlayer(Parts parts, Prompts& prompts, QObject* parent)
    : QObject(parent), m_view(parts.view), m_window(parts.view.dialogParent()),
      m_speeds(parts.speedItems), m_receiver(parts.receiver), m_prompts(prompts) {
    // The three speed entries behave as one choice.
    for (int entry = 0; entry < SpeedItems; ++entry) {
        m_speeds[entry]->setCheckable(true);
        connect(m_speeds[entry], &QAction::triggered, this, [this, entry] { speedChosen(entry); });
    }
}

void LogPlayer::speedChosen(int entry) {
    for (int other = 0; other < SpeedItems; ++other)
        m_speeds[other]->setChecked(other == entry);
}

int LogPlayer::playWait() const {
    if (m_speeds[NoWaitItem]->isChecked())
        return NoWaitLines;
    if (m_speeds[SlowItem]->isChecked())
        return SlowLines;
    return HighLines;
}

void LogPlayer::logPlayDialog() {
    if (!m_window)
        return;
    const std::optional<QString> path = m_prompts.pickFileName(
        m_window, QStringLiteral("描画ログを開く"),
        QStringLiteral("Sketoraログファイル(*.skl);;全てのファイル(*.*)"), QStringLiteral("再生"));
    if (path)
        logPlay(*path);
}

bool LogPlayer::logPlay(const QString& path) {
    if (!m_window)
        return false;
    DepthGuard depth(m_depth, m_abort);
    const bool wasVisible = m_window->isVisible();

    m_view.showPlaybackReading();
    const int wait = playWait();

    QList<QString> blocks;
    qint64 lineCount = 0;
    if (!readBlocks(path, blocks, lineCount)) {
        m_view.hidePlayback();
        return false;
    }

    m_view.showPlaybackDrawing(lineCount);
    if (!drawBlocks(blocks, wait, wasVisible))
        return false;

    m_view.hidePlayback();
    m_view.refreshPreview();
    return true;
}

// Reads the whole file into blocks of 1000 lines (see logblocks). The count
// is shown after every block; as reading does not yield, the label is
// repainted at once, but not more often than a screen can show it: the whole
// of a large log is read in a few milliseconds, and two hundred repaints of
// the panel would cost more than the reading itself.
bool LogPlayer::readBlocks(const QString& path, QList<QString>& blocks, qint64& lineCount) {
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    file.close();

    lineCount = logblocks::readBlocks(data, blocks, [&](qint64 linesRead) {
        if (m_window) {
            const bool repaintNow = sinceRepaint.hasExpired(CountRepaintMs);
            m_view.showPlaybackLinesRead(linesRead, repaintNow);
            if (repaintNow)
                sinceRepaint.restart();
        }
        emit readProgress(linesRead);
    });
    return true;
}

// Applies the lines, yielding every `playWait` of them. The canvas widget
// repaints what the lines in between painted once, during the yield; the
// progress bar is set only at yields, since setting it per line would repaint
// it synchronously thousands of times.
//
// The board's lines go through an undo history over the canvas as it is, so
// the undo and redo markers of a log take their strokes back as the server
// did; the receiver gets what the history leaves alone (pen-up, member
// count, dropped lines) and clears the preview with a clear-all.
bool LogPlayer::drawBlocks(const QList<QString>& blocks, int playWait, bool wasVisible) {
    const QPointer<LogPlayer> self(this);
    UndoHistory history(m_receiver.board(), UndoHistory::Use::Player);
    qint64 count = 0;
    int untilYield = playWait;
    for (const QString& block : blocks) {
        qsizetype from = 0;
        QStringView piece;
        while (logblocks::nextLine(block, from, piece)) {
            if (piece.isEmpty())
                continue;
            const int cmd = history.take(piece);
            if (cmd < 0)
                m_receiver.applyLine(piece, DrawReceiver::Source::Playback);
            else if (cmd == protocol::drawing::ClearAll)
                m_view.refreshPreview();
            ++count;
            if (--untilYield > 0)
                continue;
            untilYield = playWait;
            m_view.showPlaybackProgress(count);
            emit yielded(count);
            QCoreApplication::processEvents();
            if (!self || windowGone(wasVisible))
                return false;
        }
    }
    m_view.showPlaybackProgress(count);
    return true;
}

// The window has gone when it was destroyed, when it was closed (it was
// visible at the start and is hidden now) or when a stop was requested.
bool LogPlayer::windowGone(bool wasVisible) const {
    return m_abort || !m_window || (wasVisible && !m_window->isVisible());
}
