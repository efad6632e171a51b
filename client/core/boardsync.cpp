#include "boardsync.h"

#include "canvas.h"
#include "drawingchannel.h"
#include "windowviews.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

namespace {

QString newToken() {
    return QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 36);
}

// The token of a reply argument ("verb tok ..."), without splitting a long
// data line.
const QString localViewText =
    QStringLiteral("ローカル表示: キャンバスは手元の絵のままで、みんなの共有画面ではありません。"
                   "「通信」→「共有画面を取り直す」で共有画面に切り替わります。");

const QString boardFullText = QStringLiteral("満員です（描いた線はほかの人には届きません）");

QString shownPath(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

QStringView tokenOf(QStringView argument) {
    const qsizetype first = argument.indexOf(u' ');
    if (first < 0)
        return {};
    const QStringView rest = argument.sliced(first + 1);
    const qsizetype second = rest.indexOf(u' ');
    return second < 0 ? rest : rest.first(second);
}

} // namespace

BoardSync::BoardSync(Parts parts, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_backup(m_parts.clock) {
    DrawingChannel& channel = m_parts.channel;
    channel.onExtension({QStringLiteral("board"), QStringLiteral("data"), QStringLiteral("pen"),
                         QStringLiteral("end"), QStringLiteral("sum")},
                        [this](QStringView argument) { onReply(argument); });
    channel.onExtension({QStringLiteral("full")}, [this](QStringView) {
        m_parts.notices.showNotice(NoticeKind::BoardFull, boardFullText);
    });
    connect(&channel, &DrawingChannel::connected, this, &BoardSync::onConnected);
    connect(&channel, &DrawingChannel::closed, this, [this] { enter(State::Offline); });
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

// The one place the state changes. What was asked before is forgotten, but
// for StaleCheck, which goes on waiting for the reply of its Check; Snapshot
// and Check send their request.
void BoardSync::enter(State next, KeepLocal keep) {
    if (next != State::StaleCheck) {
        m_reader.reset();
        m_token.clear();
        m_replay.clear();
        m_localPicture = QImage();
    }
    if (next == State::Offline)
        m_parts.notices.clearNotice(NoticeKind::BoardFull); // the next connection may find a slot
    if (m_state == State::LocalView && next != State::LocalView)
        m_parts.notices.clearNotice(NoticeKind::LocalView);
    else if (next == State::LocalView && m_state != State::LocalView)
        m_parts.notices.showNotice(NoticeKind::LocalView, localViewText);
    m_state = next;
    if (next == State::Snapshot) {
        m_token = newToken();
        m_requestSince.start();
        if (keep == KeepLocal::Yes)
            m_localPicture = m_parts.canvas.image();
        send(boardsnapshot::snapRequestLine(m_token.toLatin1()));
    } else if (next == State::Check) {
        m_token = newToken();
        m_requestSince.start();
        m_checkedThisPeriod = true;
        send(boardsnapshot::sumRequestLine(m_token.toLatin1()));
    }
    emit stateChanged(next);
}

bool BoardSync::isReplyTo(State asked, const QString& token) const {
    return m_state == asked && !m_token.isEmpty() && token == m_token;
}

void BoardSync::send(const QByteArray& line) {
    if (!m_firstAsk.isValid())
        m_firstAsk.start();
    m_parts.channel.send(line);
}

// Runs after the channel announced the pen.
void BoardSync::onConnected() {
    m_answered = false;
    m_firstAsk.invalidate();
    m_syncedRevision.reset();
    if (m_parts.logPlaying && m_parts.logPlaying())
        enter(State::LocalView);
    else
        enter(State::Snapshot, KeepLocal::Yes);
}

void BoardSync::retake() {
    if (!isConnected() || !m_parts.channel.isConnected())
        return;
    // The member asked: a server that stayed silent gets one more chance.
    if (!m_answered)
        m_firstAsk.invalidate();
    enter(State::Snapshot, KeepLocal::Yes);
}

void BoardSync::onLocalChange(const Segment& segment) {
    m_lastActivity.restart();
    m_checkedThisPeriod = false;
    if (m_state == State::Check)
        enter(State::StaleCheck); // own lines sent since asking are not in the server's sum
    else if (m_state == State::Snapshot)
        m_replay.push_back(segment);
}

void BoardSync::noticeChanges() {
    const quint64 revision = m_parts.canvas.board().revision();
    if (revision != m_seenRevision) {
        m_seenRevision = revision;
        m_lastActivity.restart();
        m_checkedThisPeriod = false;
    }
}

void BoardSync::poll() {
    if (!m_parts.channel.isConnected()) {
        if (isConnected())
            enter(State::Offline); // closed from this side: no event
        return;
    }
    noticeChanges();
    if (m_state == State::Offline || m_state == State::LocalView || m_state == State::Silent)
        return;
    if (!m_answered && m_firstAsk.isValid() && m_firstAsk.elapsed() > m_timing.silentMs) {
        enter(State::Silent);
        return;
    }
    const bool asking = m_state != State::Watching;
    if (asking && m_requestSince.elapsed() > m_timing.pendingMs &&
        !(m_state == State::Snapshot && m_reader.isPending()))
        enter(State::Watching); // a snapshot still arriving is given its time
    if (m_state != State::Watching || m_checkedThisPeriod)
        return;
    const quint64 revision = m_parts.canvas.board().revision();
    if (m_syncedRevision == revision || m_lastActivity.elapsed() < m_timing.quietMs)
        return;
    enter(State::Check);
}

void BoardSync::onReply(QStringView argument) {
    const QStringView token = tokenOf(argument);
    if (!token.isEmpty() && token == m_token && !m_answered) {
        m_answered = true;
        emit serverAnswered();
    }
    const boardsnapshot::Reader::Event event = m_reader.feed(argument);
    using Event = boardsnapshot::Reader::Event;
    switch (event.kind) {
    case Event::Snapshot:
        if (isReplyTo(State::Snapshot, event.token))
            apply(event);
        break;
    case Event::Rejected:
        // A broken snapshot changes nothing; the next quiet period asks again.
        if (isReplyTo(State::Snapshot, event.token))
            enter(State::Watching);
        break;
    case Event::Sum:
        onSum(event);
        break;
    case Event::None:
        break;
    }
}

void BoardSync::onSum(const boardsnapshot::Reader::Event& event) {
    if (isReplyTo(State::StaleCheck, event.token)) {
        enter(State::Watching);
        return;
    }
    if (!isReplyTo(State::Check, event.token))
        return;
    if (event.checksum == boardsnapshot::checksum(m_parts.canvas.image())) {
        m_syncedRevision = m_parts.canvas.board().revision();
        enter(State::Watching);
        emit checksumCompared(true);
    } else {
        emit checksumCompared(false);
        enter(State::Snapshot);
    }
}

void BoardSync::apply(const boardsnapshot::Reader::Event& event) {
    // The member's own picture is never dropped unnoticed: without its
    // backup the canvas stays a local view.
    const bool spared = m_keepsAll && m_keepsAll();
    if (!spared && !m_localPicture.isNull() && !Board::isBlank(m_localPicture) &&
        m_localPicture != event.picture) {
        const std::optional<QString> backup = m_backup.write(m_localPicture);
        if (!backup) {
            enter(State::LocalView);
            m_parts.notices.showNotice(
                NoticeKind::LocalView,
                QStringLiteral("ローカル表示: 手元の絵を控えに保存できないため、共有画面に"
                               "切り替えていません。保存先のフォルダに書き込めるか"
                               "確かめてください。"));
            return;
        }
        m_lastBackup = *backup;
        m_parts.notices.showNotice(
            NoticeKind::BackupWritten,
            QStringLiteral("共有画面に切り替える前に、手元の絵を %1 に保存しました。")
                .arg(shownPath(*backup)));
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
    m_parts.refreshPreview();
    // Heard before the state moves on: whoever waits for the picture to
    // settle knows by then that it was replaced.
    emit snapshotApplied();
    enter(State::Watching);
}
