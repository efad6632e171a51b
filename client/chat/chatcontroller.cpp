#include "chatcontroller.h"

#include "form1.h"
#include "form2.h"

#include <QAction>

ChatController::ChatController(net::SocketEndpoint& wsTxt, ClientSettings& settings,
                               Prompts& prompts, QObject* parent)
    : QObject(parent), m_wsTxt(wsTxt), m_settings(settings), m_prompts(prompts),
      m_session(wsTxt)
{
    m_session.setConversationOpener([this] { return openConversation(); });
}

ChatController::ChatController(Form1& main, QObject* parent)
    : ChatController(main.WS_txt(), main.settings(), main.prompts(), parent)
{
    connect(main.mMember(), &QAction::triggered, this, &ChatController::showChatWindow);
    // The dialog itself stores the new name and announces it with "3<:>".
    setRenameDialog([&main](QWidget* parent) {
        Form2 dialog(main, parent);
        dialog.setDlgMode(Form2::Rename);
        dialog.exec();
    });
}

ChatController::~ChatController()
{
    delete m_window.data();
}

Form4* ChatController::showChatWindow()
{
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        return m_window;
    }
    // Not parented to the main window: the chat window may outlive it when
    // the user keeps it open at shutdown.
    auto* window = new Form4(m_wsTxt, m_settings, m_prompts);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setRenameDialog(m_renameDialog);
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
    emit chatWindowOpened(window);
    return window;
}

bool ChatController::closeChatWindow()
{
    if (!m_window)
        return true;
    m_window->close();
    return !m_window;
}

void ChatController::setRenameDialog(Form4::RenameDialog dialog)
{
    m_renameDialog = std::move(dialog);
    if (m_window)
        m_window->setRenameDialog(m_renameDialog);
}

QTextEdit* ChatController::openConversation()
{
    if (!m_window)
        showChatWindow();
    if (!m_window || !m_window->isVisible())
        return nullptr;
    return m_window->text1();
}
