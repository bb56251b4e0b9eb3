#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumbrio {

/// The 8-bit code pages a terminal reply may be written in.
enum class CodePage
{
    Windows1252,
    Latin1,
    Latin9,
    Cp850
};

/// Looks a code page up by one of its usual names ("windows-1252", "cp1252", "ISO-8859-15",
/// "latin9", "cp850", ...); case and the dashes/underscores between parts do not matter.
std::optional<CodePage> codePageByName(std::string_view name);

/// The names codePageByName accepts, for messages.
std::string_view codePageNames();

/// Converts 8-bit text to UTF-8 for a console. Control characters (C0, DEL and the C1 range)
/// are shown as <NAME> or <0xHH> so that a reply can never drive the terminal that shows it;
/// a byte the code page leaves undefined becomes U+FFFD.
std::string decodeForConsole(std::string_view bytes, CodePage page);

/// Shows bytes as they travel: printable ASCII as itself, control bytes as <STX>, <ETX>, ...,
/// every byte from 0x80 up as <0xHH>.
std::string showBytes(std::string_view bytes);

} // namespace lumbrio
