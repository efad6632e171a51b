#pragma once

#include "board.h"
#include "snapshot.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class EncodingWorker;
class EndpointArray;

// Answers "7:snap" and "7:sum" (wire format in snapshot.h) without holding
// up the relay, and at a bounded cost however often they are asked.
//
// - The picture is encoded (PNG, checksum) on the encoding worker, from a
//   copy taken at one point of the stream, and only when it changed since
//   the last encoding: a request for a picture already encoded is answered
//   at once from that encoding. Encodings start at least MinGapMs apart,
//   and the worker rests at least as long as the last one took, so it never
//   takes more than half a core. The replies are built there as well.
// - An asker whose answer needs a new encoding has its output held from the
//   moment the copy is taken until the answer is ready; the answer then goes
//   first, so it sits in the asker's stream exactly where the copy was taken
//   and the asker's view of the board stays exact. Everyone else's lines go
//   on meanwhile.
// - Per connection at most one snapshot and one checksum request are in
//   flight: from the request until its reply has left the server. A request
//   arriving meanwhile waits, and a further one replaces the waiting one's
//   token (an asker only waits for its newest token). So a peer that asks in
//   a loop and never reads holds one reply at most.
// - Requests of a connection that is gone, cut or closed are dropped, not
//   answered; its place in a running encoding is forgotten.
class SnapshotService : public QObject {
    Q_OBJECT
public:
    static constexpr int MinGapMs = 250;

    SnapshotService(EndpointArray& ws, const Board& board, EncodingWorker& worker,
                    QObject* parent = nullptr);

    void request(int k, const boardsnapshot::Request& request);
    // Connection k is gone (or a new one took its index).
    void forget(int k);

    void setMinGapMs(int ms) { m_minGapMs = ms; }
    // Encodings started so far (for tests and figures).
    int encodings() const { return m_encodings; }

private:
    struct Asker {
        quint64 id = 0;
        std::optional<QByteArray> snapWaiting;
        std::optional<QByteArray> sumWaiting;
        bool inJob = false;
    };
    struct Job {
        quint64 revision = 0;
        Board::Pens pens{};
        bool picture = false;
        struct Member {
            int k;
            std::optional<QByteArray> snap;
            std::optional<QByteArray> sum;
            QByteArray reply; // built on the worker
        };
        std::vector<Member> members;
        boardsnapshot::EncodedPicture encoded;
    };

    Asker* asker(int k);
    void serve(int k);
    bool mayAnswer(int k, const Asker& a);
    void schedule();
    std::vector<int> readyAskers(quint64 revision, bool& picture);
    void startJob();
    void finishJob(const std::shared_ptr<Job>& job);

    EndpointArray& m_ws;
    const Board& m_board;
    EncodingWorker& m_worker;
    std::vector<Asker> m_askers; // by connection index
    QTimer m_gapTimer;
    QElapsedTimer m_clock;
    qint64 m_startedAt = 0;
    qint64 m_earliestNext = 0; // on m_clock
    int m_minGapMs = MinGapMs;
    int m_encodings = 0;
    bool m_jobRunning = false;

    // The latest encoding: its checksum always, the picture when one was made.
    std::optional<quint64> m_sumRevision;
    quint32 m_sum = 0;
    std::optional<quint64> m_pictureRevision;
    boardsnapshot::EncodedPicture m_picture;
};
