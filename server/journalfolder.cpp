#include "journalfolder.h"

#include "journalformat.h"
#include "journalworker.h"
#include "wholefile.h"

#include <QDir>
#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString checkpointPath(const QString& folder) {
    return QDir(folder).filePath(QString::fromLatin1(journalcheckpoint::FileName));
}

std::vector<quint64> segmentsIn(const QString& folder) {
    std::vector<quint64> numbers;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("segment-*.skj")}, QDir::Files);
    for (const QString& name : names)
        if (const auto number = journalformat::segmentNumber(name))
            numbers.push_back(*number);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

} // namespace

bool JournalFolder::lock(QString* why) {
    if (!QDir().mkpath(m_path)) {
        *why = QStringLiteral("%1 を作れません").arg(m_path);
        return false;
    }
    const QString path = QDir(m_path).filePath(QStringLiteral("lock"));
    m_lockFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        *why = QStringLiteral("%1 に書けません").arg(m_path);
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        *why = QStringLiteral("%1 は別のサーバが使っています").arg(m_path);
        unlock();
        return false;
    }
    return true;
}

void JournalFolder::unlock() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

std::vector<quint64> JournalFolder::segments() const {
    return segmentsIn(m_path);
}

QString JournalFolder::segmentPath(quint64 number) const {
    return QDir(m_path).filePath(journalformat::segmentFileName(number));
}

std::unique_ptr<QFile> JournalFolder::createSegment(quint64 number) const {
    auto file = std::make_unique<QFile>(segmentPath(number));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return nullptr;
    const QByteArray header = journalformat::segmentHeader(number);
    if (file->write(header) != header.size())
        return nullptr;
    return file;
}

bool JournalFolder::hasCheckpoint() const {
    return QFile::exists(checkpointPath(m_path));
}

std::optional<RelayState> JournalFolder::readCheckpoint(QString* why) const {
    QFile file(checkpointPath(m_path));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    return journalcheckpoint::decode(file.readAll(), why);
}

QString JournalFolder::writeCheckpoint(const QString& folder, const RelayState& state) {
    const QString error = wholefile::write(checkpointPath(folder), journalcheckpoint::encode(state),
                                           wholefile::Sync::ToDisk);
    if (!error.isEmpty())
        return error;
    JournalWorker::syncFolder(folder);
    for (quint64 number : segmentsIn(folder))
        if (number < state.firstSegment)
            QFile::remove(QDir(folder).filePath(journalformat::segmentFileName(number)));
    return {};
}
