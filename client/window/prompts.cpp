#include "prompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

bool QtPrompts::question(QWidget* parent, const QString& text, const QString& title)
{
    return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

void QtPrompts::message(QWidget* parent, const QString& text, const QString& title)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

std::optional<QColor> QtPrompts::chooseColor(QWidget* parent, const QColor& initial)
{
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

std::optional<QString> QtPrompts::saveFileName(QWidget* parent, const QString& title,
                                               const QString& filter, const QString& initialName)
{
    const QString name = QFileDialog::getSaveFileName(parent, title, initialName, filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

void QtPrompts::beep()
{
    QApplication::beep();
}
