#include "bench/load/baselineserver.h"

#include "service/framing.h"
#include "service/protocol.h"

#include <cerrno>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace lumbrio {

struct BaselineServer::Connection
{
    int fd = -1;
    RequestAssembler framer;
    std::string unsent;
    bool wantWrite = false;
    bool peerDone = false; ///< the peer shut its side; close once everything is sent
};

BaselineServer::BaselineServer(BaselineLimits limits)
    : m_limits(limits), m_readBuffer(limits.maxReadBytes, '\0')
{
}

BaselineServer::~BaselineServer()
{
    for (auto &entry : m_connections)
        ::close(entry.first);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_epollFd >= 0)
        ::close(m_epollFd);
}

std::string BaselineServer::listen(const LoopbackAddress &address)
{
    m_listenFd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return std::string("socket: ") + std::strerror(errno);
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(m_listenFd, address.addr(), address.length) != 0)
        return "bind " + address.text + ": " + std::strerror(errno);
    if (::listen(m_listenFd, SOMAXCONN) != 0)
        return std::string("listen: ") + std::strerror(errno);
    return {};
}

std::uint16_t BaselineServer::port() const
{
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&bound), &length) != 0)
        return 0;
    if (bound.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
}

std::string BaselineServer::run(int stopFd)
{
    m_epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epollFd < 0)
        return std::string("epoll: ") + std::strerror(errno);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_listenFd;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_listenFd, &ev);
    ev.data.fd = stopFd;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, stopFd, &ev);

    epoll_event events[256];
    for (;;) {
        const int n = ::epoll_wait(m_epollFd, events, 256, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::string("epoll_wait: ") + std::strerror(errno);
        }
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == stopFd)
                return {};
            if (fd == m_listenFd) {
                acceptAll();
                continue;
            }
            const auto it = m_connections.find(fd);
            if (it == m_connections.end())
                continue; // closed earlier in this batch
            if (events[i].events & EPOLLOUT)
                flush(*it->second);
            // flush may have closed it
            if ((events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) &&
                m_connections.count(fd) != 0)
                readFrom(*m_connections.at(fd));
        }
    }
}

void BaselineServer::acceptAll()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN, or a connection that died before it was taken
        if (m_connections.size() >= m_limits.maxConnections) {
            ::close(fd);
            continue;
        }
        ++m_accepted;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &ev);
        m_connections.emplace(fd, std::move(c));
    }
}

void BaselineServer::readFrom(Connection &c)
{
    // One read per event, at most maxReadBytes; the level-triggered loop brings the rest.
    const ssize_t n = ::recv(c.fd, m_readBuffer.data(), m_readBuffer.size(), 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            close(c.fd);
        return;
    }
    if (n == 0) {
        c.peerDone = true;
        flush(c); // closes once nothing is left to send, or when the peer is gone
        return;
    }
    // Requests are framed exactly as the price-check server frames them.
    for (const std::string &piece :
         c.framer.feed(std::string_view(m_readBuffer.data(), static_cast<std::size_t>(n)))) {
        if (extractCode(piece)) {
            c.unsent += notFoundReply();
            ++m_answered;
        }
    }
    if (!c.unsent.empty())
        flush(c);
}

void BaselineServer::flush(Connection &c)
{
    while (!c.unsent.empty()) {
        const ssize_t n = ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN) {
                close(c.fd);
                return;
            }
            break;
        }
        c.unsent.erase(0, static_cast<std::size_t>(n));
    }
    if (c.unsent.size() > m_limits.maxUnsentBytes) {
        close(c.fd); // a client that never reads
        return;
    }
    if (c.unsent.empty() && c.peerDone) {
        close(c.fd);
        return;
    }
    watch(c, !c.unsent.empty());
}

void BaselineServer::watch(Connection &c, bool wantWrite)
{
    const bool wantRead = !c.peerDone;
    if (wantWrite == c.wantWrite && wantRead)
        return;
    c.wantWrite = wantWrite;
    epoll_event ev{};
    ev.events = (wantRead ? EPOLLIN : 0u) | (wantWrite ? EPOLLOUT : 0u);
    ev.data.fd = c.fd;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_MOD, c.fd, &ev);
}

void BaselineServer::close(int fd)
{
    ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_connections.erase(fd);
}

} // namespace lumbrio
