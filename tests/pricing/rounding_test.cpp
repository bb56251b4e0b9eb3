#include "pricing/taxes.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "pricing/arith.h"
#include "tests/pricing/testutil.h"

namespace lumbrio {
namespace {

constexpr double Coin = 0.01;       // default MonedaMinima
constexpr double Threshold = 0.005; // default PuntoRedondeo
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::string amountText(std::int64_t raw)
{
    return "raw amount " + std::to_string(raw);
}

// Default settings with every intermediate Double fixed: n, b and the result are the Doubles
// nearest the decimals shown, rem is given to 17 significant digits.
struct DefaultCase
{
    std::int64_t raw;
    std::int64_t n;
    double base;
    double remainder;
    bool coinAdded;
    double result;
};

const DefaultCase DefaultCases[] = {
    {123'440, 1234, 12.34, 0.0040000000000001423, false, 12.34},
    {123'449, 1234, 12.34, 0.0049000000000001421, false, 12.34},
    {123'450, 1234, 12.34, 0.0050000000000001424, true, 12.35},
    {123'500, 1234, 12.34, 0.010000000000000142, true, 12.35},
    {10'050, 100, 1, 0.0050000000000000001, true, 1.01}, // rem is exactly the Double of 0.005
    {250, 2, 0.02, 0.0049999999999999992, false, 0.02},
    {750, 7, 0.07, 0.0049999999999999932, false, 0.07},
    {-71'234, 712, 7.12, 0.0033999999999998936, false, -7.12},
    {-123'450, 1234, 12.34, 0.0050000000000001424, true, -12.35},
    {0, 0, 0, 0, false, 0},
};

class DefaultRounding : public ::testing::TestWithParam<DefaultCase>
{
};

TEST_P(DefaultRounding, StepsAndResult)
{
    const DefaultCase &c = GetParam();
    const CoinRounding r = roundToCoin(c.raw, Coin, Threshold);
    EXPECT_EQ(r.coins, c.n);
    EXPECT_TRUE(test::sameDouble(r.base, c.base));
    EXPECT_TRUE(test::sameDouble(r.remainder, c.remainder));
    EXPECT_EQ(r.coinAdded, c.coinAdded);
    EXPECT_TRUE(test::sameDouble(r.result, c.result));
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(c.raw, Coin, Threshold), c.result));
}

INSTANTIATE_TEST_SUITE_P(Table, DefaultRounding, ::testing::ValuesIn(DefaultCases),
                         [](const auto &info) {
                             const std::int64_t raw = info.param.raw;
                             return (raw < 0 ? "minus" : "") + std::to_string(raw < 0 ? -raw : raw);
                         });

struct SettingsCase
{
    double coin;
    double threshold;
    std::int64_t raw;
    std::int64_t n; // the Part fixes n; a case without one below uses Unchecked
    double result;  // a decimal: the Double may lie one unit in the last place from it
};

constexpr std::int64_t Unchecked = std::numeric_limits<std::int64_t>::min();

const SettingsCase SettingsCases[] = {
    // Coins of 5 cents, half a dollar, a dollar
    {0.05, 0.025, 123'740, 247, 12.35},
    {0.05, 0.025, 123'750, 247, 12.35},
    {0.05, 0.025, 123'800, 247, 12.4},
    {0.5, 0.25, 122'400, 24, 12},
    {0.5, 0.25, 122'500, 24, 12.5},
    {0.5, 0.25, 127'500, 25, 13},
    {1, 0.5, 124'999, 12, 12},
    {1, 0.5, 125'000, 12, 13},
    // A threshold of 0 cuts down to whole cents and takes one off a whole number of cents
    {0.01, 0, 123'490, 1234, 12.34},
    {0.01, 0, 123'500, 1234, 12.34},
    {0.01, 0, 10'000, 99, 0.99},
    {0.01, 0, 100, Unchecked, 0},
    // A threshold equal to the coin adds it only to a whole number of cents
    {0.01, 0.01, 123'490, 1234, 12.34},
    {0.01, 0.01, 123'500, 1234, 12.35},
    // The configuration fallbacks (coin 0.005, threshold 0.01): never reached
    {0.005, 0.01, 123'440, Unchecked, 12.34},
    {0.005, 0.01, 123'450, 2468, 12.34},
    {0.005, 0.01, 123'475, Unchecked, 12.345},
    {0.005, 0.01, 123'500, 2469, 12.345},
    // A negative coin: n is negative, b as for 0.01, and one coin more lowers the result
    {-0.01, 0.005, 123'440, Unchecked, 12.34},
    {-0.01, 0.005, 123'450, -1234, 12.33},
    {-0.01, 0.005, 123'500, Unchecked, 12.33},
    // Default settings: whole cents come back unchanged, half cents by the Doubles' verdict
    {Coin, Threshold, 100, 0, 0.01},
    {Coin, Threshold, 10'000, 99, 1},
    {Coin, Threshold, 150, Unchecked, 0.02},
    {Coin, Threshold, 26'750, Unchecked, 2.68},
    {Coin, Threshold, 1'034'590, Unchecked, 103.46},
};

class SettingsRounding : public ::testing::TestWithParam<SettingsCase>
{
};

TEST_P(SettingsRounding, Result)
{
    const SettingsCase &c = GetParam();
    SCOPED_TRACE("coin " + std::to_string(c.coin) + ", threshold " + std::to_string(c.threshold) +
                 ", " + amountText(c.raw));
    const CoinRounding r = roundToCoin(c.raw, c.coin, c.threshold);
    if (c.n != Unchecked) {
        EXPECT_EQ(r.coins, c.n);
    }
    EXPECT_TRUE(test::withinOneUlp(r.result, c.result));
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(c.raw, c.coin, c.threshold), r.result));
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsRounding, ::testing::ValuesIn(SettingsCases));

TEST(RedondeaMoneda, SignIsPutBackNegativeZeroIncluded)
{
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(0, Coin, Threshold), 0.0));
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(-40, Coin, Threshold), -0.0));
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(-1, Coin, Threshold), -0.0));
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(-123'450, Coin, Threshold),
                                 -RedondeaMoneda(123'450, Coin, Threshold)));
}

TEST(RedondeaMoneda, WholeCentsComeBackThroughOneCoinMore)
{
    // The Double of 0.01 is a little more than 0.01, so n is one short and the coin goes back on.
    for (const std::int64_t cents : {1, 7, 100, 1235, 99'999}) {
        SCOPED_TRACE(std::to_string(cents) + " cents");
        const CoinRounding r = roundToCoin(cents * 100, Coin, Threshold);
        EXPECT_EQ(r.coins, cents - 1);
        EXPECT_TRUE(r.coinAdded);
        EXPECT_TRUE(test::withinOneUlp(r.result, static_cast<double>(cents) / 100));
    }
}

TEST(RedondeaMoneda, FullFixedPointRange)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Min = std::numeric_limits<std::int64_t>::min();
    // 922 337 203 685 477.5807 has 922 337 203 685 477 whole units, the largest count allowed.
    const CoinRounding top = roundToCoin(Max, 1, 0.5);
    EXPECT_EQ(top.coins, 922'337'203'685'477);
    EXPECT_TRUE(test::sameDouble(top.result, 922'337'203'685'478.0));
    // The magnitude of the lowest amount is 2^63, one more than any int64 holds.
    const CoinRounding bottom = roundToCoin(Min, 1, 0.5);
    EXPECT_EQ(bottom.coins, 922'337'203'685'477);
    EXPECT_TRUE(test::sameDouble(bottom.result, -922'337'203'685'478.0));
}

TEST(RedondeaMoneda, Errors)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t Min = std::numeric_limits<std::int64_t>::min();
    using Kind = ArithmeticError::Kind;
    const struct
    {
        const char *what;
        std::int64_t raw;
        double coin;
        double threshold;
        Kind kind;
    } cases[] = {
        {"coin 0", 123'450, 0, Threshold, Kind::DivisionByZero},
        {"coin -0", -5, -0.0, Threshold, Kind::DivisionByZero},
        {"coin 0, amount 0", 0, 0, Threshold, Kind::InvalidOperation},
        {"coin count beyond a fixed-point amount", 100'000'000'000'000, 1e-6, 5e-7,
         Kind::InvalidOperation},
        {"coin count beyond int64", Max, 1e-12, 5e-13, Kind::InvalidOperation},
        {"lowest amount, default coin", Min, Coin, Threshold, Kind::InvalidOperation},
        {"infinite coin", 100, Inf, Threshold, Kind::InvalidOperation},
        {"NaN coin", 100, NaN, Threshold, Kind::InvalidOperation},
        {"NaN threshold", 100, Coin, NaN, Kind::InvalidOperation},
        {"infinite threshold", 100, Coin, -Inf, Kind::InvalidOperation},
        {"subnormal coin", 100, 4.9e-324, Threshold, Kind::InvalidOperation},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            RedondeaMoneda(c.raw, c.coin, c.threshold);
            FAIL() << "no error";
        } catch (const ArithmeticError &e) {
            EXPECT_EQ(e.kind(), c.kind);
        }
    }
}

} // namespace
} // namespace lumbrio
