// The baseline server and the load generator, as separate processes over loopback sockets.
#include <gtest/gtest.h>

#include <regex>

#include "tests/net/netharness.h"

namespace lumbrio::testing {
namespace {

// The not-found reply, byte for byte.
const std::string kNotFound = {0x02, 0x20, 0x7C, 0x41, 0x52, 0x54, 0x49, 0x43, 0x55, 0x4C,
                               0x4F, 0x20, 0x4E, 0x4F, 0x20, 0x45, 0x4E, 0x43, 0x4F, 0x4E,
                               0x54, 0x52, 0x41, 0x44, 0x4F, 0x7C, 0x20, 0x7C, 0x20, 0x7C,
                               0x20, 0x7C, 0x20, 0x7C, 0x20, 0x7C, 0x20, 0x7C, 0x20, 0x7C,
                               0x20, 0x7C, 0x20, 0x7C, 0x20, 0x7C, 0x20, 0x7C, 0x03, 0x04};

/// The figure printed after "name: " in the load generator's report.
long long figure(const std::string &report, const std::string &name)
{
    std::smatch m;
    if (!std::regex_search(report, m, std::regex("(^|\n)" + name + ": ([0-9]+)")))
        return -1;
    return std::stoll(m[2]);
}

class BaselineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string line = m_server.readLine();
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex("listening on 127\\.0\\.0\\.1:([0-9]+)")))
            << line;
        m_port = std::stoi(m[1]);
    }

    ChildProcess m_server{{LUMBRIO_BASELINE_EXE, "--port", "0"}};
    int m_port = 0;
};

struct WritesCase
{
    const char *name;
    std::vector<std::string> writes;
    std::size_t replies;
};

void PrintTo(const WritesCase &c, std::ostream *os)
{
    *os << c.name;
}

class BaselineRepliesTest : public BaselineTest, public ::testing::WithParamInterface<WritesCase>
{
};

TEST_P(BaselineRepliesTest, AnswersEachRequestWithTheNotFoundReply)
{
    ClientSocket client(m_port);
    ASSERT_TRUE(client.connected());
    for (const std::string &w : GetParam().writes)
        ASSERT_TRUE(client.write(w));
    // Once our side is shut, the server sends what it owes and closes: all it said is here.
    client.shutdownWrite();
    std::string expected;
    for (std::size_t i = 0; i < GetParam().replies; ++i)
        expected += kNotFound;
    EXPECT_EQ(client.readToEnd(), expected);
}

INSTANTIATE_TEST_SUITE_P(Writes, BaselineRepliesTest,
                         ::testing::Values(WritesCase{"one",
                                                      {"\x02"
                                                       "1|750\x03"},
                                                      1},
                                           WritesCase{"merged",
                                                      {"\x02"
                                                       "7|12\x03\x02"
                                                       "7|34\x03"},
                                                      2},
                                           WritesCase{"split_before_bar",
                                                      {"\x02"
                                                       "12",
                                                       "3|750\x03"},
                                                      1},
                                           WritesCase{"malformed_then_request",
                                                      {"123|456",
                                                       "\x02"
                                                       "1 750",
                                                       "\x02"
                                                       "1|7\x03"},
                                                      1},
                                           WritesCase{"nothing_but_malformed", {"123|456\x03"}, 0}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(BaselineTest, StopsCleanlyOnSigterm)
{
    {
        ClientSocket client(m_port);
        ASSERT_TRUE(client.write("\x02"
                                 "1|750\x03"));
        client.shutdownWrite();
        EXPECT_EQ(client.readToEnd(), kNotFound);
    }
    EXPECT_EQ(m_server.stop(), 0);
}

TEST_F(BaselineTest, CheckClientShowsTheNotFoundReply)
{
    const ProcessResult r =
        runProcess({LUMBRIO_CHECK_EXE, "--port", std::to_string(m_port), "750"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Description: ARTICULO NO ENCONTRADO\n  (no prices)\n"), std::string::npos)
        << r.out;
}

TEST_F(BaselineTest, LoadGeneratorGetsEveryReply)
{
    for (const char *mode : {"closed", "rate"}) {
        SCOPED_TRACE(mode);
        const ProcessResult r =
            runProcess({LUMBRIO_LOAD_EXE, "--port", std::to_string(m_port), "--mode", mode,
                        "--rate", "2000", "--connections", "8", "--requests", "400", "--duration",
                        "20", "750", "7501031311309", "ABC123"});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(figure(r.out, "sent"), 400) << r.out;
        EXPECT_EQ(figure(r.out, "replies"), 400) << r.out;
        EXPECT_EQ(figure(r.out, "unanswered"), 0) << r.out;
    }
}

TEST_F(BaselineTest, MemoryModeHoldsTheConnectionsOpen)
{
    const ProcessResult r =
        runProcess({LUMBRIO_LOAD_EXE, "--mode", "memory", "--port", std::to_string(m_port), "--pid",
                    std::to_string(m_server.pid()), "--connections", "64", "750"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(figure(r.out, "connections open"), 64) << r.out;
    EXPECT_EQ(figure(r.out, "answered"), 64) << r.out;
    EXPECT_GT(figure(r.out, "rss KiB with connections"), 0) << r.out;
}

TEST(LoadGenerator, CountsRequestsThatGetNoReply)
{
    // The fake server answers 750 and stays silent for NOSUCH; codes alternate.
    FakeTerminalServer server({{"750", kNotFound}});
    const ProcessResult r =
        runProcess({LUMBRIO_LOAD_EXE, "--port", std::to_string(server.port()), "--connections", "1",
                    "--requests", "6", "--timeout", "200", "750", "NOSUCH"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(figure(r.out, "sent"), 6) << r.out;
    EXPECT_EQ(figure(r.out, "replies"), 3) << r.out;
    EXPECT_EQ(figure(r.out, "unanswered"), 3) << r.out;
}

TEST(LoadGenerator, ComparesTwoServers)
{
    FakeTerminalServer first({{"750", kNotFound}});
    FakeTerminalServer second({{"750", kNotFound}});
    const ProcessResult r = runProcess({LUMBRIO_LOAD_EXE, "--port", std::to_string(first.port()),
                                        "--compare-port", std::to_string(second.port()),
                                        "--connections", "2", "--requests", "50", "750"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(first.requests().size(), 50u);
    EXPECT_EQ(second.requests().size(), 50u);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\nratio replies/s 127\\.0\\.0\\.1:[0-9]+ / "
                                                    "127\\.0\\.0\\.1:[0-9]+: [0-9]+\\.[0-9]{3}\n")))
        << r.out;
}

TEST(LoadGenerator, RefusesAddressesOffTheMachine)
{
    const ProcessResult r = runProcess({LUMBRIO_LOAD_EXE, "--host", "192.0.2.1", "750"});
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find("not a loopback address"), std::string::npos) << r.err;
}

} // namespace
} // namespace lumbrio::testing
