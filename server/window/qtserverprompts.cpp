#include "qtserverprompts.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>

namespace {

bool headless() {
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

} // namespace

bool QtServerPrompts::question(const QString& text, const QString& title) {
    return QMessageBox::question(m_parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

void QtServerPrompts::message(const QString& text, const QString& title) {
    if (headless()) {
        std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
        std::fflush(stderr);
        return;
    }
    QMessageBox::information(m_parent, title, text, QMessageBox::Ok);
}
