#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

#include "bench/load/loadnet.h"

namespace lumbrio {

enum class LoadMode
{
    Closed, ///< each connection sends its next request when the reply arrives
    Rate,   ///< requests at fixed times, spread over the connections in turn
};

struct LoadOptions
{
    LoadMode mode = LoadMode::Closed;
    int connections = 16;
    double rate = 1000;    ///< requests per second (Rate)
    double durationS = 10; ///< no request is sent after this
    std::uint64_t maxRequests = 10'000'000;
    int timeoutMs = 1000;           ///< a request older than this is unanswered
    std::vector<std::string> codes; ///< cycled through, request by request
};

struct LoadResult
{
    std::uint64_t sent = 0;
    std::uint64_t replies = 0;
    std::uint64_t unanswered = 0; ///< timed out, or lost with a broken connection
    std::uint64_t reconnects = 0;
    double elapsedS = 0;                 ///< from the first send to the last reply
    std::vector<std::int64_t> latencyNs; ///< of every reply, sorted
    std::string error;                   ///< set when the run could not start

    double repliesPerSecond() const { return elapsedS > 0 ? replies / elapsedS : 0; }
    /// Nearest-rank percentile of the latencies, in milliseconds.
    double latencyMs(double percentile) const;
};

/// Runs one load against a server. Latency is measured from the time a request was due (its
/// scheduled time in Rate mode), so a server that falls behind cannot hide its queue.
LoadResult runLoad(const LoadOptions &options, const LoopbackAddress &server);

struct MemoryProbe
{
    std::uint64_t connections = 0; ///< open when measured
    std::uint64_t answered = 0;    ///< of the one request sent on each
    ProcessMemory before;
    ProcessMemory with;
    std::string error;
};

/// Opens n connections to the server, sends one request on each and waits for the replies
/// (so each connection has been served), then reads the resident memory of process pid.
MemoryProbe probeMemory(const LoopbackAddress &server, pid_t pid, int n,
                        const std::vector<std::string> &codes, int timeoutMs);

} // namespace lumbrio
