#pragma once

#include "service/regional.h"

#include <optional>
#include <string>
#include <string_view>

namespace lumbrio {

// Text forms of the numbers and dates that reach a terminal or the price query.
//
// Every number form first takes the magnitude of the exact binary value to 18 significant
// digits (to the nearest), then cuts those digits to the ones it shows, rounding up in
// magnitude when the first digit cut off is 5 or more. The sign "-" is written only for a
// negative value that is not shown as zero. The forms never read the C library's locale: the
// separators come from the RegionalSettings passed in. A value that is not finite cannot be
// written and throws std::runtime_error, so a request that would show it gets no reply.
// Number forms take long double so that an extended intermediate is written from its exact
// value; a double converts exactly.

/// The code as a number: blanks, an optional sign, digits with an optional decimal separator
/// (at least one digit or the separator), an optional exponent ("E" or "e", an optional sign,
/// digits; none read as 0), blanks. nullopt when the text does not read so, or when the value
/// is beyond the range of double (a value below it rounds to a denormal or zero).
std::optional<double> codeToNumber(std::string_view text, const RegionalSettings &settings);

/// The quantity form: 15 significant digits, positional for exponents -3..15 ("2.501",
/// "0.0001"), otherwise "1E-005" / "1E015" (exponent of at least three digits).
std::string formatQuantity(long double v, const RegionalSettings &settings);

/// The short general form: as the quantity form with the exponent written without leading
/// zeros ("1E-5", "1E15"). Used for the code in the price query and the offer percentage.
std::string formatShortGeneral(long double v, const RegionalSettings &settings);

/// The price form: two decimals ("18.50", "0.13", "-0.01"). From 10^18 on, the general form
/// with 18 significant digits and an exponent of at least two digits ("1E18").
std::string formatPrice(long double v, const RegionalSettings &settings);

/// An OLE Automation date (days since 30 December 1899, the time of day as the fraction)
/// in the pattern "dd/mm/yyyy h:n ampm": "01/06/2020 8:5 am". The value is rounded to the
/// nearest millisecond first. Throws std::runtime_error for NaN, infinities and dates outside
/// the years 1 to 9999.
std::string formatOfferDate(double oleDate, const RegionalSettings &settings);

/// The offer line: "Oferta: " pct "% De " start " a " end, with pct = Pct_ofer x 100 formed
/// in long double and written in the short general form, the dates in the offer-date pattern.
std::string offerLine(double Pct_ofer, double Fec_ini_ofer, double Fec_fin_ofer,
                      const RegionalSettings &settings);

} // namespace lumbrio
