#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// Everything that stops to ask the person at the screen goes through this
// interface: message boxes, the colour dialog, the file dialogs and the
// client's own small dialogs (server address, new name). The programs use
// QtPrompts (client/window); tests pass a fake that answers from a script.
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
    // last used, for example). A name typed without an extension gets the
    // one of the type chosen in the dialog.
    virtual std::optional<QString> saveFileName(QWidget* parent, const QString& title,
                                                const QString& filter,
                                                const QString& initialName = QString()) = 0;
    // The save form of the file dialog used to pick a file to read: it takes
    // any name as typed, existing or not, never asks whether to replace the
    // file, and its button says `acceptLabel`.
    virtual std::optional<QString> pickFileName(QWidget* parent, const QString& title,
                                                const QString& filter, const QString& acceptLabel) {
        (void)acceptLabel;
        return saveFileName(parent, title, filter);
    }
    // The address dialog of the network menu, offering `offered` in its box
    // (the newest of `earlier` when empty) and `earlier`, the addresses
    // connected to before, newest first, in its list: the trimmed,
    // non-empty address the person connects to, nullopt when cancelled.
    virtual std::optional<QString> serverAddress(QWidget* parent, const QString& offered,
                                                 const QStringList& earlier) = 0;
    // The name dialog of the chat, offering the current name: the trimmed,
    // non-empty new name, nullopt when cancelled.
    virtual std::optional<QString> newName(QWidget* parent, const QString& current) = 0;
    // The system beep.
    virtual void beep() {}
};
