// One user name on two connections at once (the same driver on two of our
// servers, or a reconnect LFS has not yet reported gone) shares one database
// entry: it must outlive the first connection's leave and an idle clean.
#include <gtest/gtest.h>

#include <string>

#include "support/controller_fixture.h"

namespace tmx {
namespace {

using testing::countOf;
using testing::kWaitMs;

// The fixture's server is one of ours; this is another, sharing the master.
class SharedEntryTest : public testing::ControllerFixture {
protected:
    struct OtherServer {
        sim::LfsSim sim{[] {
            sim::SimOptions o;
            o.keepAliveMs = 0;
            return o;
        }()};
        insim::cl_InsimHandling link;
        TMX_MAIN c;
        OtherServer(Console& console, platform::Clock& clock) : link(console, clock), c(console, clock) {}
    };

    void startOther() {
        ASSERT_TRUE(other.sim.start());
        other.c.link = &other.link;
        other.c.master = &master;
        other.c.slot = 1;
        other.c.port = std::to_string(other.sim.port()).c_str();
        other.c.debugState = DBG_OFF;
        other.link.debug = 0;
        ASSERT_EQ(other.c.Connect(), 0);
        other.c.runRequest = RUN_RUNNING;
        other.c.activity = ACT_ACTIVE;
        other.link.receiveWaitMs = 50;
        ASSERT_TRUE(other.sim.waitForPacket(insim::ISP_TINY, insim::TINY_RST, kWaitMs));
        settleOther();
    }
    // Everything the other server sent so far has been handled.
    void settleOther() {
        const std::size_t seen = countOf(console.output(), "   host");
        insim::IS_ISM ism;
        ism.Host = 1;
        ASSERT_TRUE(other.sim.sendPacket(insim::encode(ism)));
        for (int i = 0; i < 400 && countOf(console.output(), "   host") == seen; ++i) other.c.Pass();
        ASSERT_GT(countOf(console.output(), "   host"), seen);
    }
    void TearDown() override {
        other.sim.stop();
        ControllerFixture::TearDown();
    }

    OtherServer other{console, clock};
};

TEST_F(SharedEntryTest, EntryAndRecordsStayWhileAnyConnectionHoldsThem) {
    startRunning();
    startOther();
    joinGuest(1, "alice", "Alice");
    barrier();
    ASSERT_TRUE(other.sim.join(1, "alice", "Alice").ok);  // the same driver on our other server
    settleOther();
    const int second = other.c.FindIndex(1, -1);
    ASSERT_NE(second, -1);
    sim::PlayerSpec car;
    car.ucid = 1;
    ASSERT_TRUE(other.sim.joinTrack(car).ok);  // he drives there: a combination record, no laps yet
    settleOther();
    data::PlayerEntry* shared = master.database.find("alice");
    ASSERT_NE(shared, nullptr);
    ASSERT_EQ(other.c.entry(second).databaseEntry, shared);
    ASSERT_NE(other.c.entry(second).combination, nullptr);

    ASSERT_TRUE(simulator->leave(1).ok);
    barrier();
    master.CleanDatabase();  // every server idle: the master cleans
    ASSERT_EQ(master.database.find("alice"), shared) << "still held on the other server";
    EXPECT_EQ(shared->combinations.size(), 1u) << "and so is his combination record";

    // He changes a setting there and leaves: the save lands in the entry.
    ASSERT_TRUE(other.sim.chat(1, "#tcolor").ok);
    settleOther();
    const std::uint8_t colour = other.c.entry(second).teamColour;
    ASSERT_NE(colour, 3) << "the command changed the colour";
    ASSERT_TRUE(other.sim.leave(1).ok);
    settleOther();
    EXPECT_EQ(shared->teamColour, colour);
    EXPECT_FALSE(shared->isOnline());
    master.CleanDatabase();
    EXPECT_EQ(master.database.find("alice"), nullptr) << "no laps: cleaned once nobody holds it";
}

// An extra table entry copied from a connection's entry holds the database
// entry too: it is freed on its own, after or before its owner.
TEST_F(SharedEntryTest, AnExtraEntryHoldsItsOwnersDatabaseEntry) {
    startRunning();
    joinGuest(1, "bob", "Bob");
    barrier();
    joinTrack(1);
    joinTrack(1, true);  // a second car under bob's connection gets an entry of its own
    barrier();
    data::PlayerEntry* entry = master.database.find("bob");
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(c.usedEntries, 3);
    EXPECT_EQ(entry->onlineCount, 2);
    ASSERT_TRUE(simulator->leave(1).ok);
    barrier();
    EXPECT_EQ(c.usedEntries, 1);
    EXPECT_EQ(entry->onlineCount, 0) << "every hold was given back once";
}

}  // namespace
}  // namespace tmx
