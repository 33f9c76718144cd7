// Whatever a server sends, the controller must neither crash nor corrupt its
// table: a seeded stream of random packets (well framed, random contents,
// random types, mostly plausible ids) against a running controller.
#include <gtest/gtest.h>

#include <random>

#include "support/controller_fixture.h"

namespace tmx {
namespace {

using namespace insim;

class RobustnessTest : public testing::ControllerFixture,
                       public ::testing::WithParamInterface<unsigned> {};

// The table's own bookkeeping must always describe the table.
std::string dump(const TMX_MAIN& c) {
    std::string out;
    for (int i = 0; i < c.usedEntries; ++i)
        out += "\n  [" + std::to_string(i) + "] ucid " + std::to_string(c.entry(i).ucid) + " plid " +
               std::to_string(c.entry(i).plid) + " ai " + std::to_string(c.entry(i).ai) + " " +
               c.entry(i).playerName.str();
    return out;
}

::testing::AssertionResult tableIsConsistent(const TMX_MAIN& c) {
    if (c.usedEntries < 0 || c.usedEntries > kTableSize)
        return ::testing::AssertionFailure() << "used entries " << c.usedEntries;
    int withPlayer = 0;
    int ownEntries = 0;
    for (int i = 0; i < c.usedEntries; ++i) {
        const data::cl_LfsPlayer& e = c.entry(i);
        if (e.plid != 0) ++withPlayer;
        if (c.FindIndex(e.ucid, -1) == i) ++ownEntries;
        else if (e.plid == 0)
            return ::testing::AssertionFailure() << "entry " << i << " (ucid " << int(e.ucid)
                                                 << ") is neither a connection nor a car" << dump(c);
    }
    if (withPlayer != c.players)
        return ::testing::AssertionFailure() << "players " << c.players << " but " << withPlayer << " cars";
    if (ownEntries != c.connections)
        return ::testing::AssertionFailure()
               << "connections " << c.connections << " but " << ownEntries << " connection entries";
    return ::testing::AssertionSuccess();
}

TEST_P(RobustnessTest, RandomPacketsNeitherCrashNorCorruptTheTable) {
    joinGuest(1, "alice", "Alice");
    joinTrack(1);
    startRunning();
    ASSERT_TRUE(tableIsConsistent(c));

    std::mt19937 rng(GetParam());
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Ids are drawn from a small range so that joins, leaves and renames hit
    // each other often.
    auto id = [&] { return static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(0, 255) : pick(0, 8)); };

    for (int round = 0; round < 40; ++round) {
        std::vector<RawPacket> burst;
        for (int i = 0; i < 25; ++i) {
            RawPacket p;
            const std::uint8_t types[] = {ISP_NCN, ISP_CNL, ISP_CPR, ISP_NPL, ISP_PLP, ISP_PLL, ISP_TOC,
                                          ISP_CRS, ISP_STA, ISP_TINY, ISP_MSO, ISP_ISM, ISP_VER};
            const std::uint8_t type =
                pick(0, 9) == 0 ? static_cast<std::uint8_t>(pick(0, 60)) : types[pick(0, 12)];
            int size = 4 * pick(1, 63);
            if (type == ISP_MSO && pick(0, 1)) size = 136;
            if (type == ISP_NCN && pick(0, 1)) size = 56;
            if (type == ISP_NPL && pick(0, 1)) size = 76;
            p.size = static_cast<std::size_t>(size);
            for (int b = 0; b < size; ++b) p.bytes[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(pick(0, 255));
            p.bytes[0] = static_cast<std::uint8_t>(size);
            p.bytes[1] = type;
            p.bytes[2] = 0;
            p.bytes[3] = id();
            if (size > 5) p.bytes[4] = id();
            if (size > 6) p.bytes[5] = id();
            // Chat lines mostly start like commands, so the command parser is exercised.
            if (type == ISP_MSO && size == 136) {
                p.bytes[7] = static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(0, 255) : pick(0, 20));
                const char* words[] = {"#help", "#lang deu", "!info q", ".tcolor", "#setdebug 1", "#QUIT ?",
                                       "#setskill bob 5", "#tmsg", "#chatlevel", "#track"};
                const std::string text = std::string(p.bytes[7] < 20 ? p.bytes[7] : 0, 'x') + words[pick(0, 9)];
                for (std::size_t k = 0; k < text.size() && 8 + k < 135; ++k) p.bytes[8 + k] = static_cast<std::uint8_t>(text[k]);
                if (pick(0, 1)) p.bytes[135] = 0;
            }
            // Keep the link: no server-side keep-alive or version packets that
            // would stop the run early are wanted here.
            if (type == ISP_VER) p.bytes[18] = 4, p.bytes[19] = 0;
            burst.push_back(p);
        }
        ASSERT_TRUE(simulator->sendBurst(burst));
        // The marker after the burst: the pass that prints its line has
        // handled every packet of the burst.
        const std::string marker = "   marker " + std::to_string(round);
        IS_ISM ism;
        ism.Host = 1;
        ism.ReqI = static_cast<std::uint8_t>(200 + round % 50);
        ASSERT_TRUE(simulator->sendPacket(encode(ism)));
        const std::string done = "IS_ISM -> ReqI: " + std::to_string(ism.ReqI) + "   host";
        bool seen = false;
        for (int pass = 0; pass < 2000 && !seen; ++pass) {
            // A mismatch (or a "#QUIT") would stop the controller at its next
            // pass; it is kept running to go on feeding it.
            c.runRequest = RUN_RUNNING;
            c.activity = ACT_ACTIVE;
            c.debugState = DBG_ON;  // the marker's line is a debug line
            const std::size_t before = console.output().size();
            ASSERT_TRUE(c.Pass());
            seen = console.output().find(done, before) != std::string::npos;
            ASSERT_TRUE(tableIsConsistent(c)) << "round " << round << " pass " << pass;
        }
        ASSERT_TRUE(seen) << marker;
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RobustnessTest, ::testing::Range(1u, 21u));

}  // namespace
}  // namespace tmx
