#include "app/inifile.h"

#include <fstream>
#include <iterator>

namespace lumbrio {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char foldCase(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

std::string cleanValue(std::string_view raw)
{
    std::string_view v = trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > IniFile::MaxValueLength)
        v = v.substr(0, IniFile::MaxValueLength);
    return std::string(v);
}

} // namespace

IniFile IniFile::fromText(std::string_view text)
{
    // Editors on this platform may start the file with a UTF-8 byte order mark; it is not part
    // of the first section's name.
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (text.substr(0, bom.size()) == bom)
        text.remove_prefix(bom.size());

    IniFile ini;
    Section *current = nullptr; // keys before the first section belong to none
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line =
            trim(end == std::string_view::npos ? text : text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            const std::string_view name =
                trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            ini.m_sections.push_back(Section{std::string(name), {}});
            current = &ini.m_sections.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos)
            continue;
        current->entries.push_back(
            Entry{std::string(trim(line.substr(0, eq))), cleanValue(line.substr(eq + 1))});
    }
    return ini;
}

IniFile IniFile::fromFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return fromText(text);
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    for (const Section &s : m_sections) {
        if (!sameName(s.name, section))
            continue;
        // Only the first section of that name is searched, as the profile functions do.
        for (const Entry &e : s.entries) {
            if (sameName(e.key, key))
                return e.value;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const
{
    if (auto v = value(section, key))
        return *std::move(v);
    return std::string(defaultValue);
}

} // namespace lumbrio
