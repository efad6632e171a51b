// sketoraServer: the relay server program. Everything but the wiring lives
// in serverlib (logic) and serverwindow (the window).

#include "descriptorlimit.h"
#include "form1.h"
#include "localaddress.h"
#include "qrcode.h"
#include "qtserverprompts.h"
#include "relayserver.h"
#include "webserver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdlib>
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

struct Options {
    quint16 drawingPort = RelayServer::DrawingPort;
    quint16 textPort = RelayServer::TextPort;
    quint16 httpPort = WebServer::DefaultPort; // 0: no page
    bool journal = true;
    int heartbeatTimeoutMs = 0; // 0: the server's default
    int connectionsPerAddress = RelayServer::ConnectionsPerAddress;
    int membersPerAddress = WebServer::Limits().membersPerAddress;
};

// The board journal and the heartbeat (RelayKeeper).
struct KeepingOptions {
    QCommandLineOption noJournal{
        QStringLiteral("no-journal"),
        QStringLiteral("Keep no board journal: a crash loses the board and the history.")};
    QCommandLineOption heartbeat{
        QStringLiteral("heartbeat-timeout"),
        QStringLiteral("Seconds of silence after which a member that sent heartbeats is cut "
                       "(default 20)."),
        QStringLiteral("seconds")};

    void read(const QCommandLineParser& parser, Options& options) const {
        options.journal = !parser.isSet(noJournal);
        if (!parser.isSet(heartbeat))
            return;
        bool ok = false;
        const double seconds = parser.value(heartbeat).toDouble(&ok);
        if (!ok || seconds < 0.1 || seconds > 3600) {
            qCritical("sketoraServer: --heartbeat-timeout needs seconds from 0.1 to 3600");
            std::exit(2);
        }
        options.heartbeatTimeoutMs = int(seconds * 1000);
    }
};

// A port number for `option` (0 only when `zeroOk`); a bad value ends the program.
void port(const QCommandLineParser& parser, const QCommandLineOption& option, quint16& target,
          bool zeroOk) {
    if (!parser.isSet(option))
        return;
    bool ok = false;
    const uint value = parser.value(option).toUInt(&ok);
    if (!ok || value > 65535 || (value == 0 && !zeroOk)) {
        qCritical("sketoraServer: --%s needs a port number%s", qPrintable(option.names().first()),
                  zeroOk ? "" : " from 1 to 65535");
        std::exit(2);
    }
    target = quint16(value);
}

// A whole number of at most `most` for `option`; a bad value ends the program.
int count(const QCommandLineParser& parser, const QCommandLineOption& option, int fallback,
          int most) {
    if (!parser.isSet(option))
        return fallback;
    bool ok = false;
    const uint value = parser.value(option).toUInt(&ok);
    if (!ok || value > uint(most)) {
        qCritical("sketoraServer: --%s needs a number from 0 to %d",
                  qPrintable(option.names().first()), most);
        std::exit(2);
    }
    return int(value);
}

// Ports and limits from the command line; a bad value ends the program
// with a message.
Options readOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sketora relay server"));
    parser.addHelpOption();
    const QCommandLineOption drawPort(QStringLiteral("draw-port"),
                                      QStringLiteral("TCP port of the drawing channel."),
                                      QStringLiteral("port"));
    const QCommandLineOption textPort(QStringLiteral("text-port"),
                                      QStringLiteral("TCP port of the text channel."),
                                      QStringLiteral("port"));
    const QCommandLineOption httpPort(QStringLiteral("http-port"),
                                      QStringLiteral("HTTP port of the browser page (0: none)."),
                                      QStringLiteral("port"));
    const QCommandLineOption noHttp(QStringLiteral("no-http"),
                                    QStringLiteral("Do not serve the browser page."));
    const QCommandLineOption perAddress(
        QStringLiteral("connections-per-address"),
        QStringLiteral("Connections one address may hold on each port (0: no limit; default %1).")
            .arg(RelayServer::ConnectionsPerAddress),
        QStringLiteral("n"));
    const QCommandLineOption membersPerAddress(
        QStringLiteral("members-per-address"),
        QStringLiteral("Browser members one address may have (0: no limit; default %1).")
            .arg(WebServer::Limits().membersPerAddress),
        QStringLiteral("n"));
    const KeepingOptions keeping;
    parser.addOptions({drawPort, textPort, httpPort, noHttp, perAddress, membersPerAddress,
                       keeping.noJournal, keeping.heartbeat});
    parser.process(app);
    Options options;
    port(parser, drawPort, options.drawingPort, false);
    port(parser, textPort, options.textPort, false);
    port(parser, httpPort, options.httpPort, true);
    if (parser.isSet(noHttp))
        options.httpPort = 0;
    keeping.read(parser, options);
    options.connectionsPerAddress =
        count(parser, perAddress, options.connectionsPerAddress, 1000000);
    options.membersPerAddress =
        count(parser, membersPerAddress, options.membersPerAddress, 1000000);
    return options;
}

// SIGINT / SIGTERM: nobody is there to answer the exit question, so every
// connection is closed and the program ends. A headless server (the system
// service) has nobody to press Log Save either: what was drawn since the last
// clearing is written to a log file first. When the log or the board cannot
// be written the program says why and ends with status 1, so the service
// manager sees that something was lost.
std::unique_ptr<QSocketNotifier> quitOnSignal(RelayServer& server) {
    if (!installSignalPipe())
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [&server] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        bool kept = true;
        if (server.history().storedLines() > 0 && !server.logSave()) {
            qWarning("sketoraServer: the drawing log could not be written: %s",
                     qUtf8Printable(server.lastLogError()));
            kept = false;
        }
        kept = server.shutdown() && kept;
        QCoreApplication::exit(kept ? 0 : 1);
    });
    return notifier;
}

// The page's address at each network address of the machine: in the event
// log and the join panel, and on stderr with its QR code (as text) when
// nobody sees the window.
void announcePage(server::Form1& window, std::optional<quint16> port, quint16 asked) {
    const bool headless = QGuiApplication::platformName() == u"offscreen" ||
                          QGuiApplication::platformName() == u"minimal";
    if (!port) {
        const QString note = QStringLiteral("ブラウザ用ページを開けません (ポート %1)").arg(asked);
        window.appendLog(note + QStringLiteral("\r\n"));
        if (headless)
            qInfo("sketoraServer: %s", qUtf8Printable(note));
        return;
    }
    QStringList pages;
    for (const QString& address : localIpAddresses())
        pages << WebServer::pageAddress(address, *port);
    window.showJoinAddresses(pages);
    for (const QString& page : std::as_const(pages)) {
        const QString note = QStringLiteral("ブラウザ用ページ: %1").arg(page);
        window.appendLog(note + QStringLiteral("\r\n"));
        const std::optional<QrCode> code = headless ? QrCode::encode(page) : std::nullopt;
        if (headless)
            qInfo("%ssketoraServer: %s", code ? qUtf8Printable(code->toText()) : "",
                  qUtf8Printable(note));
    }
}

// Phones and tablets join through the page, within the page port's limits.
void openPage(WebServer& web, server::Form1& window, const Options& options) {
    WebServer::Limits limits;
    limits.connectionsPerAddress = options.connectionsPerAddress;
    limits.membersPerAddress = options.membersPerAddress;
    web.setPortLimits(limits);
    if (options.httpPort != 0)
        announcePage(window, web.listen(QHostAddress::Any, options.httpPort), options.httpPort);
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

    const Options options = readOptions(app);
    // Each member holds a few descriptors; the soft limit a service starts
    // with is often far below what the system allows it.
    if (const int descriptors = raiseDescriptorLimit(); descriptors >= 0 && descriptors < 4096)
        qWarning("sketoraServer: only %d file descriptors; raise the limit (ulimit -n) for many "
                 "members",
                 descriptors);
    RelayServer server(options.drawingPort, options.textPort, QStringLiteral("."), nullptr,
                       options.journal ? RelayServer::Journal::On : RelayServer::Journal::Off);
    if (options.heartbeatTimeoutMs > 0)
        server.setHeartbeatTimeoutMs(options.heartbeatTimeoutMs);
    server.setConnectionsPerAddress(options.connectionsPerAddress);
    QtServerPrompts prompts;
    const auto signalNotifier = quitOnSignal(server);

    server::Form1 window(server, prompts);
    prompts.setParent(&window);
    window.show();

    WebServer web(server);
    openPage(web, window, options);
    return app.exec();
}
