#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace lumbrio {

// Prices are worked in IEEE double-extended precision (64-bit significand) and rounded to a
// double only where a value is stored; on x86-64 that format is long double.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the pricing arithmetic needs a double-extended long double (x86-64)");
static_assert(std::numeric_limits<double>::is_iec559, "double must be IEEE 754 binary64");

/// A floating-point step that has no valid result. Such a step never yields inf or NaN.
class ArithmeticError : public std::runtime_error
{
public:
    enum class Kind
    {
        DivisionByZero,   ///< a finite non-zero number divided by zero
        InvalidOperation, ///< 0 / 0, an integer conversion out of range, an inf or NaN operand
        Overflow,         ///< a result too large for its format
    };

    explicit ArithmeticError(Kind kind, std::string_view detail = {});

    Kind kind() const noexcept { return m_kind; }

    /// "division by zero", "invalid floating-point operation" or "floating-point overflow".
    static std::string_view kindText(Kind kind) noexcept;

private:
    Kind m_kind;
};

/// Checked double-extended steps. Each one refuses an operand that is already inf or NaN (a
/// database column may hold 'Infinity'), so no such value can travel on to a reply.
namespace arith {

[[noreturn]] void fail(ArithmeticError::Kind kind, std::string_view detail = {});

/// The operand itself, or InvalidOperation when it is inf or NaN.
inline long double operand(long double x)
{
    if (!std::isfinite(x))
        fail(ArithmeticError::Kind::InvalidOperation, "operand is not a finite number");
    return x;
}

inline long double result(long double x)
{
    if (!std::isfinite(x))
        fail(ArithmeticError::Kind::Overflow);
    return x;
}

inline long double add(long double a, long double b)
{
    return result(operand(a) + operand(b));
}

inline long double sub(long double a, long double b)
{
    return result(operand(a) - operand(b));
}

inline long double mul(long double a, long double b)
{
    return result(operand(a) * operand(b));
}

inline long double div(long double a, long double b)
{
    if (operand(b) == 0.0L) {
        fail(operand(a) == 0.0L ? ArithmeticError::Kind::InvalidOperation
                                : ArithmeticError::Kind::DivisionByZero);
    }
    return result(operand(a) / b);
}

/// Stores a double-extended value as a double (round to nearest, ties to even). A value beyond
/// the double range is an overflow; one below it underflows quietly to a subnormal or zero.
inline double store(long double x)
{
    const double d = static_cast<double>(operand(x));
    if (std::isinf(d))
        fail(ArithmeticError::Kind::Overflow, "value does not fit a double");
    return d;
}

namespace detail {
// Every int64 lies in [-2^63, 2^63); both bounds are exact in long double.
inline constexpr long double Int64Low = -0x1p63L;
inline constexpr long double Int64High = 0x1p63L;

// Adding and then taking away 2^63 leaves a magnitude below 2^63 as a whole number rounded in the
// current mode (to nearest, ties to even): where 2^63 is added the 64-bit significand keeps no
// fraction. The library's nearbyintl and a truncating control word cost far more on x87.
inline long double nearestWhole(long double x)
{
    if (x >= 0)
        return x < Int64High ? (x + Int64High) - Int64High : x;
    return x > Int64Low ? (x - Int64High) + Int64High : x;
}

inline std::int64_t toInt64(long double whole)
{
    if (!(whole >= Int64Low && whole < Int64High))
        fail(ArithmeticError::Kind::InvalidOperation, "integer conversion out of range");
    // Through a double where that is exact, since SSE converts a double without switching the
    // x87 rounding mode.
    if (whole > -0x1p53L && whole < 0x1p53L)
        return static_cast<std::int64_t>(static_cast<double>(whole));
    return static_cast<std::int64_t>(whole);
}
} // namespace detail

/// Rounds to the nearest int64, ties to even (the default rounding mode, which nothing in the
/// system changes). Out of range is an invalid operation.
inline std::int64_t roundToInt64(long double x)
{
    return detail::toInt64(detail::nearestWhole(operand(x)));
}

/// Truncates toward zero to an int64. Out of range is an invalid operation.
inline std::int64_t truncToInt64(long double x)
{
    long double whole = detail::nearestWhole(operand(x));
    if (x >= 0 && whole > x)
        whole -= 1;
    else if (x < 0 && whole < x)
        whole += 1;
    return detail::toInt64(whole);
}

} // namespace arith
} // namespace lumbrio
