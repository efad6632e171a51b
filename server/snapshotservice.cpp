#include "snapshotservice.h"

#include "encodingworker.h"
#include "endpointarray.h"

#include <algorithm>

SnapshotService::SnapshotService(EndpointArray& ws, const Board& board, EncodingWorker& worker,
                                 QObject* parent)
    : QObject(parent), m_ws(ws), m_board(board), m_worker(worker) {
    m_clock.start();
    m_gapTimer.setSingleShot(true);
    connect(&m_gapTimer, &QTimer::timeout, this, &SnapshotService::schedule);
    // A reply has left: the asker's waiting request may go next.
    connect(&m_ws, &EndpointArray::repliesWritten, this, [this](int k) {
        if (size_t(k) < m_askers.size() &&
            (m_askers[size_t(k)].snapWaiting || m_askers[size_t(k)].sumWaiting))
            serve(k);
    });
}

// The record of the connection now at k; a new connection starts afresh.
SnapshotService::Asker* SnapshotService::asker(int k) {
    const quint64 id = m_ws.connectionId(k);
    if (id == 0)
        return nullptr;
    if (size_t(k) >= m_askers.size())
        m_askers.resize(size_t(k) + 1);
    Asker& a = m_askers[size_t(k)];
    if (a.id != id)
        a = Asker{id};
    return &a;
}

void SnapshotService::request(int k, const boardsnapshot::Request& request) {
    Asker* a = asker(k);
    if (!a)
        return; // gone or closed: nothing is answered
    if (request.kind == boardsnapshot::Request::Snap)
        a->snapWaiting = request.token;
    else
        a->sumWaiting = request.token;
    serve(k);
}

void SnapshotService::forget(int k) {
    if (size_t(k) < m_askers.size())
        m_askers[size_t(k)] = Asker{};
}

bool SnapshotService::mayAnswer(int k, const Asker& a) {
    return !a.inJob && m_ws.pendingReplyOutput(k) == 0;
}

// Answers what the latest encoding covers at once; the rest waits for one.
void SnapshotService::serve(int k) {
    Asker* a = asker(k);
    if (!a || !mayAnswer(k, *a))
        return;
    const quint64 revision = m_board.revision();
    QByteArray reply;
    if (a->snapWaiting && m_pictureRevision == revision) {
        reply += boardsnapshot::snapshotReply(*a->snapWaiting, m_picture, m_board.pens());
        a->snapWaiting.reset();
    }
    if (a->sumWaiting && m_sumRevision == revision) {
        reply += boardsnapshot::sumReply(*a->sumWaiting, m_sum);
        a->sumWaiting.reset();
    }
    if (!reply.isEmpty())
        m_ws.sendReply(k, reply);
    if (a->snapWaiting || a->sumWaiting)
        schedule();
}

void SnapshotService::schedule() {
    if (m_jobRunning)
        return; // the job's end looks again
    const qint64 wait = m_earliestNext - m_clock.elapsed();
    if (wait > 0) {
        if (!m_gapTimer.isActive())
            m_gapTimer.start(int(wait));
        return;
    }
    startJob();
}

// The askers that may be answered now and need more than the latest
// encoding; `picture`: whether one of them wants a snapshot.
std::vector<int> SnapshotService::readyAskers(quint64 revision, bool& picture) {
    std::vector<int> ready;
    picture = false;
    for (int k = 0; k < int(m_askers.size()); ++k) {
        Asker& a = m_askers[size_t(k)];
        const bool needed = (a.snapWaiting && m_pictureRevision != revision) ||
                            (a.sumWaiting && m_sumRevision != revision);
        if (a.id == 0 || a.id != m_ws.connectionId(k) || !needed || !mayAnswer(k, a))
            continue;
        ready.push_back(k);
        picture = picture || a.snapWaiting.has_value();
    }
    return ready;
}

// One copy of the picture for every asker that is ready.
void SnapshotService::startJob() {
    const quint64 revision = m_board.revision();
    bool picture = false;
    const std::vector<int> members = readyAskers(revision, picture);
    if (members.empty())
        return;
    auto job = std::make_shared<Job>();
    job->revision = revision;
    job->pens = m_board.pens();
    job->picture = picture;
    for (int k : members) {
        Asker& a = m_askers[size_t(k)];
        job->members.push_back({k, std::exchange(a.snapWaiting, std::nullopt),
                                std::exchange(a.sumWaiting, std::nullopt), QByteArray()});
        a.inJob = true;
        m_ws.holdOutput(k);
    }
    m_jobRunning = true;
    m_startedAt = m_clock.elapsed();
    ++m_encodings;
    const QImage image = m_board.image(); // shared until the board paints again
    m_worker.run(
        [job, image] {
            if (job->picture)
                job->encoded = boardsnapshot::encodePicture(image);
            else
                job->encoded.checksum = boardsnapshot::checksum(image);
            for (Job::Member& m : job->members) {
                if (m.snap)
                    m.reply += boardsnapshot::snapshotReply(*m.snap, job->encoded, job->pens);
                if (m.sum)
                    m.reply += boardsnapshot::sumReply(*m.sum, job->encoded.checksum);
            }
        },
        [this, job] { finishJob(job); });
}

void SnapshotService::finishJob(const std::shared_ptr<Job>& job) {
    m_jobRunning = false;
    const qint64 now = m_clock.elapsed();
    m_earliestNext = std::max(m_startedAt + m_minGapMs, now + (now - m_startedAt));
    if (job->picture) {
        m_picture = job->encoded;
        m_pictureRevision = job->revision;
    }
    m_sum = job->encoded.checksum;
    m_sumRevision = job->revision;
    for (const Job::Member& m : job->members) {
        if (size_t(m.k) >= m_askers.size())
            continue;
        Asker& a = m_askers[size_t(m.k)];
        if (!a.inJob || a.id != m_ws.connectionId(m.k))
            continue; // forgotten, or cut meanwhile
        a.inJob = false;
        m_ws.releaseOutput(m.k, m.reply);
    }
    // Everyone who asked meanwhile: what this encoding covers is answered
    // now, the rest waits for the next one.
    for (int k = 0; k < int(m_askers.size()); ++k) {
        const Asker& a = m_askers[size_t(k)];
        if (a.snapWaiting || a.sumWaiting)
            serve(k);
    }
    schedule();
}
