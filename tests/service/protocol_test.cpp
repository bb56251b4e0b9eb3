#include "service/protocol.h"

#include "service/regional.h"
#include "service/textforms.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace lumbrio {
namespace {

using namespace std::string_literals;

struct CodeCase
{
    const char *name;
    std::string request;
    std::optional<std::string> code;
};

class ExtractCodeTest : public testing::TestWithParam<CodeCase>
{
};

TEST_P(ExtractCodeTest, TakesTheCodeOutOfTheRequest)
{
    EXPECT_EQ(extractCode(GetParam().request), GetParam().code);
}

std::string controlBytes(std::size_t count)
{
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes += static_cast<char>(i % 0x20);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExtractCodeTest,
    testing::Values(CodeCase{"TerminalIdSkippedEtxDropped",
                             "\x02"
                             "123|750\x03",
                             "750"},
                    CodeCase{"EmptyTerminalId", "\x02|12345", "12345"},
                    CodeCase{"NoCodeArea",
                             "\x02"
                             "1|",
                             ""},
                    CodeCase{"ControlBytesOnly",
                             "\x02"
                             "1|\r\n\x03\x04\t"s +
                                 '\0',
                             ""},
                    CodeCase{"HighBytesOnly",
                             "\x02"
                             "1|\x80\xD1\xFF",
                             ""},
                    CodeCase{"NoBar",
                             "\x02"
                             "123 750",
                             std::nullopt},
                    CodeCase{"NoStx", "123|456", std::nullopt},
                    CodeCase{"StxNotFirst",
                             " \x02"
                             "1|456",
                             std::nullopt},
                    CodeCase{"StxAlone", "\x02", std::nullopt}, CodeCase{"Empty", "", std::nullopt},
                    CodeCase{"ThirtyDigits",
                             "\x02"
                             "9|123456789012345678901234567890",
                             "12345678901234567890"},
                    CodeCase{"CarriageReturnDropped",
                             "\x02"
                             "1|75\r01",
                             "7501"},
                    CodeCase{"TabDropped",
                             "\x02"
                             "1|75\t01",
                             "7501"},
                    CodeCase{"HighByteDropped",
                             "\x02"
                             "1|75\xD1"
                             "01",
                             "7501"},
                    CodeCase{"NulDropped",
                             "\x02"
                             "1|75"s +
                                 '\0' + "01",
                             "7501"},
                    CodeCase{"BlankKept",
                             "\x02"
                             "1| 123 ",
                             " 123 "},
                    CodeCase{"SecondBarKept",
                             "\x02"
                             "1|12|34",
                             "12|34"},
                    CodeCase{"DelKept",
                             "\x02"
                             "1|12\x7F",
                             "12\x7F"},
                    CodeCase{"TerminalIdWithAnyBytes", "\x02\xFF\x02\r|42", "42"},
                    CodeCase{"ControlsThenTwentyDigits",
                             "\x02"
                             "5|" +
                                 controlBytes(280) + "98765432109876543210",
                             "98765432109876543210"},
                    CodeCase{"ControlsDoNotCountTowardsTwenty",
                             "\x02"
                             "5|1234567890\r\n1234567890\x03"
                             "99",
                             "12345678901234567890"},
                    CodeCase{"TwoRequestsInOneRead",
                             "\x02"
                             "7|12\x03\x02"
                             "7|34\x03",
                             "127|34"}),
    [](const testing::TestParamInfo<CodeCase> &info) { return info.param.name; });

std::string fromHex(std::string_view hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 3)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

// Campos keeps the previous reply's fields, as the server's one record does.
class ReplyTest : public testing::Test
{
protected:
    void SetUp() override { campos.fill("left over from the last reply"); }

    std::string reply() const { return EnmarcaRespuesta(ArmaRespuesta(campos)); }

    TCampos campos;
    RegionalSettings point;
};

TEST_F(ReplyTest, NotFoundReplyIsTheFiftyBytes)
{
    PonMensaje(campos, kNoEncontrado);
    const std::string expected =
        fromHex("02 20 7C 41 52 54 49 43 55 4C 4F 20 4E 4F 20 45 4E 43 4F 4E 54 52 41 44 4F 7C "
                "20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 20 7C 03 04");
    ASSERT_EQ(expected.size(), 50u);
    EXPECT_EQ(reply(), expected);
}

TEST_F(ReplyTest, PonMensajeBlanksEveryOtherField)
{
    PonMensaje(campos, " ");
    for (const std::string &field : campos)
        EXPECT_EQ(field, " ");
    PonMensaje(campos, "MENSAJE");
    EXPECT_EQ(campos[1], "MENSAJE");
    EXPECT_EQ(campos[0], " ");
    EXPECT_EQ(campos[12], " ");
}

TEST_F(ReplyTest, ItemReplyWithFiveTiers)
{
    PonMensaje(campos, " ");
    campos[0] = "750";
    campos[1] = "JABON 150 G";
    const double prices[] = {18.5, 18.0, 17.5, 17.0, 16.5};
    for (int t = 0; t < 5; ++t) {
        campos[2 + t] = formatQuantity(1, point);
        campos[7 + t] = formatPrice(prices[t], point);
    }
    EXPECT_EQ(reply(), "\x02"
                       "750|JABON 150 G|1|1|1|1|1|18.50|18.00|17.50|17.00|16.50| |\x03\x04");
}

TEST_F(ReplyTest, ItemReplyWithThreeTiersLeavesTheRestBlank)
{
    PonMensaje(campos, " ");
    campos[0] = "750";
    campos[1] = "JABON 150 G";
    const double quantities[] = {0, 6, 12};
    const double prices[] = {18.5, 18.0, 17.5};
    for (int t = 0; t < 3; ++t) {
        campos[2 + t] = formatQuantity(quantities[t], point);
        campos[7 + t] = formatPrice(prices[t], point);
    }
    EXPECT_EQ(reply(), "\x02"
                       "750|JABON 150 G|0|6|12| | |18.50|18.00|17.50| | | |\x03\x04");
}

TEST_F(ReplyTest, ItemReplyWithOfferLine)
{
    PonMensaje(campos, " ");
    campos[0] = "750";
    campos[1] = "JABON 150 G";
    campos[2] = formatQuantity(1, point);
    campos[7] = formatPrice((1 - 0.25) * 20.0, point);
    campos[12] = offerLine(0.25, 43983 + 485.0 / 1440, 44012 + 1439.0 / 1440, point);
    EXPECT_EQ(reply(), "\x02"
                       "750|JABON 150 G|1| | | | |15.00| | | | |"
                       "Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm|\x03\x04");
}

TEST_F(ReplyTest, EmptyDescriptionGivesTwoBarsInARow)
{
    PonMensaje(campos, " ");
    campos[0] = "750";
    campos[1] = "";
    EXPECT_EQ(reply().substr(0, 6), "\x02"
                                    "750||");
}

TEST_F(ReplyTest, FieldsGoOutUnchangedAndTheFrameAddsSixteenBytes)
{
    const std::vector<TCampos> records = {
        TCampos{},
        TCampos{"a|b", "\x02\x03\x04", "\r\n", "\xD1\xFF", "", "", "", "", "", "", "", "", "|"},
        TCampos{std::string(300, 'x'), "JABON", "1", "2", "3", "4", "5", "1.00", "2.00", "3.00",
                "4.00", "5.00", "Oferta"},
    };
    for (std::size_t r = 0; r < records.size(); ++r) {
        SCOPED_TRACE(r);
        campos = records[r];
        const std::string out = reply();
        const std::size_t fieldBytes =
            std::accumulate(campos.begin(), campos.end(), std::size_t{0},
                            [](std::size_t n, const std::string &f) { return n + f.size(); });
        ASSERT_EQ(out.size(), fieldBytes + 16);
        EXPECT_EQ(out.front(), STX);
        EXPECT_EQ(out.substr(out.size() - 3), "|\x03\x04");
        std::string joined;
        for (const std::string &field : campos)
            joined += field + "|";
        EXPECT_EQ(out.substr(1, out.size() - 3), joined);
    }
}

TEST(EnmarcaRespuesta, FramesAnyBody)
{
    EXPECT_EQ(EnmarcaRespuesta(""), "\x02\x03\x04");
    EXPECT_EQ(EnmarcaRespuesta("a|\x03|"), "\x02"
                                           "a|\x03|\x03\x04");
}

} // namespace
} // namespace lumbrio
