#include "chatcontroller.h"

#include "chatsettings.h"
#include "prompts.h"
#include "socketendpoint.h"

ChatController::ChatController(net::SocketEndpoint& wsTxt, ChatSettings& settings, Prompts& prompts,
                               QObject* parent)
    : QObject(parent), m_settings(settings), m_prompts(prompts), m_channel(wsTxt, settings) {
    m_channel.setConversationOpener([this] { return openConversation(); });
    // A new text connection while the window is open (a reconnect, by hand
    // or by itself): the member joins again and the conversation goes on.
    connect(&wsTxt, &net::SocketEndpoint::connected, this, [this] {
        if (m_window && m_window->isVisible())
            m_window->announce();
    });
}

ChatController::~ChatController() {
    delete m_window.data();
}

Form4* ChatController::showChatWindow() {
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        return m_window;
    }
    // Not parented to the main window: the chat window may outlive it when
    // the user keeps it open at shutdown.
    auto* window = new Form4(m_channel, m_settings, m_prompts);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setRenameDialog([this](QWidget* parent) { runRenameDialog(parent); });
    window->setLastSaveName(m_lastSaveName);
    connect(window, &Form4::saveNameChosen, this,
            [this](const QString& name) { m_lastSaveName = name; });
    m_window = window;
    // Forget the window as soon as it agrees to close: it is deleted only
    // later, and a message arriving meanwhile must open a fresh one.
    connect(window, &Form4::windowClosed, this, [this, window] {
        if (m_window == window)
            m_window = nullptr;
    });
    window->formLoad();
    return window;
}

bool ChatController::closeChatWindow() {
    if (!m_window)
        return true;
    m_window->close();
    return !m_window;
}

void ChatController::showNotice(const QString& text) {
    if (m_window && m_window->isVisible())
        m_channel.writeNotice(*m_window->conversation(), text);
}

QTextDocument* ChatController::openConversation() {
    if (!m_window)
        showChatWindow();
    if (!m_window || !m_window->isVisible())
        return nullptr;
    return m_window->conversation();
}

// The name dialog, offering the current name; the text channel stores the
// new one and announces it.
void ChatController::runRenameDialog(QWidget* parent) {
    if (const std::optional<QString> name = m_prompts.newName(parent, m_settings.confMyName))
        m_channel.rename(*name);
}
