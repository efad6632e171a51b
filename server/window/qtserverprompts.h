#pragma once

#include "serverprompts.h"

class QWidget;

// The server's message boxes as Qt message boxes, modal to `parent`. On the
// offscreen platform nobody can press OK, so a message goes to stderr
// instead of waiting forever.
class QtServerPrompts : public ServerPrompts {
public:
    explicit QtServerPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    bool question(const QString& text, const QString& title) override;
    void message(const QString& text, const QString& title) override;

private:
    QWidget* m_parent;
};
