#include "honest.h"

#include <QHostAddress>
#include <algorithm>
#include <chrono>

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

HonestTally::Figures HonestTally::figures(int64_t fromNs, int64_t toNs) const {
    Figures f;
    std::vector<int64_t> latencies;
    for (const auto& member : lines)
        for (const Line& line : member) {
            if (line.sentNs < fromNs || line.sentNs >= toNs)
                continue;
            ++f.sent;
            if (line.arrivedNs < 0)
                ++f.lost;
            else
                latencies.push_back(line.arrivedNs - line.sentNs);
        }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        if (latencies.empty())
            return 0.0;
        return double(latencies[std::min(latencies.size() - 1, size_t(q * latencies.size()))]) /
               1e6;
    };
    f.p50Ms = at(0.50);
    f.p99Ms = at(0.99);
    f.maxMs = latencies.empty() ? 0 : double(latencies.back()) / 1e6;
    return f;
}

HonestMember::HonestMember(int member, const char* source, HonestTally& tally, QObject* parent)
    : QObject(parent), m_member(member), m_tally(tally) {
    m_socket.bind(QHostAddress(QString::fromLatin1(source)), 0);
    connect(&m_socket, &QTcpSocket::readyRead, this, &HonestMember::onReadyRead);
    connect(&m_socket, &QTcpSocket::connected, this,
            [this] { m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
}

void HonestMember::connectTo(quint16 port) {
    m_socket.connectToHost(QHostAddress::LocalHost, port);
}

void HonestMember::sendNext() {
    auto& lines = m_tally.lines[m_member];
    const int seq = int(lines.size());
    const int x = 100 + seq % 1400;
    const int y = 100 + m_member * 500 + (seq / 1400) % 300;
    const QByteArray line = "2: " + QByteArray::number(x) + ", " + QByteArray::number(y) + ":h" +
                            QByteArray::number(m_member) + 's' + QByteArray::number(seq) + "\r\n";
    lines.push_back({nowNs(), -1});
    m_socket.write(line);
}

void HonestMember::onReadyRead() {
    m_pending += m_socket.readAll();
    qsizetype start = 0;
    for (qsizetype end; (end = m_pending.indexOf("\r\n", start)) >= 0; start = end + 2)
        handleLine(m_pending.mid(start, end - start));
    m_pending.remove(0, start);
}

void HonestMember::handleLine(const QByteArray& line) {
    if (!m_greeted && ++m_greetingLines >= 41)
        m_greeted = true;
    const qsizetype mark = line.indexOf(":h");
    if (mark < 0)
        return;
    const qsizetype s = line.indexOf('s', mark);
    if (s < 0)
        return;
    const int member = line.mid(mark + 2, s - mark - 2).toInt();
    const int seq = line.mid(s + 1).toInt();
    if (member < 0 || member > 1 || member == m_member)
        return;
    auto& lines = m_tally.lines[member];
    if (seq >= 0 && seq < int(lines.size()) && lines[size_t(seq)].arrivedNs < 0)
        lines[size_t(seq)].arrivedNs = nowNs();
}
