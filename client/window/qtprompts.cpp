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

QString QtPrompts::filterSuffix(const QString& entry) {
    static const QRegularExpression single(QStringLiteral("\\(\\*\\.([^*?\\[\\]() .]+)\\)$"));
    const QRegularExpressionMatch match = single.match(entry);
    return match.hasMatch() ? match.captured(1) : QString();
}

std::optional<QString> QtPrompts::runFileDialog(const FileDialog& request) {
    QFileDialog dialog(request.parent, request.title, request.initialName,
                       dialogFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOptions(request.options);
    if (!request.acceptLabel.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, request.acceptLabel);
    if (request.addSuffix) {
        // A name without an extension gets the one of the type shown; "*"
        // (every file) adds none.
        const auto follow = [&dialog](const QString& entry) {
            dialog.setDefaultSuffix(filterSuffix(entry));
        };
        follow(dialog.selectedNameFilter());
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, follow);
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return chosen(dialog.selectedFiles().value(0));
}

std::optional<QString> QtPrompts::saveFileName(QWidget* parent, const QString& title,
                                               const QString& filter, const QString& initialName) {
    return runFileDialog({parent, title, filter, initialName, BaseOptions, QString(), true});
}

std::optional<QString> QtPrompts::pickFileName(QWidget* parent, const QString& title,
                                               const QString& filter, const QString& acceptLabel) {
    return runFileDialog({parent, title, filter, QString(),
                          BaseOptions | QFileDialog::DontConfirmOverwrite, acceptLabel, false});
}

std::optional<QString> QtPrompts::serverAddress(QWidget* parent, const QString& offered,
                                                const QStringList& earlier) {
    Form2 dialog(parent);
    dialog.setDlgMode(Form2::Connect);
    dialog.setLastPeer(offered);
    dialog.setEarlierAddresses(earlier);
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
