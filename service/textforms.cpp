#include "service/textforms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace lumbrio {
namespace {

// Significant digits every number is first taken to.
constexpr int kFirstDigits = 18;
// Significant digits of the quantity and short general forms.
constexpr int kGeneralDigits = 15;
// Decimals of the price form.
constexpr int kPriceDecimals = 2;

// Up to 19 decimal digits held in place: every number written goes through a few of these, and
// a heap string for each would cost more than the conversion itself.
class Digits
{
public:
    bool empty() const { return m_size == 0; }
    std::size_t size() const { return m_size; }
    char &operator[](std::size_t i) { return m_digits[i]; }
    char operator[](std::size_t i) const { return m_digits[i]; }
    std::string_view view() const { return {m_digits.data(), m_size}; }

    void push_back(char c)
    {
        if (m_size == m_digits.size())
            throw std::runtime_error("a value could not be written as text");
        m_digits[m_size++] = c;
    }
    /// Keeps the first n digits.
    void truncate(std::size_t n) { m_size = std::min(n, m_size); }
    /// Puts a 1 in front: the carry out of a run of nines.
    void prependOne()
    {
        std::copy_backward(m_digits.begin(), m_digits.begin() + m_size,
                           m_digits.begin() + m_size + 1);
        m_digits[0] = '1';
        ++m_size;
    }

private:
    std::array<char, 20> m_digits{};
    std::size_t m_size = 0;
};

// A magnitude as decimal digits: value = d1.d2d3... x 10^exponent. No digits means zero.
// Trailing zeros are dropped, so the digits hold only what is significant.
struct DecimalDigits
{
    Digits digits;
    int exponent = 0;
};

void dropTrailingZeros(DecimalDigits &d)
{
    std::size_t n = d.digits.size();
    while (n > 0 && d.digits[n - 1] == '0')
        --n;
    d.digits.truncate(n);
}

// The magnitude of v to 18 significant digits, to the nearest, from its exact binary value.
// std::to_chars is exact and does not depend on the C library's locale.
DecimalDigits firstRounding(long double v)
{
    if (!std::isfinite(v))
        throw std::runtime_error("a value that is not finite cannot be written as text");
    DecimalDigits d;
    if (v == 0)
        return d;
    char buffer[64];
    // Both overloads are exact; the double one is several times faster, and most values written
    // (prices, quantities) are doubles.
    const long double magnitude = std::fabs(v);
    const auto asDouble = static_cast<double>(magnitude);
    const auto [end, ec] = static_cast<long double>(asDouble) == magnitude
                               ? std::to_chars(std::begin(buffer), std::end(buffer), asDouble,
                                               std::chars_format::scientific, kFirstDigits - 1)
                               : std::to_chars(std::begin(buffer), std::end(buffer), magnitude,
                                               std::chars_format::scientific, kFirstDigits - 1);
    if (ec != std::errc())
        throw std::runtime_error("a value could not be written as text");
    // "d.ddddddddddddddddde+XX": gather the digits, whatever the point is, then the exponent.
    const char *p = buffer;
    for (; p != end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            d.digits.push_back(*p);
    }
    if (p == end || d.digits.size() != kFirstDigits)
        throw std::runtime_error("a value could not be written as text");
    ++p;
    if (p != end && *p == '+')
        ++p;
    if (std::from_chars(p, end, d.exponent).ec != std::errc())
        throw std::runtime_error("a value could not be written as text");
    dropTrailingZeros(d);
    return d;
}

// Keeps the first `keep` digits of d (keep may be zero or negative: digits above the first
// one), rounding up in magnitude when the first digit cut off is 5 or more.
DecimalDigits keepDigits(const DecimalDigits &d, int keep)
{
    if (d.digits.empty() || keep >= static_cast<int>(d.digits.size()))
        return d;
    if (keep < 0)
        return {}; // the first digit cut off is a leading zero
    DecimalDigits r = d;
    r.digits.truncate(static_cast<std::size_t>(keep));
    if (d.digits[static_cast<std::size_t>(keep)] >= '5') {
        int i = keep - 1;
        for (; i >= 0 && r.digits[static_cast<std::size_t>(i)] == '9'; --i)
            r.digits[static_cast<std::size_t>(i)] = '0';
        if (i >= 0) {
            ++r.digits[static_cast<std::size_t>(i)];
        } else {
            // All nines (or nothing kept): the carry makes a new leading 1.
            r.digits.prependOne();
            ++r.exponent;
        }
    }
    dropTrailingZeros(r);
    return r;
}

// The general form of digits already rounded to `precision` significant digits: positional
// while 10^-4 <= magnitude < 10^precision, otherwise d1[.d2...]E[-]x with at least
// minExponentDigits exponent digits.
std::string writeGeneral(bool negative, const DecimalDigits &d, int precision,
                         int minExponentDigits, char separator)
{
    if (d.digits.empty())
        return "0";
    std::string out;
    if (negative)
        out += '-';
    const int k = static_cast<int>(d.digits.size());
    const int e = d.exponent + 1; // value = 0.d1d2... x 10^e
    if (e >= -3 && e <= precision) {
        if (e <= 0) {
            out += '0';
            out += separator;
            out.append(static_cast<std::size_t>(-e), '0');
            out += d.digits.view();
        } else if (k <= e) {
            out += d.digits.view();
            out.append(static_cast<std::size_t>(e - k), '0');
        } else {
            out += d.digits.view().substr(0, static_cast<std::size_t>(e));
            out += separator;
            out += d.digits.view().substr(static_cast<std::size_t>(e));
        }
        return out;
    }
    out += d.digits[0];
    if (k > 1) {
        out += separator;
        out += d.digits.view().substr(1);
    }
    out += 'E';
    if (d.exponent < 0)
        out += '-';
    const std::string exponent = std::to_string(std::abs(d.exponent));
    if (static_cast<int>(exponent.size()) < minExponentDigits)
        out.append(static_cast<std::size_t>(minExponentDigits) - exponent.size(), '0');
    out += exponent;
    return out;
}

std::string generalForm(long double v, int minExponentDigits, const RegionalSettings &settings)
{
    const DecimalDigits d = keepDigits(firstRounding(v), kGeneralDigits);
    return writeGeneral(std::signbit(v), d, kGeneralDigits, minExponentDigits,
                        settings.decimalSeparator);
}

void appendTwoDigits(std::string &out, unsigned value)
{
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

} // namespace

std::optional<double> codeToNumber(std::string_view text, const RegionalSettings &settings)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && text[i] == ' ')
            ++i;
    };

    skipBlanks();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    std::string digits; // integer and fraction digits, without leading zeros
    long long fractionDigits = 0;
    bool anyDigit = false;
    bool separator = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (!(digits.empty() && c == '0'))
                digits += c;
            if (separator)
                ++fractionDigits;
        } else if (c == settings.decimalSeparator && !separator) {
            separator = true;
        } else {
            break;
        }
    }
    if (!anyDigit && !separator)
        return std::nullopt;

    // The exponent saturates far beyond the range of double, so a long run of exponent digits
    // cannot overflow it.
    constexpr long long kExponentLimit = 1'000'000'000;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        for (; i < text.size() && isDigit(text[i]); ++i)
            exponent = std::min(kExponentLimit, exponent * 10 + (text[i] - '0'));
        if (negativeExponent)
            exponent = -exponent;
    }
    skipBlanks();
    if (i != text.size())
        return std::nullopt;

    if (digits.empty())
        return negative ? -0.0 : 0.0;

    // value = 0.digits x 10^magnitude; decided here so that no text beyond the range of double
    // reaches the conversion.
    const long long scale = exponent - fractionDigits;
    const long long magnitude = static_cast<long long>(digits.size()) + scale;
    if (magnitude > 400)
        return std::nullopt;
    if (magnitude < -400)
        return negative ? -0.0 : 0.0;

    // A normalised text (digits and a decimal exponent): from_chars rounds it correctly and
    // reads no locale.
    const std::string normalised = digits + 'e' + std::to_string(scale);
    double value = 0;
    const auto [end, ec] =
        std::from_chars(normalised.data(), normalised.data() + normalised.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (magnitude > 0)
            return std::nullopt; // rounds beyond the largest double
        value = 0;               // below half the smallest denormal
    } else if (ec != std::errc() || end != normalised.data() + normalised.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string formatQuantity(long double v, const RegionalSettings &settings)
{
    return generalForm(v, 3, settings);
}

std::string formatShortGeneral(long double v, const RegionalSettings &settings)
{
    return generalForm(v, 1, settings);
}

std::string formatPrice(long double v, const RegionalSettings &settings)
{
    const DecimalDigits first = firstRounding(v);
    const bool negative = std::signbit(v);
    if (!first.digits.empty() && first.exponent >= kFirstDigits) {
        // Two decimals would need more than 18 significant digits.
        return writeGeneral(negative, first, kFirstDigits, 2, settings.decimalSeparator);
    }

    const DecimalDigits d = keepDigits(first, first.exponent + 1 + kPriceDecimals);
    const auto digitAt = [&d](int power) {
        const int index = d.exponent - power;
        return index >= 0 && index < static_cast<int>(d.digits.size())
                   ? d.digits[static_cast<std::size_t>(index)]
                   : '0';
    };
    std::string out;
    if (negative && !d.digits.empty())
        out += '-';
    if (d.digits.empty() || d.exponent < 0) {
        out += '0';
    } else {
        for (int power = d.exponent; power >= 0; --power)
            out += digitAt(power);
    }
    out += settings.decimalSeparator;
    for (int power = -1; power >= -kPriceDecimals; --power)
        out += digitAt(power);
    return out;
}

std::string formatOfferDate(double oleDate, const RegionalSettings &settings)
{
    using namespace std::chrono;
    // Years 1 to 9999 lie within about 2.96 million days of the epoch either way; the bound
    // keeps the millisecond count well inside 64 bits.
    if (!std::isfinite(oleDate) || std::fabs(oleDate) > 3.0e6)
        throw std::runtime_error("the date cannot be written as text");

    constexpr std::int64_t kMsPerDay = 86'400'000;
    // The product is formed in extended precision and rounded to the nearest millisecond,
    // ties to even (the default rounding mode).
    const long double product = static_cast<long double>(oleDate) * kMsPerDay;
    const std::int64_t ms = std::llrint(product);

    // Before the epoch the whole days count backwards while the fraction is still the time of
    // day: -1.25 is 29 December 1899 at 06:00.
    const std::int64_t magnitude = ms < 0 ? -ms : ms;
    const std::int64_t day = ms < 0 ? -(magnitude / kMsPerDay) : magnitude / kMsPerDay;
    const std::int64_t timeOfDay = magnitude % kMsPerDay;

    const year_month_day date{sys_days{year{1899} / December / 30} + days{day}};
    const int y = static_cast<int>(date.year());
    if (!date.ok() || y < 1 || y > 9999)
        throw std::runtime_error("the date is outside the years 1 to 9999");

    const auto hour = static_cast<unsigned>(timeOfDay / 3'600'000);
    const auto minute = static_cast<unsigned>(timeOfDay / 60'000 % 60);
    const unsigned hour12 = hour % 12 == 0 ? 12 : hour % 12;

    std::string out;
    appendTwoDigits(out, static_cast<unsigned>(date.day()));
    out += settings.dateSeparator;
    appendTwoDigits(out, static_cast<unsigned>(date.month()));
    out += settings.dateSeparator;
    appendTwoDigits(out, static_cast<unsigned>(y / 100));
    appendTwoDigits(out, static_cast<unsigned>(y % 100));
    out += ' ';
    out += std::to_string(hour12);
    out += settings.timeSeparator;
    out += std::to_string(minute);
    out += ' ';
    out += hour < 12 ? settings.amDesignator : settings.pmDesignator;
    return out;
}

std::string offerLine(double Pct_ofer, double Fec_ini_ofer, double Fec_fin_ofer,
                      const RegionalSettings &settings)
{
    // The percentage is formed in extended precision, not rounded to double first.
    const long double percentage = static_cast<long double>(Pct_ofer) * 100.0L;
    std::string line = "Oferta: ";
    line += formatShortGeneral(percentage, settings);
    line += "% De ";
    line += formatOfferDate(Fec_ini_ofer, settings);
    line += " a ";
    line += formatOfferDate(Fec_fin_ofer, settings);
    return line;
}

} // namespace lumbrio
