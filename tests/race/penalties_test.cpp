// Penalties: the queue with its random delays, what each kind sends and shows,
// the switch-off, and the penalties LFS reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using Lines = std::vector<std::string>;

class Penalties : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        plid = driver(1, "alice", "Alice");
        alice = indexOfPlayer(plid);
        ASSERT_NE(alice, -1);
        c.session.raceState = RS_RACE;
        c.session.startPhase = SP_NONE;
        c.entry(alice).race.driverStatus = DS_RACING;
        markChat();
    }
    DriverPit& pit() { return c.entry(alice).pit; }
    bool team(int row, int n) {
        return teamText(1, row).find(line("team", n)) != std::string::npos;
    }
    void seconds(int n) {  // one tick a second
        for (int i = 0; i < n; ++i) {
            clock.advanceSeconds(1);
            barrier();
        }
    }
    void pen(int oldPen, int newPen, int reason, int who = 0) {
        send(encode(IS_PEN{static_cast<std::uint8_t>(who ? who : plid),
                           static_cast<std::uint8_t>(oldPen), static_cast<std::uint8_t>(newPen),
                           static_cast<std::uint8_t>(reason)}));
    }

    int plid = 0;
    int alice = -1;
};

TEST_F(Penalties, EachKindIsGivenAfterItsDelayWithItsCommandAndReason) {
    c.config.pitmissedpen = "/p_45 ";
    const struct {
        int kind;
        const char* command;
        int teamLine;
    } cases[] = {
        {PK_CLOSED_PIT_ENTRY, "/p_dt Alice", 34}, {PK_CLOSED_TRACK_EXIT, "/p_sg Alice", 36},
        {PK_CLOSED_PIT_EXIT, "/p_dt Alice", 35},  {PK_PACE_LEADER, "/p_dt Alice", 41},
        {PK_FORMATION_PLACES, "/p_sg Alice", 37}, {PK_MISSED_WINDOW, "/p_45 Alice", 42}};
    for (const auto& k : cases) {
        markChat();
        c.random.script({0});  // the shortest delay: 15 s
        c.QueuePenalty(alice, k.kind);
        seconds(14);
        EXPECT_TRUE(hostCommands().empty()) << k.kind;
        seconds(1);
        EXPECT_EQ(hostCommands(), Lines{k.command}) << k.kind;
        EXPECT_TRUE(team(1, k.teamLine)) << k.kind;
    }
}

TEST_F(Penalties, SecondBreachWaitsBehindTheFirstAndFollowsItFiveToTwentySecondsLater) {
    c.random.script({60, 5});  // 15 + 60 = 75 s for the first, 5 + 5 = 10 s for the next
    c.QueuePenalty(alice, PK_CLOSED_PIT_ENTRY);
    seconds(1);
    c.QueuePenalty(alice, PK_CLOSED_TRACK_EXIT);
    seconds(73);
    EXPECT_TRUE(hostCommands().empty());
    seconds(1);
    EXPECT_EQ(hostCommands(), Lines{"/p_dt Alice"});
    seconds(9);
    EXPECT_EQ(hostCommands().size(), 1u);
    seconds(1);
    EXPECT_EQ(hostCommands(), (Lines{"/p_dt Alice", "/p_sg Alice"}));
}

TEST_F(Penalties, SwitchedOffTheyGoOutTickByTickTenQueuedAtMostAndLfsPenaltiesAreNotFollowed) {
    c.config.penaltysystem = 0;
    c.QueuePenalty(alice, PK_CLOSED_PIT_ENTRY);
    for (int i = 0; i < 10; ++i) c.QueuePenalty(alice, PK_CLOSED_TRACK_EXIT);
    c.QueuePenalty(alice, PK_MISSED_WINDOW);  // the eleventh behind the pending one: dropped
    EXPECT_EQ(pit().queueLength, 10);
    for (int i = 0; i < 12; ++i) barrier();  // no clock advance: no delay
    Lines expected{"/p_dt Alice"};
    expected.insert(expected.end(), 10, "/p_sg Alice");
    EXPECT_EQ(hostCommands(), expected);

    pen(0, 3, PENR_SPEEDING);
    EXPECT_EQ(pit().lfsPenalty, 0);
    EXPECT_FALSE(team(0, 61));
}

TEST_F(Penalties, ADueOneWaitsTwentyToSixtySecondsMoreInThePitsButNotInTheCity) {
    const struct {
        const char* name;
        DriverStatus status;
        RaceState state;
        Lines given;
        int due;  // when nothing was given: the due time, in seconds from now
    } cases[] = {
        {"in the pit box", DS_PITS, RS_RACE, {}, 30},
        {"in the pit box in the city", DS_PITS, RS_CITY, {"/p_dt Alice"}, 0},
        {"in the garage: not looked at", DS_GARAGE, RS_RACE, {}, -1},
        {"on track", DS_ON_TRACK, RS_RACE, {"/p_dt Alice"}, 0},
    };
    for (const auto& k : cases) {
        markChat();
        c.session.raceState = k.state;
        c.entry(alice).race.driverStatus = k.status;
        pit() = DriverPit{};
        pit().pendingPenalty = PK_CLOSED_PIT_ENTRY;
        pit().penaltyDue = clock.now();
        c.random.script({10});  // a retry 20 + 10 s later
        seconds(1);
        EXPECT_EQ(hostCommands(), k.given) << k.name;
        if (k.given.empty()) {
            EXPECT_EQ(pit().penaltyDue, clock.now() + k.due) << k.name;
        }
    }
}

TEST_F(Penalties, LfsPenaltiesAreFollowedAndTheirServingRewarded) {
    const struct {
        const char* name;
        int oldPen, newPen, reason, pending;
        int row, teamLine;  // -1: nothing shown
        int lfsPenalty;
        const char* flash;
    } cases[] = {
        {"wrong way", 0, 1, PENR_WRONG_WAY, PK_NONE, 0, 59, 1, "SP: -15"},
        {"false start", 0, 3, PENR_FALSE_START, PK_NONE, 0, 60, 3, "SP: -15"},
        {"pit speeding", 0, 1, PENR_SPEEDING, PK_NONE, 0, 61, 1, "SP: -15"},
        {"short stop", 0, 3, PENR_STOP_SHORT, PK_NONE, 0, 62, 3, "SP: -15"},
        {"given by an admin", 0, 1, PENR_ADMIN, PK_NONE, -1, -1, 0, "SP: -15"},
        {"served", 1, 0, PENR_UNKNOWN, PK_NONE, 1, 39, 0, "SP: +10"},
        {"served, another waits", 3, 0, PENR_UNKNOWN, PK_CLOSED_PIT_ENTRY, 1, 40, 0, "SP: +10"},
    };
    for (const auto& k : cases) {
        link.DeleteAll(1);
        pit().pendingPenalty = k.pending;
        pit().penaltyDue = clock.now() + 100;
        pit().lfsPenalty = static_cast<std::uint8_t>(k.oldPen);
        pen(k.oldPen, k.newPen, k.reason);
        EXPECT_EQ(pit().lfsPenalty, k.lfsPenalty) << k.name;
        if (k.row >= 0) {
            EXPECT_TRUE(team(k.row, k.teamLine)) << k.name;
        } else {
            EXPECT_EQ(teamText(1, 0) + teamText(1, 1), "") << k.name;
        }
        EXPECT_NE(buttonText(1, BG_SKILL).find(k.flash), std::string::npos) << k.name;
    }
    pen(0, 1, PENR_WRONG_WAY, 99);  // a player the server never reported: ignored
    EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);
}

}  // namespace
}  // namespace tmx::testing
