// The server half of the user guide's screenshots, and the entry point of
// `make screenshots`. Runs a relay server in this process on ports the system
// chooses (loopback only), shows its window, and starts the client half
// (sketora-shots-client, beside this program) against those ports. Once the
// clients have drawn, talked and captured their windows, the server window is
// captured with both clients in its list, and the client half is let go.
//
// usage: sketora-shots-server <output folder>
#include "form1.h"
#include "relayserver.h"
#include "serverprompts.h"
#include "shotsupport.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>

namespace {

class QuietServerPrompts : public ServerPrompts {
public:
    bool question(const QString&, const QString&) override { return true; }
    void message(const QString& text, const QString&) override {
        shots::fail(QStringLiteral("unexpected message box: ") + text);
    }
};

void startClients(QProcess& clients, const QDir& out, const RelayServer& server) {
    const QString program = QDir(QCoreApplication::applicationDirPath())
                                .filePath(QStringLiteral("sketora-shots-client"));
    clients.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    clients.start(program, {out.absolutePath(), QString::number(server.drawingPort()),
                            QString::number(server.textPort())});
    if (!clients.waitForStarted())
        shots::fail(QStringLiteral("cannot start ") + program);
    QByteArray said;
    shots::waitFor(
        [&] {
            said += clients.readAllStandardOutput();
            return said.contains("ready") || clients.state() == QProcess::NotRunning;
        },
        QStringLiteral("the clients"), 120000);
    if (!said.contains("ready"))
        shots::fail(QStringLiteral("the client half ended early"));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (app.arguments().size() != 2)
        shots::fail(QStringLiteral("usage: sketora-shots-server <output folder>"));
    const QDir out(app.arguments()[1]);
    if (!out.mkpath(QStringLiteral(".")))
        shots::fail(QStringLiteral("cannot create ") + out.path());

    QTemporaryDir logs;
    RelayServer server(0, 0, logs.path());
    server.setListenAddress(QHostAddress::LocalHost);
    if (!server.start())
        shots::fail(QStringLiteral("the relay server does not listen"));
    QuietServerPrompts prompts;
    Form1 window(server, prompts);
    window.show();

    QProcess clients;
    startClients(clients, out, server);
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    shots::waitFor([list] { return list && list->topLevelItemCount() == 2; },
                   QStringLiteral("both clients in the server's list"));
    shots::capture(&window, out, QStringLiteral("server-window.png"));

    clients.closeWriteChannel();
    if (!clients.waitForFinished(30000) || clients.exitCode() != 0)
        shots::fail(QStringLiteral("the client half did not end cleanly"));
    return 0;
}
