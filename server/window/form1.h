#pragma once

#include <QMainWindow>

class JoinPanel;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class RelayServer;
class ServerPrompts;

namespace server {

// The server window `Form1`: the connection list, the event log, the buttons
// Start / All Disconnect / Log Save and the menu, and below them, once the
// program serves the browser page, how to join it (JoinPanel). It owns no
// relay rule: it forwards clicks to the RelayServer and paints what the
// server reports.
class Form1 : public QMainWindow {
    Q_OBJECT
public:
    Form1(RelayServer& server, ServerPrompts& prompts, QWidget* parent = nullptr);

    QTreeWidget* listView1() const { return m_listView1; }
    QPlainTextEdit* tLog() const { return m_tLog; }
    QPushButton* command1() const { return m_command1; }
    QPushButton* command2() const { return m_command2; }
    QPushButton* command3() const { return m_command3; }
    QAction* mAutoSave() const { return m_mAutoSave; }
    QAction* mEnd() const { return m_mEnd; }

    // Adds "\r\n"-ended lines to the event log (the relay's own lines arrive
    // through the connection table; the program adds a few of its own).
    void appendLog(const QString& line);
    // The page's addresses, one for each network address of the machine;
    // the window grows to show them with their QR codes.
    void showJoinAddresses(const QStringList& pages);
    JoinPanel* joinPanel() const { return m_join; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenu();
    void buildControls();
    void placeJoinPanel();
    void observeServer();
    void formLoad();
    void command3Click();
    void mAutoSaveClick(bool checked);

    RelayServer& m_server;
    ServerPrompts& m_prompts;
    QTreeWidget* m_listView1 = nullptr;
    QPlainTextEdit* m_tLog = nullptr;
    QPushButton* m_command1 = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command3 = nullptr;
    JoinPanel* m_join = nullptr;
    QAction* m_mAutoSave = nullptr;
    QAction* m_mEnd = nullptr;
};

} // namespace server
