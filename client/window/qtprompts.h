#pragma once

#include "prompts.h"

#include <QFileDialog>

// Production prompts: Qt message boxes and dialogs, and the client's own
// address dialog (Form2), all modal to `parent`.
class QtPrompts : public Prompts {
public:
    bool question(QWidget* parent, const QString& text, const QString& title) override;
    void message(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter,
                                        const QString& initialName = QString()) override;
    std::optional<QString> pickFileName(QWidget* parent, const QString& title,
                                        const QString& filter, const QString& acceptLabel) override;
    // Form2 in its connect mode and in its rename mode.
    std::optional<QString> serverAddress(QWidget* parent, const QString& offered,
                                         const QStringList& earlier) override;
    std::optional<QString> newName(QWidget* parent, const QString& current) override;
    void beep() override;

    // `filter` as the Qt file dialog shows it with HideNameFilterDetails: each
    // entry keeps its caption, "*.*" included, and gets the patterns the
    // dialog really matches appended ("全てのファイル(*.*) (*)").
    static QString dialogFilter(const QString& filter);
    // The extension of a filter entry that stands for one type ("png" for
    // "PNGファイル(*.png)"), empty for every other entry.
    static QString filterSuffix(const QString& entry);

private:
    struct FileDialog {
        QWidget* parent;
        QString title;
        QString filter;
        QString initialName;
        QFileDialog::Options options;
        QString acceptLabel; // the dialog's own when empty
        bool addSuffix;      // the chosen type's extension for a name without one
    };
    static std::optional<QString> runFileDialog(const FileDialog& request);
};
