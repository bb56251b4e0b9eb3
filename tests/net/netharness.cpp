#include "tests/net/netharness.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace lumbrio::testing {
namespace {

using Clock = std::chrono::steady_clock;

int msUntil(Clock::time_point deadline)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

pid_t spawn(const std::vector<std::string> &argv, int outFd, int errFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int exitStatusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int boundPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

} // namespace

ProcessResult runProcess(const std::vector<std::string> &argv, int timeoutMs)
{
    ProcessResult result;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    const pid_t pid = spawn(argv, outPipe[1], errPipe[1]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = pid > 0 ? 2 : 0;
    while (open > 0 && msUntil(deadline) > 0) {
        if (::poll(fds, 2, msUntil(deadline)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    if (pid > 0) {
        if (open > 0)
            ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.exitStatus = open > 0 ? -1 : exitStatusOf(status);
    }
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string> &argv)
{
    int outPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return;
    m_pid = spawn(argv, outPipe[1], -1);
    ::close(outPipe[1]);
    m_outFd = outPipe[0];
}

ChildProcess::~ChildProcess()
{
    stop();
    if (m_outFd >= 0)
        ::close(m_outFd);
}

std::string ChildProcess::readLine(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        pollfd p{m_outFd, POLLIN, 0};
        if (m_outFd < 0 || ::poll(&p, 1, msUntil(deadline)) <= 0)
            return {};
        char buffer[1024];
        const ssize_t n = ::read(m_outFd, buffer, sizeof buffer);
        if (n <= 0)
            return {};
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

int ChildProcess::stop()
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    // Give it a few seconds to end on its own, then make sure.
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return exitStatusOf(status);
        }
        ::poll(nullptr, 0, 10);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return -1;
}

FakeTerminalServer::FakeTerminalServer(std::map<std::string, std::string> replies)
    : m_replies(std::move(replies))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(0);
    ::bind(m_listenFd, reinterpret_cast<const sockaddr *>(&a), sizeof a);
    ::listen(m_listenFd, 16);
    m_port = boundPort(m_listenFd);
    if (::pipe2(m_wakeFds, O_CLOEXEC) != 0)
        return;
    m_thread = std::thread([this] { serve(); });
}

FakeTerminalServer::~FakeTerminalServer()
{
    if (m_thread.joinable()) {
        [[maybe_unused]] const auto n = ::write(m_wakeFds[1], "x", 1);
        m_thread.join();
    }
    for (int fd : {m_listenFd, m_wakeFds[0], m_wakeFds[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::vector<std::string> FakeTerminalServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int FakeTerminalServer::connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

void FakeTerminalServer::serve()
{
    struct Client
    {
        int fd;
        std::string buffer;
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds = {{m_wakeFds[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
        for (const Client &c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents != 0) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
                std::lock_guard lock(m_mutex);
                ++m_connections;
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            Client &c = clients[i - 2];
            char chunk[4096];
            const ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                ::close(c.fd);
                c.fd = -1;
                continue;
            }
            c.buffer.append(chunk, static_cast<std::size_t>(n));
            // The clients under test always send whole requests: STX ... ETX.
            for (std::size_t end; (end = c.buffer.find('\x03')) != std::string::npos;) {
                const std::string request = c.buffer.substr(0, end + 1);
                c.buffer.erase(0, end + 1);
                {
                    std::lock_guard lock(m_mutex);
                    m_requests.push_back(request);
                }
                const std::size_t bar = request.find('|');
                if (request.front() != '\x02' || bar == std::string::npos)
                    continue;
                const auto reply = m_replies.find(request.substr(bar + 1, end - bar - 1));
                if (reply != m_replies.end())
                    ::send(c.fd, reply->second.data(), reply->second.size(), MSG_NOSIGNAL);
            }
        }
        std::erase_if(clients, [](const Client &c) { return c.fd < 0; });
    }
    for (const Client &c : clients)
        ::close(c.fd);
}

ClientSocket::ClientSocket(int port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

ClientSocket::~ClientSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ClientSocket::write(const std::string &bytes)
{
    return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

void ClientSocket::shutdownWrite()
{
    ::shutdown(m_fd, SHUT_WR);
}

std::string ClientSocket::readToEnd(int timeoutMs)
{
    std::string data;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, msUntil(deadline)) <= 0)
            return data;
        char chunk[4096];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return data;
        data.append(chunk, static_cast<std::size_t>(n));
    }
}

RefusingPort::RefusingPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(0);
    ::bind(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a);
    m_port = boundPort(m_fd);
}

RefusingPort::~RefusingPort()
{
    ::close(m_fd);
}

} // namespace lumbrio::testing
