// sketoraServer: the relay server program. Everything but the wiring lives
// in serverlib (logic) and serverwindow (the window).

#include "form1.h"
#include "qtserverprompts.h"
#include "relayserver.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Self-pipe: the signal handler only writes one byte; the event loop reads it
// and does the real work outside the handler.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

bool installSignalPipe() {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Desktop shells match the window to sketoraServer.desktop (menu entry, icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("sketoraServer"));
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/icons/sketoraServer-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTranslator);

    RelayServer server;
    QtServerPrompts prompts;

    // SIGINT / SIGTERM: nobody is there to answer the exit question, so every
    // connection is closed and the program ends normally. A headless server
    // (the system service) has nobody to press Log Save either: what was
    // drawn since the last clearing is written to a log file first.
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (installSignalPipe()) {
        signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &app, [&server] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            if (server.history().storedLines() > 0 && !server.logSave())
                qWarning("sketoraServer: the drawing log could not be written");
            server.shutdown();
            QCoreApplication::exit(0);
        });
    }

    server::Form1 window(server, prompts);
    prompts.setParent(&window);
    window.show();
    return app.exec();
}
