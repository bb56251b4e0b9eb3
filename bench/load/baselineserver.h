#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "bench/load/loadnet.h"

namespace lumbrio {

/// Limits of the baseline server; the same bounds the price-check server keeps.
struct BaselineLimits
{
    std::size_t maxReadBytes = 64 * 1024;     ///< taken from one read event
    std::size_t maxUnsentBytes = 1024 * 1024; ///< a connection past this is closed
    std::size_t maxConnections = 1024;        ///< further connections are closed at once
};

/// A fixed-reply server: one thread, one epoll loop, non-blocking sockets. It answers every
/// request with the not-found reply, so that it costs what the event loop and the sockets cost
/// and nothing more.
class BaselineServer
{
public:
    explicit BaselineServer(BaselineLimits limits = {});
    ~BaselineServer();
    BaselineServer(const BaselineServer &) = delete;
    BaselineServer &operator=(const BaselineServer &) = delete;

    /// Binds and listens; returns an error text, empty on success.
    std::string listen(const LoopbackAddress &address);

    /// The port actually bound (useful after listening on port 0).
    std::uint16_t port() const;

    /// Serves until stopFd becomes readable. Returns an error text, empty on a normal stop.
    std::string run(int stopFd);

    std::uint64_t requestsAnswered() const { return m_answered; }
    std::uint64_t connectionsAccepted() const { return m_accepted; }

private:
    struct Connection;

    void acceptAll();
    void readFrom(Connection &c);
    void flush(Connection &c);
    void watch(Connection &c, bool wantWrite);
    void close(int fd);

    BaselineLimits m_limits;
    int m_listenFd = -1;
    int m_epollFd = -1;
    std::unordered_map<int, std::unique_ptr<Connection>> m_connections;
    std::string m_readBuffer;
    std::uint64_t m_answered = 0;
    std::uint64_t m_accepted = 0;
};

} // namespace lumbrio
