#include "form1.h"

#include "canvaswidget.h"
#include "colorcell.h"
#include "noticebar.h"
#include "outersizefloor.h"
#include "palettecontroller.h"
#include "penwidthcontroller.h"
#include "picturebox.h"
#include "previewreduction.h"
#include "prompts.h"
#include "toolcontroller.h"
#include "toolicons.h"
#include "viewportcontroller.h"
#include "viewportframe.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>

namespace client {

namespace {

// The tool strip is 113 pixels wide; its four icon tabs share that width.
class ToolTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int) const override { return QSize(28, 27); }
};

} // namespace

Form1::Form1(Prompts& prompts, QWidget* parent)
    : QMainWindow(parent), m_prompts(prompts), m_menu(menuBar()) {
    setWindowTitle(baseTitle());
    auto* client = new QWidget(this);
    setCentralWidget(client);
    client->installEventFilter(this);
    createViewport(client);
    createRightColumn(client);
    createControllers();

    connectCommands();
    connectPenSignals();

    resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
    m_viewport->layout(DesignClientWidth, DesignClientHeight);
}

Form1::~Form1() = default;

void Form1::createViewport(QWidget* client) {
    m_notices = new NoticeBar(client);
    m_pCBase = new ViewportFrame(client);
    m_pCanvas = new CanvasWidget(m_canvas, m_pCBase->client());
    m_hs1 = new QScrollBar(Qt::Horizontal, client);
    m_vs1 = new QScrollBar(Qt::Vertical, client);
    m_pPreview = new PictureBox(QSize(129, 97), client);
}

void Form1::createRightColumn(QWidget* client) {
    m_tabStrip = new ToolTabBar(client);
    m_tabStrip->setDrawBase(false);
    m_tabStrip->setExpanding(false);
    m_tabStrip->setUsesScrollButtons(false);
    m_tabStrip->setIconSize(QSize(16, 16));
    for (int tool = ToolController::Pencil; tool <= ToolController::HandScroll; ++tool)
        m_tabStrip->addTab(toolIcon(tool), QString());
    createWidthFrame(client);
    createColorFrame(client);
    createStatusAndLogFrames(client);
}

void Form1::createWidthFrame(QWidget* client) {
    m_frame1 = new QGroupBox(QStringLiteral("線の太さ"), client);
    m_pWidth = new PictureBox(QSize(25, 25), m_frame1);
    m_pWidth->move(16, 24);
    m_sWidth = new QSlider(Qt::Horizontal, m_frame1);
    m_sWidth->setGeometry(48, 24, 73, 33);
    m_sWidth->setTickPosition(QSlider::TicksBelow);
    m_sWidth->setPageStep(1);
}

void Form1::createColorFrame(QWidget* client) {
    m_frame2 = new QGroupBox(QStringLiteral("線の色"), client);
    m_pC = new PictureBox(QSize(25, 25), m_frame2);
    m_pC->move(16, 24);
    for (int i = 0; i < 8; ++i) {
        m_lColPal[i] = new ColorCell(m_frame2);
        m_lColPal[i]->move(56 + 16 * (i % 4), 24 + 16 * (i / 4));
    }
}

void Form1::createStatusAndLogFrames(QWidget* client) {
    m_frame3 = new QGroupBox(QStringLiteral("通信状態"), client);
    m_lStatus = new QLabel(QStringLiteral("Disconnect"), m_frame3);
    m_lStatus->setGeometry(8, 18, 113, 17);

    m_frame4 = new QGroupBox(QStringLiteral("ログ"), client);
    m_logLabel = new QLabel(m_frame4);
    m_logLabel->setGeometry(8, 16, 113, 16);
    m_lCnt = new QLabel(QStringLiteral("0"), m_frame4);
    m_lCnt->setGeometry(8, 34, 113, 16);
    m_pBar = new QProgressBar(m_frame4); // shares lCnt's spot; one of the two is shown
    m_pBar->setGeometry(8, 34, 113, 16);
    m_pBar->setTextVisible(false);
    m_pBar->hide();
}

void Form1::createControllers() {
    m_viewport = new ViewportController({m_tabStrip, m_frame1, m_frame2, m_frame3, m_frame4,
                                         m_notices, m_pPreview, m_pCBase, m_pCanvas, m_hs1, m_vs1},
                                        this);
    connect(m_notices, &NoticeBar::changed, this, &Form1::layoutClientArea);
    m_widths = new PenWidthController(m_sWidth, m_pWidth, m_menu.mWdt, m_pCanvas, this);
    m_palette = new PaletteController(m_canvas, m_pC, m_lColPal, m_prompts, this, this);
    m_tools = new ToolController({m_canvas,
                                  m_pCanvas,
                                  m_tabStrip,
                                  {m_menu.mPencil, m_menu.mEraser, m_menu.mSpoit, m_menu.mScroll},
                                  *m_palette,
                                  *m_widths,
                                  *m_viewport,
                                  [this] { refreshPreview(); }},
                                 this);
}

void Form1::connectCommands() {
    connect(m_menu.mEnd, &QAction::triggered, this, &QWidget::close);
    connect(m_menu.mClear, &QAction::triggered, this, &Form1::clearAllCommand);
    connect(m_menu.mColor, &QAction::triggered, m_palette, &PaletteController::choosePenColor);
    connect(m_menu.mCon, &QAction::triggered, this, &Form1::connectChosen);
    connect(m_menu.mReconnect, &QAction::triggered, this, &Form1::reconnectChosen);
    connect(m_menu.mClose, &QAction::triggered, this, &Form1::disconnectChosen);
    connect(m_menu.mRetake, &QAction::triggered, this, &Form1::retakeChosen);
    connect(m_menu.mUndo, &QAction::triggered, this, &Form1::undoChosen);
    connect(m_menu.mRedo, &QAction::triggered, this, &Form1::redoChosen);
    connect(m_menu.mMember, &QAction::triggered, this, &Form1::chatWindowChosen);
    connect(m_menu.mLogPlay, &QAction::triggered, this, &Form1::logPlayChosen);
    connect(m_menu.mSave, &QAction::triggered, this, &Form1::saveImageChosen);
    connect(m_menu.mVersion, &QAction::triggered, this, &Form1::versionChosen);
}

void Form1::connectPenSignals() {
    connect(m_tools, &ToolController::penDownAt, this, &Form1::penDown);
    connect(m_tools, &ToolController::restart, this, &Form1::penRestart);
    connect(m_tools, &ToolController::pencilTo, this, &Form1::pencilTo);
    connect(m_tools, &ToolController::eraserTo, this, &Form1::eraserTo);
    connect(m_tools, &ToolController::penUp, this, &Form1::penUp);
    connect(m_tools, &ToolController::colorPicked, this, &Form1::penColorChosen);
    connect(m_palette, &PaletteController::penColorChosen, this, &Form1::penColorChosen);
    connect(m_widths, &PenWidthController::widthChosen, this, &Form1::penWidthChosen);
}

// The start-up state, in this order; each step stands on its own.
void Form1::load() {
    if (m_loaded)
        return;
    m_loaded = true;
    m_viewport->placeCanvas(0, 0);
    m_palette->setDefaultColors();
    // Black pen: chosen before the settings may change the cell.
    m_palette->clickCell(PaletteController::BlackCell);
    m_widths->chooseWidth(0);
    m_viewport->updateScrollRanges();
    m_menu.mClose->setEnabled(false);
    m_menu.mRetake->setEnabled(false);
    m_frame4->hide();
    m_tools->selectTool(ToolController::HandScroll);
}

void Form1::refreshPreview() {
    reduceByAnd(m_canvas.image(), QSize(CanvasWidget::OuterWidth, CanvasWidget::OuterHeight),
                m_pPreview->image());
    m_pPreview->update();
}

void Form1::clearAllCommand() {
    if (!m_prompts.question(this, clearQuestion(), QStringLiteral("消去確認")))
        return;
    m_canvas.clearAll();
    m_pPreview->fill(Qt::white);
    emit canvasCleared();
}

// Stand-alone only the own canvas is cleared; connected, everyone's, and a
// server that takes back strokes lets the one who cleared take it back.
QString Form1::clearQuestion() const {
    if (!m_connected)
        return QStringLiteral("全消去しますか？");
    if (!m_undoOffered)
        return QStringLiteral("全員のキャンバスを消去しますか？");
    return QStringLiteral("全員のキャンバスを消去しますか？\n"
                          "消した人は「元に戻す」(Ctrl+Z) で取り消せます。");
}

qint32 Form1::paletteColor(int cell) const {
    return m_palette->paletteColor(cell);
}

bool Form1::setPaletteColor(int cell, qint32 value) {
    return m_palette->setPaletteColor(cell, value);
}

qint16 Form1::penWidth() const {
    return m_widths->value();
}

void Form1::showConnected(bool connected) {
    m_menu.mCon->setEnabled(!connected);
    m_menu.mReconnect->setEnabled(!connected);
    m_menu.mClose->setEnabled(connected);
    m_menu.mRetake->setEnabled(connected);
    m_connected = connected;
}

void Form1::showRetrying() {
    m_menu.mCon->setEnabled(true);
    m_menu.mReconnect->setEnabled(true);
    m_menu.mClose->setEnabled(true);
    m_menu.mRetake->setEnabled(false);
    m_connected = false;
}

void Form1::showUndoState(bool offered, bool canUndo, bool canRedo) {
    m_undoOffered = offered;
    m_menu.mUndo->setEnabled(canUndo);
    m_menu.mRedo->setEnabled(canRedo);
}

void Form1::setTitleStatus(const QString& status) {
    setWindowTitle(baseTitle() + QStringLiteral(" / ") + status);
}

void Form1::showStatus(const QString& text) {
    m_lStatus->setText(text);
}

void Form1::setChatAvailable(bool available) {
    m_menu.mMember->setEnabled(available);
}

void Form1::setLogPlayAvailable(bool available) {
    m_menu.mLogPlay->setEnabled(available);
}

void Form1::showNotice(NoticeKind kind, const QString& text) {
    m_notices->showNotice(kind, text);
}

void Form1::clearNotice(NoticeKind kind) {
    m_notices->clearNotice(kind);
}

// The panel shows either the line count (while reading) or the progress bar
// (while drawing) in the same spot.
void Form1::showPlaybackReading() {
    m_logLabel->setText(QStringLiteral("読み込み中"));
    m_lCnt->setText(QStringLiteral("0"));
    m_lCnt->show();
    m_pBar->hide();
    m_frame4->show();
}

void Form1::showPlaybackLinesRead(qint64 lines, bool repaintNow) {
    m_lCnt->setText(QString::number(lines));
    if (repaintNow)
        m_lCnt->repaint();
}

void Form1::showPlaybackDrawing(qint64 total) {
    showPlaybackLinesRead(total, true);
    m_logLabel->setText(QStringLiteral("描画中"));
    m_lCnt->hide();
    m_pBar->setRange(0, int(total));
    m_pBar->setValue(0);
    m_pBar->show();
}

void Form1::showPlaybackProgress(qint64 applied) {
    m_pBar->setValue(int(applied));
}

void Form1::hidePlayback() {
    m_frame4->hide();
}

std::array<QAction*, 3> Form1::playbackSpeedItems() const {
    return {m_menu.mLSNoWait, m_menu.mLSHigh, m_menu.mLSslow};
}

std::array<QAction*, 5> Form1::transparencyItems() const {
    return {m_menu.mTranse, m_menu.mT100, m_menu.mT75, m_menu.mT50, m_menu.mT25};
}

Form1::Controls Form1::controls() const {
    return Controls{m_menu,   m_pCBase,   m_pCanvas, m_hs1,      m_vs1,      m_tabStrip,
                    m_frame1, m_frame2,   m_frame3,  m_frame4,   m_sWidth,   m_pWidth,
                    m_pC,     m_pPreview, m_lColPal, m_lStatus,  m_logLabel, m_lCnt,
                    m_pBar,   m_notices,  *m_tools,  *m_palette, *m_widths,  *m_viewport};
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    keepOuterSizeAtLeast(*this, MinimumOuterSize); // 400 x 400 pixels
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_viewport->focusCanvas();
}

void Form1::layoutClientArea() {
    const QSize client = centralWidget()->size();
    m_viewport->layout(client.width(), client.height());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize && !isMinimized())
        layoutClientArea();
    return QMainWindow::eventFilter(watched, event);
}

} // namespace client
