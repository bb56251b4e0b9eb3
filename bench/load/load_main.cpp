// lumbrio-load: load generator for the price-check server (loopback only).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/load/loadgenerator.h"

namespace {

void usage()
{
    std::fputs(
        "usage: lumbrio-load [options] [CODE...]\n"
        "  --mode closed|rate|memory  closed loop (default), fixed rate, or resident memory\n"
        "  --host ADDR                loopback address of the server (default 127.0.0.1)\n"
        "  --port P                   server port (default 6001)\n"
        "  --compare-port P           also measure a second server (e.g. lumbrio-baseline)\n"
        "  --compare-host ADDR        its address (default: --host)\n"
        "  --connections N            terminal connections (default 16)\n"
        "  --rate R                   requests per second over all connections (rate mode)\n"
        "  --duration S               seconds of sending (default 10)\n"
        "  --requests N               at most N requests (default 10000000)\n"
        "  --timeout MS               a reply later than this counts as unanswered (default 1000)\n"
        "  --codes-file F             codes to cycle through, one a line\n"
        "  --pid PID                  server process to measure (memory mode)\n"
        "Codes come from --codes-file and the command line, in that order.\n",
        stderr);
}

bool readCodes(const std::string &path, std::vector<std::string> &codes)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            codes.push_back(line);
    }
    return true;
}

void printResult(const lumbrio::LoadResult &r)
{
    std::printf("sent: %llu\n", static_cast<unsigned long long>(r.sent));
    std::printf("replies: %llu\n", static_cast<unsigned long long>(r.replies));
    std::printf("unanswered: %llu\n", static_cast<unsigned long long>(r.unanswered));
    std::printf("reconnects: %llu\n", static_cast<unsigned long long>(r.reconnects));
    std::printf("elapsed s: %.3f\n", r.elapsedS);
    std::printf("replies/s: %.1f\n", r.repliesPerSecond());
    std::printf("latency ms: p50 %.3f p99 %.3f max %.3f\n", r.latencyMs(50), r.latencyMs(99),
                r.latencyMs(100));
}

template <typename T>
bool parseNumber(const std::string &text, T &value, T min, T max)
{
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v >= static_cast<double>(min)) ||
        !(v <= static_cast<double>(max)))
        return false;
    value = static_cast<T>(v);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    lumbrio::LoadOptions options;
    std::string mode = "closed";
    std::string host = "127.0.0.1";
    std::string compareHost;
    std::uint16_t port = 6001;
    int comparePort = -1;
    pid_t pid = 0;
    std::vector<std::string> fileCodes;
    std::vector<std::string> argCodes;
    bool rateGiven = false;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        if (arg.rfind("--", 0) != 0) {
            argCodes.push_back(arg);
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "lumbrio-load: %s needs a value\n", arg.c_str());
            return 2;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (arg == "--mode") {
            ok = value == "closed" || value == "rate" || value == "memory";
            mode = value;
        } else if (arg == "--host") {
            host = value;
        } else if (arg == "--compare-host") {
            compareHost = value;
        } else if (arg == "--port") {
            const auto p = lumbrio::parsePort(value);
            ok = p && *p != 0;
            port = p.value_or(0);
        } else if (arg == "--compare-port") {
            const auto p = lumbrio::parsePort(value);
            ok = p && *p != 0;
            comparePort = p.value_or(0);
        } else if (arg == "--connections") {
            ok = parseNumber(value, options.connections, 1, 60000);
        } else if (arg == "--rate") {
            ok = parseNumber(value, options.rate, 1.0, 10'000'000.0);
            rateGiven = true;
        } else if (arg == "--duration") {
            ok = parseNumber(value, options.durationS, 0.001, 86400.0);
        } else if (arg == "--requests") {
            ok = parseNumber<std::uint64_t>(value, options.maxRequests, 1, 1'000'000'000);
        } else if (arg == "--timeout") {
            ok = parseNumber(value, options.timeoutMs, 1, 3'600'000);
        } else if (arg == "--pid") {
            ok = parseNumber<pid_t>(value, pid, 1, 1 << 30);
        } else if (arg == "--codes-file") {
            ok = readCodes(value, fileCodes);
            if (!ok) {
                std::fprintf(stderr, "lumbrio-load: cannot read %s\n", value.c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "lumbrio-load: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "lumbrio-load: bad value '%s' for %s\n", value.c_str(),
                         arg.c_str());
            return 2;
        }
    }
    options.codes = fileCodes;
    options.codes.insert(options.codes.end(), argCodes.begin(), argCodes.end());
    if (options.codes.empty()) {
        std::fputs("lumbrio-load: no codes; give them on the command line or with --codes-file\n",
                   stderr);
        return 2;
    }
    if (mode == "rate" && !rateGiven) {
        std::fputs("lumbrio-load: rate mode needs --rate\n", stderr);
        return 2;
    }
    options.mode = mode == "rate" ? lumbrio::LoadMode::Rate : lumbrio::LoadMode::Closed;

    const auto server = lumbrio::loopbackAddress(host, port);
    if (!server) {
        std::fprintf(stderr, "lumbrio-load: '%s' is not a loopback address\n", host.c_str());
        return 2;
    }
    lumbrio::raiseFileLimit(static_cast<std::uint64_t>(options.connections) + 64);

    if (mode == "memory") {
        if (pid == 0) {
            std::fputs("lumbrio-load: memory mode needs --pid\n", stderr);
            return 2;
        }
        const auto probe = lumbrio::probeMemory(*server, pid, options.connections, options.codes,
                                                options.timeoutMs);
        if (probe.connections == 0 || probe.with.rssKiB == 0) {
            std::fprintf(stderr, "lumbrio-load: %s\n", probe.error.c_str());
            return 1;
        }
        std::printf("server: %s pid %d\n", server->text.c_str(), static_cast<int>(pid));
        std::printf("connections open: %llu\n", static_cast<unsigned long long>(probe.connections));
        std::printf("answered: %llu\n", static_cast<unsigned long long>(probe.answered));
        std::printf("rss KiB before: %llu\n", static_cast<unsigned long long>(probe.before.rssKiB));
        std::printf("rss KiB with connections: %llu\n",
                    static_cast<unsigned long long>(probe.with.rssKiB));
        std::printf("peak rss KiB: %llu\n", static_cast<unsigned long long>(probe.with.peakKiB));
        if (!probe.error.empty())
            std::fprintf(stderr, "lumbrio-load: %s\n", probe.error.c_str());
        return probe.connections == static_cast<std::uint64_t>(options.connections) ? 0 : 1;
    }

    std::optional<lumbrio::LoopbackAddress> second;
    if (comparePort >= 0) {
        second = lumbrio::loopbackAddress(compareHost.empty() ? host : compareHost,
                                          static_cast<std::uint16_t>(comparePort));
        if (!second) {
            std::fputs("lumbrio-load: the compared server must be on a loopback address\n", stderr);
            return 2;
        }
    }

    const char *modeText = options.mode == lumbrio::LoadMode::Rate ? "fixed rate" : "closed loop";
    std::printf("%s, %d connections", modeText, options.connections);
    if (options.mode == lumbrio::LoadMode::Rate)
        std::printf(", %.0f requests/s", options.rate);
    std::printf(", %.1f s or %llu requests, %zu codes\n", options.durationS,
                static_cast<unsigned long long>(options.maxRequests), options.codes.size());

    std::printf("== server %s\n", server->text.c_str());
    const lumbrio::LoadResult first = lumbrio::runLoad(options, *server);
    if (!first.error.empty() && first.sent == 0) {
        std::fprintf(stderr, "lumbrio-load: %s\n", first.error.c_str());
        return 1;
    }
    printResult(first);
    if (second) {
        std::printf("== server %s\n", second->text.c_str());
        const lumbrio::LoadResult other = lumbrio::runLoad(options, *second);
        if (!other.error.empty() && other.sent == 0) {
            std::fprintf(stderr, "lumbrio-load: %s\n", other.error.c_str());
            return 1;
        }
        printResult(other);
        const double ratio =
            other.repliesPerSecond() > 0 ? first.repliesPerSecond() / other.repliesPerSecond() : 0;
        std::printf("ratio replies/s %s / %s: %.3f\n", server->text.c_str(), second->text.c_str(),
                    ratio);
    }
    std::fflush(stdout);
    return 0;
}
