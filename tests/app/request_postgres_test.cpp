// Serving terminals from a PostgreSQL store: the replies of the SQLite suites, and a database
// restart under a running server. Run through scripts/pg-test.sh, which provides a throw-away
// server on 127.0.0.1 (LUMBRIO_PG_*) and the command that restarts it (LUMBRIO_PG_RESTART).
#include "request_harness.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace lumbrio {
namespace {

using testing::itemReply;
using testing::notFoundReply;
using testing::readLine;
using testing::sentLine;
using testing::ServedStore;
using testing::Terminal;

const QByteArrayList OneUnitEach = testing::oneUnitEach();
const QByteArray Jabon = testing::jabonReply();
const QByteArray Aceite = testing::aceiteReply();

class PostgresServed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.create());
        testing::fillCatalogue(m_server.writer(), false);
        ASSERT_NO_FATAL_FAILURE(m_server.start());
    }

    ServedStore m_server{test::Backend::Postgres};
};

TEST_F(PostgresServed, Replies)
{
    struct Exchange
    {
        QByteArray request;
        QByteArray reply;
    };
    const Exchange exchanges[] = {
        {"\x02T01|750", Jabon},
        {"\x02T01|751", Aceite},
        {"\x02T01|ABC123",
         itemReply("ABC123", "ATUN 140 G", {"0", "2", "2.501"}, {"45.00", "80.00", "85.50"})},
        {"\x02T01| 752 ",
         itemReply(" 752 ", "ATUN 140 G", {"0", "2", "2.501"}, {"45.00", "80.00", "95.04"})},
        {"\x02T01|7501000000018", itemReply("7501000000018", "REFRESCO 600 ML", OneUnitEach,
                                            {"12.00", "0.00", "0.00", "0.00", "0.00"})},
        {"\x02T01|999999999999999", itemReply("999999999999999", "TARJETA REGALO", OneUnitEach,
                                              {"100.00", "0.00", "0.00", "0.00", "0.00"})},
        {"\x02T01|761", itemReply("761", "VINO TINTO 750 ML", OneUnitEach,
                                  {"12.53", "1.24", "125.28", "0.00", "0.00"})},
        {"\x02T01|780",
         itemReply("780", "LECHE 1 L", OneUnitEach, {"15.00", "0.00", "0.00", "0.00", "0.00"},
                   "Oferta: 25% De 01/06/2020 12:0 am a 30/06/2020 11:59 pm")},
        {"\x02T01|781",
         itemReply("781", "PAN 680 G", OneUnitEach, {"17.50", "0.00", "0.00", "0.00", "0.00"},
                   "Oferta: 12.5% De 01/06/2020 8:5 am a 30/06/2020 12:5 pm")},
        {"\x02T01|782",
         itemReply("782", "HUEVO 12 PZAS", OneUnitEach, {"20.00", "0.00", "0.00", "0.00", "0.00"})},
        {"\x02T01|790", QByteArray("\x02") + "790||1|1|1|1|1|5.00|0.00|0.00|0.00|0.00| |\x03\x04"},
        {"\x02T01|795", itemReply("795", "PI\321A \323 5\200", OneUnitEach,
                                  {"30.00", "0.00", "0.00", "0.00", "0.00"})},
        {"\x02T01|999", notFoundReply()},
        {"\x02T01|", notFoundReply()},
    };

    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());
    QStringList expectedLines;
    for (const Exchange &e : exchanges) {
        SCOPED_TRACE(e.request.toStdString());
        EXPECT_EQ(terminal.exchange(e.request), e.reply);
        expectedLines << readLine(e.request);
        if (e.reply != notFoundReply())
            expectedLines << sentLine(e.reply);
    }
    EXPECT_EQ(m_server.lines(), expectedLines);
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

// The restart drops the server's sessions; the next request finds its session lost, reopens it
// and is answered, with nothing dropped.
TEST_F(PostgresServed, RestartedDatabaseServesTheNextRequest)
{
    const QString restart = test::env("LUMBRIO_PG_RESTART");
    ASSERT_FALSE(restart.isEmpty()) << "run this test through scripts/pg-test.sh";

    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());
    EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);

    m_server.closeWriter(); // its session goes with the restart too
    QProcess restarter;
    restarter.setProcessChannelMode(QProcess::ForwardedChannels);
    restarter.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), restart});
    ASSERT_TRUE(restarter.waitForFinished(120000));
    ASSERT_EQ(restarter.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(restarter.exitCode(), 0);

    EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);
    EXPECT_EQ(terminal.exchange("\x02T01|751"), Aceite);
    EXPECT_EQ(terminal.received(), Jabon + Jabon + Aceite);
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

} // namespace
} // namespace lumbrio
