#include "windowtransparency.h"

#include <QAction>
#include <QByteArray>
#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

#if QT_CONFIG(xcb)
// True when some client owns _NET_WM_CM_S0, the selection a compositing
// manager takes for screen 0.
bool compositorOwnsScreen0(xcb_connection_t* connection) {
    static const QByteArray name("_NET_WM_CM_S0");
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 1 /* only if it exists */, name.size(), name.constData());
    xcb_intern_atom_reply_t* atomReply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!atomReply)
        return false;
    const xcb_atom_t atom = atomReply->atom;
    std::free(atomReply);
    if (atom == XCB_ATOM_NONE)
        return false; // nobody ever took the selection
    xcb_get_selection_owner_reply_t* ownerReply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, atom), nullptr);
    if (!ownerReply)
        return false;
    const bool owned = ownerReply->owner != XCB_WINDOW_NONE;
    std::free(ownerReply);
    return owned;
}
#endif

} // namespace

int getWinVer() {
    auto* app = qGuiApp;
    if (!app)
        return 0;
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return TranslucentWindows;
#if QT_CONFIG(xcb)
    // The offscreen platform hands out the X11 interface too, with no
    // connection behind it: only a real xcb platform may be asked.
    if (platform != QLatin1String("xcb"))
        return 0;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return 0;
    xcb_connection_t* connection = x11->connection();
    if (!connection || xcb_connection_has_error(connection))
        return 0;
    return compositorOwnsScreen0(connection) ? TranslucentWindows : 0;
#else
    return 0;
#endif
}

WindowTransparency::WindowTransparency(QWidget* mainWindow, const Actions& actions, int winVer,
                                       QObject* parent)
    : QObject(parent),
      m_mainWindow(mainWindow), m_levels{actions.mT100, actions.mT75, actions.mT50, actions.mT25},
      m_winVer(winVer) {
    const bool enabled = available();
    actions.mTranse->setEnabled(enabled);
    for (int i = 0; i < int(m_levels.size()); ++i) {
        QAction* action = m_levels[i];
        action->setCheckable(true);
        action->setEnabled(enabled);
        const auto level = Level(i);
        connect(action, &QAction::triggered, this, [this, level] { choose(level); });
    }
    // Every run starts opaque, whatever was chosen last time.
    m_mainWindow->setWindowOpacity(1.0);
    tick(T100);
}

int WindowTransparency::alphaFor(Level level) {
    switch (level) {
    case T75:
        return 191; // 191.25
    case T50:
        return 128; // 127.5, half to even
    case T25:
        return 64; // 63.75
    case T100:
        break;
    }
    return 255;
}

void WindowTransparency::choose(Level level) {
    if (!available())
        return;
    if (level == T100) {
        m_mainWindow->setWindowOpacity(1.0);
        m_mainWindow->update();
    } else {
        m_mainWindow->setWindowOpacity(alphaFor(level) / 255.0);
    }
    tick(level);
}

void WindowTransparency::tick(Level level) {
    m_level = level;
    for (int i = 0; i < int(m_levels.size()); ++i)
        m_levels[i]->setChecked(i == int(level));
}
