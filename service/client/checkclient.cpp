#include "service/client/checkclient.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ostream>

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "service/client/reply.h"

namespace lumbrio {
namespace {

using Clock = std::chrono::steady_clock;

// A reply is a few hundred bytes; anything this long without an end is not one.
constexpr std::size_t kMaxReplyBytes = 1 << 20;

std::optional<long> parseNumber(const std::string &text, long min, long max)
{
    long value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < min || value > max)
        return std::nullopt;
    return value;
}

int msLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

/// One TCP connection to the server, closed with the object.
class Connection
{
public:
    Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { close(); }

    bool isOpen() const { return m_fd >= 0; }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    /// Opens the connection to the first address of host that accepts within timeoutMs.
    /// On failure returns the reason.
    std::string open(const std::string &host, const std::string &port, int timeoutMs)
    {
        close();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *list = nullptr;
        if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list); rc != 0)
            return ::gai_strerror(rc);
        std::string reason = "no address";
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (addrinfo *ai = list; ai != nullptr && m_fd < 0; ai = ai->ai_next) {
            const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    ai->ai_protocol);
            if (fd < 0) {
                reason = std::strerror(errno);
                continue;
            }
            int err = 0;
            if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
                err = errno;
                if (err == EINPROGRESS) {
                    pollfd p{fd, POLLOUT, 0};
                    const int ready = ::poll(&p, 1, msLeft(deadline));
                    socklen_t len = sizeof err;
                    if (ready == 1)
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                    else
                        err = ETIMEDOUT;
                }
            }
            if (err == 0) {
                m_fd = fd;
            } else {
                reason = std::strerror(err);
                ::close(fd);
            }
        }
        ::freeaddrinfo(list);
        return m_fd >= 0 ? std::string() : reason;
    }

    bool sendAll(std::string_view data)
    {
        while (!data.empty()) {
            const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    enum class ReadResult
    {
        Data,
        TimedOut,
        Closed
    };

    /// Appends what arrives before the deadline to buffer.
    ReadResult readSome(std::string &buffer, Clock::time_point deadline)
    {
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, msLeft(deadline));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return ReadResult::TimedOut;
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return ReadResult::Closed;
            buffer.append(chunk, static_cast<std::size_t>(n));
            return ReadResult::Data;
        }
    }

private:
    int m_fd = -1;
};

} // namespace

std::string checkUsage()
{
    return "usage: lumbrio-check [--host H] [--port P] [--raw] [--timeout MS] [--encoding NAME]\n"
           "                     [--terminal ID] CODE...\n"
           "Sends each CODE to the price-check server as a terminal does and shows the reply.\n"
           "  --host H         server name or address (default 127.0.0.1)\n"
           "  --port P         server port (default 6001)\n"
           "  --raw            show the reply bytes, control bytes as <STX>, <ETX>, ...\n"
           "  --timeout MS     wait at most MS milliseconds for each reply (default 3000)\n"
           "  --encoding NAME  code page of the replies (default windows-1252); one of\n"
           "                   " +
           std::string(codePageNames()) +
           "\n"
           "  --terminal ID    terminal identifier sent before the bar (default 1)\n"
           "Exit status: 0 every code answered, 1 a reply missing or malformed, 2 bad arguments\n"
           "or server unreachable.\n";
}

CheckArgs parseCheckArgs(const std::vector<std::string> &args)
{
    CheckArgs result;
    CheckOptions &o = result.options;
    bool onlyCodes = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (onlyCodes || arg.empty() || arg[0] != '-' || arg == "-") {
            o.codes.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyCodes = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            return result;
        }
        if (arg == "--raw") {
            o.raw = true;
            continue;
        }
        if (arg != "--host" && arg != "--port" && arg != "--timeout" && arg != "--encoding" &&
            arg != "--terminal") {
            result.error = "unknown option " + arg;
            return result;
        }
        if (i + 1 >= args.size()) {
            result.error = arg + " needs a value";
            return result;
        }
        const std::string &value = args[++i];
        if (arg == "--host") {
            if (value.empty()) {
                result.error = "--host needs a name or address";
                return result;
            }
            o.host = value;
        } else if (arg == "--port") {
            if (!parseNumber(value, 1, 65535)) {
                result.error = "--port needs a number from 1 to 65535, not '" + value + "'";
                return result;
            }
            o.port = value;
        } else if (arg == "--timeout") {
            const auto ms = parseNumber(value, 1, 3'600'000);
            if (!ms) {
                result.error =
                    "--timeout needs milliseconds from 1 to 3600000, not '" + value + "'";
                return result;
            }
            o.timeoutMs = static_cast<int>(*ms);
        } else if (arg == "--encoding") {
            const auto page = codePageByName(value);
            if (!page) {
                result.error =
                    "unknown encoding '" + value + "'; known: " + std::string(codePageNames());
                return result;
            }
            o.codePage = *page;
        } else {
            // The server reads the identifier up to the first bar.
            if (value.find(kBar) != std::string::npos) {
                result.error = "--terminal must not contain '|'";
                return result;
            }
            o.terminalId = value;
        }
    }
    if (o.codes.empty())
        result.error = "no CODE given";
    return result;
}

int runCheck(const CheckOptions &options, std::ostream &out, std::ostream &err)
{
    int status = CheckAllAnswered;
    Connection connection;
    std::string buffer;
    bool first = true;
    for (const std::string &code : options.codes) {
        if (!connection.isOpen()) {
            buffer.clear();
            const std::string reason =
                connection.open(options.host, options.port, options.timeoutMs);
            if (!reason.empty()) {
                err << "lumbrio-check: cannot connect to " << options.host << " port "
                    << options.port << ": " << reason << '\n';
                return CheckFailed;
            }
        }
        if (!connection.sendAll(terminalRequest(options.terminalId, code))) {
            err << "lumbrio-check: code " << showBytes(code)
                << ": the connection broke while sending\n";
            status = CheckNoReply;
            connection.close();
            continue;
        }

        const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
        ReplyScan scan = scanReply(buffer);
        std::string problem;
        while (scan.status == ReplyScan::Status::Incomplete && problem.empty()) {
            if (buffer.size() > kMaxReplyBytes) {
                problem = "more than 1 MiB without the end of a reply";
                break;
            }
            switch (connection.readSome(buffer, deadline)) {
            case Connection::ReadResult::Data:
                scan = scanReply(buffer);
                break;
            case Connection::ReadResult::TimedOut:
                problem = "no reply within " + std::to_string(options.timeoutMs) + " ms";
                break;
            case Connection::ReadResult::Closed:
                problem = "the server closed the connection before replying";
                break;
            }
        }
        if (scan.status == ReplyScan::Status::Invalid)
            problem = "malformed reply " + showBytes(std::string_view(buffer).substr(0, 200));
        if (!problem.empty()) {
            err << "lumbrio-check: code " << showBytes(code) << ": " << problem << '\n';
            status = CheckNoReply;
            connection.close(); // a late reply must not be read as the next code's
            continue;
        }

        const std::string_view reply = std::string_view(buffer).substr(0, scan.consumed);
        if (options.raw) {
            out << showBytes(reply) << '\n';
        } else if (const auto fields = splitReply(reply, code)) {
            if (!first)
                out << '\n';
            // Field 1 of a not-found reply is blank, so say which code this answers.
            out << "Sent:        " << showBytes(code) << '\n'
                << formatReply(*fields, options.codePage);
        } else {
            err << "lumbrio-check: code " << showBytes(code) << ": reply with fewer than 13 fields "
                << showBytes(reply) << '\n';
            status = CheckNoReply;
        }
        first = false;
        if (buffer.size() > scan.consumed) {
            err << "lumbrio-check: code " << showBytes(code) << ": "
                << buffer.size() - scan.consumed << " unexpected bytes after the reply\n";
            status = CheckNoReply;
            connection.close();
        }
        buffer.erase(0, scan.consumed);
    }
    return status;
}

} // namespace lumbrio
