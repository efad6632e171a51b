#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <deque>

// The member's half of the lossless resend (the server's half and the steps:
// server/linkkeeper.h), without sockets: which drawing lines (commands 0 to
// 6) the server may still lose, which were drawn while there was no
// connection, and the pen as the server last durably saw it.
//
// Lines of the session are numbered as the server counts them: the lines
// sent after a claim are numbered only once its answer says how many came
// before. Kept lines are dropped as the server reports them durable; what is
// left when a connection is re-made goes out again after the shared picture.
//
// Bounded: at most MaxLines are kept (sent and offline together). Beyond
// that no further line is kept and the log is marked incomplete: the newest
// lines then live only on the member's canvas, so the next shared picture
// falls under the backup rule again (the picture is saved to a file before
// it is replaced). Dropping the oldest instead would resend strokes that
// start in the middle. The mark is lifted when a shared picture is taken.
class ResendLog {
public:
    static constexpr qsizetype MaxLines = 200000;

    // The pen as a run of lines leaves it.
    struct Pen {
        qint32 colour = 0;
        qint16 width = 0;
        bool down = false; // a stroke is open at (x, y)
        int x = 0, y = 0;
        bool operator==(const Pen&) const = default;
    };

    // The pen announced at the start of a connection, before its claim: the
    // starting point when nothing older is kept.
    void announced(qint32 colour, qint16 width);
    // A claim went out: lines sent from now on wait for its answer's count.
    void claimed();
    // A line went out after the claim (any command: each is counted).
    void sent(const QByteArray& line);
    // A drawing line that could not go out now, to be sent after the resend.
    void keepOffline(const QByteArray& line);
    // The session answer: `taken` of the session's lines reached the server
    // before the claim. Drops what it holds; what it lacks waits in resend().
    void answered(quint64 taken);
    // A pong: the session's lines up to `durable` are safe.
    void durable(quint64 upTo);

    // After the answer: whether anything is to be sent again.
    bool hasResend() const { return !m_resend.empty() || !m_offline.empty(); }
    // The lines to send, in order: the pen after the last line the server
    // has, the kept lines it lacks, then what was drawn offline. Empties both.
    QList<QByteArray> takeResend();
    // The claim went unanswered: the server is taken to have every line that
    // went out, so the pen follows them, and gets what was drawn offline as
    // it is. Empties the log.
    QList<QByteArray> giveUp();

    // Nothing held at all (a new connection need not hold its drawing back).
    bool empty() const { return m_kept.empty() && m_fresh.empty() && hasNothingToSend(); }
    bool hasNothingToSend() const { return m_resend.empty() && m_offline.empty(); }
    // Lines beyond the cap were not kept since the last shared picture.
    bool incomplete() const { return m_incomplete; }
    void pictureTaken() { m_incomplete = false; }
    // Forgets everything (the member chose to disconnect or another server).
    void clear();

    qsizetype keptCount() const { return qsizetype(m_kept.size() + m_fresh.size()); }
    qsizetype offlineCount() const { return qsizetype(m_offline.size()); }
    quint64 nextNumber() const { return m_next; }
    const Pen& durablePen() const { return m_durablePen; }

    static bool isDrawing(const QByteArray& line);
    static void advance(Pen& pen, const QByteArray& line);

private:
    struct Kept {
        quint64 number;
        QByteArray line;
    };
    bool room();
    void dropUpTo(quint64 number);

    std::deque<Kept> m_kept;  // numbered, oldest first
    std::deque<Kept> m_fresh; // since the unanswered claim: numbered from 1
    std::deque<QByteArray> m_resend;
    std::deque<QByteArray> m_offline;
    bool m_waiting = false; // a claim without its answer
    quint64 m_sinceClaim = 0;
    quint64 m_next = 1; // number of the next line once answered
    Pen m_durablePen;
    bool m_incomplete = false;
};
