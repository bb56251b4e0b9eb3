#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrio {

/// The data of one read, cut before every STX. The first piece does not begin with STX when the
/// data does not; every other piece does. Empty data gives no piece.
std::vector<std::string_view> splitBeforeStx(std::string_view data);

/// What one terminal connection keeps between reads: the beginning of a request that was cut
/// before its first bar (STX and part of the terminal identifier). The next read is put behind it
/// unless that read begins with STX, which starts afresh. Nothing else is kept.
class RequestAssembler
{
public:
    /// Most bytes of such a beginning that are kept; a longer one is no request and is dropped.
    static constexpr std::size_t kMaxPending = 256;

    /// The pieces of this read to be judged as requests, in order. A last piece that is only the
    /// beginning of a request is kept back for the next read instead.
    std::vector<std::string> feed(std::string_view data);

    bool hasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;
};

} // namespace lumbrio
