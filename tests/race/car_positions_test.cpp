// Car reports and the race tick: updates split over packets, the orders and
// their neighbours, the last-lap text, the monitor switch-off, the pit board
// zones, the city nodes, and the closed pit lane checked for cars in the pits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lfs-sim/manual_clock.h"
#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

struct Car {
    int driver, position, node, speed = 0;  // driver: 1-based number in the test; speed raw
};

class CarPositions : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
    }
    // n drivers in a running race.
    void drivers(int n, DriverStatus status = DS_ON_TRACK) {
        for (int k = 1; k <= n; ++k) {
            plids.push_back(driver(k, ("user" + std::to_string(k)).c_str(), ("D" + std::to_string(k)).c_str()));
            at(k).race.driverStatus = status;
        }
        c.session.raceState = RS_RACE;
        c.session.startPhase = SP_NONE;
    }
    data::cl_LfsPlayer& at(int k) { return c.entry(indexOfPlayer(plids.at(static_cast<std::size_t>(k - 1)))); }
    int driverOf(int plid) const {
        for (std::size_t k = 0; k < plids.size(); ++k)
            if (plids[k] == plid) return static_cast<int>(k) + 1;
        return 0;
    }
    void report(const std::vector<Car>& cars) {
        IS_MCI m;
        m.NumC = static_cast<std::uint8_t>(cars.size());
        for (std::size_t i = 0; i < cars.size(); ++i) {
            m.Info[i].PLID = static_cast<std::uint8_t>(plids.at(static_cast<std::size_t>(cars[i].driver - 1)));
            m.Info[i].Position = static_cast<std::uint8_t>(cars[i].position);
            m.Info[i].Node = static_cast<std::uint16_t>(cars[i].node);
            m.Info[i].Speed = static_cast<std::uint16_t>(cars[i].speed);
        }
        send(encode(m));
    }
    std::vector<int> order(const PositionsState::Order& o) const {
        std::vector<int> drivers;
        for (int slot = 1; slot < kOrderSlots && o[static_cast<std::size_t>(slot)] > 0; ++slot)
            drivers.push_back(driverOf(o[static_cast<std::size_t>(slot)]));
        return drivers;
    }
    std::vector<int> plids;
};

template <typename Case>
class With : public CarPositions, public ::testing::WithParamInterface<Case> {};
template <typename Case>
std::string nameOf(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

struct OrderCase {
    const char* name;
    bool thirdInGarage;
    std::vector<std::vector<Car>> packets;  // one update
    std::vector<int> ticked;                // new positions after each packet
    std::vector<int> raceOrder, trackOrder;
    std::vector<std::vector<int>> neighbours;  // in race order: race ahead, behind, track ahead, behind
};
using Orders = With<OrderCase>;

TEST_P(Orders, TickWaitsForTheWholeUpdateThenOrdersRaceAndTrack) {
    const OrderCase& tc = GetParam();
    drivers(3);
    if (tc.thirdInGarage) {
        ASSERT_TRUE(simulator->toPits(plids[2]).ok);
        barrier();
    }
    for (std::size_t i = 0; i < tc.packets.size(); ++i) {
        c.positions.newPositions = 0;
        report(tc.packets[i]);
        EXPECT_EQ(c.positions.newPositions, tc.ticked[i]) << "packet " << i;
    }
    EXPECT_EQ(order(c.positions.raceOrder), tc.raceOrder);
    EXPECT_EQ(order(c.positions.trackOrder), tc.trackOrder);
    for (std::size_t i = 0; i < tc.neighbours.size(); ++i) {
        const DriverPosition& p = at(tc.raceOrder[i]).position;
        EXPECT_EQ((std::vector<int>{driverOf(p.raceAhead), driverOf(p.raceBehind), driverOf(p.trackAhead),
                                    driverOf(p.trackBehind)}), tc.neighbours[i]) << "driver " << tc.raceOrder[i];
    }
    for (std::size_t r = 0; r < tc.trackOrder.size(); ++r) EXPECT_EQ(at(tc.trackOrder[r]).position.trackRank, r + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Updates, Orders,
    ::testing::Values(
        // Driver 3 is a lapped car standing ahead of the leader: he comes last on track.
        OrderCase{"SplitOverTwoPackets", false, {{{1, 1, 100}, {2, 2, 90}}, {{3, 3, 300}}}, {0, 1}, {1, 2, 3}, {1, 2, 3},
                  {{3, 2, 3, 2}, {1, 3, 1, 3}, {2, 1, 2, 1}}},
        OrderCase{"RotatedToTheLeader", false, {{{1, 2, 50}, {2, 1, 40}, {3, 3, 300}}}, {1}, {2, 1, 3}, {2, 3, 1},
                  {{3, 1, 1, 3}, {2, 3, 3, 2}, {1, 2, 2, 1}}},
        OrderCase{"OneCarMissing", false, {{{1, 1, 10}, {2, 2, 5}}}, {0}, {}, {}, {}},
        OrderCase{"GarageCountsAsReportedAndGapsClose", true, {{{1, 4, 10}, {2, 2, 5}}}, {1}, {2, 1}, {2, 1},
                  {{1, 1, 1, 1}, {2, 2, 2, 2}}},
        OrderCase{"LoneCarIsItsOwnNeighbour", true, {{{1, 1, 10}, {2, 0, 5}}}, {1}, {1}, {1}, {{1, 1, 1, 1}}}),
    nameOf<OrderCase>);

struct ReportCase {
    const char* name;
    int raceLaps, lapsDone, position, startPhase;
    bool lastLap;
    int speedBefore;  // raw, of the report before
    bool ai, sessionStartBetween;
    int monitorAfter;
};
using Reports = With<ReportCase>;

TEST_P(Reports, AnnounceTheLastLapOnceAndSwitchTheMonitorOffWhenTheCarMoved) {
    const ReportCase& tc = GetParam();
    drivers(1);
    at(1).ai = tc.ai;
    report({{1, 2, 5, tc.speedBefore}});
    if (tc.sessionStartBetween) c.ResetCarReports(indexOfPlayer(plids[0]));
    at(1).display.monitorState = 1;
    c.session.startPhase = tc.startPhase;
    c.server.lastState.RaceLaps = static_cast<std::uint8_t>(tc.raceLaps);
    at(1).race.lastLapsDone = static_cast<std::uint16_t>(tc.lapsDone);  // what the lap report leaves
    at(1).position.lapStartPosition = 0;
    report({{1, tc.position, 10}});
    EXPECT_EQ(systemText(1, 0), tc.lastLap ? line("tmxm", 43) : "");
    EXPECT_EQ(at(1).position.lapStartPosition, tc.position);
    EXPECT_EQ(at(1).display.monitorState, tc.monitorAfter);
    link.Delete(1, 140);  // once per race: the next lap start shows nothing
    barrier();             // the answer to the screen check's ping
    c.session.startPhase = tc.startPhase;
    at(1).position.lapStartPosition = 0;
    report({{1, tc.position, 20}});
    EXPECT_EQ(systemText(1, 0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cars, Reports,
    ::testing::Values(ReportCase{"LeaderStartsTheLastLap", 3, 2, 1, SP_NONE, true, 51, false, false, 0},
                      ReportCase{"TwoLapsToGoAndRaw50", 3, 1, 1, SP_NONE, false, 50, false, false, 1},
                      ReportCase{"NotTheLeader", 3, 2, 2, SP_NONE, false, 0, false, false, 1},
                      ReportCase{"StartProcedureRunningAndAnAi", 3, 2, 1, SP_ROLLING_LAST, false, 5000, true, false, 1},
                      ReportCase{"LapsInTensAndASessionStart", 100, 99, 1, SP_NONE, false, 5000, false, true, 1}),
    nameOf<ReportCase>);

struct ZoneCase {
    const char* name;
    DriverStatus status;
    int node, odds;
    std::uint8_t before, after;
};
using PitBoardZones = With<ZoneCase>;

TEST_P(PitBoardZones, DrawOrSkipBeforeTheLineAndClearAfterIt) {
    const ZoneCase& tc = GetParam();  // finish node 200 of 400: zones 180-190 and 220-230
    drivers(1, tc.status);
    c.session.finishNode = 200;
    c.session.nodeCount = 400;
    c.config.pitbrnd = tc.odds;
    c.random.script({1});  // draws 2 of 1..3: no board
    at(1).position.pitBoard = tc.before;
    report({{1, 1, tc.node}});
    EXPECT_EQ(at(1).position.pitBoard, tc.after);
}

INSTANTIATE_TEST_SUITE_P(Nodes, PitBoardZones,
                         ::testing::Values(ZoneCase{"DrawSaysNo", DS_RACING, 185, 3, PB_NOT_SHOWN, PB_SKIPPED},
                                           ZoneCase{"OddsZero", DS_RACING, 180, 0, PB_NOT_SHOWN, PB_SKIPPED},
                                           ZoneCase{"FirstLap", DS_ON_TRACK, 185, 3, PB_NOT_SHOWN, PB_NOT_SHOWN},
                                           ZoneCase{"AfterTheLine", DS_RACING, 230, 3, PB_SKIPPED, PB_NOT_SHOWN},
                                           ZoneCase{"BetweenZones", DS_RACING, 200, 3, PB_SKIPPED, PB_SKIPPED}),
                         nameOf<ZoneCase>);

struct CityCase {
    const char* name;
    DriverStatus status;
    int from, to, speed, backwards, crossings, changes;
};
using CityNodes = With<CityCase>;

TEST_P(CityNodes, CountDirectionAndCrossings) {
    const CityCase& tc = GetParam();
    drivers(1, tc.status);
    c.session.raceState = RS_CITY;
    DriverPosition& p = at(1).position;
    p.currentNode = tc.from;
    report({{1, 1, tc.to, tc.speed}});
    EXPECT_EQ((std::vector<int>{p.speedKmh, p.lastNode, p.currentNode, p.backwards, p.crossings, p.nodeChanges}),
              (std::vector<int>{static_cast<int>(tc.speed * 0.0109), tc.changes ? tc.from : tc.to, tc.to, tc.backwards,
                                tc.crossings, tc.changes}));
}

INSTANTIATE_TEST_SUITE_P(Moves, CityNodes,
                         ::testing::Values(CityCase{"Forwards", DS_ON_TRACK, 100, 102, 3000, 0, 0, 1},
                                           CityCase{"Backwards", DS_ON_TRACK, 100, 98, 3000, 1, 0, 1},
                                           CityCase{"ForwardsOverTheLine", DS_ON_TRACK, 398, 1, 3000, 0, 1, 1},
                                           CityCase{"BackwardsOverTheLineWraps", DS_ON_TRACK, 1, 398, 3000, 1, 1, 1},
                                           CityCase{"StandingInThePits", DS_PITS, 100, 50, 100, 0, 0, 0}),
                         nameOf<CityCase>);

TEST_F(CarPositions, PositionFreezeLastsFiveTicks) {
    drivers(1);
    c.StartPositionFreeze();
    std::vector<int> seen;
    for (int tick = 0; tick < 6; ++tick) {
        report({{1, 1, 10 + tick}});
        seen.push_back(c.positions.positionFreeze);
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 3, 4, 5, 0, 0}));
}

TEST_F(CarPositions, CarsInThePitsAreCheckedForLeavingAClosedPitLane) {
    // Drivers 2 and 3 are in the pits, without a race position: 2 drives off
    // at 10 km/h, 3 stands at 1 km/h.
    drivers(3);
    at(2).race.driverStatus = at(3).race.driverStatus = DS_PITS;
    c.session.pitLaneClosed = true;
    report({{1, 1, 100, 8000}, {2, 2, 190, 1000}, {3, 3, 191, 150}});
    EXPECT_EQ(order(c.positions.raceOrder), (std::vector<int>{1}));
    EXPECT_THAT(teamText(2, 1), ::testing::HasSubstr(line("team", 5)));
    EXPECT_EQ(teamText(3, 1), "");
}

// The same on the wire with the driving model: a practice car that drives
// out of its box while the pit lane is closed is sent to spectate.
class CarPositionsDriving : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startSimOnManualClock();
        startRunning();
    }
};

TEST_F(CarPositionsDriving, PracticeCarLeavingAClosedPitLaneIsSentToSpectate) {
    const int alice = driver(1, "alice", "Alice");
    startSession(sim::SessionKind::Practice);
    c.session.pitLaneClosed = true;
    c.entry(indexOfPlayer(alice)).race.driverStatus = DS_PITS;
    markChat();
    ASSERT_TRUE(simulator->drive(alice, 60).ok);
    for (int update = 0; update < 40 && hostCommands().empty(); ++update) {
        simulator->advance(250);
        barrier();
    }
    EXPECT_EQ(hostCommands(), (std::vector<std::string>{"/spec Alice"}));
    barrier();
    EXPECT_EQ(indexOfPlayer(alice), -1);  // the server took him off the track
}

}  // namespace
}  // namespace tmx::testing
