// A server with more connections than the table holds: what the table could
// not take is ignored until it leaves, and never stops the controller or
// starts a resynchronisation that cannot end.
#include <gtest/gtest.h>

#include <string>

#include "support/controller_fixture.h"

namespace tmx {
namespace {

using namespace insim;

class FullTableTest : public testing::ControllerFixture {
protected:
    // The host and 50 guests: the 50th guest (UCID 50) does not fit.
    void fillTable() {
        startRunning();
        for (int ucid = 1; ucid <= 50; ++ucid) {
            const std::string n = std::to_string(ucid);
            joinGuest(ucid, ("user" + n).c_str(), ("Driver " + n).c_str());
        }
        barrier();
        ASSERT_EQ(c.usedEntries, kTableSize);
        ASSERT_EQ(c.FindIndex(50, -1), -1);
        ncnRequests = received(ISP_TINY, TINY_NCN);
    }
    void expectInStep() {
        EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);
        EXPECT_EQ(c.resync.phase, RP_NONE);
        EXPECT_EQ(received(ISP_TINY, TINY_NCN), ncnRequests) << "no resynchronisation was started";
    }
    std::size_t ncnRequests = 0;
};

TEST_F(FullTableTest, RefusedConnectionIsIgnoredUntilItLeaves) {
    fillTable();
    EXPECT_NE(console.output().find("\nTMX: IS_NCN -> table full, connection 50 not taken"), std::string::npos);
    const std::size_t chatBefore = simulator->snapshot().model.chat().size();

    // It renames, chats a command, drives, pits, leaves the track; every change
    // comes with an IS_STA that counts it.
    ASSERT_TRUE(simulator->rename(50, "Renamed").ok);
    ASSERT_TRUE(simulator->chat(50, "#help").ok);
    const int plid = joinTrack(50);
    ASSERT_TRUE(simulator->toPits(plid).ok);
    ASSERT_TRUE(simulator->carReset(plid).ok);
    ASSERT_TRUE(simulator->spectate(plid).ok);
    barrier();
    expectInStep();
    EXPECT_EQ(c.players, 0);
    flushToSim();
    const sim::SimState afterChat = simulator->snapshot();
    ASSERT_GT(afterChat.model.chat().size(), chatBefore);
    for (const auto& line : afterChat.model.chat())
        EXPECT_FALSE(line.kind == sim::ChatLine::Kind::Private && line.ucid == 50) << "no answer: " << line.text;

    ASSERT_TRUE(joinTrack(50) > 0);
    ASSERT_TRUE(simulator->leave(50).ok);  // with its player still on track
    barrier();
    expectInStep();

    // Room again: a guest leaves, a newcomer joins and is welcomed.
    ASSERT_TRUE(simulator->leave(7).ok);
    joinGuest(60, "newcomer", "Newcomer");
    barrier();
    expectInStep();
    ASSERT_NE(c.FindIndex(60, -1), -1);
    flushToSim();
    const sim::SimState end = simulator->snapshot();
    bool welcomed = false;
    for (const auto& line : end.model.chat())
        welcomed |= line.ucid == 60 && line.text == "^2LFS Trackmarshal is running";
    EXPECT_TRUE(welcomed);
}

TEST_F(FullTableTest, AnAiCarRefusedIntoAFullTableChangesNothing) {
    fillTable();
    const data::cl_LfsPlayer hostBefore = c.entry(0);
    const std::size_t deletesBefore = received(ISP_BFN);
    const int ai = joinTrack(0, true);
    barrier();
    expectInStep();
    EXPECT_EQ(c.players, 0);
    EXPECT_EQ(c.entry(0).race.driverStatus, hostBefore.race.driverStatus);
    EXPECT_EQ(c.entry(0).race.previousDriverStatus, hostBefore.race.previousDriverStatus);
    EXPECT_EQ(received(ISP_BFN), deletesBefore) << "no buttons were cleared for a car not taken";

    ASSERT_TRUE(simulator->spectate(ai).ok);  // the AI leaves: nothing to remove, nothing wrong
    barrier();
    expectInStep();
}

}  // namespace
}  // namespace tmx
