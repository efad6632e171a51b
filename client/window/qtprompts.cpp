#include "qtprompts.h"

#include "form2.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

bool QtPrompts::question(QWidget* parent, const QString& text, const QString& title) {
    return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

void QtPrompts::message(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

std::optional<QColor> QtPrompts::chooseColor(QWidget* parent, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

namespace {

// Every file dialog shows its filter captions exactly as written and matches
// with the patterns appended by QtPrompts::dialogFilter.
constexpr QFileDialog::Options BaseOptions = QFileDialog::HideNameFilterDetails;

std::optional<QString> chosen(const QString& name) {
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

} // namespace

QString QtPrompts::dialogFilter(const QString& filter) {
    // The dialog takes the patterns from the last parentheses of an entry and,
    // with HideNameFilterDetails, shows what stands before them. "*.*" would
    // hide every file without a dot in its name, so the caption keeps it and
    // the appended patterns say "*".
    static const QRegularExpression entryForm(QStringLiteral("^(.*)\\(([^()]*)\\)$"));
    QStringList entries = filter.split(QStringLiteral(";;"));
    for (QString& entry : entries) {
        const QRegularExpressionMatch match = entryForm.match(entry);
        QStringList patterns = (match.hasMatch() ? match.captured(2) : entry)
                                   .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        patterns.replaceInStrings(QRegularExpression(QStringLiteral("^\\*\\.\\*$")),
                                  QStringLiteral("*"));
        entry += QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

std::optional<QString> QtPrompts::saveFileName(QWidget* parent, const QString& title,
                                               const QString& filter, const QString& initialName) {
    return chosen(QFileDialog::getSaveFileName(parent, title, initialName, dialogFilter(filter),
                                               nullptr, BaseOptions));
}

std::optional<QString> QtPrompts::pickFileName(QWidget* parent, const QString& title,
                                               const QString& filter) {
    return chosen(QFileDialog::getSaveFileName(parent, title, QString(), dialogFilter(filter),
                                               nullptr,
                                               BaseOptions | QFileDialog::DontConfirmOverwrite));
}

std::optional<QString> QtPrompts::serverAddress(QWidget* parent, const QString& offered) {
    Form2 dialog(parent);
    dialog.setDlgMode(Form2::Connect);
    dialog.setLastPeer(offered);
    std::optional<QString> address;
    QObject::connect(&dialog, &Form2::connectRequested,
                     [&address](const QString& text) { address = text; });
    dialog.exec();
    return address;
}

std::optional<QString> QtPrompts::newName(QWidget* parent, const QString& current) {
    Form2 dialog(parent);
    dialog.setDlgMode(Form2::Rename, current);
    std::optional<QString> name;
    QObject::connect(&dialog, &Form2::renamed, [&name](const QString& text) { name = text; });
    dialog.exec();
    return name;
}

void QtPrompts::beep() {
    QApplication::beep();
}
