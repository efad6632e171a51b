#pragma once

#include <QString>

// The server's message boxes. The window calls these; the program answers
// them with Qt message boxes and tests with a scripted fake.
class ServerPrompts {
public:
    virtual ~ServerPrompts() = default;
    // OK/Cancel question; true for OK.
    virtual bool question(const QString& text, const QString& title) = 0;
    // A message with an OK button only.
    virtual void message(const QString& text, const QString& title) = 0;
};
