#include "logplayer.h"

#include "drawingline.h"
#include "drawreceiver.h"
#include "form1.h"
#include "logblocks.h"
#include "prompts.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <array>
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

LogPlayer::LogPlayer(Form1& main, DrawReceiver& receiver, Prompts& prompts, QObject* parent)
    : QObject(parent), m_main(&main), m_receiver(receiver), m_prompts(prompts) {
    // The three speed entries behave as one choice.
    const std::array<QAction*, 3> speeds{main.mLSNoWait(), main.mLSHigh(), main.mLSslow()};
    for (int entry = 0; entry < 3; ++entry) {
        speeds[entry]->setCheckable(true);
        connect(speeds[entry], &QAction::triggered, this, [this, entry] { speedChosen(entry); });
    }
}

void LogPlayer::speedChosen(int entry) {
    if (!m_main)
        return;
    m_main->mLSNoWait()->setChecked(entry == 0);
    m_main->mLSHigh()->setChecked(entry == 1);
    m_main->mLSslow()->setChecked(entry == 2);
}

int LogPlayer::playWait() const {
    if (m_main && m_main->mLSNoWait()->isChecked())
        return NoWaitLines;
    if (m_main && m_main->mLSslow()->isChecked())
        return SlowLines;
    return HighLines;
}

void LogPlayer::logPlayDialog() {
    if (!m_main)
        return;
    const std::optional<QString> path =
        m_prompts.pickFileName(m_main, QStringLiteral("名前を付けて保存"),
                               QStringLiteral("Sketoraログファイル(*.skl);;全てのファイル(*.*)"));
    if (path)
        logPlay(*path);
}

bool LogPlayer::logPlay(const QString& path) {
    if (!m_main)
        return false;
    DepthGuard depth(m_depth, m_abort);
    Form1& main = *m_main;
    const bool wasVisible = main.isVisible();

    main.logLabel()->setText(QStringLiteral("読み込み中"));
    main.lCnt()->setText(QStringLiteral("0"));
    main.lCnt()->show();
    main.pBar()->hide();
    main.Frame4()->show();
    const int wait = playWait();

    QList<QString> blocks;
    qint64 lineCount = 0;
    if (!readBlocks(path, blocks, lineCount)) {
        main.Frame4()->hide();
        return false;
    }

    main.lCnt()->setText(QString::number(lineCount));
    main.lCnt()->repaint();
    main.logLabel()->setText(QStringLiteral("描画中"));
    main.lCnt()->hide();
    main.pBar()->setRange(0, int(lineCount));
    main.pBar()->setValue(0);
    main.pBar()->show();

    if (!drawBlocks(blocks, wait, wasVisible))
        return false;

    main.Frame4()->hide();
    main.refreshPreview();
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
        if (m_main) {
            m_main->lCnt()->setText(QString::number(linesRead));
            if (sinceRepaint.hasExpired(CountRepaintMs)) {
                m_main->lCnt()->repaint();
                sinceRepaint.restart();
            }
        }
        emit readProgress(linesRead);
    });
    return true;
}

// Applies the lines, yielding every `playWait` of them. The canvas widget
// repaints what the lines in between painted once, during the yield; the
// progress bar is set only at yields, since setting it per line would repaint
// it synchronously thousands of times.
bool LogPlayer::drawBlocks(const QList<QString>& blocks, int playWait, bool wasVisible) {
    const QPointer<LogPlayer> self(this);
    qint64 count = 0;
    int untilYield = playWait;
    for (const QString& block : blocks) {
        qsizetype from = 0;
        QStringView piece;
        while (logblocks::nextLine(block, from, piece)) {
            if (piece.isEmpty())
                continue;
            m_receiver.applyLine(piece, 1); // drawDataProc of a single line
            ++count;
            if (--untilYield > 0)
                continue;
            untilYield = playWait;
            m_main->pBar()->setValue(int(count));
            emit yielded(count);
            QCoreApplication::processEvents();
            if (!self || windowGone(wasVisible))
                return false;
        }
    }
    m_main->pBar()->setValue(int(count));
    return true;
}

// The window has gone when it was destroyed, when it was closed (it was
// visible at the start and is hidden now) or when a stop was requested.
bool LogPlayer::windowGone(bool wasVisible) const {
    return m_abort || !m_main || (wasVisible && !m_main->isVisible());
}
