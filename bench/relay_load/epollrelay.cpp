#include "epollrelay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Peer {
    int fd = -1;
    std::string in;
    std::string out;
    bool wantsOut = false;
};

class EpollRelay {
public:
    bool listen();
    void run();

private:
    void accept();
    void read(int index);
    void flush(int index);
    void drop(int index);
    void watch(int index, bool out);

    int m_listener = -1;
    int m_epoll = -1;
    std::vector<Peer> m_peers;
    std::vector<int> m_touched;
};

bool EpollRelay::listen() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int one = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 128) != 0)
        return false;
    socklen_t size = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_epoll = ::epoll_create1(0);
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.u64 = ~0ULL;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event);
    std::printf("port %u\n", unsigned(ntohs(address.sin_port)));
    std::fflush(stdout);
    return true;
}

void EpollRelay::watch(int index, bool out) {
    Peer& peer = m_peers[size_t(index)];
    if (peer.wantsOut == out)
        return;
    peer.wantsOut = out;
    epoll_event event = {};
    event.events = EPOLLIN | (out ? EPOLLOUT : 0);
    event.data.u64 = uint64_t(index);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, peer.fd, &event);
}

void EpollRelay::accept() {
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd < 0)
            return;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        size_t index = 0;
        while (index < m_peers.size() && m_peers[index].fd >= 0)
            ++index;
        if (index == m_peers.size())
            m_peers.emplace_back();
        m_peers[index] = Peer{fd, {}, "0:8:0\r\n", false};
        epoll_event event = {};
        event.events = EPOLLIN;
        event.data.u64 = index;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        flush(int(index));
    }
}

void EpollRelay::drop(int index) {
    Peer& peer = m_peers[size_t(index)];
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, peer.fd, nullptr);
    ::close(peer.fd);
    peer = Peer{};
}

void EpollRelay::flush(int index) {
    Peer& peer = m_peers[size_t(index)];
    while (!peer.out.empty()) {
        const ssize_t n = ::send(peer.fd, peer.out.data(), peer.out.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            return drop(index);
        }
        peer.out.erase(0, size_t(n));
    }
    watch(index, !peer.out.empty());
}

void EpollRelay::read(int index) {
    char buffer[65536];
    const ssize_t n = ::recv(m_peers[size_t(index)].fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
        return drop(index);
    if (n < 0)
        return;
    Peer& from = m_peers[size_t(index)];
    from.in.append(buffer, size_t(n));
    const std::string prefix = std::to_string(index) + ':';
    size_t start = 0;
    for (size_t end; (end = from.in.find("\r\n", start)) != std::string::npos; start = end + 2) {
        if (end == start)
            continue;
        for (size_t i = 0; i < m_peers.size(); ++i) {
            Peer& to = m_peers[i];
            if (int(i) == index || to.fd < 0)
                continue;
            if (to.out.empty())
                m_touched.push_back(int(i));
            to.out += prefix;
            to.out.append(from.in, start, end - start + 2);
        }
    }
    from.in.erase(0, start);
}

void EpollRelay::run() {
    epoll_event events[64];
    for (;;) {
        const int n = ::epoll_wait(m_epoll, events, 64, -1);
        for (int e = 0; e < n; ++e) {
            const uint64_t key = events[e].data.u64;
            if (key == ~0ULL) {
                accept();
                continue;
            }
            const int index = int(key);
            if (size_t(index) >= m_peers.size() || m_peers[size_t(index)].fd < 0)
                continue;
            if (events[e].events & EPOLLOUT)
                flush(index);
            if (m_peers[size_t(index)].fd >= 0 &&
                (events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                read(index);
        }
        // Everything this pass produced for a peer leaves in one send().
        for (int i : m_touched)
            if (m_peers[size_t(i)].fd >= 0)
                flush(i);
        m_touched.clear();
    }
}

} // namespace

int runEpollRelay() {
    EpollRelay relay;
    if (!relay.listen())
        return 1;
    relay.run();
    return 0;
}
