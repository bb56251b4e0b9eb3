#pragma once

#include <QString>

#include <array>
#include <optional>
#include <string>

namespace lumbrio {

/// Turns the data server's text into the 8-bit code page that the terminals show. A character
/// the code page lacks becomes "?".
class CodePageEncoder
{
public:
    /// The encoder of a code page known by that name (Windows-1252, ISO-8859-15, CP850, ...);
    /// nothing when the name is unknown or names no single-byte code page.
    static std::optional<CodePageEncoder> forName(const QString &name);

    std::string encode(QStringView text) const;

private:
    CodePageEncoder() = default;

    // The byte of every character of the Basic Multilingual Plane, '?' where there is none;
    // built once, so encoding is a look-up per character.
    std::shared_ptr<const std::array<char, 0x10000>> m_bytes;
};

} // namespace lumbrio
