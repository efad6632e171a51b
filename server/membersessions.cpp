#include "membersessions.h"

#include "endpointarray.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>

MemberSessions::MemberSessions(const EndpointArray& ws) : m_ws(ws) {}

int MemberSessions::find(QByteArrayView id) const {
    for (size_t i = 0; i < m_sessions.size(); ++i)
        if (m_sessions[i].id == id)
            return int(i);
    return -1;
}

// A full ledger gives up the session unused longest, and with it the
// attachment of any connection still on it.
int MemberSessions::add(QByteArrayView id) {
    if (int(m_sessions.size()) < MaxSessions) {
        m_sessions.push_back(Session{id.toByteArray()});
        return int(m_sessions.size()) - 1;
    }
    const auto oldest =
        std::min_element(m_sessions.begin(), m_sessions.end(),
                         [](const Session& a, const Session& b) { return a.lastUse < b.lastUse; });
    const int slot = int(oldest - m_sessions.begin());
    for (Attachment& a : m_byIndex)
        if (a.session == slot)
            a = Attachment();
    *oldest = Session{id.toByteArray()};
    return slot;
}

int MemberSessions::sessionOf(int k) const {
    if (k < 0 || size_t(k) >= m_byIndex.size())
        return -1;
    const Attachment& a = m_byIndex[size_t(k)];
    if (a.session < 0 || a.serial != m_ws.connectionSerial(k))
        return -1;
    return a.session;
}

int MemberSessions::claim(int k, QByteArrayView id) {
    int slot = find(id);
    if (slot < 0)
        slot = add(id);
    int previous = -1;
    for (size_t i = 0; i < m_byIndex.size(); ++i)
        if (int(i) != k && sessionOf(int(i)) == slot)
            previous = int(i);
    if (size_t(k) >= m_byIndex.size())
        m_byIndex.resize(size_t(k) + 1);
    m_byIndex[size_t(k)] = {slot, m_ws.connectionSerial(k)};
    m_sessions[size_t(slot)].lastUse = ++m_clock;
    return previous;
}

// Lines of a connection whose attachment is stale (the index now carries
// another connection) are not counted, and the stale attachment goes.
void MemberSessions::countLine(int k) {
    const int slot = sessionOf(k);
    if (slot < 0) {
        m_byIndex[size_t(k)] = Attachment();
        return;
    }
    Session& s = m_sessions[size_t(slot)];
    ++s.taken;
    s.changed = true;
    if (m_everythingDurable)
        s.durable = s.taken;
}

quint64 MemberSessions::taken(QByteArrayView id) const {
    const int slot = find(id);
    return slot < 0 ? 0 : m_sessions[size_t(slot)].taken;
}

quint64 MemberSessions::durable(QByteArrayView id) const {
    const int slot = find(id);
    return slot < 0 ? 0 : m_sessions[size_t(slot)].durable;
}

quint64 MemberSessions::durableOf(int k) const {
    const int slot = sessionOf(k);
    return slot < 0 ? 0 : m_sessions[size_t(slot)].durable;
}

// While the disk does not answer, writes pile up: the oldest noted ones go.
// That only makes durable() lag, never run ahead of the disk.
void MemberSessions::note(Session& s, quint64 seq) {
    if (s.recorded.size() >= MaxRecorded)
        s.recorded.pop_front();
    s.recorded.emplace_back(seq, s.taken);
}

void MemberSessions::recordChanges(quint64 seq,
                                   const std::function<void(QByteArrayView, quint64)>& write) {
    for (Session& s : m_sessions) {
        if (!s.changed)
            continue;
        write(s.id, s.taken);
        note(s, seq);
        s.changed = false;
    }
}

void MemberSessions::recordedAll(quint64 seq) {
    for (Session& s : m_sessions) {
        if (s.taken > s.durable)
            note(s, seq);
        s.changed = false;
    }
}

void MemberSessions::durableUpTo(quint64 seq) {
    for (Session& s : m_sessions) {
        while (!s.recorded.empty() && s.recorded.front().first <= seq) {
            s.durable = std::max(s.durable, s.recorded.front().second);
            s.recorded.pop_front();
        }
    }
}

void MemberSessions::setEverythingDurable(bool on) {
    m_everythingDurable = on;
    if (!on)
        return;
    for (Session& s : m_sessions) {
        s.durable = s.taken;
        s.recorded.clear();
    }
}

void MemberSessions::restoreCount(QByteArrayView id, quint64 lines) {
    int slot = find(id);
    if (slot < 0)
        slot = add(id);
    Session& s = m_sessions[size_t(slot)];
    s.taken = s.durable = lines;
    s.lastUse = ++m_clock;
}

// u32 count, then per session its id (QByteArray) and u64 count, the one
// used most recently last.
QByteArray MemberSessions::save() const {
    std::vector<const Session*> order;
    for (const Session& s : m_sessions)
        order.push_back(&s);
    std::sort(order.begin(), order.end(),
              [](const Session* a, const Session* b) { return a->lastUse < b->lastUse; });
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream << quint32(order.size());
    for (const Session* s : order)
        stream << s->id << quint64(s->taken);
    return out;
}

bool MemberSessions::restore(QByteArrayView saved) {
    const QByteArray copy = QByteArray::fromRawData(saved.data(), saved.size());
    QDataStream stream(copy);
    stream.setByteOrder(QDataStream::LittleEndian);
    quint32 count = 0;
    stream >> count;
    if (count > quint32(MaxSessions))
        return false;
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QByteArray id;
        quint64 lines = 0;
        stream >> id >> lines;
        if (stream.status() == QDataStream::Ok)
            restoreCount(id, lines);
    }
    return stream.status() == QDataStream::Ok;
}
