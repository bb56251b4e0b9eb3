// lumbrio-check against a fake terminal server on a loopback ephemeral port.
#include <gtest/gtest.h>

#include "tests/net/netharness.h"

namespace lumbrio::testing {
namespace {

const std::string kItemReply = "\x02"
                               "750|JABON 150 G|0|6|12| | |18.50|18.00|17.50| | |"
                               "Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm|\x03\x04";
const std::string kAccentReply = "\x02"
                                 "8|CAF\xC9 A\xD1O \x80|1| | | | |9.00| | | | | |\x03\x04";

class CheckClientTest : public ::testing::Test
{
protected:
    FakeTerminalServer m_server{{{"750", kItemReply}, {"8", kAccentReply}}};

    ProcessResult check(std::vector<std::string> args)
    {
        args.insert(args.begin(), {LUMBRIO_CHECK_EXE, "--port", std::to_string(m_server.port())});
        return runProcess(args);
    }
};

TEST_F(CheckClientTest, PrintsTheFieldsOfAReply)
{
    const ProcessResult r = check({"750"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "Sent:        750\n"
                     "Code:        750\n"
                     "Description: JABON 150 G\n"
                     "  Quantity        Price\n"
                     "  0               18.50\n"
                     "  6               18.00\n"
                     "  12              17.50\n"
                     "Offer:       Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm\n");
    // Sent as a terminal does: STX, the identifier, a bar, the code, ETX.
    EXPECT_EQ(m_server.requests(), std::vector<std::string>{"\x02"
                                                            "1|750\x03"});
}

TEST_F(CheckClientTest, RawShowsTheBytes)
{
    const ProcessResult r = check({"--raw", "--terminal", "K7", "750"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "<STX>750|JABON 150 G|0|6|12| | |18.50|18.00|17.50| | |"
                     "Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm|<ETX><EOT>\n");
    EXPECT_EQ(m_server.requests(), std::vector<std::string>{"\x02"
                                                            "K7|750\x03"});
}

TEST_F(CheckClientTest, DescriptionConvertedFromTheCodePage)
{
    ProcessResult r = check({"8"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Description: CAFÉ AÑO €\n"), std::string::npos) << r.out;
    r = check({"--encoding", "cp850", "8"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Description: CAF\xE2\x95\x94 A\xC3\x90O \xC3\x87\n"), std::string::npos)
        << r.out;
}

TEST_F(CheckClientTest, UnansweredCodeTimesOutWithStatusOne)
{
    const ProcessResult r = check({"--timeout", "300", "NOSUCH"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("code NOSUCH: no reply within 300 ms"), std::string::npos) << r.err;
}

TEST_F(CheckClientTest, CodesAfterATimeOutStillAnsweredOnAFreshConnection)
{
    const ProcessResult r = check({"--timeout", "300", "--raw", "NOSUCH", "750", "8"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "<STX>750|JABON 150 G|0|6|12| | |18.50|18.00|17.50| | |"
                     "Oferta: 25% De 01/06/2020 8:5 am a 30/06/2020 11:59 pm|<ETX><EOT>\n"
                     "<STX>8|CAF<0xC9> A<0xD1>O <0x80>|1| | | | |9.00| | | | | |<ETX><EOT>\n");
    // One connection for the unanswered code, a second one shared by the next two.
    EXPECT_EQ(m_server.connections(), 2);
}

TEST(CheckClient, RefusedConnectionIsStatusTwo)
{
    RefusingPort nobody;
    const ProcessResult r =
        runProcess({LUMBRIO_CHECK_EXE, "--port", std::to_string(nobody.port()), "750"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("cannot connect to 127.0.0.1 port " + std::to_string(nobody.port()) +
                         ": Connection refused"),
              std::string::npos)
        << r.err;
}

class BadArgumentsTest : public ::testing::TestWithParam<std::vector<std::string>>
{
};

TEST_P(BadArgumentsTest, StatusTwoWithUsage)
{
    std::vector<std::string> args = GetParam();
    args.insert(args.begin(), LUMBRIO_CHECK_EXE);
    const ProcessResult r = runProcess(args);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("usage: lumbrio-check"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Arguments, BadArgumentsTest,
                         ::testing::Values(std::vector<std::string>{},
                                           std::vector<std::string>{"--raw"},
                                           std::vector<std::string>{"--port", "0", "1"},
                                           std::vector<std::string>{"--port", "70000", "1"},
                                           std::vector<std::string>{"--timeout", "soon", "1"},
                                           std::vector<std::string>{"--encoding", "utf-16", "1"},
                                           std::vector<std::string>{"--terminal", "a|b", "1"},
                                           std::vector<std::string>{"--verbose", "1"},
                                           std::vector<std::string>{"1", "--host"}),
                         [](const auto &info) { return "case" + std::to_string(info.index); });

} // namespace
} // namespace lumbrio::testing
