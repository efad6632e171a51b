#include "boardsync.h"

#include "canvas.h"
#include "drawreceiver.h"
#include "logplayer.h"
#include "socketendpoint.h"
#include "wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QSaveFile>

using net::SocketEndpoint;

namespace {

QString newToken() {
    return QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 36);
}

// The token of a reply argument ("verb tok ..."), without splitting a long
// data line.
QStringView tokenOf(QStringView argument) {
    const qsizetype first = argument.indexOf(u' ');
    if (first < 0)
        return {};
    const QStringView rest = argument.sliced(first + 1);
    const qsizetype second = rest.indexOf(u' ');
    return second < 0 ? rest : rest.first(second);
}

} // namespace

BoardSync::BoardSync(Parts parts, DrawReceiver& receiver, const LogPlayer& player, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_player(player) {
    receiver.setCommand7Handler([this](QStringView argument) { onCommand7(argument); });
    connect(&m_parts.ws, &SocketEndpoint::connected, this, &BoardSync::onConnected);
    connect(&m_parts.ws, &SocketEndpoint::closed, this, &BoardSync::onClosed);
    Canvas& canvas = m_parts.canvas;
    connect(&canvas, &Canvas::localSegment, this,
            [this](qint16 ox, qint16 oy, qint16 x, qint16 y, qint16 wdt, qint32 colour) {
                onLocalChange({ox, oy, x, y, wdt, colour, false});
            });
    connect(&canvas, &Canvas::localCleared, this, [this] {
        onLocalChange({0, 0, 0, 0, 0, 0, true});
    });
    connect(&m_poll, &QTimer::timeout, this, &BoardSync::poll);
    m_poll.start(m_timing.pollMs);
    m_lastActivity.start();
}

void BoardSync::setTiming(const Timing& timing) {
    m_timing = timing;
    m_poll.start(m_timing.pollMs);
}

QString BoardSync::statusNote() const {
    if (m_connected && m_localView)
        return QStringLiteral("(ローカル表示)");
    if (!m_lastBackup.isEmpty() && m_noteSince.isValid() && m_noteSince.elapsed() < m_timing.noteMs)
        return QStringLiteral("(手元の絵を控えに保存)");
    return {};
}

// Runs after the connection control announced the pen (it connected first).
void BoardSync::onConnected() {
    forgetRequests();
    m_connected = true;
    m_answered = false;
    m_silent = false;
    m_firstAsk.invalidate();
    m_syncedRevision.reset();
    m_localView = m_player.isPlaying();
    if (!m_localView)
        requestSnapshot(true);
}

void BoardSync::onClosed() {
    m_connected = false;
    forgetRequests();
}

void BoardSync::forgetRequests() {
    m_reader.reset();
    m_snapToken.clear();
    m_sumToken.clear();
    m_replay.clear();
    m_localPicture = QImage();
}

void BoardSync::retake() {
    if (!m_connected || m_parts.ws.state() != SocketEndpoint::Connected)
        return;
    m_localView = false;
    // The member asked: a server that stayed silent gets one more chance.
    m_silent = false;
    if (!m_answered)
        m_firstAsk.invalidate();
    m_reader.reset();
    requestSnapshot(true);
}

bool BoardSync::send(const QByteArray& line) {
    if (!m_firstAsk.isValid())
        m_firstAsk.start();
    return m_parts.ws.sendBytes(line);
}

void BoardSync::requestSnapshot(bool keepLocal) {
    m_snapToken = newToken();
    m_snapSince.start();
    m_replay.clear();
    m_localPicture = keepLocal ? m_parts.canvas.image() : QImage();
    send(boardsnapshot::snapRequestLine(m_snapToken.toLatin1()));
}

void BoardSync::requestSum() {
    m_sumToken = newToken();
    m_sumSince.start();
    m_ownSinceSum = false;
    m_checkedThisPeriod = true;
    send(boardsnapshot::sumRequestLine(m_sumToken.toLatin1()));
}

void BoardSync::onLocalChange(const Segment& segment) {
    m_lastActivity.restart();
    m_checkedThisPeriod = false;
    m_ownSinceSum = true;
    if (!m_snapToken.isEmpty())
        m_replay.push_back(segment);
}

void BoardSync::poll() {
    const bool connected = m_parts.ws.state() == SocketEndpoint::Connected;
    if (!connected) {
        if (m_connected)
            onClosed(); // closed from this side: no event
        return;
    }
    const Board& board = m_parts.canvas.board();
    if (board.revision() != m_seenRevision) {
        m_seenRevision = board.revision();
        m_lastActivity.restart();
        m_checkedThisPeriod = false;
    }
    if (!m_connected || m_silent || m_localView)
        return;
    if (!m_answered && m_firstAsk.isValid() && m_firstAsk.elapsed() > m_timing.silentMs) {
        m_silent = true;
        forgetRequests();
        return;
    }
    if (!m_snapToken.isEmpty() && !m_reader.isPending() &&
        m_snapSince.elapsed() > m_timing.pendingMs)
        forgetRequests();
    if (!m_sumToken.isEmpty() && m_sumSince.elapsed() > m_timing.pendingMs)
        m_sumToken.clear();
    if (!m_snapToken.isEmpty() || !m_sumToken.isEmpty() || m_checkedThisPeriod)
        return;
    if (m_syncedRevision == board.revision() || m_lastActivity.elapsed() < m_timing.quietMs)
        return;
    requestSum();
}

void BoardSync::onCommand7(QStringView argument) {
    const QStringView token = tokenOf(argument);
    if (!token.isEmpty() && (token == m_snapToken || token == m_sumToken))
        m_answered = true;
    const boardsnapshot::Reader::Event event = m_reader.feed(argument);
    using Event = boardsnapshot::Reader::Event;
    switch (event.kind) {
    case Event::Snapshot:
        if (event.token == m_snapToken)
            apply(event);
        break;
    case Event::Rejected:
        // A broken snapshot changes nothing; the next quiet period asks again.
        if (event.token == m_snapToken) {
            m_snapToken.clear();
            m_replay.clear();
            m_localPicture = QImage();
        }
        break;
    case Event::Sum:
        if (event.token != m_sumToken)
            break;
        m_sumToken.clear();
        // Own lines sent since asking are not in the server's sum yet.
        if (m_ownSinceSum || !m_snapToken.isEmpty())
            break;
        if (event.checksum == boardsnapshot::checksum(m_parts.canvas.image())) {
            m_syncedRevision = m_parts.canvas.board().revision();
            emit checksumCompared(true);
        } else {
            emit checksumCompared(false);
            requestSnapshot(false);
        }
        break;
    case Event::None:
        break;
    }
}

void BoardSync::apply(const boardsnapshot::Reader::Event& event) {
    // The member's own picture is never dropped unnoticed: without its
    // backup the canvas stays a local view.
    if (!m_localPicture.isNull() && !Board::isBlank(m_localPicture) &&
        m_localPicture != event.picture && !writeBackup(m_localPicture)) {
        m_localView = true;
        m_snapToken.clear();
        m_replay.clear();
        m_localPicture = QImage();
        return;
    }
    Board& board = m_parts.canvas.board();
    board.replace(event.picture, event.pens);
    for (const Segment& s : m_replay) {
        if (s.clear)
            board.clearAll();
        else
            board.lineWrite(s.ox, s.oy, s.x, s.y, s.wdt, s.colour);
    }
    // Replayed segments may land in another order than on the server: check
    // again once quiet.
    if (m_replay.empty())
        m_syncedRevision = board.revision();
    else
        m_syncedRevision.reset();
    m_replay.clear();
    m_snapToken.clear();
    m_localPicture = QImage();
    m_parts.refreshPreview();
    emit snapshotApplied();
}

// "sketora-backup-YYYYMMDD-hhmmss.png", with "-2", "-3", ... when taken.
bool BoardSync::writeBackup(const QImage& picture) {
    const QString folder = m_backupDirectory ? m_backupDirectory() : QString();
    const QDir dir(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QString stem = QStringLiteral("sketora-backup-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = dir.filePath(stem + QStringLiteral(".png"));
    for (int n = 2; QFile::exists(path); ++n)
        path = dir.filePath(stem + QStringLiteral("-%1.png").arg(n));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "png");
    if (!writer.write(picture) || !wholefile::commit(file))
        return false;
    m_lastBackup = path;
    m_noteSince.start();
    return true;
}
