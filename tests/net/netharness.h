#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace lumbrio::testing {

/// What a finished child process left behind.
struct ProcessResult
{
    int exitStatus = -1; ///< -1 when it did not exit normally
    std::string out;
    std::string err;
};

/// Runs a program to its end, capturing stdout and stderr; kills it after timeoutMs.
ProcessResult runProcess(const std::vector<std::string> &argv, int timeoutMs = 30000);

/// A child process that runs beside the test (a server), stopped by SIGTERM in stop() or, at
/// the latest, in the destructor, so a failing test leaves nothing behind.
class ChildProcess
{
public:
    explicit ChildProcess(const std::vector<std::string> &argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }

    /// The next line of its stdout, or "" when none comes within timeoutMs.
    std::string readLine(int timeoutMs = 10000);

    /// Sends SIGTERM and waits; returns the exit status, -1 when it did not exit normally.
    int stop();

private:
    pid_t m_pid = -1;
    int m_outFd = -1;
    std::string m_pending;
};

/// A minimal terminal server on a loopback ephemeral port: for each request (STX id | code ETX)
/// it sends the reply configured for the code, and nothing for any other code. Records every
/// request and counts connections.
class FakeTerminalServer
{
public:
    explicit FakeTerminalServer(std::map<std::string, std::string> replies);
    ~FakeTerminalServer();
    FakeTerminalServer(const FakeTerminalServer &) = delete;
    FakeTerminalServer &operator=(const FakeTerminalServer &) = delete;

    int port() const { return m_port; }
    std::vector<std::string> requests() const;
    int connections() const;

private:
    void serve();

    std::map<std::string, std::string> m_replies;
    int m_listenFd = -1;
    int m_wakeFds[2] = {-1, -1};
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    int m_connections = 0;
    std::thread m_thread;
};

/// A connected loopback TCP client socket, closed with the object.
class ClientSocket
{
public:
    explicit ClientSocket(int port);
    ~ClientSocket();
    ClientSocket(const ClientSocket &) = delete;
    ClientSocket &operator=(const ClientSocket &) = delete;

    bool connected() const { return m_fd >= 0; }
    bool write(const std::string &bytes);
    void shutdownWrite();
    /// Everything until the peer closes, or until timeoutMs passes.
    std::string readToEnd(int timeoutMs = 10000);

private:
    int m_fd = -1;
};

/// A port on which nothing listens: bound, never listening, so connecting is refused.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace lumbrio::testing
