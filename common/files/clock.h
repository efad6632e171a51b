#pragma once

#include <QDateTime>

// Where a program reads the current date and time. File names are made from
// it (the server's log files, the client's backups), so tests hand in a clock
// that they set.
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
