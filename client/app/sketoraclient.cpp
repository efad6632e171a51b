#include "sketoraclient.h"

#include "drawreceiver.h"
#include "form1.h"
#include "form1hooks.h"
#include "form2.h"
#include "logplayer.h"
#include "prompts.h"
#include "socketendpoint.h"
#include "statusline.h"

#include <QAction>

// The main window calls these at its load and shutdown steps. The settings
// file, the platform query and the chat window belong to the chat and extras
// layers; each is forwarded to its owner here once that layer is wired in.
class SketoraClient::Hooks : public Form1Hooks {
public:
    explicit Hooks(SketoraClient& client) : m_client(client) {}

    void confLoad() override {}
    int getWinVer() override { return 0; }
    void confSave() override {}
    void closeChatWindow() override
    {
        // Last shutdown step: a playback that is yielding must not draw on.
        if (m_client.m_player)
            m_client.m_player->abort();
    }

private:
    SketoraClient& m_client;
};

SketoraClient::SketoraClient(QObject* parent) : SketoraClient(Options{}, parent) {}

SketoraClient::SketoraClient(Options options, QObject* parent)
    : QObject(parent), m_prompts(options.prompts)
{
    if (!m_prompts) {
        m_ownPrompts = std::make_unique<QtPrompts>();
        m_prompts = m_ownPrompts.get();
    }
    m_hooks = std::make_unique<Hooks>(*this);
    m_form1 = std::make_unique<Form1>(*m_prompts);
    m_form1->setHooks(m_hooks.get());

    Form1* main = m_form1.get();
    m_receiver = std::make_unique<DrawReceiver>(m_form1->canvas(),
                                                [main] { main->refreshPreview(); });
    m_connection = std::make_unique<ConnectionControl>(*m_form1, *m_prompts, options.ports);
    m_status = std::make_unique<StatusLine>(*m_form1, *m_receiver);
    m_player = std::make_unique<LogPlayer>(*m_form1, *m_receiver, *m_prompts);

    wireDrawingSocket();
    wireNetworkMenu();
    wireFileMenu();
    wireChat();
    wireExtras();
}

SketoraClient::~SketoraClient()
{
    // Windows first: nothing may call into the controllers while they go.
    m_form2.reset();
    m_player.reset();
    m_status.reset();
    m_connection.reset();
    m_receiver.reset();
    m_form1.reset();
}

void SketoraClient::start()
{
    m_form1->load();
    m_status->start();
    m_form2 = std::make_unique<Form2>(*m_form1);
    m_form2->setDlgMode(Form2::StartUp);
    m_connection->attachDialog(*m_form2);
    m_form2->show();
}

void SketoraClient::wireDrawingSocket()
{
    net::SocketEndpoint& ws = m_form1->WS();
    connect(&ws, &net::SocketEndpoint::dataArrival, this,
            [this] { m_receiver->receive(m_form1->WS().getData()); });
    // A tail left over from an earlier connection must not prefix new lines.
    connect(&ws, &net::SocketEndpoint::connected, this, [this] { m_receiver->resetFraming(); });
}

void SketoraClient::wireNetworkMenu()
{
    ConnectionControl* control = m_connection.get();
    connect(m_form1->mCon(), &QAction::triggered, control, &ConnectionControl::mConClick);
    connect(m_form1->mReconnect(), &QAction::triggered, control,
            &ConnectionControl::mReconnectClick);
    connect(m_form1->mClose(), &QAction::triggered, control, &ConnectionControl::mCloseClick);
}

void SketoraClient::wireFileMenu()
{
    connect(m_form1->mLogPlay(), &QAction::triggered, m_player.get(), &LogPlayer::logPlayDialog);
}

// The chat layer: the text channel handler, the chat window (mMember, Ctrl+M)
// and the rename dialog (Form2 in mode 2) are created and connected here.
void SketoraClient::wireChat() {}

// The extras layer: settings file (Hooks::confLoad/confSave), image export
// (mSave), version dialog (mVersion) and transparency (Hooks::getWinVer,
// mT100..mT25) are created and connected here.
void SketoraClient::wireExtras() {}
