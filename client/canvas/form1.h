#pragma once

#include "canvas.h"
#include "clientsettings.h"
#include "drawingsender.h"
#include "form1hooks.h"
#include "mainmenu.h"
#include "socketendpoint.h"

#include <QMainWindow>
#include <array>

class CanvasWidget;
class ColorCell;
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

// The client's main window: the canvas in its scrolled viewport, the tool tabs,
// pen width, palette, connection status, the preview and the playback panel,
// and the whole menu bar. It owns the canvas, both sockets (drawing WS, text
// WS_txt) and the chat settings; the drawing-surface behaviour lives in the
// controllers it creates, the rest of the client hooks into its menu items,
// sockets and Form1Hooks.
//
// Construction builds everything with the design client size 576 x 462 and
// leaves the window hidden; load() then sets the start-up state. Closing asks
// "終了しますか？" and on OK closes WS, saves the settings, then closes the chat.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(Prompts& prompts, QWidget* parent = nullptr);
    ~Form1() override;

    void setHooks(Form1Hooks* hooks);
    void load();

    // --- model and sockets
    Canvas& canvas() { return m_canvas; }
    net::SocketEndpoint& WS() { return m_ws; }
    net::SocketEndpoint& WS_txt() { return m_wsTxt; }
    ClientSettings& settings() { return m_settings; }
    Prompts& prompts() { return m_prompts; }
    QString addr() const { return m_addr; }
    void setAddr(const QString& address) { m_addr = address; }

    // --- drawing surface
    void refreshPreview(); // reduce the canvas into the preview
    void clearPreview();   // blank the preview to white
    void clearAllCommand(); // the clear-all menu item: ask, clear, announce
    qint32 paletteColor(int cell) const;
    bool setPaletteColor(int cell, qint32 value);
    qint32 foreColor() const { return m_canvas.foreColor(); }
    qint16 penWidth() const; // the slider value
    void sendColor(qint32 clrvalue); // unconditional: callers check WS().state() == 7
    void sendSize(qint16 sizevalue); // likewise

    // --- controls
    CanvasWidget* pCanvas() const { return m_pCanvas; }
    ViewportFrame* pCBase() const { return m_pCBase; }
    PictureBox* pPreview() const { return m_pPreview; }
    PictureBox* pWidth() const { return m_pWidth; }
    PictureBox* pC() const { return m_pC; }
    ColorCell* lColPal(int cell) const;
    QSlider* sWidth() const { return m_sWidth; }
    QTabBar* TabStrip1() const { return m_tabStrip; }
    QScrollBar* HS1() const { return m_hs1; }
    QScrollBar* VS1() const { return m_vs1; }
    QGroupBox* Frame1() const { return m_frame1; }
    QGroupBox* Frame2() const { return m_frame2; }
    QGroupBox* Frame3() const { return m_frame3; }
    QGroupBox* Frame4() const { return m_frame4; }
    QLabel* lStatus() const { return m_lStatus; }
    QLabel* logLabel() const { return m_logLabel; }
    QLabel* lCnt() const { return m_lCnt; }
    QProgressBar* pBar() const { return m_pBar; }

    ToolController& tools() { return *m_tools; }
    PaletteController& palette() { return *m_palette; }
    PenWidthController& widths() { return *m_widths; }
    ViewportController& viewport() { return *m_viewport; }

    // --- menu items
    QAction* mFile() const { return m_menu.mFile; }
    QAction* mSave() const { return m_menu.mSave; }
    QAction* mLogPlay() const { return m_menu.mLogPlay; }
    QAction* mLogSpeed() const { return m_menu.mLogSpeed; }
    QAction* mLSNoWait() const { return m_menu.mLSNoWait; }
    QAction* mLSHigh() const { return m_menu.mLSHigh; }
    QAction* mLSslow() const { return m_menu.mLSslow; }
    QAction* mLogDownload() const { return m_menu.mLogDownload; }
    QAction* mEnd() const { return m_menu.mEnd; }
    QAction* mKinou() const { return m_menu.mKinou; }
    QAction* mPencil() const { return m_menu.mPencil; }
    QAction* mEraser() const { return m_menu.mEraser; }
    QAction* mSpoit() const { return m_menu.mSpoit; }
    QAction* mScroll() const { return m_menu.mScroll; }
    QAction* mnuWidth() const { return m_menu.mnuWidth; }
    QAction* mWdt(int i) const { return i >= 0 && i < 4 ? m_menu.mWdt[i] : nullptr; }
    QAction* mColor() const { return m_menu.mColor; }
    QAction* mClear() const { return m_menu.mClear; }
    QAction* mTranse() const { return m_menu.mTranse; }
    QAction* mT100() const { return m_menu.mT100; }
    QAction* mT75() const { return m_menu.mT75; }
    QAction* mT50() const { return m_menu.mT50; }
    QAction* mT25() const { return m_menu.mT25; }
    QAction* mNetWork() const { return m_menu.mNetWork; }
    QAction* mCon() const { return m_menu.mCon; }
    QAction* mReconnect() const { return m_menu.mReconnect; }
    QAction* mClose() const { return m_menu.mClose; }
    QAction* mRetake() const { return m_menu.mRetake; }
    QAction* mMember() const { return m_menu.mMember; }
    QAction* mInfo() const { return m_menu.mInfo; }
    QAction* mVersion() const { return m_menu.mVersion; }

    static constexpr int DesignClientWidth = 576, DesignClientHeight = 462;
    static constexpr int MinimumOuterSize = 400;

protected:
    void closeEvent(QCloseEvent* event) override;
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
    void keepMinimumSize();

    Prompts& m_prompts;
    Form1Hooks m_noHooks;
    Form1Hooks* m_hooks = &m_noHooks;
    bool m_loaded = false;

    Canvas m_canvas;
    net::SocketEndpoint m_ws;
    net::SocketEndpoint m_wsTxt;
    DrawingSender m_sender;
    ClientSettings m_settings;
    QString m_addr;
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

    ViewportController* m_viewport = nullptr;
    PenWidthController* m_widths = nullptr;
    PaletteController* m_palette = nullptr;
    ToolController* m_tools = nullptr;
};
