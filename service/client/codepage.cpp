#include "service/client/codepage.h"

#include <array>
#include <cctype>
#include <cstdint>

namespace lumbrio {
namespace {

constexpr char32_t kUndefined = 0xFFFD;

// Upper halves (0x80-0xFF) of the code pages that are not plain Latin-1.
constexpr std::array<char32_t, 32> kWindows1252C1 = {
    0x20AC,     kUndefined, 0x201A, 0x0192, 0x201E, 0x2026,     0x2020, 0x2021,
    0x02C6,     0x2030,     0x0160, 0x2039, 0x0152, kUndefined, 0x017D, kUndefined,
    kUndefined, 0x2018,     0x2019, 0x201C, 0x201D, 0x2022,     0x2013, 0x2014,
    0x02DC,     0x2122,     0x0161, 0x203A, 0x0153, kUndefined, 0x017E, 0x0178};

constexpr std::array<char32_t, 128> kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

// ISO-8859-15 differs from Latin-1 in eight places.
char32_t latin9(std::uint8_t b)
{
    switch (b) {
    case 0xA4:
        return 0x20AC;
    case 0xA6:
        return 0x0160;
    case 0xA8:
        return 0x0161;
    case 0xB4:
        return 0x017D;
    case 0xB8:
        return 0x017E;
    case 0xBC:
        return 0x0152;
    case 0xBD:
        return 0x0153;
    case 0xBE:
        return 0x0178;
    default:
        return b;
    }
}

char32_t toUnicode(std::uint8_t b, CodePage page)
{
    if (b < 0x80)
        return b;
    switch (page) {
    case CodePage::Windows1252:
        return b < 0xA0 ? kWindows1252C1[b - 0x80] : char32_t{b};
    case CodePage::Latin1:
        return b;
    case CodePage::Latin9:
        return latin9(b);
    case CodePage::Cp850:
        return kCp850[b - 0x80];
    }
    return kUndefined;
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

constexpr std::array<const char *, 32> kC0Names = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "TAB", "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

void appendControl(std::string &out, std::uint32_t c)
{
    out += '<';
    if (c < 0x20) {
        out += kC0Names[c];
    } else if (c == 0x7F) {
        out += "DEL";
    } else {
        constexpr char kHex[] = "0123456789ABCDEF";
        out += "0x";
        out += kHex[(c >> 4) & 0xF];
        out += kHex[c & 0xF];
    }
    out += '>';
}

std::string normalisedName(std::string_view name)
{
    std::string n;
    for (char c : name) {
        if (c != '-' && c != '_' && c != ' ')
            n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return n;
}

} // namespace

std::optional<CodePage> codePageByName(std::string_view name)
{
    const std::string n = normalisedName(name);
    if (n == "windows1252" || n == "cp1252")
        return CodePage::Windows1252;
    if (n == "iso88591" || n == "latin1")
        return CodePage::Latin1;
    if (n == "iso885915" || n == "latin9")
        return CodePage::Latin9;
    if (n == "cp850" || n == "ibm850")
        return CodePage::Cp850;
    return std::nullopt;
}

std::string_view codePageNames()
{
    return "windows-1252 (cp1252), iso-8859-1 (latin1), iso-8859-15 (latin9), cp850 (ibm850)";
}

std::string decodeForConsole(std::string_view bytes, CodePage page)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const char32_t c = toUnicode(static_cast<std::uint8_t>(ch), page);
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            appendControl(out, c);
        else
            appendUtf8(out, c);
    }
    return out;
}

std::string showBytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + 16);
    for (char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (b >= 0x20 && b < 0x7F)
            out += ch;
        else
            appendControl(out, b);
    }
    return out;
}

} // namespace lumbrio
