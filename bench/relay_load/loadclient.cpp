#include "loadclient.h"

#include <QHostAddress>
#include <chrono>
#include <cstring>

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void LoadTally::reset(int clients) {
    sentAtNs.assign(clients, {});
    deliveredFrom.assign(clients, 0);
    latencyNs.clear();
    delivered = duplicated = outOfOrder = 0;
    lastDeliveryNs = 0;
}

int64_t LoadTally::sent() const {
    int64_t total = 0;
    for (const auto& stamps : sentAtNs)
        total += int64_t(stamps.size());
    return total;
}

LoadClient::LoadClient(int id, LoadTally& tally, QObject* parent)
    : QObject(parent), m_id(id), m_tally(tally) {
    connect(&m_socket, &QTcpSocket::readyRead, this, &LoadClient::onReadyRead);
    connect(&m_socket, &QTcpSocket::connected, this,
            [this] { m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { m_failed = true; });
}

void LoadClient::connectTo(const QString& host, quint16 port) {
    if (host == u"127.0.0.1" && m_id < 250)
        m_socket.bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + m_id)), 0);
    m_socket.connectToHost(host, port);
}

void LoadClient::resetExpectations(int clients) {
    m_expected.assign(clients, 0);
}

void LoadClient::sendNext() {
    auto& stamps = m_tally.sentAtNs[m_id];
    char line[48];
    const int length = std::snprintf(line, sizeof line, "2: %lld, %d\r\n",
                                     static_cast<long long>(stamps.size()), m_id);
    stamps.push_back(nowNs());
    m_socket.write(line, length);
}

void LoadClient::onReadyRead() {
    m_pending += m_socket.readAll();
    const char* data = m_pending.constData();
    const char* end = data + m_pending.size();
    const char* start = data;
    while (const char* lf = static_cast<const char*>(std::memchr(start, '\n', end - start))) {
        const char* lineEnd = (lf > start && lf[-1] == '\r') ? lf - 1 : lf;
        handleLine(start, lineEnd);
        start = lf + 1;
    }
    m_pending.remove(0, start - data);
}

namespace {

// Reads a non-negative decimal number after optional blanks.
const char* readNumber(const char* p, const char* end, int64_t& value) {
    while (p < end && *p == ' ')
        ++p;
    value = 0;
    while (p < end && *p >= '0' && *p <= '9')
        value = value * 10 + (*p++ - '0');
    return p;
}

} // namespace

// Relayed draw line: index ":2: " seq ", " id. Anything else (greeting pens,
// member counts) is only looked at for the end of the greeting.
void LoadClient::handleLine(const char* begin, const char* end) {
    const char* colon = static_cast<const char*>(std::memchr(begin, ':', end - begin));
    if (!colon || end - colon < 3)
        return;
    if (colon[1] == '8' && colon[2] == ':') {
        m_greeted = true;
        return;
    }
    if (colon[1] != '2' || colon[2] != ':')
        return;
    int64_t seq = 0;
    int64_t sender = 0;
    const char* p = readNumber(colon + 3, end, seq);
    if (p < end && *p == ',')
        ++p;
    readNumber(p, end, sender);
    if (sender < 0 || sender >= int64_t(m_expected.size()))
        return;
    const auto& stamps = m_tally.sentAtNs[sender];
    if (seq >= int64_t(stamps.size()))
        return; // from an earlier phase
    int64_t& expected = m_expected[sender];
    if (seq < expected) {
        ++m_tally.duplicated;
        return;
    }
    if (seq > expected)
        ++m_tally.outOfOrder;
    expected = seq + 1;
    const int64_t now = nowNs();
    ++m_tally.delivered;
    ++m_tally.deliveredFrom[sender];
    m_tally.lastDeliveryNs = now;
    if (m_tally.sampleLatency)
        m_tally.latencyNs.push_back(now - stamps[seq]);
}
