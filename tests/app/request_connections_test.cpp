// Terminal connections end to end: requests split over reads and merged into one, a request
// that fails while served, the store going away and coming back, many terminals at once, a
// terminal that never reads, the connection bound and the allow-list. A TFMain serving a
// SQLite store over loopback sockets.
#include "request_harness.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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
using testing::waitUntil;

const QByteArrayList OneUnitEach = testing::oneUnitEach();
const QByteArray Jabon = testing::jabonReply();
const QByteArray Aceite = testing::aceiteReply();

/// A server on the test catalogue with taxed prices.
class Served : public ::testing::Test
{
protected:
    void startServer(const ServerOptions &options = {})
    {
        ASSERT_TRUE(m_server.create());
        fillCatalogue(m_server.writer(), false);
        ASSERT_NO_FATAL_FAILURE(m_server.start(options));
    }

    /// Sends a request that the server is to drop and waits until it has counted it as the
    /// dropped-th; its debug lines are then the last two: its "R" line and its "ERROR: " line.
    void sendDropped(Terminal &terminal, const QByteArray &request, std::uint64_t dropped)
    {
        const qsizetype before = m_server.lines().size();
        terminal.send(request);
        ASSERT_TRUE(waitUntil([&] { return m_server.form().solicitudesDescartadas() == dropped; }));
        ASSERT_EQ(m_server.lines().size(), before + 2);
        EXPECT_EQ(m_server.lines().at(before), readLine(request));
        EXPECT_TRUE(m_server.lines().last().startsWith(QStringLiteral("ERROR: ")))
            << m_server.lines().last().toStdString();
    }

    ServedStore m_server;
};

// ---- Reads ----------------------------------------------------------------------------

/// One write of a terminal and the replies it completes.
struct Write
{
    QByteArray bytes;
    QByteArrayList replies;
};

struct ReadsCase
{
    const char *name;
    std::vector<Write> writes;
};

void PrintTo(const ReadsCase &c, std::ostream *os)
{
    *os << c.name;
}

class Reads : public Served, public ::testing::WithParamInterface<ReadsCase>
{
};

// Each write is taken by the server as a read of its own before the next is sent.
TEST_P(Reads, EveryRequestIsAnsweredOnceInOrder)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());

    QByteArrayList expected;
    QStringList expectedLines;
    for (const Write &w : GetParam().writes) {
        SCOPED_TRACE(w.bytes.toStdString());
        terminal.send(w.bytes);
        ASSERT_TRUE(m_server.waitForLine(readLine(w.bytes), expectedLines.size()));
        expected += w.replies;
        ASSERT_TRUE(terminal.waitForReplies(expected.size()));
        expectedLines << readLine(w.bytes);
        for (const QByteArray &reply : w.replies)
            if (reply != notFoundReply())
                expectedLines << sentLine(reply);
    }
    // A last request for a known item shows that nothing else was sent or is still to come.
    EXPECT_EQ(terminal.exchange("\x02T0|750"), Jabon);
    expected << Jabon;
    EXPECT_EQ(terminal.received(), expected.join());
    expectedLines << readLine("\x02T0|750") << sentLine(Jabon);
    EXPECT_EQ(m_server.lines(), expectedLines);
}

const ReadsCase readsCases[] = {
    {"SeveralRequestsInOneWrite",
     {{"\x02T1|750\x03\x02T2|751\x03\x02T3|999\x03\x02T4|750",
       {Jabon, Aceite, notFoundReply(), Jabon}}}},
    {"SplitBeforeTheBar", {{"\x02T1", {}}, {"|750\x03", {Jabon}}}},
    {"SplitAfterTheStx", {{"\x02", {}}, {"T", {}}, {"1|750", {Jabon}}}},
    {"SecondRequestSplitBeforeItsBar", {{"\x02T1|750\x03\x02T2", {Jabon}}, {"|751\x03", {Aceite}}}},
    {"NewStxDropsAnUnfinishedBeginning", {{"\x02T1", {}}, {"\x02T2|751", {Aceite}}}},
    {"NoRequestBeforeARequestInOneWrite", {{"garbage|750\r\n\x02T|751", {Aceite}}}},
    {"NoRequestLeavesTheConnectionOpen",
     {{"123|456", {}}, {"\x02T123 750", {}}, {"\r\n", {}}, {"\x02T|751", {Aceite}}}},
};

INSTANTIATE_TEST_SUITE_P(Request, Reads, ::testing::ValuesIn(readsCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Failures while serving ---------------------------------------------------------------

// A smallest coin of 0 makes the rounding divide by zero: every taxed item fails while it is
// priced. Such a request gets nothing, is counted and logged; the terminal goes on.
TEST_F(Served, FailedRequestGetsNoReplyAndTheConnectionGoesOn)
{
    ServerOptions options;
    options.general = QStringList{QStringLiteral("MONEDA_MINIMA=0")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());

    ASSERT_NO_FATAL_FAILURE(sendDropped(terminal, "\x02T01|750", 1));
    ASSERT_EQ(m_server.lines().size(), 2);

    // Requests that need no rounding are still answered on the same connection.
    EXPECT_EQ(terminal.exchange("\x02T01|"), notFoundReply());
    EXPECT_EQ(terminal.exchange("\x02T01|999"), notFoundReply());
    // In one read: the failing request is skipped, the one after it answered.
    EXPECT_EQ(terminal.exchange("\x02T01|751\x02T02|999"), notFoundReply());
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 2u);

    EXPECT_EQ(terminal.received(), notFoundReply() + notFoundReply() + notFoundReply());
    ASSERT_EQ(m_server.lines().size(), 6);
    EXPECT_EQ(m_server.lines().at(4), readLine("\x02T01|751\x02T02|999"));
    EXPECT_TRUE(m_server.lines().at(5).startsWith(QStringLiteral("ERROR: ")));
}

// A stored item code of 16 digits would be rounded to 15 in the price query and could name its
// neighbour (1234567890123456 -> 1.23456789012346E15 = 1234567890123460): the request is
// dropped rather than answered with the neighbour's prices.
TEST_F(Served, ItemCodeBeyondFifteenDigitsIsNeverPricedAsItsNeighbour)
{
    ASSERT_NO_FATAL_FAILURE(startServer(ServerOptions{}));
    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());

    ASSERT_NO_FATAL_FAILURE(sendDropped(terminal, "\x02T01|1234567890123456", 1));
    ASSERT_EQ(m_server.lines().size(), 2);
    EXPECT_TRUE(m_server.lines().at(1).contains(QStringLiteral("Mnlus.Codigo")))
        << m_server.lines().at(1).toStdString();
    EXPECT_EQ(terminal.exchange("\x02T01|999"), notFoundReply());
    EXPECT_EQ(terminal.received(), notFoundReply()) << "no reply for the long code";
}

// While the store file is gone every request with a code goes unanswered; once it is back the
// next request is answered from it, without restarting the server.
TEST_F(Served, RemovedStoreDropsRequestsUntilItIsBack)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());
    EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);

    const QString away = m_server.storeFile() + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(m_server.storeFile(), away));
    for (std::uint64_t dropped = 1; dropped <= 2; ++dropped)
        ASSERT_NO_FATAL_FAILURE(sendDropped(terminal, "\x02T01|750", dropped));
    // An empty code needs no store.
    EXPECT_EQ(terminal.exchange("\x02T01|"), notFoundReply());

    ASSERT_TRUE(QFile::rename(away, m_server.storeFile()));
    EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);
    EXPECT_EQ(terminal.exchange("\x02T01|751"), Aceite);
    EXPECT_EQ(terminal.received(), Jabon + notFoundReply() + Jabon + Aceite);
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 2u);
}

// A store file replaced while the server runs (a new catalogue copied in) is read afresh at
// the next request, which is answered from the new file.
TEST_F(Served, ReplacedStoreIsReadAfresh)
{
    ASSERT_NO_FATAL_FAILURE(startServer());
    Terminal terminal(m_server.port());
    ASSERT_TRUE(terminal.connected());
    EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);

    const QString next = m_server.storeFile() + QStringLiteral(".next");
    {
        auto store = createStore(parseStoreDestination(next), true);
        fillCatalogue(*store, false);
        store->exec(QStringLiteral("UPDATE Mnlus SET Precio = 19.9 WHERE Codigo = 750"));
    }
    QFile::remove(m_server.storeFile());
    ASSERT_TRUE(QFile::rename(next, m_server.storeFile()));

    EXPECT_EQ(terminal.exchange("\x02T01|750"),
              itemReply("750", "JABON 150 G", OneUnitEach,
                        {"19.90", "18.00", "17.50", "17.00", "16.50"}));
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

// ---- Connections ----------------------------------------------------------------------------

TEST_F(Served, ThousandTerminalsAtOnce)
{
    constexpr int Terminals = 1000;
    // Both ends of every connection live in this process, besides the store's files.
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlim_t needed = 2 * Terminals + 256;
    if (files.rlim_cur < needed) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, needed);
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    }
    ASSERT_GE(files.rlim_cur, needed) << "the open-files limit is too low for this test";

    ASSERT_NO_FATAL_FAILURE(startServer());
    std::vector<std::unique_ptr<Terminal>> terminals;
    for (int i = 0; i < Terminals; ++i) {
        terminals.push_back(std::make_unique<Terminal>(m_server.port()));
        ASSERT_TRUE(terminals.back()->connected()) << "terminal " << i;
    }
    ASSERT_TRUE(waitUntil([&] { return m_server.form().terminalesAbiertas() == Terminals; }));

    const QByteArray codes[] = {"750", "751", "999"};
    const QByteArray replies[] = {Jabon, Aceite, notFoundReply()};
    for (int i = 0; i < Terminals; ++i)
        terminals[i]->send("\x02" + QByteArray::number(i) + "|" + codes[i % 3]);
    ASSERT_TRUE(waitUntil([&] {
        for (const auto &t : terminals)
            if (t->replies().isEmpty())
                return false;
        return true;
    }));
    for (int i = 0; i < Terminals; ++i)
        EXPECT_EQ(terminals[i]->received(), replies[i % 3]) << "terminal " << i;
    EXPECT_EQ(m_server.form().terminalesAbiertas(), Terminals);
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

TEST_F(Served, TerminalBeyondTheBoundIsClosedAndTheOthersGoOn)
{
    ServerOptions options;
    options.tcp = QStringList{QStringLiteral("MAX_CONEXIONES=2")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    Terminal a(m_server.port());
    Terminal b(m_server.port());
    ASSERT_TRUE(a.connected() && b.connected());
    ASSERT_TRUE(waitUntil([&] { return m_server.form().terminalesAbiertas() == 2; }));

    Terminal c(m_server.port());
    c.send("\x02T03|750");
    EXPECT_TRUE(c.waitClosed());
    EXPECT_EQ(c.received(), QByteArray());

    EXPECT_EQ(a.exchange("\x02T01|750"), Jabon);
    EXPECT_EQ(b.exchange("\x02T02|751"), Aceite);
    EXPECT_EQ(m_server.form().terminalesAbiertas(), 2);

    // A terminal that leaves frees its place.
    a.close();
    ASSERT_TRUE(waitUntil([&] { return m_server.form().terminalesAbiertas() == 1; }));
    Terminal d(m_server.port());
    ASSERT_TRUE(d.connected());
    EXPECT_EQ(d.exchange("\x02T04|750"), Jabon);
    EXPECT_EQ(b.exchange("\x02T02|750"), Jabon);
}

/// A plain socket whose receive buffer is small and that never reads.
class DeafTerminal
{
public:
    explicit DeafTerminal(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return;
        const int small = 4096;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected =
            ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }
    ~DeafTerminal()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DeafTerminal(const DeafTerminal &) = delete;
    DeafTerminal &operator=(const DeafTerminal &) = delete;

    bool connected() const { return m_connected; }
    /// Sends without waiting; false when the bytes could not all be handed to the system.
    bool send(const QByteArray &bytes)
    {
        return ::send(m_fd, bytes.constData(), static_cast<size_t>(bytes.size()),
                      MSG_NOSIGNAL | MSG_DONTWAIT) == bytes.size();
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

// Every terminal takes a file descriptor: the connection bound stays under the open-files limit,
// with room to spare, so the listener can always take a connection, if only to close it.
TEST(TerminalServerLimits, ConnectionBoundStaysUnderTheOpenFilesLimit)
{
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const struct
    {
        rlim_t files;
        std::size_t wanted;
        std::size_t bound;
    } cases[] = {
        {4096, 1024, 1024}, {1024, 1024, 960}, {200, 1024, 136}, {100, 1024, 50}, {100, 10, 10}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.files);
        if (c.files > saved.rlim_max)
            continue; // cannot be raised here
        rlimit files = saved;
        files.rlim_cur = c.files;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
        TerminalServer server;
        TerminalServer::Limits limits;
        limits.maxConnections = c.wanted;
        const std::size_t bound = server.setLimits(limits);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        EXPECT_EQ(bound, c.bound);
    }
}

// A terminal that reads slowly gets every reply, whole and in order: what the system cannot take
// at once waits on the server and follows as the terminal reads.
TEST_F(Served, SlowReaderGetsEveryReplyInOrder)
{
    ASSERT_TRUE(m_server.create());
    fillCatalogue(m_server.writer(), false);
    StoreItem large;
    large.Codigo = 800;
    large.Descrip = QString(4000, QLatin1Char('X'));
    large.Precio[0] = 1;
    insertItem(m_server.writer(), large);
    ServerOptions options;
    options.tcp = QStringList{QStringLiteral("MAX_PENDIENTE=33554432")};
    ASSERT_NO_FATAL_FAILURE(m_server.start(options));

    Terminal probe(m_server.port());
    ASSERT_TRUE(probe.connected());
    const QByteArray one = probe.exchange("\x02T1|800");
    ASSERT_TRUE(one.endsWith("\x03\x04")) << one.left(40).toStdString();

    // A small receive window and 8 MB of replies, more than the system holds for a connection:
    // most of them have to wait on the server.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    constexpr int Requests = 2000;
    const QByteArray burst = QByteArray("\x02T2|800").repeated(Requests);
    ASSERT_EQ(::send(fd, burst.constData(), static_cast<size_t>(burst.size()), MSG_NOSIGNAL),
              burst.size());

    const QByteArray expected = one.repeated(Requests);
    QByteArray received;
    const bool complete = waitUntil([&] {
        char buffer[65536];
        ssize_t n = 0;
        while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.append(buffer, static_cast<qsizetype>(n));
        return received.size() >= expected.size() || n == 0;
    });
    ::close(fd);
    EXPECT_TRUE(complete) << received.size() << " of " << expected.size() << " bytes";
    EXPECT_TRUE(received == expected)
        << "replies differ from the first byte "
        << std::mismatch(received.begin(), received.end(), expected.begin(), expected.end()).first -
               received.begin();
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

// Replies to a terminal that never reads pile up on the server until they pass MAX_PENDIENTE;
// then that terminal is cut off, while one sending the same requests and reading is served.
TEST_F(Served, TerminalThatNeverReadsIsCutOff)
{
    ServerOptions options;
    options.tcp = QStringList{QStringLiteral("MAX_PENDIENTE=65536")};
    ASSERT_TRUE(m_server.create());
    fillCatalogue(m_server.writer(), false);
    StoreItem large;
    large.Codigo = 800;
    large.Descrip = QString(4000, QLatin1Char('X'));
    large.Precio[0] = 1;
    insertItem(m_server.writer(), large);
    ASSERT_NO_FATAL_FAILURE(m_server.start(options));

    Terminal reader(m_server.port());
    DeafTerminal deaf(m_server.port());
    ASSERT_TRUE(reader.connected() && deaf.connected());
    ASSERT_TRUE(waitUntil([&] { return m_server.form().terminalesAbiertas() == 2; }));

    // Ten replies of about 4 kB per read: well below the bound, so only the replies that the
    // deaf terminal leaves unread can pass it. The kernel's buffers fill first.
    const QByteArray burst = QByteArray("\x02T9|800").repeated(10);
    int rounds = 0;
    while (m_server.form().terminalesAbiertas() == 2 && rounds < 300) {
        ++rounds;
        const qsizetype readsBefore = m_server.lines().size();
        ASSERT_TRUE(deaf.send(burst)) << "round " << rounds;
        reader.send(burst);
        ASSERT_TRUE(reader.waitForReplies(10 * rounds)) << "round " << rounds;
        // Both bursts have been read (the same bytes: two lines), or the deaf terminal was cut
        // off on the way.
        ASSERT_TRUE(waitUntil([&] {
            return m_server.form().terminalesAbiertas() < 2 ||
                   m_server.lines().mid(readsBefore).count(readLine(burst)) == 2;
        }));
    }
    ASSERT_EQ(m_server.form().terminalesAbiertas(), 1) << "after " << rounds << " rounds";
    EXPECT_GT(rounds, 1); // the deaf terminal was served while the buffers had room

    // The reader had every reply and goes on.
    EXPECT_EQ(reader.replies().size(), 10 * rounds);
    EXPECT_EQ(reader.exchange("\x02T7|750"), Jabon);
    EXPECT_EQ(m_server.form().solicitudesDescartadas(), 0u);
}

// ---- Allow-list -------------------------------------------------------------------------------

struct AllowCase
{
    const char *name;
    const char *terminales;
    const char *from;
    bool served;
};

void PrintTo(const AllowCase &c, std::ostream *os)
{
    *os << c.name;
}

class AllowList : public Served, public ::testing::WithParamInterface<AllowCase>
{
};

TEST_P(AllowList, OnlyListedTerminalsAreServed)
{
    const AllowCase &c = GetParam();
    ServerOptions options;
    options.tcp = QStringList{QStringLiteral("TERMINALES=") + QString::fromUtf8(c.terminales)};
    ASSERT_NO_FATAL_FAILURE(startServer(options));

    Terminal terminal(m_server.port(), QHostAddress(QString::fromUtf8(c.from)));
    if (c.served) {
        ASSERT_TRUE(terminal.connected());
        EXPECT_EQ(terminal.exchange("\x02T01|750"), Jabon);
        EXPECT_EQ(m_server.form().terminalesAbiertas(), 1);
    } else {
        terminal.send("\x02T01|750");
        EXPECT_TRUE(terminal.waitClosed());
        EXPECT_EQ(terminal.received(), QByteArray());
        // Closed before any read: not even the debug log saw the request.
        EXPECT_EQ(m_server.lines(), QStringList());
        EXPECT_EQ(m_server.form().terminalesAbiertas(), 0);
    }
}

const AllowCase allowCases[] = {
    {"EmptyListAllowsEveryone", "", "127.0.0.1", true},
    {"ListedAddress", "127.0.0.1", "127.0.0.1", true},
    {"UnlistedAddress", "127.0.0.2", "127.0.0.1", false},
    {"AnotherListedAddress", "192.168.1.20, 127.0.0.2", "127.0.0.2", true},
    {"InsideAListedNetwork", "10.0.0.0/8,127.0.0.0/30", "127.0.0.3", true},
    {"OutsideTheListedNetwork", "127.0.0.0/30", "127.0.0.5", false},
    {"MistypedListAllowsNobody", "127.0.0.l", "127.0.0.1", false},
    {"MistypedEntryKeepsTheOthers", "terminal-3, 127.0.0.1", "127.0.0.1", true},
};

INSTANTIATE_TEST_SUITE_P(Request, AllowList, ::testing::ValuesIn(allowCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace lumbrio
