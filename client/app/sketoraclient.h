#pragma once

#include "chatsettings.h"
#include "connectioncontrol.h"

#include <QObject>
#include <functional>
#include <memory>

class AddressHistory;
class BoardSync;
class ChatController;
class Clock;
class DrawingChannel;
class Form2;
class ImageExport;
class LinkWatch;
class LogPlayer;
class Prompts;
class SessionKeeper;
class StatusLine;
class UndoControl;
class VersionCommand;
class WindowTransparency;

namespace client {
class Form1;
}

namespace net {
class SocketEndpoint;
}

// One whole drawing client: the main window, the start-up dialog and the
// controllers of every client layer, wired together, and the two sequences
// that bring the client up (start()) and down (when the main window is asked
// to close). The program creates one and calls start(); tests create several
// in one process (with their own prompts and ports) to get complete clients.
//
// It also holds what lives as long as the client and belongs to no window:
// the drawing channel (with its socket), the text socket, and the chat
// settings read from and written to the settings file.
class SketoraClient : public QObject {
    Q_OBJECT
public:
    struct Options {
        Prompts* prompts = nullptr; // Qt message boxes and dialogs when null
        ConnectionControl::Ports ports{};
        // Folder of the settings file; empty means the current directory.
        QString settingsDirectory;
        // The platform query that decides about window transparency
        // (getWinVer when null).
        std::function<int()> winVer;
        // The clock that names backup files (the machine's when null).
        const Clock* clock = nullptr;
    };

    explicit SketoraClient(QObject* parent = nullptr);
    explicit SketoraClient(Options options, QObject* parent = nullptr);
    ~SketoraClient() override;

    // The start-up sequence: the main window loads hidden (its timers
    // start), then the address dialog is shown in start-up mode without
    // blocking; however it closes, the main window appears.
    void start();

    // The window's strokes and pen changes go out on the channel.
    static void sendWindowDrawing(client::Form1& window, DrawingChannel& channel);

    client::Form1& form1() { return *m_form1; }
    Form2& startupDialog() { return *m_form2; }
    ChatSettings& settings() { return m_settings; }
    DrawingChannel& drawing() { return *m_drawing; }
    net::SocketEndpoint& textSocket() { return *m_textSocket; }
    ConnectionControl& connection() { return *m_connection; }
    StatusLine& status() { return *m_status; }
    LogPlayer& player() { return *m_player; }
    BoardSync& boardSync() { return *m_boardSync; }
    UndoControl& undo() { return *m_undo; }
    ChatController& chat() { return *m_chat; }
    SessionKeeper& session() { return *m_session; }
    LinkWatch& textWatch() { return *m_textWatch; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadMainWindow();
    bool shutDown();
    void loadSettings();
    void saveSettings();
    void wireMainWindow();
    void wireUndo();
    void wireLink();

    Options m_options;
    std::unique_ptr<Prompts> m_ownPrompts;
    Prompts* m_prompts;
    std::unique_ptr<Clock> m_ownClock;
    std::unique_ptr<AddressHistory> m_addresses;
    ChatSettings m_settings;
    std::unique_ptr<client::Form1> m_form1;
    std::unique_ptr<DrawingChannel> m_drawing;
    std::unique_ptr<net::SocketEndpoint> m_textSocket;
    std::unique_ptr<ConnectionControl> m_connection;
    std::unique_ptr<StatusLine> m_status;
    std::unique_ptr<LogPlayer> m_player;
    std::unique_ptr<BoardSync> m_boardSync;
    std::unique_ptr<SessionKeeper> m_session;
    std::unique_ptr<LinkWatch> m_textWatch;
    std::unique_ptr<UndoControl> m_undo;
    std::unique_ptr<ImageExport> m_export;
    std::unique_ptr<VersionCommand> m_version;
    std::unique_ptr<WindowTransparency> m_transparency;
    std::unique_ptr<ChatController> m_chat;
    std::unique_ptr<Form2> m_form2;
};
