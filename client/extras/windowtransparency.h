#pragma once

#include <QObject>
#include <array>

class QAction;
class QWidget;

// What getWinVer() reports when the windowing system can show translucent
// top-level windows.
inline constexpr int TranslucentWindows = 2;

// TranslucentWindows for an X server whose screen 0 has a compositing manager
// (owner of the selection _NET_WM_CM_S0), or a Wayland compositor. 0
// everywhere else, including the offscreen platform.
int getWinVer();

// The menu "ウィンドウの透明度(&T)": four levels of opacity for the main window
// only, exactly one of them ticked. Every run starts opaque with "100%(不透明)"
// ticked; the level is not remembered. Without the platform's support
// (winVer != TranslucentWindows) the menu and its levels are disabled.
class WindowTransparency : public QObject {
    Q_OBJECT
public:
    struct Actions {
        QAction* mTranse; // the submenu's own item
        QAction* mT100;
        QAction* mT75;
        QAction* mT50;
        QAction* mT25;
    };
    enum Level { T100, T75, T50, T25 };

    // `winVer` is what getWinVer() reported at start.
    WindowTransparency(QWidget* mainWindow, const Actions& actions, int winVer,
                       QObject* parent = nullptr);

    // Alpha of each level, 255 * percentage / 100 rounded half to even.
    static int alphaFor(Level level);

    bool available() const { return m_winVer == TranslucentWindows; }
    int winVer() const { return m_winVer; }
    Level level() const { return m_level; }

    // The menu commands mT100_Click .. mT25_Click.
    void choose(Level level);

private:
    void tick(Level level);

    QWidget* m_mainWindow;
    std::array<QAction*, 4> m_levels;
    int m_winVer;
    Level m_level = T100;
};
