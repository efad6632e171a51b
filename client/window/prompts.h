#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QWidget;

// Everything that stops to ask the person at the screen goes through this
// interface: message boxes, the colour dialog and the file dialogs. The
// programs use QtPrompts; tests pass a fake that answers from a script.
class Prompts {
public:
    virtual ~Prompts() = default;

    // OK/Cancel question; true for OK (closing the box counts as Cancel).
    virtual bool question(QWidget* parent, const QString& text, const QString& title) = 0;
    // A message with an OK button only.
    virtual void message(QWidget* parent, const QString& text, const QString& title) = 0;
    // The colour dialog; nullopt when cancelled.
    virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) = 0;
    // The save-file dialog; nullopt when cancelled. `filter` uses Qt's
    // "Name (*.ext)" form, a pattern "*.*" standing for every file, with or
    // without a dot in its name; `initialName` pre-fills the dialog (the name
    // last used, for example).
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter,
                                                const QString& initialName = QString()) = 0;
    // The save form of the file dialog used to pick a file to read: it takes
    // any name, existing or not, and never asks whether to replace the file.
    virtual std::optional<QString> pickFileName(QWidget* parent, const QString& title,
                                                const QString& filter) {
        return saveFileName(parent, title, filter);
    }
    // The system beep.
    virtual void beep() {}
};

// Production prompts: Qt message boxes and dialogs, modal to `parent`.
class QtPrompts : public Prompts {
public:
    bool question(QWidget* parent, const QString& text, const QString& title) override;
    void message(QWidget* parent, const QString& text, const QString& title) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;
    std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                        const QString& filter,
                                        const QString& initialName = QString()) override;
    std::optional<QString> pickFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    void beep() override;

    // `filter` as the Qt file dialog shows it with HideNameFilterDetails: each
    // entry keeps its caption, "*.*" included, and gets the patterns the
    // dialog really matches appended ("全てのファイル(*.*) (*)").
    static QString dialogFilter(const QString& filter);
};
