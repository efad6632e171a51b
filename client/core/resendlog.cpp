#include "resendlog.h"

#include "drawingline.h"

namespace dl = protocol::drawing;

namespace {

int command(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return -1;
    bool ok = false;
    const int value = line.first(colon).trimmed().toInt(&ok);
    return ok ? value : -1;
}

QByteArray argument(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    QByteArray rest = line.sliced(colon + 1);
    if (rest.endsWith(dl::Terminator))
        rest.chop(2);
    return rest;
}

} // namespace

bool ResendLog::isDrawing(const QByteArray& line) {
    const int cmd = command(line);
    return cmd >= dl::PenUp && cmd <= dl::Erase;
}

void ResendLog::advance(Pen& pen, const QByteArray& line) {
    const int cmd = command(line);
    const QByteArray arg = argument(line);
    const QList<QByteArray> xy = arg.split(',');
    const auto point = [&] {
        if (xy.size() < 2)
            return false;
        pen.x = xy[0].trimmed().toInt();
        pen.y = xy[1].trimmed().toInt();
        return true;
    };
    switch (cmd) {
    case dl::PenUp:
        pen.down = false;
        break;
    case dl::PenDown:
        if (point())
            pen.down = true;
        break;
    case dl::Draw:
    case dl::Erase:
        point();
        break;
    case dl::Color:
        pen.colour = arg.trimmed().toInt();
        break;
    case dl::Width:
        pen.width = qint16(arg.trimmed().toInt());
        break;
    default:
        break;
    }
}

void ResendLog::announced(qint32 colour, qint16 width) {
    if (m_kept.empty() && m_fresh.empty() && hasNothingToSend())
        m_durablePen = {colour, width, false, 0, 0};
}

void ResendLog::claimed() {
    // Lines of a claim that was never answered may or may not have arrived:
    // they go again, a stroke drawn twice being better than one lost.
    for (auto it = m_fresh.rbegin(); it != m_fresh.rend(); ++it)
        m_offline.push_front(it->line);
    m_fresh.clear();
    m_waiting = true;
    m_sinceClaim = 0;
}

bool ResendLog::room() {
    if (qsizetype(m_kept.size() + m_fresh.size() + m_resend.size() + m_offline.size()) < MaxLines)
        return true;
    m_incomplete = true;
    return false;
}

void ResendLog::sent(const QByteArray& line) {
    const quint64 number = m_waiting ? ++m_sinceClaim : m_next++;
    if (!isDrawing(line) || !room())
        return;
    (m_waiting ? m_fresh : m_kept).push_back({number, line});
}

void ResendLog::keepOffline(const QByteArray& line) {
    if (isDrawing(line) && room())
        m_offline.push_back(line);
}

void ResendLog::dropUpTo(quint64 number) {
    while (!m_kept.empty() && m_kept.front().number <= number) {
        advance(m_durablePen, m_kept.front().line);
        m_kept.pop_front();
    }
}

void ResendLog::answered(quint64 taken) {
    if (!m_waiting)
        return;
    m_waiting = false;
    dropUpTo(taken);
    // Everything older that is still kept never reached the server.
    for (const Kept& kept : m_kept)
        m_resend.push_back(kept.line);
    m_kept.clear();
    for (Kept& fresh : m_fresh)
        m_kept.push_back({taken + fresh.number, fresh.line});
    m_fresh.clear();
    m_next = taken + m_sinceClaim + 1;
}

void ResendLog::durable(quint64 upTo) {
    dropUpTo(upTo);
}

QList<QByteArray> ResendLog::takeResend() {
    QList<QByteArray> out;
    out.reserve(qsizetype(m_resend.size() + m_offline.size()) + 3);
    out.append(dl::colorLine(m_durablePen.colour));
    out.append(dl::widthLine(m_durablePen.width));
    if (m_durablePen.down)
        out.append(dl::penDownLine(m_durablePen.x, m_durablePen.y));
    for (QByteArray& line : m_resend)
        out.append(std::move(line));
    for (QByteArray& line : m_offline)
        out.append(std::move(line));
    m_resend.clear();
    m_offline.clear();
    return out;
}

QList<QByteArray> ResendLog::giveUp() {
    for (const std::deque<Kept>* sent : {&m_kept, &m_fresh})
        for (const Kept& kept : *sent)
            advance(m_durablePen, kept.line);
    QList<QByteArray> out = takeResend();
    clear();
    return out;
}

void ResendLog::clear() {
    *this = ResendLog();
}
