#pragma once

#include <QDateTime>

// Where the server reads the current date and time. Log-file names are made
// from it, so tests hand in a clock that they set.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// The machine's local time.
class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
