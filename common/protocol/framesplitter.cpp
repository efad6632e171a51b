#include "framesplitter.h"

namespace protocol {

FrameSplitter::FrameSplitter(QByteArray terminator, qsizetype cap)
    : m_terminator(std::move(terminator)), m_cap(cap) {}

QList<QByteArray> FrameSplitter::feed(QByteArrayView arrival) {
    QList<QByteArray> pieces;
    m_pending.append(arrival.data(), arrival.size());

    // A terminator may straddle the old tail and the new arrival, so the
    // search starts a little before the new bytes (simplest: at 0 of the
    // pending buffer, which never holds a complete terminator).
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = m_pending.indexOf(m_terminator, start);
        if (end < 0)
            break;
        if (end > start)
            pieces.append(m_pending.mid(start, end - start));
        start = end + m_terminator.size();
    }
    m_pending.remove(0, start);

    if (m_pending.size() > m_cap) {
        // An unterminated run this long is not a line anyone sent in good
        // faith; drop it rather than grow without bound. Keep a possible
        // partial terminator at the very end so the next line still frames.
        const qsizetype keep = qMin(m_pending.size(), m_terminator.size() - 1);
        m_discarded += m_pending.size() - keep;
        m_pending = m_pending.right(keep);
    }
    return pieces;
}

} // namespace protocol
