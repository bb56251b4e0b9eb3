#include "service/regional.h"

#include <cctype>
#include <langinfo.h>
#include <locale.h>
#include <string_view>

namespace lumbrio {
namespace {

// Owns a locale object made from the environment for one category.
class EnvironmentLocale
{
public:
    EnvironmentLocale(int categoryMask, int category)
        : m_locale(newlocale(categoryMask, "", static_cast<locale_t>(nullptr))),
          m_category(category)
    {
    }
    ~EnvironmentLocale()
    {
        if (m_locale != static_cast<locale_t>(nullptr))
            freelocale(m_locale);
    }
    EnvironmentLocale(const EnvironmentLocale &) = delete;
    EnvironmentLocale &operator=(const EnvironmentLocale &) = delete;

    // False when the environment names a locale that cannot be loaded, or the C/POSIX locale:
    // either way the category keeps the defaults.
    bool usable() const
    {
        if (m_locale == static_cast<locale_t>(nullptr))
            return false;
        const std::string_view name = item(_NL_LOCALE_NAME(m_category));
        return !(name.empty() || name == "C" || name == "POSIX" || name.starts_with("C."));
    }

    std::string_view item(nl_item what) const
    {
        const char *text = nl_langinfo_l(what, m_locale);
        return text != nullptr ? std::string_view(text) : std::string_view();
    }

private:
    locale_t m_locale;
    int m_category;
};

// The single byte a separator is written as, or the fallback when the locale's separator is
// empty, a multibyte character or several characters.
char singleByte(std::string_view text, char fallback)
{
    const auto usableByte = [](std::string_view t) {
        return t.size() == 1 && t[0] >= 0x20 && t[0] <= 0x7E &&
               !std::isdigit(static_cast<unsigned char>(t[0]));
    };
    if (usableByte(text))
        return text[0];
    // "%Y. %m. %d." puts a blank after the separator.
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return usableByte(text) ? text[0] : fallback;
}

// The separator of a strftime pattern: the literal text between its first two conversions,
// or the separator of a composite conversion (%D, %F, %T, %R, %r) that comes first.
char patternSeparator(std::string_view pattern, char fallback)
{
    std::string literal;
    int conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            if (conversions == 1)
                literal += pattern[i];
            continue;
        }
        // Flags, width and the E/O modifiers come before the conversion character.
        std::size_t j = i + 1;
        while (j < pattern.size() &&
               std::string_view("_-0^#").find(pattern[j]) != std::string_view::npos)
            ++j;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])))
            ++j;
        if (j < pattern.size() && (pattern[j] == 'E' || pattern[j] == 'O'))
            ++j;
        if (j >= pattern.size())
            break;
        const char conversion = pattern[j];
        i = j;
        if (conversion == '%') {
            if (conversions == 1)
                literal += '%';
            continue;
        }
        if (conversions == 0) {
            switch (conversion) {
            case 'D':
                return '/';
            case 'F':
                return '-';
            case 'T':
            case 'R':
            case 'r':
                return ':';
            default:
                break;
            }
        }
        if (++conversions == 2)
            return singleByte(literal, fallback);
    }
    return fallback;
}

} // namespace

RegionalSettings readRegionalSettings()
{
    RegionalSettings settings;

    const EnvironmentLocale numeric(LC_NUMERIC_MASK, LC_NUMERIC);
    if (numeric.usable())
        settings.decimalSeparator = singleByte(numeric.item(RADIXCHAR), settings.decimalSeparator);

    const EnvironmentLocale time(LC_TIME_MASK, LC_TIME);
    if (time.usable()) {
        settings.dateSeparator = patternSeparator(time.item(D_FMT), settings.dateSeparator);
        settings.timeSeparator = patternSeparator(time.item(T_FMT), settings.timeSeparator);
        if (const std::string_view am = time.item(AM_STR); !am.empty())
            settings.amDesignator = am;
        if (const std::string_view pm = time.item(PM_STR); !pm.empty())
            settings.pmDesignator = pm;
    }
    return settings;
}

} // namespace lumbrio
