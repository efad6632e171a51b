#include "sessionkeeper.h"

#include "board.h"
#include "boardsync.h"
#include "drawingchannel.h"
#include "drawingline.h"
#include "snapshot.h"
#include "socketendpoint.h"

#include <QRandomGenerator>

namespace {

QByteArray newId() {
    // 16 characters of [0-9a-z]: one id per run of the program.
    QByteArray id;
    for (int i = 0; i < 16; ++i)
        id += "0123456789abcdefghijklmnopqrstuvwxyz"[QRandomGenerator::global()->bounded(36)];
    return id;
}

// "verb <tok> <n>": the token and the number, or nothing when malformed.
bool readAnswer(QStringView argument, QString& token, quint64& number) {
    const QList<QStringView> words = argument.split(u' ');
    if (words.size() != 3)
        return false;
    bool ok = false;
    number = words[2].toULongLong(&ok);
    token = words[1].toString();
    return ok;
}

} // namespace

SessionKeeper::SessionKeeper(Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_id(newId()),
      m_watch([this](const QByteArray& token) {
          if (!m_parts.channel.isConnected())
              m_watch.stop(); // closed from this side: nothing to watch
          else
              out("7:ping " + token + "\r\n");
      }) {
    DrawingChannel& channel = m_parts.channel;
    channel.setSendGate([this](const QByteArray& line) { return gate(line); });
    channel.onExtension({QStringLiteral("session")},
                        [this](QStringView argument) { onAnswer(argument); });
    channel.onExtension({QStringLiteral("pong")},
                        [this](QStringView argument) { onPong(argument); });
    connect(&channel, &DrawingChannel::penAnnounced, this, [this](qint32 colour, qint16 width) {
        m_claimed = m_answered = m_pictureReplaced = false;
        m_phase = Phase::Plain;
        m_log.announced(colour, width);
        if (m_known)
            claim();
    });
    connect(&channel, &DrawingChannel::closed, this, [this] {
        m_phase = Phase::Down;
        m_watch.stop();
        m_answerWait.stop();
    });
    // A server answering the first request of a connection speaks command 7.
    connect(&m_parts.sync, &BoardSync::serverAnswered, this, [this] {
        if (m_phase == Phase::Plain && !m_claimed && m_parts.channel.isConnected())
            claim();
    });
    connect(&m_parts.sync, &BoardSync::snapshotApplied, this, [this] {
        m_pictureReplaced = true;
        m_log.pictureTaken();
    });
    connect(&m_parts.sync, &BoardSync::stateChanged, this, &SessionKeeper::tryResend);
    connect(&m_watch, &LinkWatch::dead, this, [this] {
        m_parts.channel.socket().close();
        m_phase = Phase::Down;
        m_answerWait.stop();
        emit linkDead();
    });
    m_answerWait.setSingleShot(true);
    m_answerWait.setInterval(m_timing.answerWaitMs);
    connect(&m_answerWait, &QTimer::timeout, this, &SessionKeeper::giveUp);
}

void SessionKeeper::setTiming(const Timing& timing) {
    m_timing = timing;
    m_watch.setTiming(timing.watch);
    m_answerWait.setInterval(timing.answerWaitMs);
}

bool SessionKeeper::keepsAll() const {
    return m_known && m_claimed && !m_log.incomplete();
}

void SessionKeeper::forget() {
    m_log.clear();
    m_known = false;
}

// Each upstream line of the channel, as the table in the header says.
bool SessionKeeper::gate(const QByteArray& line) {
    if (!m_parts.channel.isConnected() && m_phase != Phase::Down) {
        // Closed from this side, without a close event.
        m_phase = Phase::Down;
        m_watch.stop();
        m_answerWait.stop();
    }
    switch (m_phase) {
    case Phase::Down:
        if (m_known)
            m_log.keepOffline(line);
        return false;
    case Phase::Plain:
        return m_parts.channel.sendNow(line);
    case Phase::Holding:
        if (ResendLog::isDrawing(line)) {
            m_log.keepOffline(line);
            return true;
        }
        return out(line);
    case Phase::Open:
        return out(line);
    }
    return false;
}

// A line of the session: counted (and kept when it draws) once it went out.
bool SessionKeeper::out(const QByteArray& line) {
    if (!m_parts.channel.sendNow(line))
        return false;
    if (m_claimed)
        m_log.sent(line);
    return true;
}

void SessionKeeper::claim() {
    if (!m_parts.channel.sendNow("7:session " + m_id + "\r\n"))
        return;
    m_claimed = true;
    m_log.claimed();
    m_phase = m_log.empty() ? Phase::Open : Phase::Holding;
    m_answerWait.start();
}

void SessionKeeper::onAnswer(QStringView argument) {
    QString id;
    quint64 taken = 0;
    if (!readAnswer(argument, id, taken) || id.toLatin1() != m_id || !m_claimed || m_answered)
        return;
    m_answered = true;
    m_answerWait.stop();
    m_log.answered(taken);
    if (!m_known) {
        m_known = true;
        emit serverKnown();
    }
    m_watch.start();
    tryResend();
}

void SessionKeeper::onPong(QStringView argument) {
    QString token;
    quint64 durable = 0;
    if (!readAnswer(argument, token, durable))
        return;
    m_watch.heard();
    if (m_answered)
        m_log.durable(durable);
}

// Once the answer is in and the shared picture has settled (shown, refused
// or not coming), the resend goes out in order, then the current pen.
void SessionKeeper::tryResend() {
    if (m_phase != Phase::Holding || !m_answered)
        return;
    const BoardSync::State state = m_parts.sync.state();
    if (state == BoardSync::State::Snapshot || state == BoardSync::State::Offline)
        return;
    m_phase = Phase::Open;
    const QList<QByteArray> lines = m_log.takeResend();
    if (m_pictureReplaced)
        paintLocally(lines);
    for (const QByteArray& line : lines)
        out(line);
    m_parts.channel.announcePen();
    emit resendDone(int(lines.size()));
}

void SessionKeeper::giveUp() {
    if (m_answered || !m_claimed)
        return;
    // Not one of ours after all: what was drawn offline goes out as drawn.
    const QList<QByteArray> lines = m_log.giveUp();
    m_known = false;
    m_claimed = false;
    m_phase = Phase::Plain;
    if (m_pictureReplaced)
        paintLocally(lines);
    for (const QByteArray& line : lines)
        m_parts.channel.sendNow(line);
    m_parts.channel.announcePen();
}

// The lines a shared picture replaced, painted again with a pen of their own
// (a borrowed slot, given back with every other member's pen unchanged).
void SessionKeeper::paintLocally(const QList<QByteArray>& lines) {
    Board& board = m_parts.board;
    const Board::Pens pens = board.pens();
    Board::Pens own = pens;
    own[0] = {};
    board.setPens(own);
    for (const QByteArray& line : lines) {
        QByteArray bare = line;
        if (bare.endsWith("\r\n"))
            bare.chop(2);
        board.applyLine(QString::fromLatin1("0:" + bare));
    }
    board.setPens(pens);
    if (m_parts.refreshPreview)
        m_parts.refreshPreview();
}
