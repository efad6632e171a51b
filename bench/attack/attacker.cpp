// The attacking side of each row, in plain POSIX sockets so that it is as
// blunt as a hostile peer would be: non-blocking writes as fast as the
// kernel takes them, reads only where the row says so.
#include "rows.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A connection from `source` (a loopback address) to 127.0.0.1:port; with
// `smallReceive` the kernel keeps little of what the server sends, so a peer
// that never reads backs its queue up quickly.
int connectFrom(const char* source, quint16 port, bool smallReceive = false, int timeoutMs = 1000) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (smallReceive) {
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in remote = {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        // A server that no longer accepts leaves the connect hanging: give up.
        pollfd p = {fd, POLLOUT, 0};
        int error = 0;
        socklen_t size = sizeof error;
        if (errno != EINPROGRESS || ::poll(&p, 1, timeoutMs) != 1 ||
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            ::close(fd);
            return -1;
        }
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

enum class Sent { All, Deadline, Broken };

// Writes all of `bytes` unless the deadline passes or the connection breaks.
// Waits for room with poll(), never spins.
Sent sendAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n > 0) {
            at += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Sent::Broken;
        const int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0)
            return Sent::Deadline;
        pollfd p = {fd, POLLOUT, 0};
        ::poll(&p, 1, std::min(left, 100));
        if (p.revents & (POLLERR | POLLHUP))
            return Sent::Broken;
    }
    return Sent::All;
}

// Reads whatever is there; false once the peer has closed.
bool drain(int fd, std::string* into = nullptr) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (into)
                into->append(buffer, size_t(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Whether the server has closed `fd` (read nothing, look for the end).
bool closedByServer(int fd) {
    pollfd p = {fd, POLLIN | POLLRDHUP, 0};
    ::poll(&p, 1, 0);
    if (p.revents & (POLLERR | POLLHUP | POLLRDHUP))
        return true;
    return false;
}

void waitUntil(Clock::time_point deadline, const std::function<void()>& each = {}) {
    while (Clock::now() < deadline) {
        if (each)
            each();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string snapLines(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "7:snap t" + std::to_string(i) + "\r\n";
    return out;
}

std::string drawAndSnap(int i) {
    return "2: " + std::to_string(100 + i % 1400) + ", " + std::to_string(100 + (i * 7) % 1000) +
           "\r\n7:snap s" + std::to_string(i) + "\r\n";
}

std::string wsHandshake(bool withOrigin = false) {
    std::string request = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                          "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                          "Sec-WebSocket-Version: 13\r\n";
    if (withOrigin)
        request += "Origin: http://127.0.0.1\r\n";
    return request + "\r\n";
}

// One masked client frame.
std::string wsFrame(unsigned opcode, const std::string& payload) {
    std::string out;
    out += char(0x80 | opcode);
    if (payload.size() < 126) {
        out += char(0x80 | payload.size());
    } else {
        out += char(0x80 | 126);
        out += char(payload.size() >> 8);
        out += char(payload.size() & 0xff);
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    out.append(mask, 4);
    for (size_t i = 0; i < payload.size(); ++i)
        out += char(payload[i] ^ mask[i & 3]);
    return out;
}

// Opens a WebSocket and waits for the server's answer to the handshake;
// -1 when it is refused or does not come.
int openWebSocket(const char* source, quint16 port, Clock::time_point deadline) {
    const int fd = connectFrom(source, port);
    if (fd < 0 || sendAll(fd, wsHandshake(), deadline) != Sent::All) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    std::string answer;
    while (answer.find("\r\n\r\n") == std::string::npos && Clock::now() < deadline) {
        if (!drain(fd, &answer))
            break;
        pollfd p = {fd, POLLIN, 0};
        ::poll(&p, 1, 50);
    }
    if (answer.rfind("HTTP/1.1 101", 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void result(const char* key, const std::string& value) {
    std::printf("result %s %s\n", key, value.c_str());
    std::fflush(stdout);
}

// The server closed the attacker: when.
void reportCut(int fd, Clock::time_point start, Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        if (closedByServer(fd)) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", secondsSince(start));
            result("cut-after-s", text);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result("cut-after-s", "never");
}

void raiseOwnDescriptorLimit() {
    rlimit limit = {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Starts a connection from `source` without waiting for it; -1 on failure.
int startConnect(const char* source, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in remote = {};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// 1,100 connections started at once, each sending the start of a request
// and nothing more once it is up.
int halfRequests(const AttackerArgs& a, int addresses, Clock::time_point deadline) {
    raiseOwnDescriptorLimit();
    std::vector<int> fds;
    for (int i = 0; i < 1100; ++i) {
        const std::string source = addresses == 1 ? std::string("127.0.0.2")
                                                  : "127.0.10." + std::to_string(1 + i % addresses);
        if (const int fd = startConnect(source.c_str(), a.httpPort); fd >= 0)
            fds.push_back(fd);
    }
    std::vector<bool> sent(fds.size(), false);
    int opened = 0;
    while (opened < int(fds.size()) && Clock::now() < deadline) {
        std::vector<pollfd> waiting;
        for (size_t i = 0; i < fds.size(); ++i)
            if (!sent[i])
                waiting.push_back({fds[i], POLLOUT, 0});
        ::poll(waiting.data(), waiting.size(), 100);
        for (const pollfd& p : waiting) {
            if (!(p.revents & POLLOUT))
                continue;
            const size_t i = size_t(std::find(fds.begin(), fds.end(), p.fd) - fds.begin());
            sent[i] = true;
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (error == 0 && ::send(p.fd, "GET / HTTP/1.1\r\nHost", 20, MSG_NOSIGNAL) == 20)
                ++opened;
        }
    }
    result("opened", std::to_string(opened));
    waitUntil(deadline);
    int stillOpen = 0;
    for (size_t i = 0; i < fds.size(); ++i)
        stillOpen += sent[i] && !closedByServer(fds[i]) ? 1 : 0;
    result("still-open", std::to_string(stillOpen));
    for (int fd : fds)
        ::close(fd);
    return 0;
}

int wsNoOrigin(const AttackerArgs& a, Clock::time_point deadline) {
    std::vector<int> fds;
    int accepted = 0;
    int ready = 0;
    for (int i = 0; i < 171 && Clock::now() < deadline; ++i) {
        const int fd = openWebSocket("127.0.0.2", a.httpPort, deadline);
        if (fd < 0)
            continue;
        ++accepted;
        fds.push_back(fd);
    }
    // "r" (the member is in) arrives once the bridge has both relay ports.
    waitUntil(Clock::now() + std::chrono::seconds(2));
    for (int fd : fds) {
        std::string got;
        drain(fd, &got);
        ready += got.find("\x81\x01r") != std::string::npos ? 1 : 0;
    }
    result("accepted", std::to_string(accepted) + "/171");
    result("members", std::to_string(ready));
    waitUntil(deadline, [&] {
        for (int fd : fds)
            drain(fd);
    });
    for (int fd : fds)
        ::close(fd);
    return 0;
}

// One send, then whatever comes back is read and thrown away.
void sendThenRead(int fd, const std::string& bytes, Clock::time_point deadline) {
    sendAll(fd, bytes, deadline);
    waitUntil(deadline, [fd] { drain(fd); });
}

void snapDrip(int fd, Clock::time_point start, Clock::time_point deadline) {
    bool cut = false;
    for (int i = 0; Clock::now() < deadline; ++i) {
        if (!cut && (closedByServer(fd) || sendAll(fd, drawAndSnap(i), deadline) == Sent::Broken)) {
            cut = true;
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", secondsSince(start));
            result("cut-after-s", text);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!cut)
        result("cut-after-s", "never");
}

// Asks again as soon as the last snapshot has come.
void snapLoop(int fd, Clock::time_point deadline) {
    std::string got;
    int answers = 0;
    for (int i = 0; Clock::now() < deadline; ++i) {
        const std::string token = "L" + std::to_string(i);
        sendAll(fd, "7:snap " + token + "\r\n", deadline);
        const std::string end = "0:7:end " + token + " ";
        while (got.find(end) == std::string::npos && Clock::now() < deadline) {
            if (!drain(fd, &got))
                break;
            pollfd p = {fd, POLLIN, 0};
            ::poll(&p, 1, 50);
        }
        answers += got.find(end) != std::string::npos ? 1 : 0;
        got.clear();
    }
    result("snapshots", std::to_string(answers));
}

int drawingRows(const AttackerArgs& a, Clock::time_point start, Clock::time_point deadline) {
    const bool neverRead = a.row == "snap-flood" || a.row == "snap-drip";
    const int fd = connectFrom("127.0.0.2", a.drawPort, neverRead);
    if (fd < 0)
        return 2;
    if (a.row == "snap-flood") {
        sendAll(fd, snapLines(5500), deadline); // 66 KB
        reportCut(fd, start, deadline);
    } else if (a.row == "snap-burst") {
        std::string burst;
        for (int i = 0; i < 100; ++i)
            burst += drawAndSnap(i);
        sendThenRead(fd, burst, deadline);
    } else if (a.row == "snap-drip") {
        snapDrip(fd, start, deadline);
    } else if (a.row == "snap-loop") {
        snapLoop(fd, deadline);
    } else if (a.row == "clear-flood") {
        std::string clears;
        for (int i = 0; i < 6500; ++i)
            clears += "3: 0, 0\r\n";
        sendThenRead(fd, clears, deadline);
    } else if (a.row == "long-lines") {
        const std::string line = "2:" + std::string(63 * 1024, ' ') + "5, 5\r\n";
        for (int i = 0; i < 560 && Clock::now() < deadline; ++i) {
            drain(fd);
            sendAll(fd, line, deadline);
        }
        waitUntil(deadline, [fd] { drain(fd); });
    }
    ::close(fd);
    return 0;
}

// One page message of 100 x (draw line + "7:snap") from a member.
int snapBurstPage(const AttackerArgs& a, Clock::time_point deadline) {
    const int fd = openWebSocket("127.0.0.2", a.httpPort, deadline);
    if (fd < 0)
        return 2;
    waitUntil(Clock::now() + std::chrono::milliseconds(300), [fd] { drain(fd); });
    std::string message = "d";
    for (int i = 0; i < 100; ++i)
        message += drawAndSnap(i);
    sendThenRead(fd, wsFrame(1, message), deadline);
    ::close(fd);
    return 0;
}

// What the page-port rows send over and over, never reading.
std::string pageFlood(const AttackerArgs& a, int fd, Clock::time_point deadline) {
    if (a.row == "get-pipeline")
        return "GET /app.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (a.row == "endless-header") {
        sendAll(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Long: ", deadline);
        return std::string(16384, 'a');
    }
    if (a.row == "huge-body") {
        sendAll(fd, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 2000000000\r\n\r\n",
                deadline);
        return std::string(65536, 'b');
    }
    std::string pings;
    while (pings.size() < 65536)
        pings += wsFrame(9, std::string(125, 'p'));
    return pings;
}

int pageRows(const AttackerArgs& a, Clock::time_point start, Clock::time_point deadline) {
    if (a.row == "snap-burst-page")
        return snapBurstPage(a, deadline);
    const bool pings = a.row == "ws-pings";
    const int fd = pings ? openWebSocket("127.0.0.2", a.httpPort, deadline)
                         : connectFrom("127.0.0.2", a.httpPort, true);
    if (fd < 0)
        return 2;
    if (pings) // a member first, as a page would be
        waitUntil(Clock::now() + std::chrono::milliseconds(300), [fd] { drain(fd); });
    const std::string unit = pageFlood(a, fd, deadline);
    bool cut = false;
    while (Clock::now() < deadline && !cut) {
        const Sent sent = sendAll(fd, unit, deadline);
        if (sent == Sent::Deadline)
            break;
        cut = sent == Sent::Broken || closedByServer(fd);
    }
    cut = cut || closedByServer(fd);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", secondsSince(start));
    result("cut-after-s", cut ? text : "never");
    ::close(fd);
    return 0;
}

} // namespace

int runAttacker(const AttackerArgs& a) {
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(qint64(a.seconds * 1000));
    if (a.row == "baseline") {
        waitUntil(deadline);
        return 0;
    }
    if (a.row == "half-requests")
        return halfRequests(a, 1, deadline);
    if (a.row == "half-requests-many")
        return halfRequests(a, 110, deadline);
    if (a.row == "ws-no-origin")
        return wsNoOrigin(a, deadline);
    if (a.row == "get-pipeline" || a.row == "endless-header" || a.row == "huge-body" ||
        a.row == "ws-pings" || a.row == "snap-burst-page")
        return pageRows(a, start, deadline);
    return drawingRows(a, start, deadline);
}
