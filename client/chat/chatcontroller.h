#pragma once

#include "form4.h"
#include "textchannel.h"

#include <QObject>
#include <QPointer>

class Prompts;
struct ChatSettings;

namespace net {
class SocketEndpoint;
}

// The chat of one client: the text channel and the chat window's life. The
// window exists only while open; it is created and run through its opening
// sequence by the main window's "会話ウィンドウ(&M)" command or by an
// arriving notice or remark, and destroyed when it closes. The text endpoint
// and the settings are the client's. The window's name change asks the
// person through the prompts' name dialog.
class ChatController : public QObject {
    Q_OBJECT
public:
    ChatController(net::SocketEndpoint& wsTxt, ChatSettings& settings, Prompts& prompts,
                   QObject* parent = nullptr);
    ~ChatController() override;

    TextChannel& channel() { return m_channel; }
    // The open chat window, nullptr while it is closed.
    Form4* chatWindow() const { return m_window; }

    // "会話ウィンドウ(&M)": opens the window, or shows the open one again unchanged.
    Form4* showChatWindow();
    // The client's last shutdown step: close the window with its own
    // question. True when no chat window is left open.
    bool closeChatWindow();
    // A notice line in the conversation while the window is open; nothing
    // while it is closed (it is not a message that opens it).
    void showNotice(const QString& text);

private:
    QTextDocument* openConversation();
    void runRenameDialog(QWidget* parent);

    ChatSettings& m_settings;
    Prompts& m_prompts;
    TextChannel m_channel;
    QPointer<Form4> m_window;
    QString m_lastSaveName; // outlives the window, like the rest of the chat's state
};
