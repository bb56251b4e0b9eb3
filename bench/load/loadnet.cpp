#include "bench/load/loadnet.h"

#include <charconv>
#include <cstring>
#include <fstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>

namespace lumbrio {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kBar = '|';

constexpr char kNotFound[] = "\x02 |ARTICULO NO ENCONTRADO| | | | | | | | | | | |\x03\x04";
static_assert(sizeof kNotFound - 1 == 50);

} // namespace

std::string_view notFoundReply()
{
    return {kNotFound, sizeof kNotFound - 1};
}

std::optional<LoopbackAddress> loopbackAddress(const std::string &host, std::uint16_t port)
{
    LoopbackAddress a;
    const std::string name = host == "localhost" ? std::string("127.0.0.1") : host;
    auto *v4 = reinterpret_cast<sockaddr_in *>(&a.storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a.storage);
    if (::inet_pton(AF_INET, name.c_str(), &v4->sin_addr) == 1) {
        if ((ntohl(v4->sin_addr.s_addr) >> 24) != 127)
            return std::nullopt;
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        a.length = sizeof(sockaddr_in);
        a.text = name + ':' + std::to_string(port);
        return a;
    }
    if (::inet_pton(AF_INET6, name.c_str(), &v6->sin6_addr) == 1) {
        if (!IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr))
            return std::nullopt;
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        a.length = sizeof(sockaddr_in6);
        a.text = '[' + name + "]:" + std::to_string(port);
        return a;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::uint64_t raiseFileLimit(std::uint64_t wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}

std::optional<ProcessMemory> readProcessMemory(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    if (!status)
        return std::nullopt;
    ProcessMemory memory;
    bool seen = false;
    std::string line;
    while (std::getline(status, line)) {
        // Lines read "VmRSS:\t   12345 kB".
        auto valueOf = [&line](std::string_view key) -> std::optional<std::uint64_t> {
            if (line.rfind(key, 0) != 0)
                return std::nullopt;
            return std::strtoull(line.c_str() + key.size(), nullptr, 10);
        };
        if (auto v = valueOf("VmRSS:")) {
            memory.rssKiB = *v;
            seen = true;
        } else if (auto p = valueOf("VmHWM:")) {
            memory.peakKiB = *p;
        }
    }
    if (!seen)
        return std::nullopt;
    return memory;
}

std::size_t ReplyEndCounter::feed(std::string_view data)
{
    std::size_t ends = 0;
    for (char c : data) {
        if (c == kEot && m_last == kEtx && m_beforeLast == kBar)
            ++ends;
        m_beforeLast = m_last;
        m_last = c;
    }
    return ends;
}

} // namespace lumbrio
