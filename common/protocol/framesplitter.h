#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Byte-level framing for one connection. Each arrival is appended to what was
// left over from the previous one, split at the channel's terminator ("\r\n"
// or "%EOT%"), and every complete non-empty piece is returned in order. An
// incomplete tail is kept for the next arrival; when the kept bytes would pass
// the cap they are discarded (the connection stays usable and later lines are
// framed normally). Decode each returned piece only after framing, so a
// multi-byte character split between arrivals comes out whole.
namespace protocol {

class FrameSplitter {
public:
    static constexpr qsizetype DefaultCap = 64 * 1024;

    explicit FrameSplitter(QByteArray terminator, qsizetype cap = DefaultCap);

    // Complete pieces in order, terminators removed, empty pieces skipped.
    QList<QByteArray> feed(QByteArrayView arrival);

    qsizetype pendingSize() const { return m_pending.size(); }
    // Bytes thrown away so far because an unterminated tail passed the cap.
    qint64 discardedBytes() const { return m_discarded; }
    void reset() { m_pending.clear(); }

private:
    QByteArray m_terminator;
    qsizetype m_cap;
    QByteArray m_pending;
    qint64 m_discarded = 0;
};

} // namespace protocol
