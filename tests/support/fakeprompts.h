#pragma once

#include "prompts.h"

#include <QList>
#include <QStringList>
#include <deque>

// Prompts for tests: records every box shown and answers from queues filled
// by the test. An empty queue answers "OK" to questions and "cancel" to
// dialogs. The address and name dialogs record what they offered as their
// text.
class FakePrompts : public Prompts {
public:
    struct Shown {
        QString kind; // "question", "message", "color", "save", "address", "name"
        QString text;
        QString title;
    };

    std::deque<bool> questionAnswers;
    std::deque<std::optional<QColor>> colorAnswers;
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<std::optional<QString>> textAnswers; // address and name dialogs
    QList<Shown> shown;
    int beeps = 0;
    QString lastInitialName;

    bool question(QWidget*, const QString& text, const QString& title) override {
        shown.append({"question", text, title});
        return take(questionAnswers, true);
    }
    void message(QWidget*, const QString& text, const QString& title) override {
        shown.append({"message", text, title});
    }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override {
        shown.append({"color", {}, {}});
        return take(colorAnswers, std::optional<QColor>());
    }
    std::optional<QString> saveFileName(QWidget*, const QString& title, const QString& filter,
                                        const QString& initialName = QString()) override {
        shown.append({"save", filter, title});
        lastInitialName = initialName;
        return take(fileAnswers, std::optional<QString>());
    }
    QStringList lastEarlier; // what the address dialog listed
    std::optional<QString> serverAddress(QWidget*, const QString& offered,
                                         const QStringList& earlier) override {
        shown.append({"address", offered, {}});
        lastEarlier = earlier;
        return take(textAnswers, std::optional<QString>());
    }
    std::optional<QString> newName(QWidget*, const QString& current) override {
        shown.append({"name", current, {}});
        return take(textAnswers, std::optional<QString>());
    }
    void beep() override { ++beeps; }

    int count(const QString& kind) const {
        int n = 0;
        for (const Shown& s : shown)
            n += s.kind == kind;
        return n;
    }

private:
    template <typename T> static T take(std::deque<T>& queue, T fallback) {
        if (queue.empty())
            return fallback;
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};
