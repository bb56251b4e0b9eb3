#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace lumbrio {

// Texts on the wire are 8-bit byte strings: std::string holds the bytes unchanged.

/// Delimiter bytes of requests and replies.
inline constexpr char STX = '\x02'; ///< first byte of every request and reply
inline constexpr char ETX = '\x03'; ///< follows the bar after the last field of a reply
inline constexpr char EOT = '\x04'; ///< last byte of every reply
inline constexpr char Bar = '|';    ///< ends the terminal identifier; follows every reply field
inline constexpr char Blank = ' ';  ///< the content of a field that has nothing to show

/// The 13 fields of one reply record; field i of the record is index i - 1.
using TCampos = std::array<std::string, 13>;

/// Most bytes a code can hold; further bytes of the code area are dropped.
inline constexpr std::size_t kMaxCodeLength = 20;

inline constexpr std::string_view kNoEncontrado = "ARTICULO NO ENCONTRADO";

/// Recognises a request (STX, a terminal identifier, a bar, the code area) and takes out the
/// code: the first 20 bytes of the code area in 0x20..0x7F; every other byte is dropped.
/// nullopt when the bytes are not a request (empty, first byte not STX, no bar); such data gets
/// no reply. The code may be empty.
std::optional<std::string> extractCode(std::string_view request);

/// Sets every field to " " and then field 2 to mensaje.
void PonMensaje(TCampos &campos, std::string_view mensaje);

/// The 13 fields in order, each followed by a bar.
std::string ArmaRespuesta(const TCampos &campos);

/// STX, body, ETX, EOT.
std::string EnmarcaRespuesta(std::string_view body);

} // namespace lumbrio
