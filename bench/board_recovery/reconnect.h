#pragma once

#include <QImage>
#include <QString>

// Reconnection as members meet it: four whole desktop clients (the
// program's own SketoraClient, windows on the offscreen platform) on the
// sketoraServer program started in a copy of `journal`'s folder, holding
// `expected`. The server is killed (SIGKILL), left down for a while (a
// different outage each run, so the members' retry timers stand at different
// points), and started again in the same folder; per run it prints the time
// from the start of the program to every client connected again, its
// session answered and its canvas equal to the board.
void measureReconnect(const QString& journal, const QImage& expected, int runs);
