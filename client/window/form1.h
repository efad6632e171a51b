#pragma once

#include "canvas.h"
#include "mainmenu.h"
#include "windowviews.h"

#include <QMainWindow>
#include <array>

class CanvasWidget;
class ColorCell;
class NoticeBar;
class PaletteController;
class PenWidthController;
class PictureBox;
class Prompts;
class QGroupBox;
class QLabel;
class QProgressBar;
class QScrollBar;
class QSlider;
class QTabBar;
class ToolController;
class ViewportController;
class ViewportFrame;

namespace client {

// The client's main window: the canvas in its scrolled viewport with the
// notice bar above it, the tool tabs,
// pen width, palette, connection status, the preview and the playback panel,
// and the whole menu bar. It owns the canvas; the drawing-surface behaviour
// lives in the controllers it creates. It holds no socket: the rest of the
// client sees it through the narrow views it implements, and hears what the
// person does through its signals (menu commands, and the strokes and pen
// changes the drawing channel tells the others); the window title is its own
// ("Sketora - クライアント", then " / " and a status).
//
// Construction builds everything with the design client size 576 x 462 and
// leaves the window hidden; load() then sets the window's start-up state.
// The start-up and shutdown sequences of the whole client (settings, platform,
// the close question) belong to the client object, not to the window.
class Form1 : public QMainWindow,
              public ConnectionView,
              public StatusView,
              public PlaybackView,
              public PenView,
              public NoticeView,
              public UndoView {
    Q_OBJECT
public:
    explicit Form1(Prompts& prompts, QWidget* parent = nullptr);
    ~Form1() override;

    // The window's own start-up state, in order: canvas at the top-left
    // corner, default palette, cell 7 clicked (black pen), width 0, scroll
    // ranges, "切断(&Q)" off, playback panel hidden, hand-scroll tool.
    void load();

    // --- model
    Canvas& canvas() { return m_canvas; }

    // --- drawing surface
    void refreshPreview() override; // reduce the canvas into the preview
    qint32 paletteColor(int cell) const;
    bool setPaletteColor(int cell, qint32 value);
    qint32 foreColor() const { return m_canvas.foreColor(); }

    // --- PenView
    qint32 penColor() const override { return foreColor(); }
    qint16 penWidth() const override; // the slider value

    // --- ConnectionView
    QWidget* dialogParent() override { return this; }
    void showConnected(bool connected) override;
    void showRetrying() override;
    void setTitleStatus(const QString& status) override;

    // --- StatusView
    void showStatus(const QString& text) override;
    void setChatAvailable(bool available) override;
    void setLogPlayAvailable(bool available) override;

    // --- NoticeView: the bar above the canvas
    void showNotice(NoticeKind kind, const QString& text) override;
    void clearNotice(NoticeKind kind) override;
    // --- UndoView
    void showUndoState(bool offered, bool canUndo, bool canRedo) override;

    // --- PlaybackView
    void showPlaybackReading() override;
    void showPlaybackLinesRead(qint64 lines, bool repaintNow) override;
    void showPlaybackDrawing(qint64 total) override;
    void showPlaybackProgress(qint64 applied) override;
    void hidePlayback() override;

    // Menu items driven by controllers of other layers, like the tool items
    // of ToolController: the playback speeds (一瞬, 速め, 遅め) and the
    // transparency submenu with its four levels (100%, 75%, 50%, 25%).
    std::array<QAction*, 3> playbackSpeedItems() const;
    std::array<QAction*, 5> transparencyItems() const;

    static QString baseTitle() { return QStringLiteral("Sketora - クライアント"); }
    static constexpr int DesignClientWidth = 576, DesignClientHeight = 462;
    static constexpr int MinimumOuterSize = 400;

    // Every control, for tests and the screenshot tool only: the client
    // itself goes through the views and signals.
    struct Controls {
        const MainMenu& menu;
        ViewportFrame* pCBase;
        CanvasWidget* pCanvas;
        QScrollBar* HS1;
        QScrollBar* VS1;
        QTabBar* TabStrip1;
        QGroupBox* Frame1;
        QGroupBox* Frame2;
        QGroupBox* Frame3;
        QGroupBox* Frame4;
        QSlider* sWidth;
        PictureBox* pWidth;
        PictureBox* pC;
        PictureBox* pPreview;
        std::array<ColorCell*, 8> lColPal;
        QLabel* lStatus;
        QLabel* logLabel;
        QLabel* lCnt;
        QProgressBar* pBar;
        NoticeBar* notices;
        ToolController& tools;
        PaletteController& palette;
        PenWidthController& widths;
        ViewportController& viewport;
    };
    Controls controls() const;

signals:
    // Menu commands that other layers carry out.
    void connectChosen();    // 接続(&C)...
    void reconnectChosen();  // 再接続(&R)
    void disconnectChosen(); // 切断(&Q)
    void retakeChosen();     // 共有画面を取り直す(&S)
    void undoChosen();       // 元に戻す(&U)
    void redoChosen();       // やり直し(&Y)
    void chatWindowChosen(); // 会話ウィンドウ(&M)
    void logPlayChosen();    // 描画ログ再生(&L)...
    void saveImageChosen();  // 画像を保存する(&S)...
    void versionChosen();    // バージョン情報(&V)

    // What the person did to the picture and the pen, painted here already,
    // for the drawing channel to tell the others.
    void penDown(int x, int y);
    void penRestart(int x, int y); // a move found no stroke in progress
    void pencilTo(int x, int y);
    void eraserTo(int x, int y);
    void penUp();
    void penColorChosen(qint32 colour);
    void penWidthChosen(qint16 width);
    void canvasCleared();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createViewport(QWidget* client);
    void createRightColumn(QWidget* client);
    void createWidthFrame(QWidget* client);
    void createColorFrame(QWidget* client);
    void createStatusAndLogFrames(QWidget* client);
    void createControllers();
    void connectCommands();
    void connectPenSignals();
    void clearAllCommand(); // ask, clear, announce
    void layoutClientArea();
    QString clearQuestion() const;

    Prompts& m_prompts;
    bool m_loaded = false;
    bool m_connected = false;
    bool m_undoOffered = false;

    Canvas m_canvas;
    MainMenu m_menu;

    ViewportFrame* m_pCBase = nullptr;
    CanvasWidget* m_pCanvas = nullptr;
    QScrollBar* m_hs1 = nullptr;
    QScrollBar* m_vs1 = nullptr;
    QTabBar* m_tabStrip = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QGroupBox* m_frame2 = nullptr;
    QGroupBox* m_frame3 = nullptr;
    QGroupBox* m_frame4 = nullptr;
    QSlider* m_sWidth = nullptr;
    PictureBox* m_pWidth = nullptr;
    PictureBox* m_pC = nullptr;
    PictureBox* m_pPreview = nullptr;
    std::array<ColorCell*, 8> m_lColPal{};
    QLabel* m_lStatus = nullptr;
    QLabel* m_logLabel = nullptr;
    QLabel* m_lCnt = nullptr;
    QProgressBar* m_pBar = nullptr;
    NoticeBar* m_notices = nullptr;

    ViewportController* m_viewport = nullptr;
    PenWidthController* m_widths = nullptr;
    PaletteController* m_palette = nullptr;
    ToolController* m_tools = nullptr;
};

} // namespace client
