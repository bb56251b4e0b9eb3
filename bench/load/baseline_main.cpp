// lumbrio-baseline: the fixed-reply server the load generator compares the real one with.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/signalfd.h>
#include <unistd.h>

#include "bench/load/baselineserver.h"

namespace {

void usage()
{
    std::fputs("usage: lumbrio-baseline [--host ADDR] [--port P] [--max-connections N]\n"
               "Answers every terminal request with the 50-byte not-found reply.\n"
               "  --host ADDR          loopback address to listen on (default 127.0.0.1)\n"
               "  --port P             port, 0 for any free one (default 6002)\n"
               "  --max-connections N  connections served at once (default 1024)\n"
               "Prints 'listening on ADDR:PORT' once ready; stops on SIGINT or SIGTERM.\n",
               stderr);
}

} // namespace

int main(int argc, char **argv)
{
    std::string host = "127.0.0.1";
    std::uint16_t port = 6002;
    lumbrio::BaselineLimits limits;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "lumbrio-baseline: %s needs a value\n", arg.c_str());
            usage();
            return 2;
        }
        const std::string value = argv[++i];
        if (arg == "--host") {
            host = value;
        } else if (arg == "--port") {
            const auto p = lumbrio::parsePort(value);
            if (!p) {
                std::fprintf(stderr, "lumbrio-baseline: bad port '%s'\n", value.c_str());
                return 2;
            }
            port = *p;
        } else if (arg == "--max-connections") {
            const auto n = std::strtoul(value.c_str(), nullptr, 10);
            if (n == 0 || n > 100000) {
                std::fprintf(stderr, "lumbrio-baseline: bad connection count '%s'\n",
                             value.c_str());
                return 2;
            }
            limits.maxConnections = n;
        } else {
            std::fprintf(stderr, "lumbrio-baseline: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
    }
    const auto address = lumbrio::loopbackAddress(host, port);
    if (!address) {
        std::fprintf(stderr, "lumbrio-baseline: '%s' is not a loopback address\n", host.c_str());
        return 2;
    }
    lumbrio::raiseFileLimit(limits.maxConnections + 64);

    // The signals arrive as events of the loop, so shutdown runs the normal way.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int stopFd = ::signalfd(-1, &signals, SFD_CLOEXEC);

    lumbrio::BaselineServer server(limits);
    if (const std::string error = server.listen(*address); !error.empty()) {
        std::fprintf(stderr, "lumbrio-baseline: %s\n", error.c_str());
        return 1;
    }
    const bool v6 = host.find(':') != std::string::npos;
    std::printf("listening on %s%s%s:%u\n", v6 ? "[" : "", host.c_str(), v6 ? "]" : "",
                static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    const std::string error = server.run(stopFd);
    ::close(stopFd);
    std::printf("answered %llu requests on %llu connections\n",
                static_cast<unsigned long long>(server.requestsAnswered()),
                static_cast<unsigned long long>(server.connectionsAccepted()));
    if (!error.empty()) {
        std::fprintf(stderr, "lumbrio-baseline: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
