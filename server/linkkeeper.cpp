#include "linkkeeper.h"

#include "endpointarray.h"
#include "heartbeatwatcher.h"
#include "membersessions.h"
#include "snapshot.h"

#include <optional>

namespace {

// The token after `prefix`, or nothing when the message is not exactly
// prefix and a token.
std::optional<QByteArrayView> tokenAfter(QByteArrayView message, QByteArrayView prefix) {
    if (!message.startsWith(prefix))
        return std::nullopt;
    const QByteArrayView token = message.sliced(prefix.size());
    if (!boardsnapshot::isToken(token))
        return std::nullopt;
    return token;
}

QByteArray number(quint64 value) {
    return QByteArray::number(value);
}

} // namespace

LinkKeeper::LinkKeeper(EndpointArray& ws, MemberSessions& sessions, HeartbeatWatcher& watcher,
                       QObject* parent)
    : QObject(parent), m_ws(ws), m_sessions(sessions), m_watcher(watcher) {
    m_clock.start();
    m_longestWait.setInterval(LongestWaitMs / 5);
    connect(&m_longestWait, &QTimer::timeout, this, &LinkKeeper::answerWaiting);
}

bool LinkKeeper::readExtension(int k, QByteArrayView line) {
    if (const auto token = tokenAfter(line, "7:ping ")) {
        m_watcher.heard(k);
        m_ws.send(k, "0:7:pong " + token->toByteArray() + ' ' + number(m_sessions.durableOf(k)) +
                         "\r\n");
        return true;
    }
    if (const auto id = tokenAfter(line, "7:session ")) {
        claim(k, *id);
        return true;
    }
    return false;
}

void LinkKeeper::claim(int k, QByteArrayView id) {
    const int previous = m_sessions.claim(k, id);
    if (previous >= 0)
        m_ws.cut(previous);
    // A member of ours only sends whole lines: a piece left unterminated at
    // its close is a broken line, not one to count and relay.
    m_ws.dropUnterminatedTail(k);
    m_waiting.push_back(
        {k, m_ws.connectionSerial(k), id.toByteArray(), m_sessions.taken(id), m_clock.elapsed()});
    answerWaiting();
}

void LinkKeeper::durableAdvanced() {
    answerWaiting();
}

// A claim is answered once what it counts is on disk, or after LongestWaitMs
// when the disk does not take it: the member is not kept waiting for ever.
void LinkKeeper::answerWaiting() {
    const qint64 now = m_clock.elapsed();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (m_ws.connectionSerial(it->k) != it->serial) {
            it = m_waiting.erase(it);
            continue;
        }
        if (m_sessions.durable(it->id) >= it->taken || now - it->since >= LongestWaitMs) {
            m_ws.send(it->k, "0:7:session " + it->id + ' ' + number(it->taken) + "\r\n");
            it = m_waiting.erase(it);
            continue;
        }
        ++it;
    }
    if (m_waiting.empty())
        m_longestWait.stop();
    else if (!m_longestWait.isActive())
        m_longestWait.start();
}

TextLinkKeeper::TextLinkKeeper(EndpointArray& wsTxt, HeartbeatWatcher& watcher)
    : m_ws(wsTxt), m_watcher(watcher) {}

bool TextLinkKeeper::readExtension(int k, QByteArrayView piece) {
    const auto token = tokenAfter(piece, "9<:>ping ");
    if (!token)
        return false;
    m_watcher.heard(k);
    m_ws.send(k, QByteArray::number(k) + "<:>9<:>pong " + token->toByteArray() + "%EOT%");
    return true;
}
