#pragma once

#include "loadclient.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// Figures of one phase.
struct PhaseResult {
    int64_t sent = 0;
    int64_t expected = 0; // sent x (clients - 1): every other client gets every line
    int64_t delivered = 0;
    int64_t duplicated = 0;
    int64_t outOfOrder = 0;
    bool drained = false;
    double seconds = 0; // first send to last delivery
    double linesPerSecond = 0;
    double p50Ms = 0, p99Ms = 0, maxMs = 0;
};

// N drawing clients against one relay: connected one after another (the
// relay listens on one endpoint at a time), then driven in phases.
class LoadRun {
public:
    LoadRun(QString host, quint16 port, int clients);
    ~LoadRun();

    // Connects every client and waits for each greeting. False on failure.
    bool connectAll(int timeoutMs);

    // Every client sends `rate` lines per second for `seconds`, one line per
    // write, the clients' schedules spread evenly over each period.
    PhaseResult paced(int rate, double seconds);
    // Every client sends as fast as the relay delivers, keeping at most
    // `window` of its lines in flight.
    PhaseResult flatOut(double seconds, int window);

private:
    void beginPhase();
    PhaseResult endPhase(int64_t startNs);
    bool runUntil(const std::function<bool()>& done, int64_t deadlineNs, int pollMs);

    QString m_host;
    quint16 m_port;
    int m_count;
    LoadTally m_tally;
    std::vector<std::unique_ptr<LoadClient>> m_clients;
};
