#include "service/textforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

namespace lumbrio {
namespace {

RegionalSettings withDecimal(char separator)
{
    RegionalSettings settings;
    settings.decimalSeparator = separator;
    return settings;
}

// One number, its text with the point and with the comma as decimal separator.
struct FormCase
{
    long double value;
    const char *point;
    const char *comma;
};

void PrintTo(const FormCase &c, std::ostream *os)
{
    *os << "value " << static_cast<double>(c.value) << " -> " << c.point;
}

void expectForm(std::string (*form)(long double, const RegionalSettings &), const FormCase &c)
{
    EXPECT_EQ(form(c.value, withDecimal('.')), c.point);
    EXPECT_EQ(form(c.value, withDecimal(',')), c.comma);
}

class QuantityFormTest : public testing::TestWithParam<FormCase>
{
};

TEST_P(QuantityFormTest, WritesText)
{
    expectForm(&formatQuantity, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, QuantityFormTest,
    testing::Values(FormCase{0, "0", "0"}, FormCase{-0.0L, "0", "0"}, FormCase{6, "6", "6"},
                    FormCase{2.501, "2.501", "2,501"}, FormCase{0.0001, "0.0001", "0,0001"},
                    FormCase{0.001, "0.001", "0,001"}, FormCase{0.00001, "1E-005", "1E-005"},
                    FormCase{1e15, "1E015", "1E015"}, FormCase{-2.5, "-2.5", "-2,5"},
                    FormCase{0.1, "0.1", "0,1"},
                    FormCase{1.0 / 3, "0.333333333333333", "0,333333333333333"},
                    FormCase{2.0 / 3, "0.666666666666667", "0,666666666666667"},
                    FormCase{123456789012345, "123456789012345", "123456789012345"},
                    FormCase{999999999999999, "999999999999999", "999999999999999"},
                    // The 16th digit rounds the 15 shown ones up, carrying into a new exponent.
                    FormCase{999999999999999.5, "1E015", "1E015"},
                    FormCase{1234567890123456, "1.23456789012346E015", "1,23456789012346E015"},
                    FormCase{1.5e-7, "1.5E-007", "1,5E-007"},
                    FormCase{-1.5e-7, "-1.5E-007", "-1,5E-007"}, FormCase{1e300, "1E300", "1E300"},
                    FormCase{1e-300, "1E-300", "1E-300"},
                    FormCase{std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324",
                             "4,94065645841247E-324"},
                    // 18 digits first (...45500000), then half up: nearest rounding straight to 15
                    // digits would give ...345.
                    FormCase{1.2345678901234549999L, "1.23456789012346", "1,23456789012346"}));

class ShortGeneralFormTest : public testing::TestWithParam<FormCase>
{
};

TEST_P(ShortGeneralFormTest, WritesText)
{
    expectForm(&formatShortGeneral, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ShortGeneralFormTest,
    testing::Values(FormCase{0.00001, "1E-5", "1E-5"}, FormCase{1e15, "1E15", "1E15"},
                    FormCase{7501234567890, "7501234567890", "7501234567890"},
                    FormCase{750, "750", "750"}, FormCase{12.5, "12.5", "12,5"},
                    FormCase{-3, "-3", "-3"},
                    FormCase{1234567890123456, "1.23456789012346E15", "1,23456789012346E15"},
                    FormCase{9999999999999999, "1E16", "1E16"},
                    FormCase{1.5e-7, "1.5E-7", "1,5E-7"}, FormCase{1e300, "1E300", "1E300"},
                    FormCase{0.0001, "0.0001", "0,0001"},
                    // Offer percentages: Pct_ofer x 100 formed in long double.
                    FormCase{0.25L * 100, "25", "25"},
                    FormCase{static_cast<long double>(0.1) * 100, "10", "10"},
                    FormCase{static_cast<long double>(0.07) * 100, "7", "7"},
                    FormCase{static_cast<long double>(0.075) * 100, "7.5", "7,5"},
                    FormCase{static_cast<long double>(0.333) * 100, "33.3", "33,3"}));

class PriceFormTest : public testing::TestWithParam<FormCase>
{
};

TEST_P(PriceFormTest, WritesText)
{
    expectForm(&formatPrice, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PriceFormTest,
    testing::Values(
        FormCase{18.5, "18.50", "18,50"}, FormCase{18, "18.00", "18,00"},
        FormCase{234.5, "234.50", "234,50"}, FormCase{15, "15.00", "15,00"},
        FormCase{0.125, "0.13", "0,13"},
        // Its 18-digit value is 1.00499999999999989.
        FormCase{1.005, "1.00", "1,00"}, FormCase{-0.004, "0.00", "0,00"},
        FormCase{-0.005, "-0.01", "-0,01"}, FormCase{0.005, "0.01", "0,01"},
        FormCase{0.0005, "0.00", "0,00"}, FormCase{0, "0.00", "0,00"},
        FormCase{-0.0L, "0.00", "0,00"}, FormCase{0.5, "0.50", "0,50"},
        FormCase{-18.5, "-18.50", "-18,50"}, FormCase{99.995, "100.00", "100,00"},
        FormCase{0.995, "0.99", "0,99"}, FormCase{1234567.891, "1234567.89", "1234567,89"},
        // An extended value whose 18 digits end in ...500: half up gives 2.01, while the
        // exact value is just below 2.005.
        FormCase{2.004999999999999999L, "2.01", "2,01"},
        FormCase{1e17, "100000000000000000.00", "100000000000000000,00"},
        FormCase{999999999999999872.0L, "999999999999999872.00", "999999999999999872,00"},
        // From 10^18 on: general form, 18 digits, exponent of at least two digits.
        FormCase{1e18, "1E18", "1E18"}, FormCase{-1e18, "-1E18", "-1E18"},
        FormCase{1.5e18, "1.5E18", "1,5E18"},
        FormCase{123456789012345678901.0L, "1.23456789012345679E20", "1,23456789012345679E20"},
        // The double nearest 10^100 lies a little above it.
        FormCase{1e100, "1.00000000000000002E100", "1,00000000000000002E100"},
        FormCase{1e100L, "1E100", "1E100"},
        // Just below 10^18, but 10^18 at 18 digits.
        FormCase{1e18L - 0.0625L, "1E18", "1E18"}));

TEST(NumberForms, ValuesThatAreNotFiniteAreNotWritten)
{
    const RegionalSettings settings;
    for (const long double v : {std::numeric_limits<long double>::quiet_NaN(),
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity()}) {
        SCOPED_TRACE(static_cast<double>(v));
        EXPECT_THROW(formatQuantity(v, settings), std::runtime_error);
        EXPECT_THROW(formatShortGeneral(v, settings), std::runtime_error);
        EXPECT_THROW(formatPrice(v, settings), std::runtime_error);
    }
}

TEST(NumberForms, ThirteenDigitCodeComesBackAsItsDigits)
{
    const RegionalSettings settings;
    for (const char *code : {"7501234567890", "1000000000000", "9999999999999", "0000000000001"}) {
        SCOPED_TRACE(code);
        const std::optional<double> number = codeToNumber(code, settings);
        ASSERT_TRUE(number.has_value());
        const std::string digits =
            std::string(code).substr(std::string(code).find_first_not_of('0'));
        EXPECT_EQ(formatShortGeneral(*number, settings), digits);
    }
}

struct CodeCase
{
    const char *text;
    char separator;
    std::optional<double> number;
};

void PrintTo(const CodeCase &c, std::ostream *os)
{
    *os << '"' << c.text << "\" with '" << c.separator << "'";
}

class CodeToNumberTest : public testing::TestWithParam<CodeCase>
{
};

TEST_P(CodeToNumberTest, Converts)
{
    const std::optional<double> number =
        codeToNumber(GetParam().text, withDecimal(GetParam().separator));
    ASSERT_EQ(number.has_value(), GetParam().number.has_value());
    if (number) {
        EXPECT_EQ(*number, *GetParam().number);
        EXPECT_EQ(std::signbit(*number), std::signbit(*GetParam().number));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CodeToNumberTest,
    testing::Values(
        CodeCase{"750", '.', 750}, CodeCase{" 123 ", '.', 123}, CodeCase{"   7  ", ',', 7},
        CodeCase{"7501234567890", '.', 7501234567890.0},
        CodeCase{"1234567890123456", '.', 1234567890123456.0},
        CodeCase{"12345678901234567890", '.', 12345678901234567890.0},
        CodeCase{"00000000000000000012", '.', 12}, CodeCase{"12.5", '.', 12.5},
        CodeCase{"12.5", ',', std::nullopt}, CodeCase{"12,5", ',', 12.5},
        CodeCase{"12,5", '.', std::nullopt}, CodeCase{"0.1", '.', 0.1}, CodeCase{".5", '.', 0.5},
        CodeCase{"5.", '.', 5},
        // The separator alone counts as a number.
        CodeCase{".", '.', 0.0}, CodeCase{"-.", '.', -0.0}, CodeCase{"-0", '.', -0.0},
        CodeCase{"+5", '.', 5}, CodeCase{"-5", '.', -5}, CodeCase{" -5 ", '.', -5},
        CodeCase{"1E3", '.', 1000}, CodeCase{"1e-2", '.', 0.01}, CodeCase{"2.5E+1", '.', 25},
        CodeCase{"1E", '.', 1}, CodeCase{"1e+", '.', 1}, CodeCase{"1E-", '.', 1},
        CodeCase{"1E0000000000000000000000000003", '.', 1000}, CodeCase{"1E308", '.', 1e308},
        CodeCase{"1.7976931348623158E308", '.', std::numeric_limits<double>::max()},
        CodeCase{"4.9406564584124654E-324", '.', std::numeric_limits<double>::denorm_min()},
        // Beyond the range of double: does not convert; below it: rounds to zero.
        CodeCase{"1.7976931348623159E308", '.', std::nullopt}, CodeCase{"1E400", '.', std::nullopt},
        CodeCase{"1E99999999999999999999", '.', std::nullopt}, CodeCase{"1E-400", '.', 0.0},
        CodeCase{"-1E-400", '.', -0.0}, CodeCase{"1E-99999999999999999999", '.', 0.0},
        CodeCase{"", '.', std::nullopt}, CodeCase{"   ", '.', std::nullopt},
        CodeCase{"-", '.', std::nullopt}, CodeCase{"E5", '.', std::nullopt},
        CodeCase{"ABC123", '.', std::nullopt}, CodeCase{"123A", '.', std::nullopt},
        CodeCase{"12|34", '.', std::nullopt}, CodeCase{"1,234", '.', std::nullopt},
        CodeCase{"1.234.5", '.', std::nullopt}, CodeCase{"1 2", '.', std::nullopt},
        CodeCase{"\t5", '.', std::nullopt}, CodeCase{"+-5", '.', std::nullopt},
        CodeCase{"- 5", '.', std::nullopt}, CodeCase{"1E5.", '.', std::nullopt},
        CodeCase{"1E 5", '.', std::nullopt}, CodeCase{"0x10", '.', std::nullopt},
        CodeCase{"inf", '.', std::nullopt}, CodeCase{"nan", '.', std::nullopt}));

// OLE Automation dates: whole days since 30 December 1899 plus the fraction of the day.
constexpr double kJune1st2020 = 43983;
constexpr double kJune30th2020 = 44012;
constexpr double kMinute = 1.0 / 1440;

struct DateCase
{
    const char *name;
    double oleDate;
    const char *text;
};

class OfferDateTest : public testing::TestWithParam<DateCase>
{
};

TEST_P(OfferDateTest, WritesThePattern)
{
    EXPECT_EQ(formatOfferDate(GetParam().oleDate, RegionalSettings{}), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, OfferDateTest,
    testing::Values(
        DateCase{"Morning", kJune1st2020 + 485 * kMinute, "01/06/2020 8:5 am"},
        DateCase{"LastMinute", kJune30th2020 + 1439 * kMinute, "30/06/2020 11:59 pm"},
        DateCase{"Midnight", kJune1st2020, "01/06/2020 12:0 am"},
        DateCase{"Noon", kJune1st2020 + 0.5, "01/06/2020 12:0 pm"},
        DateCase{"OneInTheAfternoon", kJune1st2020 + 780 * kMinute, "01/06/2020 1:0 pm"},
        DateCase{"ElevenInTheMorning", kJune1st2020 + 719 * kMinute, "01/06/2020 11:59 am"},
        DateCase{"SecondsAreNotShown", kJune1st2020 + (485 * 60 + 59.4) / 86400,
                 "01/06/2020 8:5 am"},
        DateCase{"RoundedToTheMillisecondFirst", kJune1st2020 + (485 * 60 - 0.0004) / 86400,
                 "01/06/2020 8:5 am"},
        DateCase{"RoundsIntoTheNextDay", kJune1st2020 + (86400 - 0.0004) / 86400,
                 "02/06/2020 12:0 am"},
        DateCase{"Epoch", 0, "30/12/1899 12:0 am"},
        DateCase{"DayAfterEpoch", 1.25, "31/12/1899 6:0 am"},
        // Before the epoch the fraction is still the time of day.
        DateCase{"BeforeEpoch", -1.25, "29/12/1899 6:0 am"},
        DateCase{"FirstDay", -693593, "01/01/0001 12:0 am"},
        DateCase{"LastDay", 2958465 + 1439 * kMinute, "31/12/9999 11:59 pm"},
        DateCase{"LeapDay", 43890 + 5 * kMinute, "29/02/2020 12:5 am"}),
    [](const testing::TestParamInfo<DateCase> &info) { return info.param.name; });

TEST(OfferDate, FollowsTheRegionalSettings)
{
    RegionalSettings settings;
    settings.dateSeparator = '-';
    settings.timeSeparator = '.';
    settings.amDesignator = "a. m.";
    settings.pmDesignator = "p. m.";
    EXPECT_EQ(formatOfferDate(kJune1st2020 + 485 * kMinute, settings), "01-06-2020 8.5 a. m.");
    EXPECT_EQ(formatOfferDate(kJune30th2020 + 1439 * kMinute, settings), "30-06-2020 11.59 p. m.");
}

TEST(OfferDate, DatesThatCannotBeWrittenThrow)
{
    const RegionalSettings settings;
    for (const double date :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity(), 2958466.0, -693594.0,
          2958465 + (86400 - 0.0004) / 86400, 1e300, -1e300}) {
        SCOPED_TRACE(date);
        EXPECT_THROW(formatOfferDate(date, settings), std::runtime_error);
    }
}

TEST(OfferLine, JoinsPercentageAndDates)
{
    RegionalSettings comma;
    comma.decimalSeparator = ',';
    comma.dateSeparator = '.';
    comma.timeSeparator = '.';
    const double start = kJune1st2020 + 485 * kMinute;
    const double end = kJune30th2020 + 1439 * kMinute;

    EXPECT_EQ(offerLine(0.25, start, end, RegionalSettings{}),
              "Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm");
    EXPECT_EQ(offerLine(0.1, start, end, RegionalSettings{}),
              "Oferta: 10% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm");
    EXPECT_EQ(offerLine(0.075, start, end, comma),
              "Oferta: 7,5% De 01.06.2020 8.5 am a 30.06.2020 11.59 pm");
    EXPECT_EQ(offerLine(0.00000001, kJune1st2020, kJune1st2020, RegionalSettings{}),
              "Oferta: 1E-6% De 01/06/2020 12:0 am a 01/06/2020 12:0 am");
    EXPECT_THROW(
        offerLine(0.25, start, std::numeric_limits<double>::quiet_NaN(), RegionalSettings{}),
        std::runtime_error);
    EXPECT_THROW(offerLine(std::numeric_limits<double>::infinity(), start, end, RegionalSettings{}),
                 std::runtime_error);
}

} // namespace
} // namespace lumbrio
