#pragma once

#include <string>

namespace lumbrio {

/// The regional settings that every number and date sent to a terminal follows.
/// Read once at start with readRegionalSettings() and passed by reference to the text forms.
/// The defaults are the values used when the environment provides none.
struct RegionalSettings
{
    char decimalSeparator = '.';
    char dateSeparator = '/';
    char timeSeparator = ':';
    std::string amDesignator = "am";
    std::string pmDesignator = "pm";
};

/// Reads the regional settings from the environment's locale (LC_NUMERIC for the decimal
/// separator, LC_TIME for the rest) without touching the process's global locale.
/// - A category whose locale is C or POSIX (also C.UTF-8), or that cannot be loaded, keeps the
///   defaults of RegionalSettings for all of its settings.
/// - A setting the locale leaves empty (Spanish locales have no AM/PM designators) keeps its
///   default.
/// - A separator that is not a single byte (a multibyte character, or several characters)
///   keeps its default, since every form writes the separators as one byte.
RegionalSettings readRegionalSettings();

} // namespace lumbrio
