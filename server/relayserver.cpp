#include "relayserver.h"

#include "boardfile.h"
#include "cp932.h"
#include "drawingline.h"
#include "drawingrelay.h"
#include "endpointarray.h"
#include "relaykeeper.h"
#include "textmessage.h"
#include "textrelay.h"

#include <QDir>

namespace {

const Clock& pickClock(const Clock* given, std::unique_ptr<Clock>& own) {
    if (given)
        return *given;
    own = std::make_unique<SystemClock>();
    return *own;
}

} // namespace

RelayServer::RelayServer(quint16 drawingPort, quint16 textPort, QString logDirectory,
                         const Clock* clock, Journal journal, QObject* parent)
    : QObject(parent), m_logWriter(logDirectory, pickClock(clock, m_ownClock)),
      m_boardPath(boardfile::pathIn(logDirectory)),
      m_ws(new EndpointArray(drawingPort, protocol::drawing::Terminator, this)),
      m_wsTxt(new EndpointArray(textPort, protocol::text::Terminator, this)),
      m_drawing(new DrawingRelay(*m_ws, m_table, m_history, m_logWriter, this)),
      m_text(new TextRelay(*m_wsTxt, m_table, this)) {
    setOutputCap(OutputCap);
    setConnectionsPerAddress(ConnectionsPerAddress);
    for (EndpointArray* array : {m_ws, m_wsTxt}) {
        array->setAddressBook(&m_addressBook);
        connect(array, &EndpointArray::refused, this, [this](const QString& address, quint16 port) {
            m_table.appendLog(
                QStringLiteral("Connection Refused > %1:%2\r\n").arg(address).arg(port));
        });
    }
    connect(m_drawing, &DrawingRelay::logSaved, this, &RelayServer::logSaved);
    connect(m_drawing, &DrawingRelay::historySaved, this, &RelayServer::onHistorySaved);
    // An automatic save is a moment the picture is worth keeping as well.
    connect(m_drawing, &DrawingRelay::logSaved, this, [this] { saveBoard(); });
    m_drawing->setNameSource([this](const QString& address) { return chatNameAt(address); });
    m_keeper = std::make_unique<RelayKeeper>(
        logDirectory,
        RelayKeeper::Parts{*m_ws, *m_wsTxt, *m_drawing, *m_text, m_history, [this] { loadBoard(); },
                           [this](const QString& m) { note(m); }});
    m_keeper->open(journal == Journal::On);
    m_drawing->boardRecovered();
    // `Timer1`: the member count follows the connection list every 500 ms.
    m_timer.setInterval(500);
    connect(&m_timer, &QTimer::timeout, &m_table, &ConnectionTable::tick);
    m_timer.start();
}

RelayServer::~RelayServer() = default;

void RelayServer::setHeartbeatTimeoutMs(int ms) {
    m_keeper->setHeartbeatTimeoutMs(ms);
}

void RelayServer::setListenAddress(const QHostAddress& address) {
    m_ws->setListenAddress(address);
    m_wsTxt->setListenAddress(address);
}

void RelayServer::setOutputCap(qint64 bytes) {
    m_ws->setOutputCap(bytes);
    m_wsTxt->setOutputCap(bytes);
}

void RelayServer::setConnectionsPerAddress(int connections) {
    m_ws->setPerAddressLimit(connections);
    m_wsTxt->setPerAddressLimit(connections);
}

void RelayServer::onHistorySaved(const QString& path, const QString& error) {
    if (error.isEmpty())
        note(QStringLiteral("描画履歴がいっぱいになったので %1 に保存し、新しい履歴を始めました")
                 .arg(QDir::toNativeSeparators(path)));
    else
        note(QStringLiteral("描画履歴がいっぱいですが保存できません（%1）。"
                            "線は中継されますが、記録はされません")
                 .arg(error));
}

// Said where someone may look: the event log, and stderr for a server
// without a screen (the system journal).
void RelayServer::note(const QString& message) {
    qWarning("sketoraServer: %s", qUtf8Printable(message));
    m_table.appendLog(message + QStringLiteral("\r\n"));
}

bool RelayServer::start() {
    if (!m_ws->listen()) {
        emit listenFailed(QStringLiteral("ポート %1 で接続を待ち受けできません（%2）")
                              .arg(m_ws->port())
                              .arg(m_ws->listenError()));
        return false;
    }
    if (!m_wsTxt->listen()) {
        emit listenFailed(QStringLiteral("ポート %1 で接続を待ち受けできません（%2）")
                              .arg(m_wsTxt->port())
                              .arg(m_wsTxt->listenError()));
        m_ws->stopListening();
        return false;
    }
    setRunning(true);
    return true;
}

void RelayServer::allDisconnect() {
    m_ws->closeAll();
    m_wsTxt->closeAll();
    m_table.clearRows();
    m_text->forgetJoined();
    setRunning(false);
}

std::optional<QString> RelayServer::logSave() {
    return m_logWriter.saveLog(m_history, false);
}

bool RelayServer::shutdown() {
    const bool saved = saveBoard();
    m_keeper->finish(saved);
    allDisconnect();
    return saved;
}

bool RelayServer::saveBoard() {
    const QString error = boardfile::save(m_drawing->board(), m_boardPath);
    if (error.isEmpty())
        return true;
    note(QStringLiteral("共有画面を保存できません: %1").arg(error));
    return false;
}

// A picture that cannot be used is ignored and the board starts white; the
// next save replaces the file.
void RelayServer::loadBoard() {
    const QString error = boardfile::load(m_drawing->board(), m_boardPath);
    m_drawing->boardReplaced();
    if (error.isEmpty())
        return;
    note(QStringLiteral("共有画面を読み込めません: %1").arg(error));
}

// The chat knows names by text index, and a member's drawing and text
// indices need not be equal: the name is the one of the only joined chat
// member at the same address, none when there are several (or none).
QString RelayServer::chatNameAt(const QString& address) const {
    QString name;
    int found = 0;
    for (int i = 0; i <= m_wsTxt->highestIndex() && i < TextRelay::TableSlots; ++i) {
        const TextRelay::Member& member = m_text->member(i);
        if (member.joined && m_wsTxt->isConnected(i) && m_wsTxt->peer(i).address == address) {
            name = protocol::fromCp932(member.name);
            ++found;
        }
    }
    return found == 1 ? name : QString();
}

void RelayServer::setAutoSave(bool on) {
    m_drawing->setAutoSave(on);
}

bool RelayServer::autoSave() const {
    return m_drawing->autoSave();
}

quint16 RelayServer::drawingPort() const {
    return m_ws->port();
}

quint16 RelayServer::textPort() const {
    return m_wsTxt->port();
}

void RelayServer::setRunning(bool running) {
    if (running == m_running)
        return;
    m_running = running;
    emit runningChanged(running);
}
