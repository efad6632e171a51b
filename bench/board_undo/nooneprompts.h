#pragma once

#include "prompts.h"

// Nobody at the screen: every question is answered OK, every dialog
// cancelled. For whole clients in the benchmark tools.
struct NoOnePrompts : Prompts {
    bool question(QWidget*, const QString&, const QString&) override { return true; }
    void message(QWidget*, const QString&, const QString&) override {}
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return {}; }
    std::optional<QString> saveFileName(QWidget*, const QString&, const QString&,
                                        const QString&) override {
        return {};
    }
    std::optional<QString> serverAddress(QWidget*, const QString&, const QStringList&) override {
        return {};
    }
    std::optional<QString> newName(QWidget*, const QString&) override { return {}; }
};
