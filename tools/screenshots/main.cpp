// The user guide's screenshots, the program behind `make screenshots`. Runs a
// relay server in this process on ports the system chooses (loopback only),
// shows its window, and runs two whole clients against those ports (see
// clientshots.cpp). Once the clients have drawn, talked and captured their
// windows, the server window is captured with both clients in its list.
//
// usage: sketora-shots <output folder>
#include "appsetup.h"
#include "clientshots.h"
// Both programs call their main window form1.h: the server's is named by its
// folder below server/.
#include "relayserver.h"
#include "serverprompts.h"
#include "shotsupport.h"
#include "window/form1.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>

using server::Form1;

namespace {

class QuietServerPrompts : public ServerPrompts {
public:
    bool question(const QString&, const QString&) override { return true; }
    void message(const QString& text, const QString&) override {
        shots::fail(QStringLiteral("unexpected message box: ") + text);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(appsetup::programIcon());
    appsetup::installFontSubstitutions();
    appsetup::installQtTranslator(app);
    if (app.arguments().size() != 2)
        shots::fail(QStringLiteral("usage: sketora-shots <output folder>"));
    // Absolute: the clients run in a scratch folder of their own.
    const QDir out(QDir(app.arguments()[1]).absolutePath());
    if (!out.mkpath(QStringLiteral(".")))
        shots::fail(QStringLiteral("cannot create ") + out.path());

    QTemporaryDir logs;
    RelayServer server(0, 0, logs.path());
    server.setListenAddress(QHostAddress::LocalHost);
    if (!server.start())
        shots::fail(QStringLiteral("the relay server does not listen"));
    QuietServerPrompts prompts;
    Form1 window(server, prompts);
    // The page is not served here; the panel shows the address the guide
    // uses as its example.
    window.showJoinAddresses({QStringLiteral("http://192.168.1.10:13469/")});
    window.show();

    takeClientShots(out, server.drawingPort(), server.textPort(), [&] {
        auto* list = window.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        shots::waitFor([list] { return list && list->topLevelItemCount() == 2; },
                       QStringLiteral("both clients in the server's list"));
        shots::capture(&window, out, QStringLiteral("server-window.png"));
    });
    return 0;
}
