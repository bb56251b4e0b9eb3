#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "service/client/codepage.h"

namespace lumbrio {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
inline constexpr char kEot = 0x04;
inline constexpr char kBar = '|';
inline constexpr std::size_t kReplyFieldCount = 13;

/// A terminal's request: STX, the terminal identifier, a bar, the code, ETX.
std::string terminalRequest(std::string_view terminalId, std::string_view code);

/// What the server keeps of a code area: bytes 0x20 to 0x7F, at most 20 of them.
std::string filteredCode(std::string_view codeArea);

/// Outcome of looking for one reply at the front of received bytes.
struct ReplyScan
{
    enum class Status
    {
        Incomplete,
        Invalid,
        Complete
    };
    Status status = Status::Incomplete;
    std::size_t consumed = 0; ///< bytes of the reply (Complete) or of the garbage (Invalid)
};

/// A reply ends with a bar, ETX and EOT and begins with STX; bytes before a first STX are invalid.
ReplyScan scanReply(std::string_view received);

using ReplyFields = std::array<std::string, kReplyFieldCount>;

/// Splits a complete reply into its 13 fields. Fields are not escaped, so a bar inside the
/// code or the description yields extra pieces: quantities, prices and the offer line never hold
/// one, so the last 11 pieces are fields 3 to 13, and the code that was sent tells field 1
/// from field 2. Returns nothing when the reply has fewer than 13 fields.
std::optional<ReplyFields> splitReply(std::string_view reply, std::string_view sentCode);

/// The fields in a readable layout: code, description, the quantity/price table of the tiers
/// present and the offer line, converted from the code page for a UTF-8 console.
std::string formatReply(const ReplyFields &fields, CodePage page);

} // namespace lumbrio
