#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <QTextStream>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <functional>

// Small helpers shared by both halves of the screenshot programs. A step that
// does not come true in time ends the program with a message: a screenshot
// of a window in the wrong state must not be written.
namespace shots {

inline void fail(const QString& what) {
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(what));
    std::exit(1);
}

inline void waitFor(const std::function<bool()>& condition, const QString& what,
                    int timeoutMs = 20000) {
    if (!QTest::qWaitFor(condition, timeoutMs))
        fail(QStringLiteral("timed out waiting for ") + what);
}

// Shows the window and writes what it shows (its client area, menu bar
// included, without the frame the window manager adds).
inline void capture(QWidget* window, const QDir& folder, const QString& name) {
    window->show();
    window->raise();
    if (!QTest::qWaitForWindowExposed(window))
        fail(name + QStringLiteral(": window not exposed"));
    // Layout and posted events settle; grab() then paints the widgets afresh.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    const QString path = folder.filePath(name);
    if (!window->grab().save(path))
        fail(QStringLiteral("cannot write ") + path);
    QTextStream(stderr) << "screenshots: wrote " << path << '\n';
}

} // namespace shots
