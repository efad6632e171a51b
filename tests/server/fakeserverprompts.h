#pragma once

#include "serverprompts.h"

#include <QList>
#include <deque>

// Answers the server's message boxes from a script and records them.
class FakeServerPrompts : public ServerPrompts {
public:
    struct Shown {
        QString kind; // "question" or "message"
        QString text;
        QString title;
    };
    std::deque<bool> answers; // questions; empty answers OK
    QList<Shown> shown;

    bool question(const QString& text, const QString& title) override {
        shown.append({QStringLiteral("question"), text, title});
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void message(const QString& text, const QString& title) override {
        shown.append({QStringLiteral("message"), text, title});
    }
};
