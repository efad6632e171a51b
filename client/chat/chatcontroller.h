#pragma once

#include "chatsession.h"
#include "form4.h"

#include <QObject>
#include <QPointer>

class Form1;
class Prompts;
struct ClientSettings;

namespace net {
class SocketEndpoint;
}

// The chat as the main window sees it: the text channel handling and the
// chat window's life. The window exists only while open; it is created and
// run through its opening sequence by the main window's "会話ウィンドウ(&M)"
// command or by an arriving notice or remark, and destroyed when it closes.
// The text endpoint and the settings are the main window's.
class ChatController : public QObject {
    Q_OBJECT
public:
    ChatController(net::SocketEndpoint& wsTxt, ClientSettings& settings, Prompts& prompts,
                   QObject* parent = nullptr);
    // The chat of a main window: its text endpoint, settings and prompts, its
    // "会話ウィンドウ(&M)" item opening the chat window, and the address
    // dialog in rename mode as the name-change dialog.
    explicit ChatController(Form1& main, QObject* parent = nullptr);
    ~ChatController() override;

    ChatSession& session() { return m_session; }
    // The open chat window, nullptr while it is closed.
    Form4* chatWindow() const { return m_window; }

    // "会話ウィンドウ(&M)": opens the window, or shows the open one again unchanged.
    Form4* showChatWindow();
    // The main window's last shutdown step: close the window with its own
    // question. True when no chat window is left open.
    bool closeChatWindow();

    // How the window's "名前の変更(&C)..." runs the name dialog (the
    // connection dialog in its rename mode).
    void setRenameDialog(Form4::RenameDialog dialog);

signals:
    void chatWindowOpened(Form4* window);

private:
    QTextEdit* openConversation();

    net::SocketEndpoint& m_wsTxt;
    ClientSettings& m_settings;
    Prompts& m_prompts;
    ChatSession m_session;
    Form4::RenameDialog m_renameDialog;
    QPointer<Form4> m_window;
    QString m_lastSaveName; // outlives the window, like the rest of the chat's state
};
