#include "bench/load/loadgenerator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace lumbrio {
namespace {

std::int64_t nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

/// A blocking connect with a time-out, then non-blocking for the run. Returns -1 on failure.
int connectTo(const LoopbackAddress &server, int timeoutMs, std::string &error)
{
    const int fd = ::socket(server.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, server.addr(), server.length) != 0) {
        error = "connect " + server.text + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

struct Terminal
{
    int fd = -1;
    std::string id;
    std::deque<std::int64_t> due; ///< due times of the requests awaiting a reply, in order
    ReplyEndCounter ends;
    std::string unsent;
    bool wantWrite = false;
};

class LoadRun
{
public:
    LoadRun(const LoadOptions &options, const LoopbackAddress &server)
        : m_options(options), m_server(server),
          m_timeoutNs(std::int64_t{options.timeoutMs} * 1'000'000)
    {
    }

    ~LoadRun()
    {
        for (Terminal &t : m_terminals) {
            if (t.fd >= 0)
                ::close(t.fd);
        }
        if (m_timerFd >= 0)
            ::close(m_timerFd);
        if (m_epollFd >= 0)
            ::close(m_epollFd);
    }

    LoadResult run();

private:
    bool open(Terminal &t);
    void resetConnection(Terminal &t);
    void send(Terminal &t, std::int64_t due);
    void flush(Terminal &t);
    void readFrom(Terminal &t);
    void expireOld(std::int64_t now);
    bool mayStartAnother() const { return !m_stopping && m_result.sent < m_options.maxRequests; }
    std::uint64_t outstanding() const;

    const LoadOptions &m_options;
    const LoopbackAddress &m_server;
    const std::int64_t m_timeoutNs;
    std::vector<Terminal> m_terminals;
    int m_epollFd = -1;
    int m_timerFd = -1;
    bool m_stopping = false;
    std::int64_t m_lastReply = 0;
    LoadResult m_result;
};

bool LoadRun::open(Terminal &t)
{
    std::string error;
    t.fd = connectTo(m_server, m_options.timeoutMs, error);
    if (t.fd < 0) {
        if (m_result.error.empty())
            m_result.error = error;
        return false;
    }
    t.ends.reset();
    t.unsent.clear();
    t.wantWrite = false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = static_cast<std::uint64_t>(&t - m_terminals.data());
    ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, t.fd, &ev);
    return true;
}

void LoadRun::resetConnection(Terminal &t)
{
    // Replies carry no request number, so after a lost reply the rest of this connection's
    // replies could not be matched: count what is pending as unanswered and start afresh.
    m_result.unanswered += t.due.size();
    t.due.clear();
    if (t.fd >= 0) {
        ::epoll_ctl(m_epollFd, EPOLL_CTL_DEL, t.fd, nullptr);
        ::close(t.fd);
        t.fd = -1;
    }
    if (!m_stopping) {
        ++m_result.reconnects;
        open(t);
    }
}

void LoadRun::send(Terminal &t, std::int64_t due)
{
    const std::string &code = m_options.codes[m_result.sent % m_options.codes.size()];
    ++m_result.sent;
    if (t.fd < 0) {
        ++m_result.unanswered;
        return;
    }
    t.due.push_back(due);
    t.unsent += '\x02';
    t.unsent += t.id;
    t.unsent += '|';
    t.unsent += code;
    t.unsent += '\x03';
    flush(t);
}

void LoadRun::flush(Terminal &t)
{
    while (!t.unsent.empty()) {
        const ssize_t n = ::send(t.fd, t.unsent.data(), t.unsent.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n < 0) {
            resetConnection(t);
            return;
        }
        t.unsent.erase(0, static_cast<std::size_t>(n));
    }
    const bool wantWrite = !t.unsent.empty();
    if (wantWrite != t.wantWrite) {
        t.wantWrite = wantWrite;
        epoll_event ev{};
        ev.events = EPOLLIN | (wantWrite ? EPOLLOUT : 0u);
        ev.data.u64 = static_cast<std::uint64_t>(&t - m_terminals.data());
        ::epoll_ctl(m_epollFd, EPOLL_CTL_MOD, t.fd, &ev);
    }
}

void LoadRun::readFrom(Terminal &t)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(t.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            resetConnection(t);
            if (m_options.mode == LoadMode::Closed && t.fd >= 0 && mayStartAnother())
                send(t, nowNs());
            return;
        }
        const std::size_t replies =
            t.ends.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        const std::int64_t now = nowNs();
        for (std::size_t i = 0; i < replies; ++i) {
            if (t.due.empty())
                break; // a reply nobody asked for: not counted
            m_result.latencyNs.push_back(now - t.due.front());
            t.due.pop_front();
            ++m_result.replies;
            m_lastReply = now;
            if (m_options.mode == LoadMode::Closed && mayStartAnother())
                send(t, now);
        }
        if (t.fd < 0)
            return;
    }
}

void LoadRun::expireOld(std::int64_t now)
{
    for (Terminal &t : m_terminals) {
        if (!t.due.empty() && now - t.due.front() > m_timeoutNs) {
            resetConnection(t);
            if (m_options.mode == LoadMode::Closed && t.fd >= 0 && mayStartAnother())
                send(t, nowNs());
        }
    }
}

std::uint64_t LoadRun::outstanding() const
{
    std::uint64_t n = 0;
    for (const Terminal &t : m_terminals)
        n += t.due.size();
    return n;
}

LoadResult LoadRun::run()
{
    m_epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    constexpr std::uint64_t kTimerTag = ~std::uint64_t{0};
    epoll_event tev{};
    tev.events = EPOLLIN;
    tev.data.u64 = kTimerTag;
    ::epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_timerFd, &tev);

    // Every terminal is connected before the clock starts; the vector never grows after this,
    // so the epoll tags (indexes) stay valid.
    m_terminals.resize(static_cast<std::size_t>(m_options.connections));
    for (std::size_t i = 0; i < m_terminals.size(); ++i) {
        m_terminals[i].id = std::to_string(i + 1);
        if (!open(m_terminals[i]))
            return m_result;
    }
    m_result.latencyNs.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(m_options.maxRequests, 20'000'000)));

    const std::int64_t start = nowNs();
    const std::int64_t end = start + static_cast<std::int64_t>(m_options.durationS * 1e9);
    const double intervalNs = m_options.mode == LoadMode::Rate ? 1e9 / m_options.rate : 0;
    std::int64_t drainUntil = 0;
    std::int64_t nextExpiry = start + 10'000'000;

    if (m_options.mode == LoadMode::Closed) {
        for (Terminal &t : m_terminals) {
            if (mayStartAnother())
                send(t, nowNs());
        }
    }

    epoll_event events[512];
    for (;;) {
        std::int64_t now = nowNs();
        if (m_options.mode == LoadMode::Rate) {
            // Send everything that is due, late or not; lateness shows in the latency.
            for (;;) {
                const auto due = start + static_cast<std::int64_t>(std::llround(
                                             static_cast<double>(m_result.sent) * intervalNs));
                if (!mayStartAnother() || due >= end || due > now)
                    break;
                send(m_terminals[m_result.sent % m_terminals.size()], due);
            }
        }
        if (!m_stopping && (now >= end || m_result.sent >= m_options.maxRequests)) {
            m_stopping = true;
            drainUntil = now + m_timeoutNs;
        }
        if (m_stopping && (outstanding() == 0 || now >= drainUntil))
            break;
        if (now >= nextExpiry) {
            expireOld(now);
            nextExpiry = now + 10'000'000;
        }

        // Wake for the next due request (to the nanosecond, via the timer), or within 10 ms.
        std::int64_t wake = std::min(nextExpiry, m_stopping ? drainUntil : end);
        if (m_options.mode == LoadMode::Rate && !m_stopping) {
            const auto due = start + static_cast<std::int64_t>(std::llround(
                                         static_cast<double>(m_result.sent) * intervalNs));
            wake = std::min(wake, due);
        }
        itimerspec its{};
        its.it_value.tv_sec = wake / 1'000'000'000;
        its.it_value.tv_nsec = wake % 1'000'000'000;
        ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &its, nullptr);

        const int n = ::epoll_wait(m_epollFd, events, 512, 20);
        for (int i = 0; i < n; ++i) {
            if (events[i].data.u64 == kTimerTag) {
                std::uint64_t expirations = 0;
                [[maybe_unused]] auto r = ::read(m_timerFd, &expirations, sizeof expirations);
                continue;
            }
            Terminal &t = m_terminals[events[i].data.u64];
            if (t.fd < 0)
                continue;
            if (events[i].events & EPOLLOUT)
                flush(t);
            if (t.fd >= 0 && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                readFrom(t);
        }
    }
    m_result.unanswered += outstanding();
    m_result.elapsedS =
        static_cast<double>((m_lastReply > start ? m_lastReply : nowNs()) - start) / 1e9;
    std::sort(m_result.latencyNs.begin(), m_result.latencyNs.end());
    return std::move(m_result);
}

} // namespace

double LoadResult::latencyMs(double percentile) const
{
    if (latencyNs.empty())
        return 0;
    auto rank = static_cast<std::size_t>(
        std::ceil(percentile / 100.0 * static_cast<double>(latencyNs.size())));
    rank = std::clamp<std::size_t>(rank, 1, latencyNs.size());
    return static_cast<double>(latencyNs[rank - 1]) / 1e6;
}

LoadResult runLoad(const LoadOptions &options, const LoopbackAddress &server)
{
    LoadRun run(options, server);
    return run.run();
}

MemoryProbe probeMemory(const LoopbackAddress &server, pid_t pid, int n,
                        const std::vector<std::string> &codes, int timeoutMs)
{
    MemoryProbe probe;
    const auto before = readProcessMemory(pid);
    if (!before) {
        probe.error = "cannot read /proc/" + std::to_string(pid) + "/status";
        return probe;
    }
    probe.before = *before;

    std::vector<int> fds;
    std::vector<ReplyEndCounter> counters(static_cast<std::size_t>(n));
    std::vector<bool> answered(static_cast<std::size_t>(n), false);
    const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < n; ++i) {
        const int fd = connectTo(server, timeoutMs, probe.error);
        if (fd < 0)
            break;
        fds.push_back(fd);
        const std::string &code = codes[static_cast<std::size_t>(i) % codes.size()];
        const std::string request = '\x02' + std::to_string(i + 1) + '|' + code + '\x03';
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size()))
            continue;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = static_cast<std::uint64_t>(i);
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    }
    probe.connections = fds.size();

    const std::int64_t deadline = nowNs() + std::int64_t{timeoutMs} * 1'000'000;
    epoll_event events[256];
    while (probe.answered < fds.size() && nowNs() < deadline) {
        const int ready = ::epoll_wait(epollFd, events, 256, 20);
        for (int e = 0; e < ready; ++e) {
            const auto i = static_cast<std::size_t>(events[e].data.u64);
            char buffer[4096];
            const ssize_t got = ::recv(fds[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (got <= 0) {
                ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fds[i], nullptr);
                continue;
            }
            if (!answered[i] &&
                counters[i].feed(std::string_view(buffer, static_cast<std::size_t>(got))) > 0) {
                answered[i] = true;
                ++probe.answered;
            }
        }
    }
    // Still open, all of them: this is the figure wanted.
    if (const auto with = readProcessMemory(pid))
        probe.with = *with;
    else if (probe.error.empty())
        probe.error = "the server process is gone";
    for (int fd : fds)
        ::close(fd);
    ::close(epollFd);
    return probe;
}

} // namespace lumbrio
