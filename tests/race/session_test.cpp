// Session tracking: the session starts, the lap and split road, the finish,
// the qualifying rules, the monitor timers, and the laps that keep a driver's
// records through a database clean.
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

class Session : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
    }
    // Alice (ucid 1) takes a car, or only watches.
    void alice(bool drives = true) {
        if (drives) plid = driver(1, "alice", "Alice");
        else joinGuest(1, "alice", "Alice"), barrier();
    }
    data::cl_LfsPlayer& me() { return c.entry(c.FindIndex(1, -1)); }
    static IS_RST rst(int laps, int mins, int reqI = 0) {
        IS_RST r;
        r.ReqI = static_cast<std::uint8_t>(reqI);
        r.RaceLaps = static_cast<std::uint8_t>(laps);
        r.QualMins = static_cast<std::uint8_t>(mins);
        r.NumNodes = 400;
        r.Finish = 12;
        return r;
    }
    void qualifying(std::uint8_t maxLaps, std::uint8_t window, std::uint8_t autoSpectate = 0) {
        c.config.qtype = 1;
        c.config.qmaxlaps = maxLaps;
        c.config.qstartwindow = window;
        c.config.qautospectate = autoSpectate;
        startSession(sim::SessionKind::Qualifying, 0, 20);
        markChat();
    }
    int plid = 0;
};

TEST_F(Session, EachKindOfStartSetsStateTextsAndDrivers) {
    alice();
    EXPECT_EQ(buttonText(1, 100), "");  // no status bar before the first session start
    struct Case {
        int laps, mins, qtype, sessionTime;
        RaceState state;
        int startPhase, text0, text1;  // system lines 0 and 1 (-1: none)
        Lines commands;
        DriverStatus status, previous;
        int pitButton, monitor;
    } cases[] = {
        {0, 0, 0, 60, RS_PRACTICE, SP_NONE, 15, -1, {}, DS_PITS, DS_GARAGE, 7, 1},
        {0, 20, 0, 60, RS_QUALIFYING, SP_NONE, 11, -1, {}, DS_PITS, DS_GARAGE, 7, 1},
        {0, 20, 1, 0, RS_QUALIFYING, SP_NONE, 12, 13, {"/qual 60"}, DS_PITS, DS_GARAGE, 7, 1},
        {5, 0, 0, 60, RS_RACE, SP_START_PENDING, 14, -1, {}, DS_ON_TRACK, DS_PITSTOP_DONE, 8, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text0);
        c.config.qtype = static_cast<std::uint8_t>(k.qtype);
        c.config.qsessiontime = k.sessionTime;
        c.session.trackClosed = c.session.startWindowClosed = me().race.qualifyingDone = true;
        me().race.sessionLaps = 4;
        link.ClearAll();  // nothing left from the case before
        markChat();
        c.onRaceStart(rst(k.laps, k.mins));
        EXPECT_EQ(c.session.raceState, k.state);
        EXPECT_EQ(c.session.startPhase, k.startPhase);
        EXPECT_EQ(systemText(1, 0), line("tmxm", k.text0));
        EXPECT_EQ(systemText(1, 1), k.text1 < 0 ? "" : line("tmxm", k.text1));
        EXPECT_EQ(hostCommands(), k.commands);
        EXPECT_EQ(me().race.driverStatus, k.status);
        EXPECT_EQ(me().race.previousDriverStatus, k.previous);
        EXPECT_EQ(me().race.sessionLaps, 0);
        EXPECT_EQ(me().display.monitorState, k.monitor);
        EXPECT_EQ(buttonText(1, 100), line("trac", 0));  // the track is open
        EXPECT_EQ(buttonText(1, 101), line("trac", k.pitButton));
        EXPECT_EQ(me().race.qualifyingDone || c.session.startWindowClosed, k.state != RS_QUALIFYING);
        EXPECT_EQ(c.session.nodeCount * 1000 + c.session.finishNode, 400012);
    }
    EXPECT_EQ(me().conduct.state, CS_GRID);
}

// The session packet that answers the controller's own request reports a race
// already under way: the start is cancelled, not run again.
TEST_F(Session, RequestedReportOfARunningRaceStartsNothing) {
    alice();
    c.config.starttype = 0;
    for (int reqI : {1, 0}) {
        c.resync.flag = true;
        send(encode(rst(5, 0, reqI)));
        EXPECT_FALSE(c.resync.flag) << reqI;
        EXPECT_EQ(buttonText(1, 101), line("trac", reqI ? 7 : 8)) << reqI;  // pit lane open only when cancelled
    }
}

TEST_F(Session, LapsAndSplitsMoveTheDriver) {
    alice();
    c.session.raceState = RS_PRACTICE;
    struct Case {
        DriverStatus before;
        bool lap;
        DriverStatus after;
        int sessionLaps;  // from 3
    } cases[] = {
        {DS_PITS, false, DS_ON_TRACK, 3}, {DS_SPECTATING, false, DS_SPECTATING, 0}, {DS_EARLY, false, DS_EARLY, 0},
        {DS_ON_TRACK, true, DS_RACING, 4}, {DS_PITS, true, DS_RACING, 1},          {DS_PITSTOP, true, DS_PITSTOP, 4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.before << (k.lap ? " lap" : " split"));
        me().race.driverStatus = k.before;
        me().race.sessionLaps = 3;
        const std::uint32_t skillLaps = me().skillLaps;
        const std::int32_t comboLaps = me().combinationLaps;
        send(k.lap ? lapPacket(plid, 7) : splitPacket(plid, 2));
        EXPECT_EQ(me().race.driverStatus, k.after);
        EXPECT_EQ(me().race.sessionLaps, k.sessionLaps);
        EXPECT_EQ(me().skillLaps, skillLaps + k.lap);
        EXPECT_EQ(me().combinationLaps, comboLaps + k.lap);
    }
    EXPECT_EQ(c.session.mostLapsDone, 4u);
    EXPECT_EQ(c.session.highestSplit, 2);

    for (const char* kind : {"LAP", "SPX"}) {
        c.runRequest = RUN_RUNNING;
        IS_LAP lap;
        IS_SPX spx;
        lap.PLID = spx.PLID = 77;
        EXPECT_EQ(std::string(kind) == "LAP" ? c.onLap(lap) : c.onSplit(spx), -1);
        EXPECT_EQ(c.runRequest.load(), RUN_ERROR) << kind;
        EXPECT_EQ(countOf(console.output(), std::string("TMX: ") + kind + " -> unknown player - database mismatch"), 1u);
    }
    c.runRequest = RUN_RUNNING;
}

TEST_F(Session, FinishOfARace) {
    alice();
    c.server.setupScreen = false;
    struct Case {
        RaceState state;
        int autoTrackClose;
        RaceState after;
        std::string trackButton, pitButton, orga1;
    } cases[] = {
        {RS_PRACTICE, 1, RS_PRACTICE, "", "", ""},
        {RS_RACE, 0, RS_RACE_FINISHED, line("trac", 0), line("trac", 7), ""},
        {RS_RACE, 1, RS_RACE_FINISHED, line("trac", 1), line("trac", 7), line("orga", 4)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.state << " " << k.autoTrackClose);
        link.ClearAll();
        c.session.raceState = k.state;
        c.session.pitLaneClosed = c.session.pitLaneAutoClosed = true;
        c.config.autotrackclose = k.autoTrackClose;
        IS_FIN fin;
        fin.PLID = static_cast<std::uint8_t>(plid);
        send(encode(fin));
        EXPECT_EQ(c.session.raceState, k.after);
        EXPECT_EQ(buttonText(1, 100), k.trackButton);
        EXPECT_EQ(buttonText(1, 101), k.pitButton);
        EXPECT_EQ(orgaText(1, 1), k.orga1);
        EXPECT_EQ(c.session.pitLaneAutoClosed, k.after != RS_RACE_FINISHED || k.autoTrackClose == 1);
    }
}

TEST_F(Session, QualifyingLapLimit) {
    alice();
    for (int spectate : {0, 1}) {
        SCOPED_TRACE(spectate);
        qualifying(3, 0, static_cast<std::uint8_t>(spectate));
        send(splitPacket(plid, 1));
        ASSERT_EQ(me().race.driverStatus, DS_ON_TRACK);
        send(lapPacket(plid, 1));
        EXPECT_TRUE(shows(teamText(1, 1), "team", 91, "2"));
        send(lapPacket(plid, 2));
        EXPECT_TRUE(shows(teamText(1, 1), "team", 90));
        EXPECT_FALSE(me().race.qualifyingDone);
        send(lapPacket(plid, 3));
        EXPECT_TRUE(me().race.qualifyingDone);
        if (spectate) {
            EXPECT_EQ(hostCommands(), Lines{"/spec Alice"});
            EXPECT_EQ(privateTo(1), Lines{line("team", 93)});
            EXPECT_EQ(me().race.driverStatus, DS_SPECTATING);
            continue;
        }
        EXPECT_EQ(systemText(1, 1), line("tmxm", 42));
        EXPECT_TRUE(shows(teamText(1, 2), "team", 94));
        clock.advanceSeconds(10);
        barrier();
        EXPECT_TRUE(hostCommands().empty());  // called in only after more than 10 s
        clock.advanceSeconds(1);
        barrier();
        EXPECT_EQ(hostCommands(), Lines{"/pitlane Alice"});
        EXPECT_EQ(privateTo(1), Lines{line("team", 93)});
        EXPECT_EQ(me().race.driverStatus, DS_PITS);
    }
}

TEST_F(Session, QualifyingTriesAtThePitExit) {
    alice();
    struct Case {
        const char* name;
        std::uint8_t maxLaps, allowedTries, laps, tries;
        int refusedBy;     // tmxm line, 0 when he may go
        int team1, team2;  // team lines shown (-1: none)
    } cases[] = {
        {"unlimited tries", 0, 0, 9, 200, 0, -1, -1}, {"last try", 0, 2, 0, 1, 0, 88, -1},
        {"last lap", 3, 0, 2, 5, 0, -1, 89},          {"tries used up", 0, 2, 0, 2, 41, -1, -1},
        {"laps used up", 3, 2, 3, 0, 40, -1, -1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        qualifying(k.maxLaps, 0);
        c.config.qallowedtries = k.allowedTries;
        me().race.qualifyingLaps = k.laps;
        me().race.qualifyingTries = k.tries;
        EXPECT_EQ(c.ApplyQualifyingExitLimits(c.FindIndex(1, -1)), k.refusedBy != 0);
        EXPECT_EQ(me().race.qualifyingDone, k.refusedBy != 0);
        if (k.refusedBy) {
            EXPECT_EQ(systemText(1, 1), line("tmxm", k.refusedBy));
            EXPECT_EQ(systemText(1, 2), line("tmxm", 39));
            EXPECT_EQ(hostCommands(), Lines{"/pitlane Alice"});
            continue;
        }
        EXPECT_EQ(me().race.qualifyingTries, k.tries + 1);
        EXPECT_TRUE(k.team1 < 0 ? teamText(1, 1).empty() : shows(teamText(1, 1), "team", k.team1));
        EXPECT_TRUE(k.team2 < 0 ? teamText(1, 2).empty() : shows(teamText(1, 2), "team", k.team2));
    }
}

// The start window closes the track on those still in the pits; a driver on
// track qualifies on.
TEST_F(Session, QualifyingStartWindow) {
    alice();
    joinGuest(2, "bob", "Bob");
    const int bob = joinTrack(2);
    barrier();
    qualifying(0, 0);
    clock.advanceSeconds(7200);
    barrier();
    EXPECT_FALSE(c.session.trackClosed);  // no window, never closed

    qualifying(0, 2);
    send(splitPacket(bob, 1));  // Bob is out, Alice waits in the pits
    clock.advanceSeconds(30);
    barrier();
    EXPECT_EQ(buttonText(1, BG_WINDOW), line("trac", 12, "%%01:30"));
    clock.advanceSeconds(92);
    barrier();
    EXPECT_FALSE(c.session.trackClosed);
    clock.advanceSeconds(1);
    barrier();
    EXPECT_TRUE(c.session.trackClosed);
    EXPECT_EQ(orgaText(1, 1), line("orga", 19));
    EXPECT_EQ(buttonText(1, BG_WINDOW), "");
    EXPECT_TRUE(me().race.qualifyingDone);
    EXPECT_FALSE(c.entry(indexOfPlayer(bob)).race.qualifyingDone);
    EXPECT_EQ(c.session.raceState, RS_QUALIFYING);
}

// Nobody left qualifying: the qualifying is closed for everyone.
TEST_F(Session, EmptyQualifyingClosesOnceTheWindowHasRunOut) {
    alice(false);
    qualifying(3, 1);
    clock.advanceSeconds(63);
    barrier();
    EXPECT_EQ(hostCommands(), Lines{"/qual 1"});
    EXPECT_EQ(c.session.raceState, RS_QUALIFYING_CLOSED);
    EXPECT_FALSE(c.session.trackClosed);
    EXPECT_EQ(orgaText(1, 0), line("orga", 20));
    EXPECT_EQ(orgaText(1, 1), line("orga", 21));
}

TEST_F(Session, WaitingMonitorShowsAfterEightSecondsFifteenInQualifying) {
    alice(false);
    for (RaceState state : {RS_PRACTICE, RS_QUALIFYING}) {
        c.session.raceState = state;
        me().display.monitorState = 1;
        me().display.monitorTime = clock.now();
        me().display.monitorVersion = 5;
        clock.advanceSeconds(state == RS_QUALIFYING ? 14 : 7);
        c.MonitorDisplayTimers();
        EXPECT_EQ(me().display.monitorState, 1) << state;
        clock.advanceSeconds(1);
        c.MonitorDisplayTimers();
        EXPECT_EQ(me().display.monitorState * 10 + me().display.monitorVersion, 20) << state;  // shown from line 0
    }
}

// Every lap counts on the driver's combination, so that a clean after he has
// left keeps his entry, his skill laps and his personal records.
TEST_F(Session, DrivenLapsSurviveACleanAfterLeaving) {
    alice();
    startSession(sim::SessionKind::Practice);
    send(splitPacket(plid, 1));
    send(lapPacket(plid, 1, 61000));
    send(lapPacket(plid, 2, 60500));
    ASSERT_TRUE(simulator->leave(1).ok);
    barrier();
    master.CleanDatabase();
    const data::PlayerEntry* saved = master.database.find("alice");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->skillLaps, 2u);
    ASSERT_EQ(saved->combinations.size(), 1u);
    EXPECT_EQ(saved->combinations[0].laps, 2);
    EXPECT_EQ(saved->combinations[0].car, "XRT");
}

// On the wire: a qualifier of the driving model completes his laps and is
// called in to his pit box.
class SessionDriving : public Session {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startSimOnManualClock();
        startRunning();
    }
    bool driveUntil(const std::function<bool()>& cond) { return RaceFixture::driveUntil(cond, 1200); }
};

TEST_F(SessionDriving, QualifierIsCalledInAfterHisLastLap) {
    alice();
    qualifying(2, 0);
    ASSERT_TRUE(simulator->drive(plid, 160).ok);
    ASSERT_TRUE(driveUntil([&] { return me().race.qualifyingLaps == 1; }));
    EXPECT_TRUE(shows(teamText(1, 1), "team", 90));
    ASSERT_TRUE(driveUntil([&] { return me().race.qualifyingDone; }));
    EXPECT_EQ(systemText(1, 1), line("tmxm", 42));
    clock.advanceSeconds(11);
    barrier();
    EXPECT_EQ(hostCommands(), Lines{"/pitlane Alice"});
    flushToSim();
    const sim::SimState state = simulator->snapshot();
    const sim::Player* car = state.model.findPlayer(plid);
    ASSERT_NE(car, nullptr);
    EXPECT_EQ(car->carState.pit, sim::PitPhase::Box);
}

}  // namespace
}  // namespace tmx::testing
