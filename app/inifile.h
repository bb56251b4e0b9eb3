#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrio {

/// A read-only INI file read with the profile-file rules Conf.ini has always relied on:
/// section and key names match without regard to case, blanks around names and values are
/// dropped, a value enclosed in matching quotes loses them, a value is cut to 2047 bytes and
/// the first of duplicate sections or keys wins.
class IniFile
{
public:
    static constexpr std::size_t MaxValueLength = 2047;

    /// Parses the text of an INI file.
    static IniFile fromText(std::string_view text);
    /// Reads the file at path; a file that cannot be read is an empty file, as for the profile
    /// functions a missing file is.
    static IniFile fromFile(const std::filesystem::path &path);

    /// The value of key in section, or nothing when either is absent. A key written with an
    /// empty value gives the empty text.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    /// The value, or defaultValue when the section or the key is absent.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;

private:
    struct Entry
    {
        std::string key;
        std::string value;
    };
    struct Section
    {
        std::string name;
        std::vector<Entry> entries;
    };
    std::vector<Section> m_sections;
};

} // namespace lumbrio
