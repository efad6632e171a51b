#include "drawingrelay.h"

#include "connectiontable.h"
#include "drawinghistory.h"
#include "drawingline.h"
#include "endpointarray.h"
#include "extensionreader.h"
#include "logwriter.h"
#include "numbers.h"
#include "relayrecorder.h"

#include <algorithm>

namespace drawing = protocol::drawing;

DrawingRelay::DrawingRelay(EndpointArray& ws, ConnectionTable& table, DrawingHistory& history,
                           LogWriter& logWriter, QObject* parent)
    : QObject(parent), m_ws(ws), m_table(table), m_history(history), m_logWriter(logWriter) {
    connect(&m_ws, &EndpointArray::connectionRequest, this, &DrawingRelay::onConnectionRequest);
    connect(&m_ws, &EndpointArray::dataArrival, this, &DrawingRelay::onDataArrival);
    connect(&m_ws, &EndpointArray::closed, this, &DrawingRelay::onClose);
    // A peer that stopped reading is cut like one that closed.
    connect(&m_ws, &EndpointArray::outputCapExceeded, this, &DrawingRelay::onClose);
}

// `WS_ConnectionRequest`: the newcomer gets the lowest free index k, a row,
// a log line and its greeting.
void DrawingRelay::onConnectionRequest(qintptr requestId) {
    const int k = m_ws.acceptNext(requestId);
    if (k < 0)
        return;
    if (size_t(k) < m_extended.size())
        m_extended[size_t(k)] = false;
    m_undo.opened(k);
    m_snapshots.forget(k);
    const EndpointArray::Peer peer = m_ws.peer(k);
    m_table.addRow(peer.address, peer.port);
    m_table.appendLog(
        QStringLiteral("Connection Start > %1:%2\r\n").arg(peer.address).arg(peer.port));
    greet(k);
}

// `WS_DataArrival`: every complete line, in order.
void DrawingRelay::onDataArrival(int k) {
    const QList<QByteArray> lines = m_ws.takeFrames(k);
    for (const QByteArray& line : lines)
        handleLine(k, line);
}

void DrawingRelay::handleLine(int k, QByteArrayView line) {
    if (m_recorder)
        m_recorder->lineArrived(k);
    const drawing::UpLine up = drawing::parseUpLine(line);
    if (up.data) {
        if (const auto cmd = protocol::roundToInt16(up.command))
            dtSave(k, *cmd, *up.data);
    }
    // Numeric comparison: "8", " 8" and "08" are all member-count requests.
    if (up.command == double(drawing::MemberCount))
        return;
    if (up.command == double(drawing::Extension)) {
        handleExtension(k, line);
        return;
    }
    const QByteArray relayed = drawing::relayedLine(k, line);
    const bool stored = store(relayed);
    sendToAllExcept(k, relayed);
    m_undo.relayed(k, relayed, stored);
    if (m_recorder)
        m_recorder->boardApplied(relayed);
}

// Command 7: each verb is read and answered by the part that speaks it; a
// line no part knows is dropped, and only a known request makes k one of ours.
// Command-7 lines are neither stored nor relayed.
void DrawingRelay::handleExtension(int k, QByteArrayView line) {
    if (const auto request = boardsnapshot::parseRequest(line)) {
        markExtended(k);
        m_snapshots.request(k, *request);
        return;
    }
    if (const auto undo = UndoRelay::parse(line)) {
        markExtended(k);
        const quint64 before = m_board.revision();
        m_undo.answer(k, *undo);
        // A rebuild changed the picture without a line the journal could
        // replay: the journal keeps the picture whole instead.
        if (m_recorder && m_board.revision() != before)
            m_recorder->boardReplaced();
        return;
    }
    for (ExtensionReader* reader : m_readers) {
        if (reader->readExtension(k, line)) {
            markExtended(k);
            return;
        }
    }
}

void DrawingRelay::boardRecovered() {
    if (m_history.blockNo() == 0 && m_history.lines() == 0)
        m_undo.historyEmptied();
    else
        m_undo.historyRecovered();
}

UndoRelay::Outlet DrawingRelay::undoOutlet() {
    UndoRelay::Outlet outlet;
    outlet.send = [this](int k, QByteArrayView bytes) { m_ws.sendReply(k, bytes); };
    outlet.sendToOurs = [this](QByteArrayView bytes) { sendToExtendedExcept(-1, bytes); };
    outlet.store = [this](QByteArrayView line) {
        if (!m_history.canStore(line))
            return false;
        m_history.append(line);
        return true;
    };
    outlet.checksum = [this] { return boardsnapshot::checksum(m_board.image()); };
    outlet.knownName = [this](int k) {
        return m_nameSource && m_ws.isConnected(k) ? m_nameSource(m_ws.peer(k).address) : QString();
    };
    return outlet;
}

// The first known request makes k one of ours; one without a pen slot then
// hears that the board is full.
void DrawingRelay::markExtended(int k) {
    if (size_t(k) >= m_extended.size())
        m_extended.resize(size_t(k) + 1, false);
    if (m_extended[size_t(k)])
        return;
    m_extended[size_t(k)] = true;
    if (!protocol::hasSlot(k))
        m_ws.sendReply(k, "0:7:full\r\n");
}

void DrawingRelay::dtSave(int k, qint16 cmd, QByteArrayView data) {
    const bool hasSlot = protocol::hasSlot(k);
    switch (cmd) {
    case drawing::ClearAll:
        clearHistory();
        break;
    case drawing::Color:
        if (const auto colour = protocol::readInt32(data); colour && hasSlot) {
            m_penColor[k] = *colour;
            noteGreetingPen(k);
        }
        break;
    case drawing::Width:
        if (const auto size = protocol::readInt16(data); size && hasSlot) {
            m_penSize[k] = *size;
            noteGreetingPen(k);
        }
        break;
    case drawing::MemberCount:
        m_ws.sendReply(k, drawing::memberCountLine(m_table.memCount()));
        break;
    default:
        break;
    }
}

void DrawingRelay::setGreetingPen(int k, qint32 colour, qint16 size) {
    if (!protocol::hasSlot(k))
        return;
    m_penColor[k] = colour;
    m_penSize[k] = size;
}

void DrawingRelay::noteGreetingPen(int k) {
    if (m_recorder)
        m_recorder->greetingPenChanged(k, m_penColor[k], m_penSize[k]);
}

// With auto-save the history goes to a log file first; if that file cannot
// be written the history is kept (the clearing line is appended to it).
void DrawingRelay::clearHistory() {
    if (!m_autoSave) {
        m_history.clear();
        m_undo.historyEmptied();
        return;
    }
    const auto path = m_logWriter.saveLog(m_history, true);
    if (path)
        m_undo.historyEmptied();
    emit logSaved(path.value_or(QString()));
}

// True when the line was stored.
bool DrawingRelay::store(QByteArrayView line, bool blockTest) {
    if (line.size() > MaxStoredLine)
        return false;
    if (!m_history.canStore(line))
        saveFullHistory();
    const bool stored = m_history.canStore(line);
    m_history.append(line, blockTest);
    return stored;
}

// A full history (by lines or by bytes) is written out and started over, so
// honest lines keep reaching log files. A failed write is tried again only
// after a while: meanwhile lines are relayed but not stored.
void DrawingRelay::saveFullHistory() {
    if (m_fullSaveFailed.isValid() && m_fullSaveFailed.elapsed() < FullRetryMs)
        return;
    if (const auto path = m_logWriter.saveLog(m_history, true)) {
        m_fullSaveFailed.invalidate();
        m_undo.historyEmptied();
        emit historySaved(*path, QString());
        return;
    }
    m_fullSaveFailed.start();
    emit historySaved(QString(), m_logWriter.lastError());
}

// The greeting of newcomer n, one pass over the slots 0..20: the pens of
// slot j go to n (and into the history) unless j is n, then the member count
// goes to element j. So n hears its own count between the pens of the slots
// below it and those above it: first of all on index 0, last on index 20.
void DrawingRelay::greet(int n) {
    const QByteArray count = drawing::memberCountLine(m_table.memCount());
    for (int j = 0; j < TableSlots; ++j) {
        if (j != n) {
            const QByteArray colour = drawing::greetingColorLine(j, m_penColor[j]);
            m_ws.send(n, colour);
            store(colour, false);
            const QByteArray size = drawing::greetingWidthLine(j, m_penSize[j]);
            m_ws.send(n, size);
            store(size);
        }
        m_ws.send(j, count);
    }
}

// `WS_Close`: the peer closed (or was cut for not reading).
void DrawingRelay::onClose(int k) {
    const EndpointArray::Peer peer = m_ws.peer(k);
    m_table.removeRow(peer.address, peer.port);
    m_table.appendLog(
        QStringLiteral("Connection Close > %1:%2\r\n").arg(peer.address).arg(peer.port));
    sendToAllExcept(k, drawing::memberCountLine(m_table.memCount()));
    if (size_t(k) < m_extended.size())
        m_extended[size_t(k)] = false;
    m_undo.closed(k);
    m_snapshots.forget(k);
    m_ws.closeAndDestroy(k);
}

bool DrawingRelay::speaksExtension(int k) const {
    return k >= 0 && size_t(k) < m_extended.size() && m_extended[size_t(k)] && m_ws.isConnected(k);
}

void DrawingRelay::sendToExtendedExcept(int except, QByteArrayView bytes) {
    const int highest = std::min(m_ws.highestIndex(), int(m_extended.size()) - 1);
    for (int i = 0; i <= highest; ++i)
        if (i != except && m_extended[size_t(i)])
            m_ws.send(i, bytes);
}

void DrawingRelay::sendToAllExcept(int except, QByteArrayView bytes) {
    m_ws.sendToAllExcept(except, bytes);
}
