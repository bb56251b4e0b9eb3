// The pure parts of the terminal client and the load tools: code pages, reply scanning and
// splitting, and the server-side request framing that the baseline server uses.
#include <gtest/gtest.h>

#include "bench/load/loadnet.h"
#include "service/client/codepage.h"
#include "service/client/reply.h"

namespace lumbrio {
namespace {

struct DecodeCase
{
    const char *name;
    CodePage page;
    std::string bytes;
    std::string utf8;
};

void PrintTo(const DecodeCase &c, std::ostream *os)
{
    *os << c.name;
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeTest, ConvertsForTheConsole)
{
    EXPECT_EQ(decodeForConsole(GetParam().bytes, GetParam().page), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, DecodeTest,
    ::testing::Values(
        DecodeCase{"ascii", CodePage::Windows1252, "JABON 150 G", "JABON 150 G"},
        DecodeCase{"cp1252_accents", CodePage::Windows1252, "CAF\xC9 A\xD1O", "CAFÉ AÑO"},
        DecodeCase{"cp1252_c1_letters", CodePage::Windows1252, "\x80\x8A\x9F\x93x\x94", "€ŠŸ“x”"},
        DecodeCase{"cp1252_undefined", CodePage::Windows1252, "\x81", "\xEF\xBF\xBD"},
        DecodeCase{"latin1_c1_is_control", CodePage::Latin1, "\x80\xD1", "<0x80>Ñ"},
        DecodeCase{"latin9_euro", CodePage::Latin9, "\xA4\xBD", "€œ"},
        DecodeCase{"cp850", CodePage::Cp850, "\xA5\x82\x90", "Ñé\xC3\x89"},
        // A description must not be able to drive the console that shows it.
        DecodeCase{"escape_shown", CodePage::Windows1252, "A\x1B[2JB\x7F", "A<ESC>[2JB<DEL>"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CodePageNames, AcceptUsualSpellings)
{
    EXPECT_EQ(codePageByName("Windows-1252"), CodePage::Windows1252);
    EXPECT_EQ(codePageByName("CP1252"), CodePage::Windows1252);
    EXPECT_EQ(codePageByName("iso_8859-15"), CodePage::Latin9);
    EXPECT_EQ(codePageByName("latin1"), CodePage::Latin1);
    EXPECT_EQ(codePageByName("IBM850"), CodePage::Cp850);
    EXPECT_EQ(codePageByName("utf-8"), std::nullopt);
}

TEST(ShowBytes, ControlAndHighBytesVisible)
{
    EXPECT_EQ(showBytes(std::string("\x02"
                                    "7|1\x03\x04\xD1\r\n\t",
                                    10)),
              "<STX>7|1<ETX><EOT><0xD1><CR><LF><TAB>");
}

TEST(ScanReply, FindsTheEndOfOneReply)
{
    const std::string nf(notFoundReply());
    EXPECT_EQ(scanReply("").status, ReplyScan::Status::Incomplete);
    EXPECT_EQ(scanReply(nf.substr(0, 49)).status, ReplyScan::Status::Incomplete);
    const ReplyScan whole = scanReply(nf + "\x02 |");
    EXPECT_EQ(whole.status, ReplyScan::Status::Complete);
    EXPECT_EQ(whole.consumed, 50u);
    // ETX EOT inside a field, not after a bar, does not end the reply.
    const std::string tricky = std::string("\x02"
                                           "1|A\x03\x04"
                                           "B| | | | | | | | | | | |\x03\x04");
    EXPECT_EQ(scanReply(tricky).consumed, tricky.size());
    const ReplyScan garbage = scanReply("xyz\x02 |");
    EXPECT_EQ(garbage.status, ReplyScan::Status::Invalid);
    EXPECT_EQ(garbage.consumed, 3u);
}

struct SplitCase
{
    const char *name;
    std::string reply;
    std::string sentCode;
    std::string field1;
    std::string field2;
    std::string field8;
    std::string field13;
};

void PrintTo(const SplitCase &c, std::ostream *os)
{
    *os << c.name;
}

class SplitReplyTest : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitReplyTest, TellsTheFieldsApart)
{
    const SplitCase &c = GetParam();
    const auto fields = splitReply(c.reply, c.sentCode);
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ((*fields)[0], c.field1);
    EXPECT_EQ((*fields)[1], c.field2);
    EXPECT_EQ((*fields)[7], c.field8);
    EXPECT_EQ((*fields)[12], c.field13);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SplitReplyTest,
    ::testing::Values(SplitCase{"not_found", std::string(notFoundReply()), "750", " ",
                                "ARTICULO NO ENCONTRADO", " ", " "},
                      SplitCase{
                          "item",
                          "\x02"
                          "750|JABON 150 G|1|1|1|1|1|18.50|18.00|17.50|17.00|16.50| |\x03\x04",
                          "750", "750", "JABON 150 G", "18.50", " "},
                      SplitCase{"empty_description",
                                "\x02"
                                "750||1| | | | |9.00| | | | |Oferta: 5%|\x03\x04",
                                "750", "750", "", "9.00", "Oferta: 5%"},
                      SplitCase{"bar_in_description",
                                "\x02"
                                "750|A|B|1| | | | |9.00| | | | | |\x03\x04",
                                "750", "750", "A|B", "9.00", " "},
                      SplitCase{"bar_in_code",
                                "\x02"
                                "12|34|PAN|1| | | | |2.00| | | | | |\x03\x04",
                                "12|34\x03", "12|34", "PAN", "2.00", " "}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SplitReply, RefusesTooFewFields)
{
    EXPECT_FALSE(splitReply("\x02"
                            "1|2|3|\x03\x04",
                            "1")
                     .has_value());
}

TEST(TerminalRequest, FramesTheCode)
{
    EXPECT_EQ(terminalRequest("123", "750"), "\x02"
                                             "123|750\x03");
    EXPECT_EQ(filteredCode("75\r01\xD1"
                           "0123456789012345678901"),
              "75010123456789012345");
}

TEST(ReplyEndCounter, CountsAcrossReadBoundaries)
{
    const std::string two = std::string(notFoundReply()) + std::string(notFoundReply());
    ReplyEndCounter counter;
    std::size_t total = 0;
    for (char c : two)
        total += counter.feed(std::string_view(&c, 1));
    EXPECT_EQ(total, 2u);
}

TEST(LoopbackAddress, OnlyLoopback)
{
    EXPECT_TRUE(loopbackAddress("127.0.0.1", 6001).has_value());
    EXPECT_TRUE(loopbackAddress("127.3.2.1", 1).has_value());
    EXPECT_TRUE(loopbackAddress("::1", 1).has_value());
    EXPECT_EQ(loopbackAddress("localhost", 6001)->text, "127.0.0.1:6001");
    EXPECT_FALSE(loopbackAddress("10.0.0.1", 6001).has_value());
    EXPECT_FALSE(loopbackAddress("::ffff:10.0.0.1", 6001).has_value());
    EXPECT_FALSE(loopbackAddress("example.com", 6001).has_value());
}

} // namespace
} // namespace lumbrio
