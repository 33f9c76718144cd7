// Pit lane and track: exits onto a closed or open track, pit stops and pit
// windows, the automatic opening and closing of the pit lane, the closed pit
// lane left from the box, and a pit visit on the driving model.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lfs-sim/manual_clock.h"
#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using Lines = std::vector<std::string>;

class PitLane : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        join();
    }
    void join() {
        plid = driver(1, "alice", "Alice");
        alice = indexOfPlayer(plid);
        ASSERT_NE(alice, -1);
    }
    // A fresh race with Alice in the given status: open track and pit lane, nothing on screen.
    void race(DriverStatus status = DS_RACING, DriverStatus previous = DS_ON_TRACK) {
        c.session.raceState = RS_RACE;
        c.session.startPhase = SP_NONE;
        c.session.trackClosed = c.session.pitLaneClosed = c.session.pitLaneAutoClosed = false;
        c.session.mostLapsDone = 0;
        me().pit = DriverPit{};
        me().race.driverStatus = status;
        me().race.previousDriverStatus = previous;
        me().race.sessionLaps = 0;
        link.DeleteAll(1);
        markChat();
    }
    data::cl_LfsPlayer& me() { return c.entry(alice); }
    static Lines breach(int tmxm) { return {line("tmxm", tmxm), line("tmxm", 26)}; }

    int plid = 0;
    int alice = -1;
};

TEST_F(PitLane, PitExitByTrackStateAndWhereTheDriverComesFrom) {
    const struct {
        const char* name;
        DriverStatus status, previous;
        bool trackClosed, qualifying;
        const char* block;  // the channel line that tells him: team or system (tmxm)
        int row, n;
        const char* command;
        DriverStatus after;
        int pending;
    } cases[] = {
        {"after a stop, closed track", DS_PITSTOP_DONE, DS_PITSTOP, true, false, "team", 1, 11, "",
         DS_ON_TRACK, PK_CLOSED_TRACK_EXIT},
        {"through the pit lane, closed track", DS_PITLANE, DS_RACING, true, false, "team", 1, 11,
         "", DS_ON_TRACK, PK_CLOSED_TRACK_EXIT},
        {"from the box, closed track", DS_PITS, DS_GARAGE, true, false, "tmxm", 1, 2,
         "/pitlane Alice", DS_PITS, PK_NONE},
        {"start window over", DS_PITS, DS_GARAGE, true, true, "tmxm", 1, 38, "/pitlane Alice",
         DS_PITS, PK_NONE},
        {"after a stop, open track", DS_PITSTOP_DONE, DS_PITSTOP, false, false, "team", 0, 10, "",
         DS_ON_TRACK, PK_NONE},
        {"from the garage, open track", DS_PITS, DS_GARAGE, false, false, "team", 0, 9, "",
         DS_ON_TRACK, PK_NONE},
        // A refused qualifier stays in the pits instead of being welcomed onto the track.
        {"qualifying laps used up", DS_PITS, DS_GARAGE, false, true, "tmxm", 1, 40,
         "/pitlane Alice", DS_PITS, PK_NONE},
    };
    c.config.qtype = 1;
    c.config.qstartwindow = 10;
    c.config.qmaxlaps = 3;
    for (const auto& k : cases) {
        race(k.status, k.previous);
        c.session.trackClosed = k.trackClosed;
        me().race.qualifyingLaps = 3;
        if (k.qualifying) {
            c.session.raceState = RS_QUALIFYING;
            c.session.qualifyingStartTime = clock.now();
        }
        send(pitLanePacket(plid, PITLANE_EXIT));
        const bool onTeam = std::string(k.block) == "team";
        EXPECT_TRUE(shows(onTeam ? teamText(1, k.row) : systemText(1, k.row), k.block, k.n))
            << k.name;
        EXPECT_EQ(hostCommands(), *k.command ? Lines{k.command} : Lines{}) << k.name;
        EXPECT_EQ(me().race.driverStatus, k.after) << k.name;
        EXPECT_EQ(me().pit.pendingPenalty, k.pending) << k.name;
        EXPECT_EQ(privateTo(1), k.pending ? breach(18) : Lines{}) << k.name;
        EXPECT_EQ(shows(orgaText(1, 3), "orga", 11), k.pending != PK_NONE) << k.name;
    }
}

TEST_F(PitLane, SpecialQualifierTakingHisCarIsToldWhatIsLeft) {
    c.config.qtype = 1;
    c.config.qstartwindow = 0;
    c.config.qmaxlaps = 5;
    const struct {
        int allowedTries, tries;
        std::string line1, line2;
        bool done;
    } cases[] = {
        {3, 1, line("team", 83, "2"), line("team", 85, "4"), false},
        {3, 3, line("team", 84), line("team", 85, "4"), true},
        {0, 7, line("team", 85, "4"), "", false},  // unlimited tries are never used up
    };
    for (const auto& k : cases) {
        race(DS_PITS, DS_GARAGE);
        c.session.raceState = RS_QUALIFYING;
        c.config.qallowedtries = static_cast<std::uint8_t>(k.allowedTries);
        me().race.qualifyingTries = static_cast<std::uint8_t>(k.tries);
        me().race.qualifyingLaps = 1;
        me().race.qualifyingDone = false;
        send(pitLanePacket(plid, PITLANE_ENTER));
        EXPECT_TRUE(shows(teamText(1, 0), "team", 82));
        EXPECT_EQ(teamText(1, 1).substr(2), k.line1) << k.tries;  // past the team colour
        EXPECT_EQ(k.line2.empty() ? teamText(1, 2) : teamText(1, 2).substr(2), k.line2) << k.tries;
        EXPECT_EQ(me().race.qualifyingDone, k.done) << k.tries;
    }
}

TEST_F(PitLane, TakingHisCarStartsTheDriversLapsFromZeroInEverySession) {
    for (RaceState state : {RS_PRACTICE, RS_RACE, RS_CITY}) {
        race(DS_PITS, DS_GARAGE);
        c.session.raceState = state;
        me().race.sessionLaps = 5;
        send(pitLanePacket(plid, PITLANE_ENTER));
        EXPECT_EQ(me().race.sessionLaps, 0) << state;
    }
}

TEST_F(PitLane, PitStopCountsForTheWindowItsPitEntryLapLiesIn) {
    ASSERT_TRUE(c.config.pitwindow.add(10, 12));
    ASSERT_TRUE(c.config.pitwindow.add(15, 20));
    const struct {
        int entryLap;
        RaceState state;
        int teamLine;
        std::uint8_t first, second;
    } cases[] = {
        {12, RS_RACE, 17, PW_STOPPED, PW_OPEN},  // the last lap of a window counts
        {13, RS_RACE, 18, PW_OPEN, PW_OPEN},     // between the windows
        {15, RS_RACE, 17, PW_OPEN, PW_STOPPED},
        {1, RS_RACE, 16, PW_OPEN, PW_OPEN},  // nothing to match
        {12, RS_PRACTICE, 16, PW_OPEN, PW_OPEN},
    };
    for (const auto& k : cases) {
        race();
        c.session.raceState = k.state;
        me().race.lastLapsDone = static_cast<std::uint16_t>(k.entryLap - 1);
        send(pitLanePacket(plid, PITLANE_ENTER));
        send(encode(IS_PIT{static_cast<std::uint8_t>(plid)}));
        send(encode(IS_PSF{static_cast<std::uint8_t>(plid), 25000}));
        EXPECT_TRUE(shows(teamText(1, 0), "team", k.teamLine))
            << "lap " << k.entryLap << ": " << teamText(1, 0);
        EXPECT_EQ(me().pit.pitWindowUsed[0], k.first) << "lap " << k.entryLap;
        EXPECT_EQ(me().pit.pitWindowUsed[1], k.second) << "lap " << k.entryLap;
    }
}

TEST_F(PitLane, LapsAroundAPitWindowWarnAndAMissedWindowIsPunished) {
    ASSERT_TRUE(c.config.pitwindow.add(10, 12));
    ASSERT_TRUE(c.config.pitwindow.add(15, 20));
    const struct {
        int lapsDone;  // the lap begun is one more
        std::uint8_t firstWindow;
        int teamLine;  // on team line 2; -1: nothing
    } cases[] = {{9, PW_OPEN, 45},  {11, PW_OPEN, 44},    {12, PW_OPEN, 43},   {14, PW_OPEN, 45},
                 {19, PW_OPEN, 44}, {11, PW_STOPPED, -1}, {12, PW_STOPPED, -1}};
    for (const auto& k : cases) {
        race();
        me().pit.pitWindowUsed[0] = k.firstWindow;
        send(lapPacket(plid, k.lapsDone));
        EXPECT_EQ(teamText(1, 2).empty(), k.teamLine < 0) << "after lap " << k.lapsDone;
        if (k.teamLine >= 0) {
            EXPECT_TRUE(shows(teamText(1, 2), "team", k.teamLine)) << "after lap " << k.lapsDone;
        }
        const bool missed = k.teamLine == 43;
        EXPECT_EQ(me().pit.pendingPenalty, missed ? PK_MISSED_WINDOW : PK_NONE)
            << "after lap " << k.lapsDone;
        EXPECT_EQ(me().pit.pitWindowUsed[0], missed ? std::uint8_t{PW_MISSED} : k.firstWindow);
        EXPECT_EQ(privateTo(1), missed ? breach(19) : Lines{});
    }
}

TEST_F(PitLane, PitLaneOpensAndClosesByItselfDuringARace) {
    const std::string byLap = "^3Orga: The pitlane is open now!";
    const struct {
        const char* name;
        int autoopenpit, autopitclose, raceLaps;
        bool closedBefore;
        std::vector<int> steps;  // LapsDone of a lap, or minus a split number
        bool closedAfter;
        std::string orga;  // on organisation line 2
    } cases[] = {
        {"opens at the second split", 2, 1, 0, true, {-1, -2}, false, "orga 10"},
        {"opens after the first lap without a second split", 2, 1, 0, true, {-1, 1}, false, byLap},
        {"waits for the second lap", -2, 1, 0, true, {1}, true, ""},
        {"opens after the second lap", -2, 1, 0, true, {1, 2}, false, byLap},
        {"never opens", 0, 1, 0, true, {-1, 1, 2}, true, ""},
        {"open two laps before the end", -2, 1, 10, false, {8}, false, ""},
        {"closes one lap before the end", -2, 1, 10, false, {9}, true, "orga 2"},
        {"closes three laps before the end", -2, 3, 10, false, {7}, true, "orga 2"},
    };
    for (const auto& k : cases) {
        race();
        c.config.autoopenpit = k.autoopenpit;
        c.config.autopitclose = k.autopitclose;
        c.server.lastState.RaceLaps = static_cast<std::uint8_t>(k.raceLaps);
        c.session.pitLaneClosed = k.closedBefore;
        for (int step : k.steps) send(step > 0 ? lapPacket(plid, step) : splitPacket(plid, -step));
        EXPECT_EQ(c.session.pitLaneClosed, k.closedAfter) << k.name;
        EXPECT_EQ(orgaText(1, 2).empty(), k.orga.empty()) << k.name;
        EXPECT_NE(orgaText(1, 2).find(k.orga), std::string::npos) << k.name;
    }
    send(lapPacket(plid, 10));  // closed near the end: the lap rule does not open it again
    EXPECT_TRUE(c.session.pitLaneClosed);
}

TEST_F(PitLane, LastSplitTellsDriversOnAClosedTrackToPitOutsideQualifying) {
    const struct {
        RaceState state;
        int split;
        bool told;
    } cases[] = {
        {RS_RACE, 3, true}, {RS_RACE, 2, false}, {RS_PRACTICE, 3, true}, {RS_QUALIFYING, 3, false}};
    for (const auto& k : cases) {
        race();
        c.session.raceState = k.state;
        c.session.trackClosed = true;
        c.session.highestSplit = 3;
        send(splitPacket(plid, k.split));
        EXPECT_EQ(shows(teamText(1, 1), "team", 24), k.told) << k.state << " split " << k.split;
    }
}

TEST_F(PitLane, DrivingOutOfTheClosedPitLaneIsJudgedOncePerStay) {
    const struct {
        const char* name;
        RaceState state;
        int speed;  // raw; 275 is 2 km/h, 276 just above
        int pendingBefore, queued;
    } cases[] = {
        {"standing", RS_RACE, 275, PK_NONE, 0},
        {"race", RS_RACE, 276, PK_NONE, 0},
        {"race, another penalty waiting", RS_RACE, 1000, PK_CLOSED_PIT_ENTRY, 1},
        {"practice", RS_PRACTICE, 1000, PK_NONE, 0},
    };
    for (const auto& k : cases) {
        race(DS_PITS, DS_GARAGE);
        c.session.raceState = k.state;
        c.session.pitLaneClosed = true;
        me().pit.pendingPenalty = k.pendingBefore;
        me().pit.penaltyDue = clock.now() + 100;
        IS_MCI report;
        report.NumC = 1;
        report.Info[0].PLID = static_cast<std::uint8_t>(plid);
        report.Info[0].Speed = static_cast<std::uint16_t>(k.speed);
        send(encode(report));  // every report while he drives off reaches the check
        send(encode(report));
        if (k.state == RS_PRACTICE) {
            EXPECT_EQ(hostCommands(), Lines{"/spec Alice"});
            // The screen is cleared once the server reports him gone: look at what was drawn.
            std::string drawn;
            for (const auto& p : simulator->snapshot().received)
                if (p.is(ISP_BTN)) drawn.append(p.bytes.begin(), p.bytes.end());
            EXPECT_TRUE(shows(drawn, "tmxm", 3) && shows(drawn, "team", 4));
            continue;
        }
        const bool caught = k.speed > 275;
        EXPECT_EQ(shows(teamText(1, 1), "team", 5), caught) << k.name;
        EXPECT_EQ(privateTo(1), caught ? breach(16) : Lines{}) << k.name;
        EXPECT_EQ(me().pit.queueLength, k.queued) << k.name;
        EXPECT_EQ(me().pit.pendingPenalty, k.pendingBefore ? k.pendingBefore
                                           : caught        ? PK_CLOSED_PIT_EXIT
                                                           : PK_NONE);
    }
}

// On the wire, with a car of the driving model: a stop while the track is
// closed, the stop-go given for leaving onto it, and its serving.
class PitLaneDriving : public PitLane {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startSimOnManualClock();
        startRunning();
        join();
    }
};

TEST_F(PitLaneDriving, StopWhileTheTrackIsClosedEndsInAStopGoThatIsServed) {
    startSession(sim::SessionKind::Practice);
    c.session.raceState = RS_PRACTICE;
    c.session.startPhase = SP_NONE;
    ASSERT_TRUE(simulator->drive(plid, 150).ok);
    ASSERT_TRUE(driveUntil([&] { return me().race.driverStatus == DS_ON_TRACK; }));

    c.session.trackClosed = true;
    markChat();
    c.random.script({0});  // the stop-go follows after 15 s
    ASSERT_TRUE(simulator->pitNextLap(plid, 4000).ok);
    ASSERT_TRUE(driveUntil([&] { return me().pit.pendingPenalty == PK_CLOSED_TRACK_EXIT; }));
    EXPECT_TRUE(shows(teamText(1, 1), "team", 11));
    EXPECT_EQ(privateTo(1), breach(18));

    c.session.trackClosed = false;
    clock.advanceSeconds(14);
    barrier();
    EXPECT_TRUE(hostCommands().empty());
    clock.advanceSeconds(1);
    barrier();
    EXPECT_EQ(hostCommands(), Lines{"/p_sg Alice"});

    ASSERT_TRUE(simulator->pitNextLap(plid, 0).ok);
    ASSERT_TRUE(driveUntil([&] { return shows(teamText(1, 1), "team", 39); }));  // served
}

}  // namespace
}  // namespace tmx::testing
