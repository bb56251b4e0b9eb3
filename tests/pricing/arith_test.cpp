#include "pricing/arith.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/pricing/testutil.h"

namespace lumbrio {
namespace {

using Kind = ArithmeticError::Kind;
constexpr long double Inf = std::numeric_limits<long double>::infinity();
constexpr long double NaN = std::numeric_limits<long double>::quiet_NaN();

TEST(Arith, ErrorsByKind)
{
    const struct
    {
        const char *what;
        std::function<void()> step;
        Kind kind;
    } cases[] = {
        {"1 / 0", [] { arith::div(1, 0); }, Kind::DivisionByZero},
        {"-1 / -0", [] { arith::div(-1, -0.0L); }, Kind::DivisionByZero},
        {"0 / 0", [] { arith::div(0, 0); }, Kind::InvalidOperation},
        {"inf / 0", [] { arith::div(Inf, 0); }, Kind::InvalidOperation},
        {"inf / 2", [] { arith::div(Inf, 2); }, Kind::InvalidOperation},
        {"NaN + 1", [] { arith::add(NaN, 1); }, Kind::InvalidOperation},
        {"1 - inf", [] { arith::sub(1, Inf); }, Kind::InvalidOperation},
        {"0 x inf", [] { arith::mul(0, Inf); }, Kind::InvalidOperation},
        {"max x 2", [] { arith::mul(LDBL_MAX, 2); }, Kind::Overflow},
        {"max + max", [] { arith::add(LDBL_MAX, LDBL_MAX); }, Kind::Overflow},
        {"-max - max", [] { arith::sub(-LDBL_MAX, LDBL_MAX); }, Kind::Overflow},
        {"1 / min", [] { arith::div(1, LDBL_TRUE_MIN); }, Kind::Overflow},
        {"store 1e309", [] { arith::store(1e309L); }, Kind::Overflow},
        {"store -1e309", [] { arith::store(-1e309L); }, Kind::Overflow},
        {"store NaN", [] { arith::store(NaN); }, Kind::InvalidOperation},
        {"round 2^63", [] { arith::roundToInt64(0x1p63L); }, Kind::InvalidOperation},
        {"round 2^63 - 0.5", [] { arith::roundToInt64(0x1p63L - 0.5L); }, Kind::InvalidOperation},
        {"round -2^63 - 1", [] { arith::roundToInt64(-0x1p63L - 1); }, Kind::InvalidOperation},
        {"round inf", [] { arith::roundToInt64(Inf); }, Kind::InvalidOperation},
        {"truncate NaN", [] { arith::truncToInt64(NaN); }, Kind::InvalidOperation},
        {"truncate 2^63", [] { arith::truncToInt64(0x1p63L); }, Kind::InvalidOperation},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.step();
            FAIL() << "no error";
        } catch (const ArithmeticError &e) {
            EXPECT_EQ(e.kind(), c.kind);
            EXPECT_EQ(std::string(e.what()).rfind(ArithmeticError::kindText(c.kind), 0), 0u);
        }
    }
}

TEST(Arith, UnderflowAndInexactAreNoErrors)
{
    EXPECT_TRUE(test::sameDouble(arith::store(1e-400L), 0.0));
    EXPECT_TRUE(test::sameDouble(arith::store(-1e-400L), -0.0));
    EXPECT_TRUE(std::fpclassify(arith::store(1e-320L)) == FP_SUBNORMAL);
    EXPECT_TRUE(test::sameDouble(arith::store(arith::div(1, 3)), 1.0 / 3.0));
    EXPECT_TRUE(test::sameDouble(arith::store(DBL_MAX), DBL_MAX));
}

TEST(Arith, StepsRoundToTheExtendedFormat)
{
    // 1 + 2^-60 exists in double-extended and is lost in a Double.
    EXPECT_NE(arith::add(1, 0x1p-60L), 1.0L);
    EXPECT_EQ(arith::add(1, 0x1p-64L), 1.0L);
    EXPECT_TRUE(test::sameDouble(arith::store(arith::add(1, 0x1p-60L)), 1.0));
}

TEST(Arith, IntegerConversions)
{
    const struct
    {
        long double x;
        std::int64_t nearest;
        std::int64_t truncated;
    } cases[] = {
        {2.5L, 2, 2},
        {3.5L, 4, 3},
        {-2.5L, -2, -2},
        {-3.5L, -4, -3},
        {2.4999999L, 2, 2},
        {-2.9L, -3, -2},
        {-0.0L, 0, 0},
        {0.49999999999999999L, 0, 0},
        {-0.5L, 0, 0},
        {0x1p53L - 0.5L, 9'007'199'254'740'992, 9'007'199'254'740'991},
        {0x1p53L + 1, 9'007'199'254'740'993, 9'007'199'254'740'993},
        {-0x1p53L - 1, -9'007'199'254'740'993, -9'007'199'254'740'993},
        {0x1p62L + 0.5L, 4'611'686'018'427'387'904, 4'611'686'018'427'387'904},
        {0x1p62L + 1.5L, 4'611'686'018'427'387'906, 4'611'686'018'427'387'905},
        {-0x1p62L - 1.5L, -4'611'686'018'427'387'906, -4'611'686'018'427'387'905},
        {0x1p63L - 1, std::numeric_limits<std::int64_t>::max(),
         std::numeric_limits<std::int64_t>::max()},
        {-0x1p63L, std::numeric_limits<std::int64_t>::min(),
         std::numeric_limits<std::int64_t>::min()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<double>(c.x)));
        EXPECT_EQ(arith::roundToInt64(c.x), c.nearest);
        EXPECT_EQ(arith::truncToInt64(c.x), c.truncated);
    }
    // Truncation keeps a value just below 2^63 in range where rounding would not.
    EXPECT_EQ(arith::truncToInt64(0x1p63L - 0.5L), std::numeric_limits<std::int64_t>::max());
}

} // namespace
} // namespace lumbrio
