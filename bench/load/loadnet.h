#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/socket.h>
#include <sys/types.h>

namespace lumbrio {

/// The reply to every request of the baseline server: the not-found reply, 50 bytes.
std::string_view notFoundReply();

/// A socket address of the loopback interface.
struct LoopbackAddress
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    std::string text; ///< "127.0.0.1:6001" or "[::1]:6001"

    const sockaddr *addr() const { return reinterpret_cast<const sockaddr *>(&storage); }
};

/// Parses a numeric loopback address (127.0.0.0/8, ::1) or "localhost"; anything else is
/// refused, so that no load ever leaves the machine.
std::optional<LoopbackAddress> loopbackAddress(const std::string &host, std::uint16_t port);

/// Parses a port number 0 to 65535.
std::optional<std::uint16_t> parsePort(std::string_view text);

/// Raises the soft limit of open files towards wanted (up to the hard limit); returns the new
/// soft limit.
std::uint64_t raiseFileLimit(std::uint64_t wanted);

/// Resident and peak resident memory of a process in KiB, from /proc/PID/status.
struct ProcessMemory
{
    std::uint64_t rssKiB = 0;
    std::uint64_t peakKiB = 0;
};
std::optional<ProcessMemory> readProcessMemory(pid_t pid);

/// Counts the replies that end in a byte stream (a bar, ETX, EOT), across read boundaries.
class ReplyEndCounter
{
public:
    std::size_t feed(std::string_view data);
    void reset() { m_last = m_beforeLast = 0; }

private:
    char m_last = 0;
    char m_beforeLast = 0;
};

} // namespace lumbrio
