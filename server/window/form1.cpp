#include "form1.h"

#include "connectiontable.h"
#include "joinpanel.h"
#include "localaddress.h"
#include "relayserver.h"
#include "serverprompts.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

namespace server {

namespace {

// The layout is given in twips; at 96 dpi 15 twips make one pixel.
constexpr int px(int twips) {
    return twips / 15;
}

// The client area of the window as designed, in twips; the join panel goes
// below it.
constexpr int ClientWidth = 3240 + 1455 + 120;
constexpr int ClientHeight = 3135;

const QString AutoSaveText = QStringLiteral(
    "自動ログ保存にチェックを入れると、「全消しした場合」「ログ数が一定を越えた場合」"
    "の条件の時に自動的にログを保存します");

} // namespace

Form1::Form1(RelayServer& server, ServerPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), m_server(server), m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Sketora - サーバ"));
    buildMenu();
    buildControls();
    observeServer();
    formLoad();
}

void Form1::buildMenu() {
    QMenu* mMnu = menuBar()->addMenu(QStringLiteral("メニュー(&M)"));
    m_mAutoSave = mMnu->addAction(QStringLiteral("自動ログ保存をする(&S)"));
    m_mAutoSave->setCheckable(true);
    m_mAutoSave->setChecked(false);
    m_mEnd = mMnu->addAction(QStringLiteral("終了(&X)"));
    connect(m_mAutoSave, &QAction::triggered, this, &Form1::mAutoSaveClick);
    connect(m_mEnd, &QAction::triggered, this, &QWidget::close);
}

void Form1::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    m_listView1 = new QTreeWidget(central);
    m_listView1->setObjectName(QStringLiteral("ListView1"));
    m_listView1->setRootIsDecorated(false);
    m_listView1->setColumnCount(2);
    m_listView1->setHeaderLabels({QStringLiteral("IPアドレス"), QStringLiteral("ポート")});
    m_listView1->setGeometry(0, 0, px(4095), px(1335));

    m_tLog = new QPlainTextEdit(central);
    m_tLog->setObjectName(QStringLiteral("tLog"));
    m_tLog->setReadOnly(true);
    // Like the connection table's log, the box keeps its newest lines only.
    m_tLog->setMaximumBlockCount(5000);
    m_tLog->setGeometry(0, px(1440), px(4095), px(1215));

    const auto button = [central](const QString& text, int left) {
        auto* b = new QPushButton(text, central);
        b->setGeometry(px(left), px(2760), px(1455), px(255));
        return b;
    };
    m_command1 = button(QStringLiteral("Start"), 120);
    m_command2 = button(QStringLiteral("All Disconnect"), 1680);
    m_command3 = button(QStringLiteral("Log Save"), 3240);
    connect(m_command1, &QPushButton::clicked, &m_server, &RelayServer::start);
    connect(m_command2, &QPushButton::clicked, &m_server, &RelayServer::allDisconnect);
    connect(m_command3, &QPushButton::clicked, this, &Form1::command3Click);

    m_join = new JoinPanel(central);

    // Wide enough for the last button (3240 + 1455) and a margin like the
    // first one's; the list and the log box follow the width.
    central->setMinimumSize(px(ClientWidth), px(ClientHeight));
    resize(px(ClientWidth), px(ClientHeight) + menuBar()->sizeHint().height());
}

void Form1::showJoinAddresses(const QStringList& pages) {
    m_join->setPages(pages);
    placeJoinPanel();
    const int height = centralWidget()->minimumHeight();
    if (centralWidget()->height() < height)
        resize(width(), height + menuBar()->sizeHint().height());
}

// Under the buttons, the full width of the window.
void Form1::placeJoinPanel() {
    const int width = centralWidget()->width();
    const int panel = m_join->isHidden() ? 0 : m_join->heightForWidth(std::max(width, 1));
    const int height = panel > 0 ? panel : m_join->sizeHint().height();
    m_join->setGeometry(0, px(ClientHeight), width, m_join->isHidden() ? 0 : height);
    centralWidget()->setMinimumHeight(px(ClientHeight) + (m_join->isHidden() ? 0 : height + 4));
}

void Form1::observeServer() {
    ConnectionTable& table = m_server.table();
    connect(&table, &ConnectionTable::rowAdded, this, [this](const QString& address, quint16 port) {
        m_listView1->addTopLevelItem(new QTreeWidgetItem({address, QString::number(port)}));
    });
    connect(&table, &ConnectionTable::rowRemoved, this,
            [this](int row) { delete m_listView1->takeTopLevelItem(row); });
    connect(&table, &ConnectionTable::rowsCleared, m_listView1, &QTreeWidget::clear);
    connect(&table, &ConnectionTable::logAppended, this, &Form1::appendLog);
    connect(&m_server, &RelayServer::runningChanged, this,
            [this](bool running) { m_command1->setEnabled(!running); });
    connect(&m_server, &RelayServer::listenFailed, this,
            [this](const QString& text) { m_prompts.message(text, QStringLiteral("エラー")); });
}

// `Form_Load`: the title gets the machine's address, then Start runs as if
// the button had been pressed.
void Form1::formLoad() {
    setWindowTitle(windowTitle() + QLatin1Char('/') + localIpAddress());
    m_command1->setEnabled(!m_server.isRunning());
    if (!m_server.isRunning())
        m_server.start();
}

void Form1::command3Click() {
    const std::optional<QString> saved = m_server.logSave();
    if (!saved) {
        m_prompts.message(QStringLiteral("ログを保存できません\n%1").arg(m_server.lastLogError()),
                          QStringLiteral("保存エラー"));
        return;
    }
    appendLog(QStringLiteral("Log Save > %1\r\n").arg(QDir::toNativeSeparators(*saved)));
}

void Form1::mAutoSaveClick(bool checked) {
    m_server.setAutoSave(checked);
    if (checked)
        m_prompts.message(AutoSaveText, QStringLiteral("自動ログ保存について"));
}

// The box shows "\r\n"-ended lines; the caret goes to the end so that the
// newest line is in view.
void Form1::appendLog(const QString& line) {
    QTextCursor cursor = m_tLog->textCursor();
    cursor.movePosition(QTextCursor::End);
    QString shown = line;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    cursor.insertText(shown);
    m_tLog->setTextCursor(cursor);
    m_tLog->ensureCursorVisible();
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int width = centralWidget()->width();
    m_listView1->resize(width, m_listView1->height());
    m_tLog->resize(width, m_tLog->height());
    placeJoinPanel();
}

// `Form_Unload`: asked first; OK closes every connection and ends the program.
void Form1::closeEvent(QCloseEvent* event) {
    if (!m_prompts.question(QStringLiteral("終了しますか？"), QStringLiteral("終了確認"))) {
        event->ignore();
        return;
    }
    m_server.shutdown();
    event->accept();
}

} // namespace server
