#include "pricing/taxes.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "pricing/arith.h"
#include "tests/pricing/testutil.h"

namespace lumbrio {
namespace {

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr TTasasImpuesto Rates{0.16, 0.08, 0.05, 0, 0, 0, 0, 0, 0};

struct TaxCase
{
    std::int16_t imps;
    std::uint8_t ban;
    double price;
    double result;         // the decimal the result stands for
    std::int64_t fixedRaw; // its fixed-point amount, which is exact
};

// rate 1 = 0.16, rate 2 = 0.08, rate 3 = 0.05, price 100. The results may differ from the decimal
// in the last place; the fixed-point conversion absorbs that.
const TaxCase TaxCases[] = {
    {0, 0, 100, 100, 1'000'000},   {0, 255, 100, 100, 1'000'000},  {1, 255, 100, 116, 1'160'000},
    {3, 0, 100, 124, 1'240'000},   {3, 1, 100, 125.28, 1'252'800}, {2, 1, 100, 108, 1'080'000},
    {5, 2, 100, 121.8, 1'218'000}, {7, 1, 100, 130.28, 1'302'800}, {7, 3, 100, 131.544, 1'315'440},
};

TEST(AplicaImpuestos, ExampleTable)
{
    for (const TaxCase &c : TaxCases) {
        SCOPED_TRACE("Imps_Act " + std::to_string(c.imps) + ", Ban_imps " + std::to_string(c.ban));
        const double taxed = AplicaImpuestos(c.ban, Rates, c.price, c.imps);
        EXPECT_TRUE(test::withinOneUlp(taxed, c.result));
        EXPECT_EQ(ImporteFijo(taxed), c.fixedRaw);
    }
}

TEST(AplicaImpuestos, SimpleTaxGivesTheDoubleBelow116)
{
    EXPECT_TRUE(test::sameDouble(AplicaImpuestos(255, Rates, 100, 1), 115.99999999999999));
    EXPECT_EQ(ImporteFijo(115.99999999999999), 1'160'000);
}

// Rates that are sums of powers of two make every factor exact, so the bit mapping shows plainly.
TEST(AplicaImpuestos, MaskAndFlagBits)
{
    const TTasasImpuesto rates{0.5, 0.25, 0.125, 1, 2, 4, 8, 0.5, 0.25};
    const struct
    {
        const char *what;
        std::int16_t imps;
        std::uint8_t ban;
        double factor;
    } cases[] = {
        {"only tax 2, compound, acts as simple", 0x002, 0x01, 1.25},
        {"1 simple, 2 compound, 3 simple", 0x007, 0x01, 1.5 * 1.25 + 0.125},
        {"1 simple, 2 and 3 compound", 0x007, 0x03, 1.5 * 1.25 * 1.125},
        {"flags of taxes that do not apply", 0x001, 0xFF, 1.5},
        {"tax 9 simple", 0x100, 0x00, 1.25},
        {"tax 9 compound over tax 8", 0x180, 0x80, 1.5 * 1.25},
        {"tax 9 simple beside tax 8", 0x180, 0x00, 1.75},
        {"tax 8 compound over 4 to 7", 0x0F8, 0x40, (1 + 1 + 2 + 4 + 8) * 1.5},
        {"bits 9 to 15 ignored", static_cast<std::int16_t>(0xFE01), 0x00, 1.5},
        {"every bit set", -1, 0x00, 1 + 0.5 + 0.25 + 0.125 + 1 + 2 + 4 + 8 + 0.5 + 0.25},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(test::sameDouble(AplicaImpuestos(c.ban, rates, 8, c.imps), 8 * c.factor));
    }
}

TEST(AplicaImpuestos, ZeroRateAndNoTaxKeepThePrice)
{
    const TTasasImpuesto zero{};
    EXPECT_TRUE(test::sameDouble(AplicaImpuestos(0xFF, zero, 12.34, 0x1FF), 12.34));
    EXPECT_TRUE(test::sameDouble(AplicaImpuestos(0xFF, Rates, 12.34, 0), 12.34));
    EXPECT_TRUE(test::sameDouble(AplicaImpuestos(0, Rates, 0, 7), 0));
}

TEST(AplicaImpuestos, NonFiniteInputsAndOverflowAreErrors)
{
    TTasasImpuesto infRate = Rates;
    infRate[1] = Inf;
    TTasasImpuesto nanRate = Rates;
    nanRate[4] = NaN;
    const struct
    {
        const char *what;
        TTasasImpuesto rates;
        double price;
        std::int16_t imps;
        ArithmeticError::Kind kind;
    } cases[] = {
        {"infinite rate", infRate, 10, 3, ArithmeticError::Kind::InvalidOperation},
        {"NaN rate", nanRate, 10, 0x10, ArithmeticError::Kind::InvalidOperation},
        {"infinite price", Rates, Inf, 1, ArithmeticError::Kind::InvalidOperation},
        {"NaN price, no tax", Rates, NaN, 0, ArithmeticError::Kind::InvalidOperation},
        {"overflowing price", Rates, 1.7e308, 1, ArithmeticError::Kind::Overflow},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            AplicaImpuestos(0, c.rates, c.price, c.imps);
            FAIL() << "no error";
        } catch (const ArithmeticError &e) {
            EXPECT_EQ(e.kind(), c.kind);
        }
    }
    // A rate that is not read cannot fail.
    EXPECT_NO_THROW(AplicaImpuestos(0, infRate, 10, 1));
}

TEST(ImporteFijo, RoundsToNearestEven)
{
    const struct
    {
        double price;
        std::int64_t raw;
    } cases[] = {
        {1.03125, 10'312},
        {1.09375, 10'938},
        {-1.03125, -10'312},
        {-1.09375, -10'938},
        {0.03125, 312},
        {0.09375, 938},
        {-0.03125, -312},
        {0, 0},
        {-0.0, 0},
        // The Doubles of 0.00005 and 0.00015 lie just above and below the half: the product is
        // not rounded to a Double first, where it would become exactly 0.5 or 1.5.
        {0.00005, 1},
        {0.00015, 1},
        {9.999199999999998, 99'992},
        {14.499999999999998, 145'000},
        // the range edges: 922 337 203 685 477.5 is the last Double that fits
        {922'337'203'685'477.5, 9'223'372'036'854'775'000},
        {-922'337'203'685'477.5, -9'223'372'036'854'775'000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::exact(c.price));
        EXPECT_EQ(ImporteFijo(c.price), c.raw);
    }
}

TEST(ImporteFijo, OutOfRangeAndNonFiniteAreInvalid)
{
    for (const double price :
         {922'337'203'685'477.625, -922'337'203'685'477.625, 1e300, Inf, -Inf, NaN}) {
        SCOPED_TRACE(test::exact(price));
        try {
            ImporteFijo(price);
            FAIL() << "no error";
        } catch (const ArithmeticError &e) {
            EXPECT_EQ(e.kind(), ArithmeticError::Kind::InvalidOperation);
        }
    }
}

TEST(AplicaOferta, DiscountFormedInExtendedPrecision)
{
    EXPECT_TRUE(test::sameDouble(AplicaOferta(8, 0.25), 6));
    EXPECT_TRUE(test::sameDouble(AplicaOferta(12.34, 0), 12.34));
    EXPECT_TRUE(test::sameDouble(AplicaOferta(12.34, 1), 0));
    EXPECT_TRUE(test::sameDouble(AplicaOferta(10, -0.5), 15));
    // 1 - Pct_ofer is kept in double-extended: rounded to a Double first, these three would come
    // out as 0.009000000000000001, 0.04000000000000001 and 0.24649999999999997.
    EXPECT_TRUE(test::sameDouble(AplicaOferta(0.01, 0.1), 0.009));
    EXPECT_TRUE(test::sameDouble(AplicaOferta(0.05, 0.2), 0.04));
    EXPECT_TRUE(test::sameDouble(AplicaOferta(0.29, 0.15), 0.2465));
    EXPECT_THROW(AplicaOferta(Inf, 0.1), ArithmeticError);
    EXPECT_THROW(AplicaOferta(10, NaN), ArithmeticError);
}

// Tier price -> taxes -> fixed-point amount -> coin, with the default coin 0.01 and threshold
// 0.005.
TEST(TierPriceToResult, Table)
{
    const struct
    {
        double price;
        std::int16_t imps;
        std::uint8_t ban;
        double taxed;
        std::int64_t raw;
        double result;
    } cases[] = {
        {8.62, 1, 0, 9.999199999999998, 99'992, 10},
        {12.5, 1, 0, 14.499999999999998, 145'000, 14.5},
        {10, 3, 1, 12.527999999999999, 125'280, 12.53},
        // b + c gives 115.99000000000001, one unit in the last place above the Double of 115.99
        {99.99, 1, 0, 115.98839999999998, 1'159'884, 115.99000000000001},
        {0.99, 3, 1, 1.2402719999999998, 12'403, 1.24},
        {19.95, 5, 2, 24.2991, 242'991, 24.3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(test::exact(c.price));
        const double taxed = AplicaImpuestos(c.ban, Rates, c.price, c.imps);
        EXPECT_TRUE(test::sameDouble(taxed, c.taxed));
        const std::int64_t raw = ImporteFijo(taxed);
        EXPECT_EQ(raw, c.raw);
        EXPECT_TRUE(test::sameDouble(RedondeaMoneda(raw, 0.01, 0.005), c.result));
    }
}

TEST(TierPriceToResult, HalfTiesGoToEvenRawCount)
{
    const std::int64_t raw = ImporteFijo(1.03125);
    EXPECT_EQ(raw, 10'312);
    EXPECT_TRUE(test::sameDouble(RedondeaMoneda(raw, 0.01, 0.005), 1.03));
}

} // namespace
} // namespace lumbrio
