// What a terminal gets back for what it sends: item replies with tiers, offers, taxes and
// rounding, not-found replies, no reply at all, and the debug log of each; a TFMain serving a
// SQLite store over loopback sockets.
#include "request_harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumbrio {
namespace {

using testing::fillCatalogue;
using testing::itemReply;
using testing::notFoundReply;
using testing::readLine;
using testing::sentLine;
using testing::ServedStore;
using testing::ServerOptions;
using testing::Terminal;

struct Exchange
{
    QByteArray request;
    QByteArray reply;
};

/// One server, started with its own settings, and what a terminal exchanges with it in turn.
struct ServingCase
{
    const char *name;
    std::vector<Exchange> exchanges;
    bool net = false;
    std::vector<const char *> tcp = {};     // lines of [TCP]
    std::vector<const char *> general = {}; // lines of [GENERAL]
    char decimalSeparator = '.';
};

void PrintTo(const ServingCase &c, std::ostream *os)
{
    *os << c.name;
}

const QByteArrayList OneUnitEach = testing::oneUnitEach();

// The five prices of an item that has only its first one.
QByteArrayList onlyFirst(const QByteArray &price, const QByteArray &zero = "0.00")
{
    return {price, zero, zero, zero, zero};
}

const QByteArray Jabon = testing::jabonReply();
const QByteArray Aceite = testing::aceiteReply();
const QByteArray OfferFromMidnight = "Oferta: 25% De 01/06/2020 12:0 am a 30/06/2020 11:59 pm";

class Serving : public ::testing::TestWithParam<ServingCase>
{
};

TEST_P(Serving, RepliesAndDebugLines)
{
    const ServingCase &c = GetParam();
    ServedStore server;
    ASSERT_TRUE(server.create());
    fillCatalogue(server.writer(), c.net);
    ServerOptions options;
    for (const char *line : c.tcp)
        options.tcp << QString::fromUtf8(line);
    for (const char *line : c.general)
        options.general << QString::fromUtf8(line);
    options.regional.decimalSeparator = c.decimalSeparator;
    ASSERT_NO_FATAL_FAILURE(server.start(options));

    Terminal terminal(server.port());
    ASSERT_TRUE(terminal.connected());
    QStringList expectedLines;
    for (const Exchange &e : c.exchanges) {
        SCOPED_TRACE(e.request.toStdString());
        EXPECT_EQ(terminal.exchange(e.request), e.reply);
        expectedLines << readLine(e.request);
        if (e.reply != notFoundReply())
            expectedLines << sentLine(e.reply);
    }
    EXPECT_EQ(terminal.received(), terminal.replies().join());
    EXPECT_EQ(server.lines(), expectedLines);
    EXPECT_EQ(server.form().solicitudesDescartadas(), 0u);
}

const ServingCase servingCases[] = {
    {"PlainItem", {{"\x02T01|750\x03", Jabon}}},
    {"EmptyTerminalIdentifier", {{"\x02|750", Jabon}}},
    {"ControlBytesDroppedFromTheCode", {{"\x02T7|7\t5\r0\xD1\x03\r\n", Jabon}}},
    {"BlanksAroundTheCodeStayInField1",
     {{"\x02T01| 750 ", itemReply(" 750 ", "JABON 150 G", OneUnitEach,
                                  {"18.50", "18.00", "17.50", "17.00", "16.50"})}}},
    {"ThirteenDigits",
     {{"\x02T01|7501000000018\r",
       itemReply("7501000000018", "REFRESCO 600 ML", OneUnitEach, onlyFirst("12.00"))}}},
    {"FifteenDigits",
     {{"\x02T01|999999999999999",
       itemReply("999999999999999", "TARJETA REGALO", OneUnitEach, onlyFirst("100.00"))}}},
    // Sixteen digits convert, but no stored item can have them: not found.
    {"SixteenDigitsNotStored", {{"\x02T01|1234567890123457", notFoundReply()}}},
    // A code that is no number is looked up as an alternate code, whose multiplier prices
    // the tier it falls into.
    {"LettersThroughAnAlternateCode",
     {{"\x02T01|ABC123",
       itemReply("ABC123", "ATUN 140 G", {"0", "2", "2.501"}, {"45.00", "80.00", "85.50"})}}},
    {"Breaks", {{"\x02T01|751", Aceite}}},
    {"BreaksOutOfOrderWithAFraction",
     {{"\x02T01|752",
       itemReply("752", "ATUN 140 G", {"0", "2", "2.501"}, {"45.00", "80.00", "95.04"})}}},
    {"EmptyDescription",
     {{"\x02T01|790", QByteArray("\x02") + "790||1|1|1|1|1|5.00|0.00|0.00|0.00|0.00| |\x03\x04"}}},
    {"SimpleTax",
     {{"\x02T01|760", itemReply("760", "CIGARROS 20 PZAS", OneUnitEach,
                                {"10.00", "14.50", "115.99", "11.60", "0.00"})}}},
    {"CompoundSecondTax",
     {{"\x02T01|761", itemReply("761", "VINO TINTO 750 ML", OneUnitEach,
                                {"12.53", "1.24", "125.28", "0.00", "0.00"})}}},
    {"CompoundThirdTax",
     {{"\x02T01|762", itemReply("762", "REFRESCO LATA", OneUnitEach,
                                {"24.30", "121.80", "0.00", "0.00", "0.00"})}}},
    {"RoundingToTheCent",
     {{"\x02T01|770",
       itemReply("770", "REDONDEO A", OneUnitEach, {"12.34", "12.34", "12.35", "1.01", "0.02"})}}},
    {"OfferFromMidnight",
     {{"\x02T01|780",
       itemReply("780", "LECHE 1 L", OneUnitEach, onlyFirst("15.00"), OfferFromMidnight)}}},
    {"OfferAtMinuteFive",
     {{"\x02T01|781", itemReply("781", "PAN 680 G", OneUnitEach, onlyFirst("17.50"),
                                "Oferta: 12.5% De 01/06/2020 8:5 am a 30/06/2020 12:5 pm")}}},
    {"OfferFlagTwoIsNoOffer",
     {{"\x02T01|782", itemReply("782", "HUEVO 12 PZAS", OneUnitEach, onlyFirst("20.00"))}}},
    {"ExpiredOfferIsNoOffer",
     {{"\x02T01|783", itemReply("783", "CAFE 200 G", OneUnitEach, onlyFirst("20.00"))}}},
    {"OfferBeforeTaxes",
     {{"\x02T01|784",
       itemReply("784", "CERVEZA 355 ML", OneUnitEach, onlyFirst("17.40"), OfferFromMidnight)}}},
    // "PIÑA Ó 5€": Ñ, Ó and € as the code page's bytes, in octal.
    {"DescriptionInWindows1252ByDefault",
     {{"\x02T01|795", itemReply("795", "PI\321A \323 5\200", OneUnitEach, onlyFirst("30.00"))}}},
    // Every reply starts from blank fields: nothing of an offer line, a fifth tier or an
    // item reaches the replies after it.
    {"EachReplyStartsAfresh",
     {{"\x02T01|784",
       itemReply("784", "CERVEZA 355 ML", OneUnitEach, onlyFirst("17.40"), OfferFromMidnight)},
      {"\x02T01|751", Aceite},
      {"\x02T01|999", notFoundReply()},
      {"\x02T01|750", Jabon}}},

    {"NetPrices",
     {{"\x02T01|750", Jabon},
      {"\x02T01|760", itemReply("760", "CIGARROS 20 PZAS", OneUnitEach,
                                {"8.62", "12.50", "99.99", "10.00", "0.00"})},
      {"\x02T01|791", itemReply("791", "DULCE", OneUnitEach, onlyFirst("0.13"))},
      {"\x02T01|784",
       itemReply("784", "CERVEZA 355 ML", OneUnitEach, onlyFirst("15.00"), OfferFromMidnight)}},
     true},
    {"CoinOfFiveCents",
     {{"\x02T01|771",
       itemReply("771", "REDONDEO B", OneUnitEach, {"12.35", "12.35", "12.40", "0.00", "0.00"})}},
     false,
     {},
     {"MONEDA_MINIMA=0.05", "PUNTO_REDONDEO=0.025"}},
    {"CoinOfHalfAUnit",
     {{"\x02T01|772",
       itemReply("772", "REDONDEO C", OneUnitEach, {"12.00", "12.50", "13.00", "0.00", "0.00"})}},
     false,
     {},
     {"MONEDA_MINIMA=0.5", "PUNTO_REDONDEO=0.25"}},
    {"CoinOfOneUnit",
     {{"\x02T01|773",
       itemReply("773", "REDONDEO D", OneUnitEach, {"12.00", "13.00", "0.00", "0.00", "0.00"})}},
     false,
     {},
     {"MONEDA_MINIMA=1", "PUNTO_REDONDEO=0.5"}},
    {"CommaAsDecimalSeparator",
     {{"\x02T01|752",
       itemReply("752", "ATUN 140 G", {"0", "2", "2,501"}, {"45,00", "80,00", "95,04"})},
      {"\x02T01|781", itemReply("781", "PAN 680 G", OneUnitEach, onlyFirst("17,50", "0,00"),
                                "Oferta: 12,5% De 01/06/2020 8:5 am a 30/06/2020 12:5 pm")},
      {"\x02T01|12,5", itemReply("12,5", "JABON 150 G", OneUnitEach,
                                 {"18,50", "18,00", "17,50", "17,00", "16,50"})},
      {"\x02T01|12.5", notFoundReply()}},
     false,
     {},
     {"MONEDA_MINIMA=0,01", "PUNTO_REDONDEO=0,005"},
     ','},
    {"DescriptionInAnotherCodePage",
     {{"\x02T01|795", itemReply("795", "PI\321A \323 5\244", OneUnitEach, onlyFirst("30.00"))}},
     false,
     {"CODIFICACION=ISO-8859-15"}},
    {"DescriptionInACodePageWithoutEuro",
     {{"\x02T01|795", itemReply("795", "PI\245A \340 5?", OneUnitEach, onlyFirst("30.00"))}},
     false,
     {"CODIFICACION=IBM850"}},
    {"UnknownCodePageKeepsWindows1252",
     {{"\x02T01|795", itemReply("795", "PI\321A \323 5\200", OneUnitEach, onlyFirst("30.00"))}},
     false,
     {"CODIFICACION=NO-SUCH-CODEPAGE"}},
    {"MultiByteCodePageKeepsWindows1252",
     {{"\x02T01|795", itemReply("795", "PI\321A \323 5\200", OneUnitEach, onlyFirst("30.00"))}},
     false,
     {"CODIFICACION=UTF-8"}},
};

INSTANTIATE_TEST_SUITE_P(Request, Serving, ::testing::ValuesIn(servingCases),
                         [](const auto &info) { return std::string(info.param.name); });

/// Data after which the server sends nothing, or a not-found reply.
struct NoItemCase
{
    const char *name;
    QByteArray data;
    bool notFound; // false: no reply at all
};

void PrintTo(const NoItemCase &c, std::ostream *os)
{
    *os << c.name;
}

class NoItem : public ::testing::TestWithParam<NoItemCase>
{
};

// After the data a request for a known item follows in a read of its own: its reply must come
// right after whatever the data got, and the connection must still serve.
TEST_P(NoItem, RepliesOnlyWhenARequestHoldsACode)
{
    const NoItemCase &c = GetParam();
    ServedStore server;
    ASSERT_TRUE(server.create());
    fillCatalogue(server.writer(), false);
    ASSERT_NO_FATAL_FAILURE(server.start());
    Terminal terminal(server.port());
    ASSERT_TRUE(terminal.connected());

    terminal.send(c.data);
    ASSERT_TRUE(server.waitForLine(readLine(c.data)));
    const QByteArray probe = "\x02T01|750";
    terminal.send(probe);
    ASSERT_TRUE(terminal.waitForReplies(c.notFound ? 2 : 1));

    EXPECT_EQ(terminal.received(), (c.notFound ? notFoundReply() : QByteArray()) + Jabon);
    // Neither a not-found reply nor data that is no request leaves a "SE ENVIÓ:" line.
    EXPECT_EQ(server.lines(), QStringList({readLine(c.data), readLine(probe), sentLine(Jabon)}));
    EXPECT_EQ(server.form().solicitudesDescartadas(), 0u);
}

const NoItemCase noItemCases[] = {
    {"NoStx", "123|456", false},
    {"NoBar", "\x02T123 750", false},
    {"TextLine", "hello\r\n", false},
    {"EmptyCode", "\x02T1|", true},
    {"OnlyControlBytesAfterTheBar", "\x02T1|\x03\r\n\x80", true},
    {"DelIsPartOfTheCode", "\x02T1|\x7F", true},
    {"UnknownCode", "\x02T1|999", true},
    {"UnknownLetters", "\x02T1|XYZ", true},
    {"NoAlternateForAFraction", "\x02T1|12.5", true},
    {"ThirtyDigitsKeepTheirFirstTwenty", "\x02T1|750000000000000000000000000000", true},
};

INSTANTIATE_TEST_SUITE_P(Request, NoItem, ::testing::ValuesIn(noItemCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace lumbrio
