#include "service/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/protocol.h"

namespace lumbrio {
namespace {

// Control bytes spelled out so the tables read like the wire.
std::string wire(std::string s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 5, "[STX]") == 0) {
            out += STX;
            i += 4;
        } else if (s.compare(i, 5, "[ETX]") == 0) {
            out += ETX;
            i += 4;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> wires(std::vector<std::string> v)
{
    for (auto &s : v)
        s = wire(s);
    return v;
}

TEST(SplitBeforeStx, CutsBeforeEveryStx)
{
    struct Case
    {
        std::string data;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"", {}},
        {"[STX]7|12[ETX]", {"[STX]7|12[ETX]"}},
        {"[STX]7|12[ETX][STX]7|34[ETX]", {"[STX]7|12[ETX]", "[STX]7|34[ETX]"}},
        {"12|34[STX]1|5", {"12|34", "[STX]1|5"}},
        {"[STX][STX][STX]", {"[STX]", "[STX]", "[STX]"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.data);
        const std::string data = wire(c.data);
        const auto pieces = splitBeforeStx(data);
        EXPECT_EQ(std::vector<std::string>(pieces.begin(), pieces.end()), wires(c.pieces));
    }
}

// Each case feeds its reads in order to one connection and lists the codes answered.
TEST(RequestAssembler, ReadsBecomeRequests)
{
    struct Case
    {
        const char *name;
        std::vector<std::string> reads;
        std::vector<std::string> codes;
    };
    const Case cases[] = {
        {"one request", {"[STX]123|750[ETX]"}, {"750"}},
        {"two merged requests are both answered", {"[STX]7|12[ETX][STX]7|34[ETX]"}, {"12", "34"}},
        {"split before the bar is joined", {"[STX]12", "3|750[ETX]"}, {"750"}},
        {"split inside the identifier twice", {"[STX]1", "2", "3|750"}, {"750"}},
        {"a new STX discards the kept beginning", {"[STX]12", "[STX]9|34"}, {"34"}},
        {"split after the bar answers the beginning", {"[STX]1|75", "01[ETX]"}, {"75"}},
        {"leading garbage before a request", {"xx[STX]1|5"}, {"5"}},
        {"no STX at all", {"123|456"}, {}},
        {"an empty read keeps the beginning", {"[STX]1", "", "|8"}, {"8"}},
        {"a merged read ending in a beginning", {"[STX]1|5[STX]2", "|6"}, {"5", "6"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RequestAssembler assembler;
        std::vector<std::string> codes;
        for (const std::string &read : c.reads) {
            for (const std::string &piece : assembler.feed(wire(read))) {
                if (const auto code = extractCode(piece))
                    codes.push_back(*code);
            }
        }
        EXPECT_EQ(codes, c.codes);
    }
}

TEST(RequestAssembler, KeepsAtMostTheLimit)
{
    RequestAssembler fits;
    fits.feed(STX + std::string(RequestAssembler::kMaxPending - 1, '1'));
    EXPECT_TRUE(fits.hasPending());
    const auto joined = fits.feed("|42");
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(extractCode(joined[0]), "42");

    RequestAssembler tooLong;
    tooLong.feed(STX + std::string(RequestAssembler::kMaxPending, '1'));
    EXPECT_FALSE(tooLong.hasPending());
    const auto alone = tooLong.feed("|42");
    ASSERT_EQ(alone.size(), 1u);
    EXPECT_EQ(extractCode(alone[0]), std::nullopt) << "a read without STX is no request";
}

} // namespace
} // namespace lumbrio
