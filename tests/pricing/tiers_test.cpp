#include "pricing/tiers.h"

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pricing/arith.h"
#include "tests/pricing/testutil.h"

namespace lumbrio {
namespace {

using test::MemoryRow;
using Breaks = std::array<std::optional<double>, 5>;
using Prices = std::array<double, 5>;

constexpr TRuptura Untouched{-7.0, -9.0};
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

MemoryRow priceRow(const Prices &prices, const Breaks &breaks)
{
    MemoryRow::Columns columns;
    for (std::size_t i = 0; i < 5; ++i) {
        columns[std::string(NombresPrecio[i])] = prices[i];
        columns[std::string(NombresRuptura[i])] = breaks[i];
    }
    return MemoryRow(std::move(columns));
}

struct TierCase
{
    const char *name;
    Prices prices;
    Breaks breaks;
    double mult;
    std::vector<TRuptura> expected;
};

// Prices that are powers of two keep every product exact, so tiers compare exactly.
constexpr Prices Pow2{1, 2, 4, 8, 16};
constexpr Prices ExampleA{10.00, 9.50, 9.00, 0, 0};
constexpr Breaks BreaksA{5, 11, 23, 0, 0};

const TierCase TierCases[] = {
    {"ExampleA", ExampleA, BreaksA, 1, {{0, 10.00}, {6, 57.00}, {12, 108.00}}},
    {"ExampleAMult8", ExampleA, BreaksA, 8, {{0, 10.00}, {6, 57.00}, {12, 72.00}}},
    {"ExampleAMult4", ExampleA, BreaksA, 4, {{0, 10.00}, {6, 38.00}, {12, 108.00}}},
    {"ExampleB",
     {0, 40.00, 0, 45.00, 38.00},
     {0, 2.5, std::nullopt, 1, 2.5},
     2.25,
     {{0, 45.00}, {2, 80.00}, {2.501, 85.50}}},
    {"ExampleCNoBreaks",
     {1.25, 0, 3.5, 4, 5},
     {0, std::nullopt, 0, 0, std::nullopt},
     3,
     {{1, 1.25}, {1, 0}, {1, 3.5}, {1, 4}, {1, 5}}},
    {"NegativeBreaksDropped",
     Pow2,
     {-1, -2.5, 0, std::nullopt, -0.0},
     2,
     {{1, 1}, {1, 2}, {1, 4}, {1, 8}, {1, 16}}},
    {"SingleBreakEntersNothing", Pow2, {0, 0, 10, 0, 0}, 10, {{0, 4}}},
    {"ReverseColumnOrder",
     Pow2,
     {50, 40, 30, 20, 10},
     1,
     {{0, 16}, {11, 8 * 11}, {21, 4 * 21}, {31, 2 * 31}, {41, 1 * 41}}},
    {"EqualPairKeepsReadingOrder", Pow2, {10, 0, 10, 0, 0}, 1, {{0, 1}, {11, 4 * 11}}},
    {"AllFiveEqual",
     Pow2,
     {7, 7, 7, 7, 7},
     1,
     {{0, 1}, {8, 2 * 8}, {8, 4 * 8}, {8, 8 * 8}, {8, 16 * 8}}},
    {"FractionalBelowOne", Pow2, {0.5, 1, 0, 0, 0}, 1, {{0, 1}, {0.501, 2 * 0.501}}},
    {"QuantitiesNotSortedAgain",
     Pow2,
     {3, 3.5, 7, 0, 0},
     1,
     {{0, 1}, {4, 2 * 4}, {3.501, 4 * 3.501}}},
    {"MultZeroIgnored", ExampleA, BreaksA, 0, {{0, 10.00}, {6, 57.00}, {12, 108.00}}},
    {"MultNegativeIgnored", ExampleA, BreaksA, -4, {{0, 10.00}, {6, 57.00}, {12, 108.00}}},
    {"MultAboveLargestQuantity", ExampleA, BreaksA, 13, {{0, 10.00}, {6, 57.00}, {12, 108.00}}},
    // 6 is tier 2's quantity: it applies there and not to tier 3, whose previous quantity it is.
    {"MultEqualToQuantity", ExampleA, BreaksA, 6, {{0, 10.00}, {6, 57.00}, {12, 108.00}}},
    {"MultAppliesToTwoTiers",
     Pow2,
     {3, 3.5, 4, 9, 0},
     3.9,
     {{0, 1}, {4, 2 * 3.9}, {3.501, 4 * 3.501}, {5, 8 * 3.9}}},
};

class TierTable : public ::testing::TestWithParam<TierCase>
{
};

TEST_P(TierTable, BuildsTiers)
{
    const TierCase &c = GetParam();
    const MemoryRow row = priceRow(c.prices, c.breaks);
    TRupturas tiers;
    tiers.fill(Untouched);

    const std::uint8_t count = CalculaRupturas(row, tiers, c.mult);

    ASSERT_EQ(count, c.expected.size());
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE("tier " + std::to_string(i + 1));
        const TRuptura want = i < count ? c.expected[i] : Untouched;
        EXPECT_TRUE(test::sameDouble(tiers[i].Cantidad, want.Cantidad));
        EXPECT_TRUE(test::sameDouble(tiers[i].Precio, want.Precio));
    }
    // All break columns come before any price column.
    ASSERT_GE(row.reads().size(), 5u);
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_EQ(row.reads()[k], NombresRuptura[k]);
}

INSTANTIATE_TEST_SUITE_P(Examples, TierTable, ::testing::ValuesIn(TierCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TierColumns, NamesOfPriceAndBreakColumns)
{
    EXPECT_EQ(NombresPrecio[0], "Precio");
    EXPECT_EQ(NombresPrecio[4], "Precio5");
    EXPECT_EQ(NombresRuptura[0], "Rup_P1");
    EXPECT_EQ(NombresRuptura[4], "Rup_P5");
}

class TierFailures : public ::testing::Test
{
protected:
    TierFailures() { tiers.fill(Untouched); }

    MemoryRow row = priceRow(Pow2, {1, 2, 3, 0, 0});
    TRupturas tiers;
};

TEST_F(TierFailures, MissingBreakColumnFailsBeforeAnyWrite)
{
    row.erase("Rup_P4");
    try {
        CalculaRupturas(row, tiers, 1);
        FAIL() << "no error for a missing break column";
    } catch (const MissingColumn &e) {
        EXPECT_EQ(e.column(), "Rup_P4");
        EXPECT_NE(std::string(e.what()).find("Rup_P4"), std::string::npos);
    }
    for (const TRuptura &tier : tiers)
        EXPECT_TRUE(test::sameDouble(tier.Cantidad, Untouched.Cantidad));
}

TEST_F(TierFailures, MissingPriceColumnLeavesEarlierTiersWritten)
{
    row.erase("Precio3");
    try {
        CalculaRupturas(row, tiers, 1);
        FAIL() << "no error for a missing price column";
    } catch (const MissingColumn &e) {
        EXPECT_EQ(e.column(), "Precio3");
    }
    EXPECT_TRUE(test::sameDouble(tiers[0].Precio, 1));
    EXPECT_TRUE(test::sameDouble(tiers[1].Precio, 2 * 2));
    EXPECT_TRUE(test::sameDouble(tiers[2].Cantidad, 3));
    EXPECT_TRUE(test::sameDouble(tiers[2].Precio, Untouched.Precio));
    EXPECT_TRUE(test::sameDouble(tiers[3].Cantidad, Untouched.Cantidad));
}

TEST_F(TierFailures, UnneededPriceColumnMayBeMissing)
{
    row.erase("Precio5");
    EXPECT_EQ(CalculaRupturas(row, tiers, 1), 3);
}

TEST_F(TierFailures, MissingPriceColumnWithoutBreaks)
{
    MemoryRow noBreaks = priceRow(Pow2, {0, 0, 0, 0, 0});
    noBreaks.erase("Precio4");
    EXPECT_THROW(CalculaRupturas(noBreaks, tiers, 1), MissingColumn);
}

// A column holding inf or NaN must never become a tier: it could reach a terminal as a price.
TEST_F(TierFailures, NonFiniteColumnsAreRefused)
{
    const struct
    {
        const char *column;
        double value;
    } cases[] = {{"Precio", Inf}, {"Precio2", NaN}, {"Precio3", -Inf},
                 {"Rup_P2", NaN}, {"Rup_P3", Inf},  {"Rup_P5", -Inf}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.column);
        MemoryRow bad = row;
        bad.set(c.column, c.value);
        try {
            CalculaRupturas(bad, tiers, 1);
            FAIL() << "no error";
        } catch (const ArithmeticError &e) {
            EXPECT_EQ(e.kind(), ArithmeticError::Kind::InvalidOperation);
            EXPECT_NE(std::string(e.what()).find(c.column), std::string::npos);
        }
    }
    // The same with no break at all: the prices are taken as read.
    MemoryRow noBreaks = priceRow({1, 2, 3, Inf, 5}, {0, 0, 0, 0, 0});
    EXPECT_THROW(CalculaRupturas(noBreaks, tiers, 1), ArithmeticError);
}

TEST_F(TierFailures, ProductOverflowIsAnError)
{
    const MemoryRow huge = priceRow({1, 1e308, 1, 1, 1}, {10, 20, 0, 0, 0});
    try {
        CalculaRupturas(huge, tiers, 1);
        FAIL() << "no error";
    } catch (const ArithmeticError &e) {
        EXPECT_EQ(e.kind(), ArithmeticError::Kind::Overflow);
    }
}

} // namespace
} // namespace lumbrio
