// Flow control on its own, over real loopback connections whose readers the
// test drives: holding arrivals back while a reader is behind, handing them
// back in turn, giving up on a reader that stopped, and the output budget.
//
// Nothing here depends on how fast the machine is or how much the kernel
// takes: output is queued and measured before the event loop runs (so the
// whole of it counts as unsent), and where a test is not about stalling, the
// stall time is longer than any run, so a reader that reads slowly on a busy
// machine is never taken for one that stopped.

#include "flowcontrol.h"
#include "socketendpoint.h"
#include "testpeer.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <vector>

namespace {

constexpr int Guard = 120000; // generous: the waits end as soon as their condition holds
constexpr int NeverStalls = 24 * 3600000; // a day

// Server-side endpoints, each carrying a connection from a client socket
// that reads only when the test says so.
class Connections {
public:
    Connections() {
        m_listener.listen(QHostAddress::LocalHost);
        QObject::connect(&m_listener, &net::SocketEndpoint::connectionRequest, [this](qintptr id) {
            auto endpoint = std::make_unique<net::SocketEndpoint>();
            endpoint->setOutputCap(1LL << 30);
            if (endpoint->accept(id))
                m_endpoints.push_back(std::move(endpoint));
        });
    }
    ~Connections() {
        for (const int fd : m_clients)
            ::close(fd);
    }

    // Connects one more client; its server side is endpoint(n) afterwards.
    net::SocketEndpoint* add() {
        const size_t n = m_endpoints.size();
        m_clients.push_back(connectStuckClient(m_listener.localPort()));
        if (!QTest::qWaitFor([&] { return m_endpoints.size() > n; }, Guard))
            return nullptr;
        return m_endpoints.back().get();
    }
    net::SocketEndpoint* endpoint(int n) { return m_endpoints.at(n).get(); }

    // Queues `bytes` of output for client n and tells the flow control. Until
    // the event loop runs, all of it is unsent.
    void queue(FlowControl& flow, int n, qint64 bytes) {
        endpoint(n)->sendBytes(QByteArray(bytes, 'q'));
        flow.noteQueued(n);
    }
    // Lets client n read what has reached it so far.
    void read(int n) {
        char chunk[65536];
        while (::recv(m_clients.at(n), chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
        }
    }

private:
    net::SocketEndpoint m_listener;
    std::vector<std::unique_ptr<net::SocketEndpoint>> m_endpoints;
    std::vector<int> m_clients;
};

} // namespace

class TestFlowControl : public QObject {
    Q_OBJECT
private slots:
    void holdsWhileBehindAndReleasesInTurn();
    void readerThatLeavesNoLongerHolds();
    void stalledReaderStopsHoldingAndIsNamedOverBudget();
};

void TestFlowControl::holdsWhileBehindAndReleasesInTurn() {
    Connections c;
    FlowControl flow;
    flow.setStallMs(NeverStalls);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(c.add());
        flow.watch(i, c.endpoint(i));
    }
    // Nobody behind: everything passes, however much is queued below the mark.
    c.queue(flow, 0, flow.highWater() / 2);
    QVERIFY(flow.admit(1));
    QVERIFY(!flow.isHolding());

    // Reader 0 falls behind: arrivals wait.
    c.queue(flow, 0, 16 * 1024 * 1024);
    QVERIFY(flow.isHolding());
    QVERIFY(!flow.admit(1));
    QVERIFY(!flow.admit(2));
    QSignalSpy released(&flow, &FlowControl::released);
    QCoreApplication::processEvents();
    QCOMPARE(released.count(), 0);

    // While 1 is handed back it makes reader 0 fall behind again: 2 waits,
    // and goes first next time although 1 is held again too.
    bool refilled = false;
    connect(&flow, &FlowControl::released, this, [&](int index) {
        if (index == 1 && !refilled) {
            refilled = true;
            c.queue(flow, 0, 16 * 1024 * 1024);
            QVERIFY(!flow.admit(1));
        }
    });
    QVERIFY(QTest::qWaitFor(
        [&] {
            c.read(0);
            return released.count() >= 3;
        },
        Guard));
    QCOMPARE(released.at(0).at(0).toInt(), 1);
    QCOMPARE(released.at(1).at(0).toInt(), 2);
    QCOMPARE(released.at(2).at(0).toInt(), 1);
    QVERIFY(!flow.isHolding());
    QVERIFY(flow.admit(2));
}

void TestFlowControl::readerThatLeavesNoLongerHolds() {
    Connections c;
    FlowControl flow;
    flow.setStallMs(NeverStalls);
    for (int i = 0; i < 2; ++i) {
        QVERIFY(c.add());
        flow.watch(i, c.endpoint(i));
    }
    c.queue(flow, 0, 16 * 1024 * 1024);
    QVERIFY(!flow.admit(1));
    QSignalSpy released(&flow, &FlowControl::released);
    flow.forget(0);
    QVERIFY(!flow.isHolding());
    QVERIFY(released.wait(Guard));
    QCOMPARE(released.at(0).at(0).toInt(), 1);
    // A forgotten endpoint's progress no longer counts.
    c.read(0);
    QVERIFY(flow.admit(1));
}

void TestFlowControl::stalledReaderStopsHoldingAndIsNamedOverBudget() {
    Connections c;
    FlowControl flow;
    flow.setStallMs(300);
    flow.setOutputBudget(48 * 1024 * 1024);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(c.add());
        flow.watch(i, c.endpoint(i));
    }
    c.queue(flow, 0, 16 * 1024 * 1024);
    c.queue(flow, 1, 20 * 1024 * 1024);
    QVERIFY(!flow.admit(2));

    // Nobody reads: after the stall time they hold nobody back.
    QSignalSpy released(&flow, &FlowControl::released);
    QVERIFY(released.wait(Guard));
    QCOMPARE(released.at(0).at(0).toInt(), 2);
    QVERIFY(!flow.isHolding());
    QSignalSpy over(&flow, &FlowControl::overBudget);
    QVERIFY(flow.admit(2));
    QCOMPARE(over.count(), 0); // at most 36 MiB queued, within the budget

    // Past the budget the longest queue is named. What the kernel took of the
    // first queues is made up for: the budget is passed by 1 MiB exactly.
    const qint64 unsent = c.endpoint(0)->pendingOutput() + c.endpoint(1)->pendingOutput();
    c.queue(flow, 0, 48 * 1024 * 1024 - unsent + 1024 * 1024);
    QVERIFY(flow.admit(2));
    QVERIFY(over.count() >= 1);
    QCOMPARE(over.last().at(0).toInt(), 0);

    // A stalled reader that catches up is an ordinary reader again.
    QVERIFY(QTest::qWaitFor(
        [&] {
            c.read(0);
            c.read(1);
            return c.endpoint(0)->pendingOutput() + c.endpoint(1)->pendingOutput() == 0;
        },
        Guard));
    c.queue(flow, 0, 16 * 1024 * 1024);
    QVERIFY(flow.isHolding());
}

QTEST_GUILESS_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
