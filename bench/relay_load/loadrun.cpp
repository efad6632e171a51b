#include "loadrun.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int64_t Second = 1000000000;

double percentileMs(const std::vector<int64_t>& sorted, double fraction) {
    if (sorted.empty())
        return 0;
    const size_t at = std::min(sorted.size() - 1, size_t(double(sorted.size()) * fraction));
    return double(sorted[at]) / 1e6;
}

} // namespace

LoadRun::LoadRun(QString host, quint16 port, int clients)
    : m_host(std::move(host)), m_port(port), m_count(clients) {
    m_tally.reset(clients);
}

LoadRun::~LoadRun() = default;

bool LoadRun::runUntil(const std::function<bool()>& done, int64_t deadlineNs, int pollMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    bool reached = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        reached = done();
        if (reached || nowNs() >= deadlineNs)
            loop.quit();
    });
    poll.start(pollMs);
    loop.exec();
    return reached;
}

bool LoadRun::connectAll(int timeoutMs) {
    const int64_t deadline = nowNs() + int64_t(timeoutMs) * 1000000;
    for (int id = 0; id < m_count; ++id) {
        auto client = std::make_unique<LoadClient>(id, m_tally);
        client->resetExpectations(m_count);
        client->connectTo(m_host, m_port);
        LoadClient* c = client.get();
        if (!runUntil([c] { return c->isGreeted() || c->failed(); }, deadline, 1) || c->failed()) {
            std::fprintf(stderr, "relay_load: client %d: %s\n", id, qPrintable(c->errorString()));
            return false;
        }
        m_clients.push_back(std::move(client));
    }
    return true;
}

void LoadRun::beginPhase() {
    m_tally.reset(m_count);
    for (auto& client : m_clients)
        client->resetExpectations(m_count);
}

PhaseResult LoadRun::endPhase(int64_t startNs) {
    PhaseResult r;
    r.sent = m_tally.sent();
    r.expected = r.sent * (m_count - 1);
    r.drained =
        runUntil([this, &r] { return m_tally.delivered + m_tally.duplicated >= r.expected; },
                 nowNs() + 10 * Second, 1);
    r.delivered = m_tally.delivered;
    r.duplicated = m_tally.duplicated;
    r.outOfOrder = m_tally.outOfOrder;
    r.seconds = double(m_tally.lastDeliveryNs - startNs) / 1e9;
    r.linesPerSecond = r.seconds > 0 ? double(r.delivered) / r.seconds : 0;
    std::vector<int64_t>& latencies = m_tally.latencyNs;
    std::sort(latencies.begin(), latencies.end());
    r.p50Ms = percentileMs(latencies, 0.50);
    r.p99Ms = percentileMs(latencies, 0.99);
    r.maxMs = latencies.empty() ? 0 : double(latencies.back()) / 1e6;
    return r;
}

PhaseResult LoadRun::paced(int rate, double seconds) {
    beginPhase();
    const int64_t start = nowNs();
    const int64_t stop = start + int64_t(seconds * 1e9);
    const double periodNs = 1e9 / rate;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int64_t now = std::min(nowNs(), stop);
        for (int id = 0; id < m_count; ++id) {
            // Client id's k-th line is due at start + (k + id / count) periods.
            const double offset = periodNs * id / m_count;
            const int64_t due = int64_t(std::floor((double(now - start) - offset) / periodNs)) + 1;
            while (int64_t(m_tally.sentAtNs[id].size()) < due)
                m_clients[id]->sendNext();
        }
    });
    tick.start(1);
    runUntil([] { return false; }, stop, 5);
    tick.stop();
    return endPhase(start);
}

PhaseResult LoadRun::flatOut(double seconds, int window) {
    beginPhase();
    m_tally.sampleLatency = true;
    const int64_t start = nowNs();
    const int64_t stop = start + int64_t(seconds * 1e9);
    const int64_t others = m_count - 1;
    QTimer pump; // interval 0: once per pass of the event loop
    QObject::connect(&pump, &QTimer::timeout, [&] {
        for (int id = 0; id < m_count; ++id) {
            int64_t inFlight =
                int64_t(m_tally.sentAtNs[id].size()) * others - m_tally.deliveredFrom[id];
            while (inFlight < window * others) {
                m_clients[id]->sendNext();
                inFlight += others;
            }
        }
    });
    pump.start(0);
    runUntil([] { return false; }, stop, 5);
    pump.stop();
    return endPhase(start);
}
