#include "service/terminalserver.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumbrio {

TerminalServer::TerminalServer(QObject *parent) : QTcpServer(parent)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        throw std::system_error(errno, std::generic_category(), "epoll_create1");
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { serveReadyConnections(); });
}

TerminalServer::~TerminalServer()
{
    // The owner may be gone already: close without telling anybody.
    onRead = nullptr;
    onError = nullptr;
    onClosed = nullptr;
    closeAll();
    delete m_notifier;
    ::close(m_epoll);
}

std::size_t TerminalServer::setLimits(const Limits &limits)
{
    m_limits = limits;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const auto available = static_cast<std::size_t>(files.rlim_cur);
        const std::size_t room =
            available > 2 * SpareDescriptors ? available - SpareDescriptors : available / 2;
        m_limits.maxConnections = std::min(m_limits.maxConnections, room);
    }
    return m_limits.maxConnections;
}

void TerminalServer::incomingConnection(qintptr socketDescriptor)
{
    const int fd = static_cast<int>(socketDescriptor);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const bool known = ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
                       m_filter.allows(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
    // A terminal from outside the allow-list, or one too many, is closed without a read; the
    // others go on.
    if (!known || m_connections.size() >= m_limits.maxConnections) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // A reply is whole when it is written; holding it back for the acknowledgement of the
    // previous one (Nagle) would only delay the terminal.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    const ConnectionId id = m_nextId++;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = id;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0) {
        ::close(fd);
        return;
    }
    m_connections.emplace(id, Connection{fd, {}, false});
}

void TerminalServer::serveReadyConnections()
{
    std::array<epoll_event, 128> events{};
    const int n = ::epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 0);
    for (int i = 0; i < n; ++i) {
        const ConnectionId id = events[i].data.u64;
        const std::uint32_t what = events[i].events;
        if (!isOpen(id))
            continue; // closed by an earlier event of this round
        if (what & EPOLLOUT)
            flush(id);
        if (isOpen(id) && (what & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
            readFrom(id);
    }
}

void TerminalServer::readFrom(ConnectionId id)
{
    const int fd = m_connections.at(id).fd;
    m_readBuffer.resize(m_limits.maxRead);
    std::size_t got = 0;
    bool peerDone = false;
    int error = 0;
    // Everything that has arrived, up to the bound; the rest is reported again next turn.
    while (got < m_limits.maxRead) {
        const ssize_t n = ::read(fd, m_readBuffer.data() + got, m_limits.maxRead - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n == 0) {
            peerDone = true;
            break;
        } else if (errno == EINTR) {
            continue;
        } else {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                error = errno;
            break;
        }
    }
    if (got > 0 && onRead)
        onRead(id, std::string_view(m_readBuffer.data(), got));
    if (!isOpen(id))
        return;
    if (error != 0) {
        if (onError)
            onError(id, error);
        closeConnection(id);
    } else if (peerDone) {
        closeConnection(id);
    }
}

void TerminalServer::send(ConnectionId id, std::string_view data)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    it->second.unsent.append(data);
    flush(id);
    const auto still = m_connections.find(id);
    // A terminal that never reads would make its replies pile up here without end.
    if (still != m_connections.end() && still->second.unsent.size() > m_limits.maxPending)
        closeConnection(id);
}

void TerminalServer::flush(ConnectionId id)
{
    Connection &c = m_connections.at(id);
    std::size_t done = 0;
    while (done < c.unsent.size()) {
        const ssize_t n =
            ::send(c.fd, c.unsent.data() + done, c.unsent.size() - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else {
            const int error = errno;
            if (onError)
                onError(id, error);
            closeConnection(id);
            return;
        }
    }
    c.unsent.erase(0, done);
    watch(id, c, !c.unsent.empty());
}

void TerminalServer::watch(ConnectionId id, Connection &c, bool writes)
{
    if (c.watchingWrites == writes)
        return;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (writes ? EPOLLOUT : 0u);
    event.data.u64 = id;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &event);
    c.watchingWrites = writes;
}

void TerminalServer::closeConnection(ConnectionId id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, it->second.fd, nullptr);
    ::close(it->second.fd);
    m_connections.erase(it);
    if (onClosed)
        onClosed(id);
}

void TerminalServer::closeAll()
{
    std::vector<ConnectionId> ids;
    ids.reserve(m_connections.size());
    for (const auto &entry : m_connections)
        ids.push_back(entry.first);
    for (const ConnectionId id : ids) {
        Connection &c = m_connections.at(id);
        if (!c.unsent.empty())
            ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        closeConnection(id);
    }
}

} // namespace lumbrio
