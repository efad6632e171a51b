#include "sketoraclient.h"

#include "addresshistory.h"
#include "appsetup.h"
#include "boardsync.h"
#include "chatcontroller.h"
#include "clock.h"
#include "drawingchannel.h"
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "imageexport.h"
#include "linkwatch.h"
#include "logplayer.h"
#include "qtprompts.h"
#include "sessionkeeper.h"
#include "settingsfile.h"
#include "socketendpoint.h"
#include "statusline.h"
#include "textmessage.h"
#include "undocontrol.h"
#include "windowtransparency.h"

#include <QCloseEvent>

using client::Form1;

SketoraClient::SketoraClient(QObject* parent) : SketoraClient(Options{}, parent) {}

SketoraClient::SketoraClient(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_prompts(m_options.prompts) {
    if (!m_prompts) {
        m_ownPrompts = std::make_unique<QtPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    if (!m_options.winVer)
        m_options.winVer = [] { return getWinVer(); };
    if (!m_options.clock) {
        m_ownClock = std::make_unique<SystemClock>();
        m_options.clock = m_ownClock.get();
    }

    m_form1 = std::make_unique<Form1>(*m_prompts);
    Form1& main = *m_form1;
    const auto refreshPreview = [&main] { main.refreshPreview(); };
    m_drawing = std::make_unique<DrawingChannel>(
        DrawingChannel::Parts{main.canvas(), main, refreshPreview});
    m_textSocket = std::make_unique<net::SocketEndpoint>();
    m_addresses = std::make_unique<AddressHistory>(m_options.settingsDirectory);
    m_connection = std::make_unique<ConnectionControl>(
        ConnectionControl::Parts{*m_drawing, *m_textSocket, main, m_addresses.get(), &main,
                                 [this] { return m_session && m_session->knownServer(); }},
        *m_prompts, m_options.ports);
    m_status = std::make_unique<StatusLine>(*m_drawing, main);
    m_player = std::make_unique<LogPlayer>(
        LogPlayer::Parts{main, main.playbackSpeedItems(), m_drawing->receiver()}, *m_prompts);
    // After the connection control: a new connection shows in the menu
    // before the first request goes out.
    m_boardSync = std::make_unique<BoardSync>(
        BoardSync::Parts{*m_drawing, main.canvas(), refreshPreview,
                         [this] { return m_player->isPlaying(); }, *m_options.clock, main});
    m_boardSync->setBackupDirectory([this] { return m_options.settingsDirectory; });
    m_session = std::make_unique<SessionKeeper>(
        SessionKeeper::Parts{*m_drawing, *m_boardSync, main.canvas().board(), refreshPreview});
    m_boardSync->setSpareCheck([this] { return m_session->keepsAll(); });
    m_textWatch = std::make_unique<LinkWatch>([this](const QByteArray& token) {
        if (m_textSocket->state() != net::SocketEndpoint::Connected)
            m_textWatch->stop(); // closed from this side: nothing to watch
        else
            m_textSocket->sendBytes(protocol::text::clientMessage(
                protocol::text::Extension, QString::fromLatin1("ping " + token)));
    });
    m_chat = std::make_unique<ChatController>(*m_textSocket, m_settings, *m_prompts);
    m_undo = std::make_unique<UndoControl>(
        UndoControl::Parts{*m_drawing, main.canvas(), main, main, refreshPreview,
                           [this] { return m_settings.confMyName; }});
    m_export = std::make_unique<ImageExport>(
        *m_prompts, &main, [&main]() -> const QImage& { return main.canvas().image(); });
    m_version = std::make_unique<VersionCommand>(*m_prompts, &main);

    main.setWindowIcon(appsetup::programIcon());
    sendWindowDrawing(main, *m_drawing);
    wireMainWindow();
    wireUndo();
    wireLink();
}

SketoraClient::~SketoraClient() {
    // Windows first: nothing may call into the controllers while they go.
    m_form2.reset();
    m_chat.reset();
    m_transparency.reset();
    m_version.reset();
    m_export.reset();
    m_undo.reset();
    m_textWatch.reset();
    m_session.reset();
    m_boardSync.reset();
    m_player.reset();
    m_status.reset();
    m_connection.reset();
    m_textSocket.reset();
    m_drawing.reset(); // paints on the window's canvas
    m_form1.reset();
}

// Program start: the main window is loaded hidden first, then the address
// dialog is shown in start-up mode without blocking. However the dialog
// closes, it shows the main window.
void SketoraClient::start() {
    loadMainWindow();
    m_form2 = std::make_unique<Form2>();
    m_form2->setDlgMode(Form2::StartUp);
    m_form2->setEarlierAddresses(m_addresses->addresses());
    connect(m_form2.get(), &Form2::connectRequested, m_connection.get(),
            &ConnectionControl::openConnections);
    connect(m_form2.get(), &Form2::startUpClosed, m_form1.get(), &QWidget::show);
    m_form2->show();
}

// The main window's load, in this order; a step that fails is skipped and
// the next one runs.
void SketoraClient::loadMainWindow() {
    // 1-8: canvas at the origin, default palette, black pen (cell 7 clicked
    //      before the settings may change cell 7), width 0, scroll ranges,
    //      "切断(&Q)" off, playback panel hidden, hand-scroll tool.
    m_form1->load();
    // 9: the settings file.
    loadSettings();
    // 10: the platform decides whether the transparency menu is on.
    const std::array<QAction*, 5> items = m_form1->transparencyItems();
    m_transparency = std::make_unique<WindowTransparency>(
        m_form1.get(),
        WindowTransparency::Actions{items[0], items[1], items[2], items[3], items[4]},
        m_options.winVer());
    // The status and member timers run from the load to the end of the program.
    m_status->start();
}

// The main window is asked to close (close box or "終了(&X)"): ask, then in
// this order close the drawing socket, write the settings, stop a playback
// that is yielding, and close the chat window, which asks its own question
// and sends its leave message while the text channel is still open. The
// text socket goes down with the program. False when the close is refused.
bool SketoraClient::shutDown() {
    if (!m_prompts->question(m_form1.get(), QStringLiteral("終了しますか？"),
                             QStringLiteral("終了確認")))
        return false;
    m_drawing->socket().close();
    saveSettings();
    m_player->abort();
    m_chat->closeChatWindow();
    return true;
}

bool SketoraClient::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_form1.get() && event->type() == QEvent::Close) {
        event->setAccepted(shutDown());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// The settings file holds the chat settings and the palette; only the cells
// whose colour the file changes are touched, so a cell the file leaves alone
// keeps its start colour.
void SketoraClient::loadSettings() {
    settingsfile::Palette palette{};
    for (int cell = 0; cell < int(palette.size()); ++cell)
        palette[cell] = m_form1->paletteColor(cell);
    const settingsfile::Palette before = palette;
    settingsfile::confLoad(m_settings, palette, m_options.settingsDirectory);
    for (int cell = 0; cell < int(palette.size()); ++cell) {
        if (palette[cell] != before[cell])
            m_form1->setPaletteColor(cell, palette[cell]);
    }
}

void SketoraClient::saveSettings() {
    settingsfile::Palette palette{};
    for (int cell = 0; cell < int(palette.size()); ++cell)
        palette[cell] = m_form1->paletteColor(cell);
    settingsfile::confSave(m_settings, palette, m_options.settingsDirectory);
}

void SketoraClient::sendWindowDrawing(Form1& window, DrawingChannel& channel) {
    connect(&window, &Form1::penDown, &channel, &DrawingChannel::sendPenDown);
    connect(&window, &Form1::penRestart, &channel, &DrawingChannel::sendRestart);
    connect(&window, &Form1::pencilTo, &channel, &DrawingChannel::sendDraw);
    connect(&window, &Form1::eraserTo, &channel, &DrawingChannel::sendErase);
    connect(&window, &Form1::penUp, &channel, &DrawingChannel::sendPenUp);
    connect(&window, &Form1::penColorChosen, &channel, &DrawingChannel::sendColor);
    connect(&window, &Form1::penWidthChosen, &channel, &DrawingChannel::sendSize);
    connect(&window, &Form1::canvasCleared, &channel, &DrawingChannel::sendClearAll);
}

// The menu commands of the main window, each to the layer that carries it
// out, and its close request to the shutdown sequence.
void SketoraClient::wireMainWindow() {
    Form1* main = m_form1.get();
    ConnectionControl* connection = m_connection.get();
    connect(main, &Form1::connectChosen, connection, &ConnectionControl::mConClick);
    connect(main, &Form1::retakeChosen, m_boardSync.get(), &BoardSync::retake);
    connect(main, &Form1::reconnectChosen, connection, &ConnectionControl::mReconnectClick);
    connect(main, &Form1::disconnectChosen, connection, &ConnectionControl::mCloseClick);
    connect(main, &Form1::chatWindowChosen, m_chat.get(), &ChatController::showChatWindow);
    connect(main, &Form1::logPlayChosen, m_player.get(), &LogPlayer::logPlayDialog);
    connect(main, &Form1::saveImageChosen, m_export.get(), &ImageExport::picSaveDialog);
    connect(main, &Form1::versionChosen, m_version.get(), &VersionCommand::mVersionClick);
    main->installEventFilter(this);
}

// The edit menu to undo; undo speaks once the server has shown it speaks
// command 7, again under a new name, and its notices also go to the
// conversation when it is open.
void SketoraClient::wireUndo() {
    UndoControl* undo = m_undo.get();
    connect(m_form1.get(), &Form1::undoChosen, undo, &UndoControl::undo);
    connect(m_form1.get(), &Form1::redoChosen, undo, &UndoControl::redo);
    connect(m_boardSync.get(), &BoardSync::serverAnswered, undo, &UndoControl::serverSpeaks);
    connect(&m_chat->channel(), &TextChannel::renamed, undo, &UndoControl::announce);
    connect(undo, &UndoControl::notice, m_chat.get(), &ChatController::showNotice);
}

// The heartbeat of the text channel runs once the drawing channel has shown
// the server is one of ours; a dead link on either channel, or a 切断 or
// another address, goes to the connection control.
void SketoraClient::wireLink() {
    ConnectionControl* connection = m_connection.get();
    LinkWatch* text = m_textWatch.get();
    const auto startText = [this] {
        if (m_session->knownServer() && m_textSocket->state() == net::SocketEndpoint::Connected)
            m_textWatch->start();
    };
    // Each text connection is watched afresh; one closed from this side is not.
    connect(m_textSocket.get(), &net::SocketEndpoint::connected, text, startText);
    connect(m_session.get(), &SessionKeeper::serverKnown, text, startText);
    connect(m_textSocket.get(), &net::SocketEndpoint::closed, text, &LinkWatch::stop);
    connect(m_session.get(), &SessionKeeper::linkDead, text, &LinkWatch::stop);
    connect(connection, &ConnectionControl::sessionEnded, text, &LinkWatch::stop);
    connect(&m_chat->channel(), &TextChannel::extensionHeard, text, [text](const QString& payload) {
        if (payload.startsWith(QLatin1String("pong ")))
            text->heard();
    });
    connect(text, &LinkWatch::dead, connection, &ConnectionControl::linkLost);
    connect(m_session.get(), &SessionKeeper::linkDead, connection, &ConnectionControl::linkLost);
    connect(connection, &ConnectionControl::sessionEnded, m_session.get(), &SessionKeeper::forget);
}
