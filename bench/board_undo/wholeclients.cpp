#include "wholeclients.h"
#include "eventwait.h"

#include "canvaswidget.h"
#include "drawingrelay.h"
#include "form1.h"
#include "form2.h"
#include "nooneprompts.h"
#include "relayserver.h"
#include "sketoraclient.h"
#include "undocontrol.h"
#include "undowire.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// One whole client, and whether its canvas has repainted since its last patch.
struct Client : QObject {
    NoOnePrompts prompts;
    std::unique_ptr<SketoraClient> client;
    int patches = 0, patchesBefore = 0;
    bool painted = true;
    std::vector<undowire::Outcome> answers;

    Client(const RelayServer& server, const QString& settings) {
        SketoraClient::Options options;
        options.prompts = &prompts;
        options.ports = {server.drawingPort(), server.textPort()};
        options.settingsDirectory = settings;
        client = std::make_unique<SketoraClient>(options);
        client->start();
        client->startupDialog().Command2()->click(); // the main window shows
        connect(&client->undo(), &UndoControl::patchApplied, this, [this] {
            ++patches;
            painted = false;
        });
        connect(&client->undo(), &UndoControl::answered, this,
                [this](undowire::Outcome outcome) { answers.push_back(outcome); });
        canvas()->installEventFilter(this);
        client->connection().replaceConnections(QStringLiteral("127.0.0.1"));
    }
    CanvasWidget* canvas() { return client->form1().controls().pCanvas; }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// A member of ours on a bare socket that counts what command 7 brings it.
struct ByteCounter {
    QTcpSocket socket;
    qint64 bytes = 0;
    explicit ByteCounter(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            for (const QByteArray& line : socket.readAll().split('\n'))
                if (line.startsWith("0:7:"))
                    bytes += line.size() + 1;
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        socket.write(undowire::meLine("benchcounter", {}));
    }
};

void typicalStroke(Client& c) {
    c.client->form1().controls().menu.mPencil->trigger();
    CanvasWidget* canvas = c.canvas();
    // Where the window shows it: the canvas repaints what is in view.
    QTest::mousePress(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos({60, 100}));
    for (int n = 1; n <= 20; ++n)
        QTest::mouseMove(canvas,
                         CanvasWidget::widgetPos({60 + 9 * n, 100 + (n % 2 ? 12 : -12) + n * 4}));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, CanvasWidget::widgetPos({240, 180}));
}

void print(std::vector<double> ms, qint64 bytes, bool differs) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return;
    std::printf("  %-22s best %7.1f ms, median %7.1f ms, max %7.1f ms; %8lld B per member%s\n",
                "Ctrl+Z/Ctrl+Y, clients", ms.front(), ms[ms.size() / 2], ms.back(),
                qlonglong(bytes), differs ? "  !! a canvas differs from the server's board" : "");
    std::fflush(stdout);
}

} // namespace

void measureWholeClients(RelayServer& server, int runs) {
    QTemporaryDir settings;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(std::make_unique<Client>(server, settings.path()));
    ByteCounter counter(server.drawingPort());
    const auto all = [&](const auto& done) {
        return bench::waitFor(
            [&] {
                return std::all_of(clients.begin(), clients.end(),
                                   [&](auto& c) { return done(*c); });
            },
            300000);
    };
    if (!all([](Client& c) { return c.client->undo().offered(); })) {
        std::printf("  !! the clients did not join\n");
        return;
    }
    Client& asker = *clients.front();
    typicalStroke(asker);
    client::Form1& window = asker.client->form1();
    window.activateWindow();
    if (!bench::waitFor([&] { return asker.client->undo().undoCount() > 0; }, 60000) ||
        !QTest::qWaitForWindowActive(&window)) {
        std::printf("  !! the stroke was not offered for undo\n");
        return;
    }
    std::vector<double> ms;
    qint64 bytes = 0;
    bool differs = false;
    for (int run = 0; run < 2 * runs; ++run) {
        // A key press the server refuses as busy (still paying for an
        // expensive rebuild) is pressed again a little later; timed from the
        // press that was taken.
        for (auto& c : clients)
            c->patchesBefore = c->patches;
        QElapsedTimer timer;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const size_t answers = asker.answers.size();
            counter.bytes = 0;
            timer.start();
            QTest::keyClick(asker.canvas(), run % 2 == 0 ? Qt::Key_Z : Qt::Key_Y,
                            Qt::ControlModifier);
            if (!bench::waitFor([&] { return asker.answers.size() > answers; }, 60000))
                break;
            if (asker.answers.back() != undowire::Outcome::Busy)
                break;
            QTest::qWait(100);
        }
        const bool done = all([](Client& c) { return c.patches > c.patchesBefore && c.painted; });
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!done) {
            std::printf("  !! a client got no patch within five minutes\n");
            break;
        }
        (void)bench::waitFor([&] { return counter.bytes > 0; }, 5000);
        bytes = std::max(bytes, counter.bytes);
        for (auto& c : clients)
            differs =
                differs || c->client->form1().canvas().image() != server.drawing().board().image();
    }
    print(ms, bytes, differs);
}
