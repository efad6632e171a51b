#include "sketoraclient.h"

#include "boardsync.h"
#include "chatcontroller.h"
#include "drawreceiver.h"
#include "form1.h"
#include "form1hooks.h"
#include "form2.h"
#include "form3.h"
#include "imageexport.h"
#include "logplayer.h"
#include "prompts.h"
#include "settingsfile.h"
#include "socketendpoint.h"
#include "statusline.h"
#include "windowtransparency.h"

#include <QAction>

// The main window calls these at its load and shutdown steps; each is
// forwarded to the layer that owns it: the settings file and the platform
// query (extras), the chat window (chat).
class SketoraClient::Hooks : public Form1Hooks {
public:
    explicit Hooks(SketoraClient& client) : m_client(client) {}

    void confLoad() override { settingsfile::confLoad(*m_client.m_form1, m_client.m_settingsDirectory); }
    int getWinVer() override {
        m_client.m_winVer = ::getWinVer();
        return m_client.m_winVer;
    }
    void confSave() override { settingsfile::confSave(*m_client.m_form1, m_client.m_settingsDirectory); }
    void closeChatWindow() override {
        // Last shutdown step: a playback that is yielding must not draw on.
        if (m_client.m_player)
            m_client.m_player->abort();
        // The chat window asks its own question and sends the leave message
        // while the text channel is still open.
        if (m_client.m_chat)
            m_client.m_chat->closeChatWindow();
    }

private:
    SketoraClient& m_client;
};

SketoraClient::SketoraClient(QObject* parent) : SketoraClient(Options{}, parent) {}

SketoraClient::SketoraClient(Options options, QObject* parent)
    : QObject(parent), m_prompts(options.prompts) {
    if (!m_prompts) {
        m_ownPrompts = std::make_unique<QtPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    m_hooks = std::make_unique<Hooks>(*this);
    m_form1 = std::make_unique<Form1>(*m_prompts);
    m_form1->setHooks(m_hooks.get());

    Form1* main = m_form1.get();
    m_receiver =
        std::make_unique<DrawReceiver>(m_form1->canvas(), [main] { main->refreshPreview(); });
    m_connection = std::make_unique<ConnectionControl>(*m_form1, *m_prompts, options.ports);
    m_status = std::make_unique<StatusLine>(*m_form1, *m_receiver);
    m_player = std::make_unique<LogPlayer>(*m_form1, *m_receiver, *m_prompts);
    // After the connection control: on connect the pen is announced first.
    m_boardSync = std::make_unique<BoardSync>(*m_form1, *m_receiver, *m_player);
    m_boardSync->setBackupDirectory([this] { return m_settingsDirectory; });
    m_status->setNote([this] { return m_boardSync ? m_boardSync->statusNote() : QString(); });

    wireDrawingSocket();
    wireNetworkMenu();
    wireFileMenu();
    wireChat();
    wireExtras();
}

SketoraClient::~SketoraClient() {
    // Windows first: nothing may call into the controllers while they go.
    m_form2.reset();
    m_chat.reset();
    m_transparency.reset();
    m_version.reset();
    m_export.reset();
    m_boardSync.reset();
    m_player.reset();
    m_status.reset();
    m_connection.reset();
    m_receiver.reset();
    m_form1.reset();
}

void SketoraClient::start() {
    m_form1->load();
    m_transparency = std::make_unique<WindowTransparency>(
        m_form1.get(),
        WindowTransparency::Actions{m_form1->mTranse(), m_form1->mT100(), m_form1->mT75(),
                                    m_form1->mT50(), m_form1->mT25()},
        m_winVer);
    m_status->start();
    m_form2 = std::make_unique<Form2>(*m_form1);
    m_form2->setDlgMode(Form2::StartUp);
    m_connection->attachDialog(*m_form2);
    m_form2->show();
}

void SketoraClient::wireDrawingSocket() {
    net::SocketEndpoint& ws = m_form1->WS();
    connect(&ws, &net::SocketEndpoint::dataArrival, this,
            [this] { m_receiver->receive(m_form1->WS().getData()); });
    // A tail left over from an earlier connection must not prefix new lines.
    connect(&ws, &net::SocketEndpoint::connected, this, [this] { m_receiver->resetFraming(); });
}

void SketoraClient::wireNetworkMenu() {
    ConnectionControl* control = m_connection.get();
    connect(m_form1->mCon(), &QAction::triggered, control, &ConnectionControl::mConClick);
    connect(m_form1->mReconnect(), &QAction::triggered, control,
            &ConnectionControl::mReconnectClick);
    connect(m_form1->mClose(), &QAction::triggered, control, &ConnectionControl::mCloseClick);
}

void SketoraClient::wireFileMenu() {
    connect(m_form1->mLogPlay(), &QAction::triggered, m_player.get(), &LogPlayer::logPlayDialog);
}

// The chat layer: the text channel handler, the chat window (mMember, Ctrl+M)
// and the rename dialog (Form2 in mode 2).
void SketoraClient::wireChat() { m_chat = std::make_unique<ChatController>(*m_form1); }

// The extras layer: image export (mSave) and the version window (mVersion);
// transparency follows the platform query made during the window's load
// (start()). The settings file is read and written through the hooks.
void SketoraClient::wireExtras() {
    Form1* main = m_form1.get();
    main->setWindowIcon(Form3::programIcon());
    m_export = std::make_unique<ImageExport>(
        *m_prompts, main, [main]() -> const QImage& { return main->canvas().image(); });
    m_export->attach(main->mSave());
    m_version = std::make_unique<VersionCommand>(*m_prompts, main);
    m_version->attach(main->mVersion());
}
