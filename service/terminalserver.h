#pragma once

#include "service/terminalfilter.h"

#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

class QSocketNotifier;

namespace lumbrio {

/// The listener for the terminals. It accepts like any QTcpServer, but keeps the accepted
/// connections itself on one epoll set that the event loop watches through a single notifier:
/// the loop then costs the same with a thousand terminals as with one, where a socket object
/// per terminal makes every turn of the loop look at every connection.
///
/// Everything happens on the thread that created it. Reads are level-triggered: what one read
/// event does not take is reported again on the next turn, after the other terminals.
class TerminalServer final : public QTcpServer
{
public:
    using ConnectionId = std::uint64_t;

    struct Limits
    {
        std::size_t maxRead = 64 * 1024;      ///< bytes taken from a connection in one event
        std::size_t maxPending = 1024 * 1024; ///< unsent bytes after which it is closed
        std::size_t maxConnections = 1024;    ///< further connections are closed at once
    };

    explicit TerminalServer(QObject *parent = nullptr);
    ~TerminalServer() override;
    TerminalServer(const TerminalServer &) = delete;
    TerminalServer &operator=(const TerminalServer &) = delete;

    /// Sets the bounds. The connection bound is lowered, when it must be, so that every
    /// connection has a file descriptor with some to spare: a listener that runs out of them
    /// cannot even take a connection to close it, and spins on the waiting one. Returns the
    /// connection bound in force.
    std::size_t setLimits(const Limits &limits);
    void setFilter(TerminalFilter filter) { m_filter = std::move(filter); }

    /// The data of one read event on a connection (never empty).
    std::function<void(ConnectionId, std::string_view)> onRead;
    /// A connection failed (reset, broken pipe); it is closed right after.
    std::function<void(ConnectionId, int error)> onError;
    /// A connection is gone, whoever closed it.
    std::function<void(ConnectionId)> onClosed;

    /// Hands the whole text to the connection: what the system does not take at once is kept and
    /// written as the peer reads. A connection whose unsent bytes pass the bound is closed.
    /// Nothing happens for a connection that is gone.
    void send(ConnectionId id, std::string_view data);
    bool isOpen(ConnectionId id) const { return m_connections.count(id) != 0; }
    std::size_t connectionCount() const { return m_connections.size(); }

    /// Closes every terminal connection, after a last attempt to write what is unsent.
    void closeAll();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    struct Connection
    {
        int fd = -1;
        std::string unsent;
        bool watchingWrites = false;
    };

    void serveReadyConnections();
    void readFrom(ConnectionId id);
    void flush(ConnectionId id);
    void watch(ConnectionId id, Connection &c, bool writes);
    void closeConnection(ConnectionId id);

    /// File descriptors kept for everything but terminals (the store, the event loop, logs).
    static constexpr std::size_t SpareDescriptors = 64;

    Limits m_limits;
    TerminalFilter m_filter;
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    ConnectionId m_nextId = 1;
    std::unordered_map<ConnectionId, Connection> m_connections;
    std::string m_readBuffer;
};

} // namespace lumbrio
