// An admin tracking a driver: the single tracking slot, the camera, the
// watching label and what is forwarded, through #watch and #nowatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using Lines = std::vector<std::string>;

constexpr int kBoss = 5;
constexpr int kChief = 6;

class TrackingTest : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        ASSERT_TRUE(simulator->join(kBoss, "boss", "Boss", true).ok);
        ASSERT_TRUE(simulator->join(kChief, "chief", "Chief", true).ok);
        startRunning();
        startSession(sim::SessionKind::Practice);
        alicePlid = driver(1, "alice", "Alice");
        bobPlid = driver(2, "bob", "Bob");
        alice = indexOfPlayer(alicePlid);
        bob = indexOfPlayer(bobPlid);
        boss = c.FindIndex(kBoss, -1);
        chief = c.FindIndex(kChief, -1);
        ASSERT_TRUE(alice != -1 && bob != -1 && boss != -1 && chief != -1);
    }

    // What the connection got privately for a chat line; every line is sent
    // by connection (no player id), as a spectator has none.
    Lines say(int ucid, const std::string& text) {
        markChat();
        const std::size_t from = chatMark;
        EXPECT_TRUE(simulator->chat(ucid, text).ok);
        barrier();
        Lines lines;
        flushToSim();
        const auto log = simulator->snapshot().model.chat();
        for (std::size_t i = from; i < log.size(); ++i) {
            if (log[i].kind != sim::ChatLine::Kind::Private || log[i].ucid != ucid) continue;
            EXPECT_EQ(log[i].plid, 0) << log[i].text;
            if (log[i].text != " ") lines.push_back(log[i].text);
        }
        return lines;
    }
    // The player ids of the camera switches sent so far (all with camera 3).
    std::vector<int> cameraSwitches() {
        flushToSim();
        std::vector<int> plids;
        for (const auto& p : simulator->snapshot().received) {
            if (!p.is(ISP_SCC)) continue;
            IS_SCC scc;
            EXPECT_TRUE(decode(p.bytes.data(), p.bytes.size(), scc));
            EXPECT_EQ(scc.InGameCam, 3);
            plids.push_back(scc.ViewPLID);
        }
        return plids;
    }
    std::uint8_t watcherOf(int index) const { return c.entry(index).display.watchedBy; }

    int alicePlid = 0, bobPlid = 0;
    int alice = -1, bob = -1, boss = -1, chief = -1;
};

TEST_F(TrackingTest, ASecondAdminIsRefusedTheTrackingSlot) {
    EXPECT_EQ(say(kBoss, "#watch alice"), Lines{"^7TMX: You are tracking now."});
    EXPECT_EQ(buttonText(kBoss, 109), " Watching : Alice");
    EXPECT_EQ(cameraSwitches(), std::vector<int>{alicePlid});

    EXPECT_EQ(say(kChief, "#watch Alice"),
              Lines{"^7ERROR, not possible. The watchslot is in use."});
    markChat();
    c.TrackDriver(chief, alice);
    EXPECT_EQ(privateTo(kChief), Lines{"^7TMX: not possible! No free trackingslot"});
    EXPECT_EQ(watcherOf(alice), boss);
    EXPECT_EQ(c.entry(chief).display.watchTarget, data::kNoEntry);
    EXPECT_EQ(buttonText(kChief, 109), "");
    EXPECT_EQ(cameraSwitches(), std::vector<int>{alicePlid})
        << "the camera stays on the first target";
}

TEST_F(TrackingTest, SwitchingTargetsFreesTheFirstSlot) {
    say(kBoss, "#watch alice");
    EXPECT_EQ(say(kBoss, "#watch bob"),
              (Lines{"^7TMX: stopped tracking.", "^7TMX: You are tracking now."}));
    EXPECT_EQ(watcherOf(alice), data::kNoEntry);
    EXPECT_EQ(watcherOf(bob), boss);
    EXPECT_EQ(buttonText(kBoss, 109), " Watching : Bob");
    EXPECT_EQ(say(kChief, "#watch alice"), Lines{"^7TMX: You are tracking now."});
    EXPECT_EQ(cameraSwitches(), (std::vector<int>{alicePlid, bobPlid, alicePlid}));
}

TEST_F(TrackingTest, TheWatcherSeesTheDriversLinesUntilHeStops) {
    say(kBoss, "#watch alice");
    c.SystemLine(alice, 0, "to Alice", 5000);
    c.TeamLine(alice, 1, "^5crew", 5000);
    c.SystemLine(bob, 2, "to Bob", 5000);
    EXPECT_EQ(systemText(kBoss, 0), "to Alice");
    EXPECT_EQ(teamText(kBoss, 1), "^5crew");
    EXPECT_EQ(systemText(kBoss, 2), "");

    EXPECT_EQ(say(kBoss, "#nowatch"), Lines{"^7TMX: stopped tracking."});
    EXPECT_EQ(watcherOf(alice), data::kNoEntry);
    EXPECT_EQ(buttonText(kBoss, 109), "");
    c.SystemLine(alice, 1, "later", 5000);
    EXPECT_EQ(systemText(kBoss, 1), "");

    EXPECT_EQ(say(kBoss, "#nowatch"), Lines{"^7ERROR, not possible. You're watching none!"});
    markChat();
    c.StopTracking(boss);
    EXPECT_EQ(privateTo(kBoss), Lines{}) << "stopping while tracking nobody sends nothing";
}

}  // namespace
}  // namespace tmx::testing
