// Race starts on a 400-node track whose finish line is node 30. The car
// reports are made by hand, so every rolling-start rule sees exactly the
// speeds, places and nodes a test gives; the controller's clock moves only
// when a test moves it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "race/node_math.h"
#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr int kNodes = 400, kFinish = 30;

struct Car {
    int driver, position, node, kmh;
};

class RaceStart : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        c.config.starttype = ST_ROLLING;
    }

    // Drivers D1..Dn (connection k, user "userk") line up in this order and
    // a race starts; a further call starts the race again.
    void grid(int n) {
        for (int k = static_cast<int>(plids.size()) + 1; k <= n; ++k)
            plids.push_back(driver(k, ("user" + std::to_string(k)).c_str(), ("D" + std::to_string(k)).c_str()));
        markChat();
        sim::SessionSpec s;
        s.kind = sim::SessionKind::Race;
        s.laps = 5;
        s.numNodes = kNodes;
        s.finish = kFinish;
        ASSERT_TRUE(simulator->startSession(s).ok);
        barrier();
    }
    int plid(int k) const { return plids.at(static_cast<std::size_t>(k - 1)); }
    data::cl_LfsPlayer& at(int k) { return c.entry(indexOfPlayer(plid(k))); }

    // The first n drivers in grid order, two nodes apart, the leader at node.
    static std::vector<Car> field(int n, int node, int kmh) {
        std::vector<Car> cars;
        for (int k = 1; k <= n; ++k) cars.push_back({k, k, wrapNode(node - 2 * (k - 1), kNodes), kmh});
        return cars;
    }
    void update(const std::vector<Car>& cars) {
        std::vector<CarReport> reports;
        for (const Car& car : cars) reports.push_back({plid(car.driver), car.position, car.node, car.kmh});
        reportCars(reports);
    }
    // The field leaves the grid: the grid order is asked for, comes and is
    // taken; then the field drives at pace, the leader at node 40.
    void moveOff(int n) {
        leaveGrid(n);
        update(field(n, 40, 95));
    }
    void leaveGrid(int n) {
        update(field(n, kFinish - 2, 20));
        flushToSim();  // the request is answered
        barrier();
        ASSERT_EQ(c.start.gridOrderRequest, GR_TAKEN);
    }
    // The leader of an n-car field drives across node.
    void leaderCrosses(int n, int node) {
        update(field(n, wrapNode(node - 2, kNodes), 95));
        update(field(n, wrapNode(node + 2, kNodes), 95));
    }
    // The same cars reported once a second for seconds.
    void hold(const std::vector<Car>& cars, int seconds) {
        for (int s = 0; s < seconds; ++s) {
            clock.advanceSeconds(1);
            update(cars);
        }
    }
    std::string pace(int k) { return buttonText(k, 139); }
    std::vector<int> startOrder() const {
        std::vector<int> drivers;
        for (int slot = 1; slot <= kGridSlots && c.start.at(slot) > 0; ++slot)
            for (std::size_t k = 0; k < plids.size(); ++k)
                if (plids[k] == c.start.at(slot)) drivers.push_back(static_cast<int>(k) + 1);
        return drivers;
    }
    // Sent to spectate since the last chat mark.
    bool spectated(int k) {
        const std::vector<std::string> commands = hostCommands();
        return std::find(commands.begin(), commands.end(), "/spec D" + std::to_string(k)) != commands.end();
    }

    std::vector<int> plids;
};

TEST(NodeMath, DistancesAcrossTheWrapOfTheNodeNumbers) {
    const struct {
        int a, b, forward, ahead, behind, following;  // a: own node, b: the other car's
    } cases[] = {
        // The car ahead/behind counts past the wrap only when its node is
        // lower/higher than ours; the following gap takes the short way.
        {10, 14, 4, 4, 396, 4},      {14, 10, 396, 396, 4, -4},
        {398, 2, 4, 4, 396, 4},      {2, 398, 396, 396, 4, -4},  // across the wrap
        {10, 11, 1, 1, 399, 0},      {10, 8, 398, 398, 2, 0},    // within two: level
        {10, 0, 390, -10, 10, -10},  // node 0 is never taken as past the wrap
    };
    for (const auto& k : cases) {
        EXPECT_EQ(forwardNodes(k.a, k.b, kNodes), k.forward) << k.a << "->" << k.b;
        EXPECT_EQ(gapToCarAhead(k.b, k.a, kNodes), k.ahead) << k.a << "->" << k.b;
        EXPECT_EQ(gapToCarBehind(k.a, k.b, kNodes), k.behind) << k.a << "->" << k.b;
        EXPECT_EQ(followingGap(k.b, k.a, kNodes), k.following) << k.a << "->" << k.b;
    }
    EXPECT_EQ(wrapNode(kFinish - 50, kNodes), 380);
    EXPECT_EQ(wrapNode(395 + 25, kNodes), 20);
}

TEST_F(RaceStart, TheStartTypeTheDrawAndTheNextStartChooseTheKind) {
    const struct {
        int startType, nextStart, draw;  // draw: the scripted random value
        int phase;
        bool drawn;
    } cases[] = {
        {ST_GRAND_PRIX, ST_NONE, 0, SP_NONE, false},
        {ST_ROLLING, ST_NONE, 0, SP_ROLLING_FIRST, false},
        {ST_RANDOM, ST_NONE, 8, SP_NONE, true},           // 1 + 8 = 9: below 10, grand prix
        {ST_RANDOM, ST_NONE, 9, SP_ROLLING_FIRST, true},  // 10: rolling
        {ST_RANDOM, ST_ROLLING, 0, SP_ROLLING_FIRST, false},
        {ST_ROLLING, ST_GRAND_PRIX, 9, SP_NONE, false},
    };
    for (const auto& k : cases) {
        c.config.starttype = k.startType;
        c.start.nextStart = k.nextStart;
        c.random.script({static_cast<std::uint32_t>(k.draw), 77});
        grid(2);
        EXPECT_EQ(c.session.startPhase, k.phase) << k.startType << "/" << k.nextStart;
        EXPECT_EQ(c.start.nextStart, ST_NONE);  // an override lasts one start
        EXPECT_EQ(c.random.between(0, 99), k.drawn ? 77 : k.draw) << k.startType << "/" << k.nextStart;
        c.random.between(0, 99);
    }
}

TEST_F(RaceStart, AGrandPrixStartIsAnnouncedWithTheGridPlaces) {
    c.config.starttype = ST_GRAND_PRIX;
    grid(3);
    EXPECT_EQ(c.session.startPhase, SP_NONE);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(shows(systemText(k, 2), "tmxm", 27));
        EXPECT_TRUE(shows(teamText(k, 2), "team", k == 1 ? 32 : 33)) << k;
        EXPECT_EQ(pace(k), "");
        EXPECT_EQ(at(k).conduct.state, CS_GRID);
    }
}

TEST_F(RaceStart, ARollingStartRunsItsStagesAndPenalisesPlacesGainedAtTheLine) {
    grid(4);
    EXPECT_EQ(c.session.startPhase, SP_ROLLING_FIRST);
    EXPECT_TRUE(shows(systemText(1, 3), "tmxm", 28));
    EXPECT_TRUE(shows(systemText(1, 4), "tmxm", 29, "100"));
    EXPECT_TRUE(shows(teamText(1, 2), "team", 46));
    EXPECT_TRUE(shows(teamText(3, 2), "team", 47));
    EXPECT_EQ(pace(1), line("pace", 6, "100"));
    EXPECT_EQ(pace(3), line("pace", 9, "3"));

    leaveGrid(4);
    EXPECT_EQ(received(ISP_TINY, TINY_REO), 1u);
    EXPECT_EQ(pace(1), line("pace", 7, "100"));  // the leader gets up to pace
    update(field(4, 40, 95));
    EXPECT_EQ(pace(1), line("pace", 6, "100"));
    EXPECT_EQ(pace(3), line("pace", 0, "D2"));

    leaderCrosses(4, kFinish + 25);
    EXPECT_EQ(c.session.startPhase, SP_HOLD_SPEED);
    leaderCrosses(4, kFinish - 50);
    EXPECT_EQ(c.session.startPhase, SP_SPEED_UP);
    EXPECT_TRUE(shows(systemText(2, 8), "tmxm", 30));
    EXPECT_TRUE(shows(teamText(1, 2), "team", 48));
    EXPECT_TRUE(shows(teamText(2, 2), "team", 49));

    // D3 passes D2 before the line.
    update({{1, 1, 28, 95}, {3, 2, 26, 95}, {2, 3, 24, 95}, {4, 4, 22, 95}});
    EXPECT_EQ(pace(3), line("pace", 3, "D2"));
    EXPECT_EQ(pace(2), line("pace", 1, "D3"));
    update({{1, 1, 32, 95}, {3, 2, 30, 95}, {2, 3, 28, 95}, {4, 4, 26, 95}});
    EXPECT_EQ(c.session.startPhase, SP_ROLLING_LAST);
    EXPECT_TRUE(shows(systemText(4, 8), "tmxm", 31));
    EXPECT_TRUE(shows(teamText(1, 2), "team", 50));
    EXPECT_TRUE(shows(teamText(4, 2), "team", 51));

    c.random.script({0, 10});  // the penalty's first delay, then its new one
    for (int k : {3, 2, 4}) send(lapPacket(plid(k), 1));
    update({{1, 1, 40, 95}, {3, 2, 36, 95}, {2, 3, 34, 95}, {4, 4, 32, 95}});
    EXPECT_EQ(c.session.startPhase, SP_NONE);
    EXPECT_TRUE(shows(orgaText(2, 1), "orga", 12));
    EXPECT_TRUE(shows(teamText(2, 2), "team", 52));
    EXPECT_EQ(at(3).pit.pendingPenalty, PK_FORMATION_PLACES);
    EXPECT_EQ(at(3).pit.penaltyDue, clock.now() + 25);
    for (int k : {1, 2, 4}) EXPECT_EQ(at(k).pit.pendingPenalty, PK_NONE) << k;
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(at(k).rolling.state, RL_NONE);
        EXPECT_EQ(pace(k), "    ");
    }
}

TEST_F(RaceStart, ALeaderTooFastIsWarnedThenPenalisedThenSpectated) {
    grid(3);
    moveOff(3);
    markChat();
    update(field(3, 44, 120));
    EXPECT_TRUE(shows(teamText(1, 1), "team", 53));
    EXPECT_EQ(pace(1), line("pace", 7, "100"));
    EXPECT_EQ(at(1).pit.pendingPenalty, PK_NONE);
    update(field(3, 46, 95));
    EXPECT_EQ(pace(1), line("pace", 6, "100"));

    update(field(3, 48, 120));
    EXPECT_TRUE(shows(teamText(1, 1), "team", 54));
    EXPECT_EQ(at(1).pit.pendingPenalty, PK_PACE_LEADER);
    EXPECT_THAT(privateTo(1), ElementsAre(line("tmxm", 20), line("tmxm", 26)));
    update(field(3, 50, 95));
    EXPECT_FALSE(spectated(1));

    markChat();
    update(field(3, 52, 120));
    EXPECT_TRUE(spectated(1));
    EXPECT_TRUE(shows(systemText(2, 0), "tmxm", 23, "D1"));
    EXPECT_THAT(privateTo(1), ElementsAre(" ", line("tmxm", 33), line("tmxm", 35), line("tmxm", 36)));
}

TEST_F(RaceStart, TooManyCarsOutOfOrderAbortTheStartAndTheRaceIsRestarted) {
    grid(9);
    moveOff(9);
    // Four pairs swapped behind the leader: each front car must let the
    // other pass.
    std::vector<Car> swapped = field(9, 60, 95);
    for (int k = 2; k <= 8; k += 2) std::swap(swapped[static_cast<std::size_t>(k - 1)].driver, swapped[static_cast<std::size_t>(k)].driver);
    c.config.maxerror = 5;
    update(swapped);
    EXPECT_EQ(c.start.orderErrors, 4);
    EXPECT_EQ(c.session.startPhase, SP_ROLLING_FIRST);

    c.config.maxerror = 4;
    update(swapped);
    EXPECT_EQ(c.session.startPhase, SP_RESTART_PENDING);
    EXPECT_TRUE(shows(systemText(5, 4), "tmxm", 34));
    EXPECT_TRUE(shows(systemText(5, 6), "tmxm", 36));

    c.config.starttype = ST_GRAND_PRIX;  // the restarted race starts rolling all the same
    markChat();
    clock.advanceSeconds(19);
    barrier();
    EXPECT_THAT(hostCommands(), Not(Contains("/restart")));
    clock.advanceSeconds(1);
    barrier();
    flushToSim();  // LFS has restarted the race
    barrier();
    // Sent once: a second one would restart the restarted race.
    EXPECT_THAT(hostCommands(), ElementsAre("/restart"));
    EXPECT_EQ(c.session.startPhase, SP_ROLLING_FIRST);
}

// An instruction obeyed well enough never leads to a spectate; one ignored
// is warned and then spectated.
struct TimerCase {
    const char* name;
    bool overtake;  // else close up
    int kmh;
    bool punished;
};

class InstructionTimers : public RaceStart, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(InstructionTimers, WarnThenSpectateOnlyWhenIgnored) {
    const TimerCase& k = GetParam();
    grid(3);
    moveOff(3);
    // Overtake: D3 has got ahead of D2 and lets it by at walking pace.
    // Close up: D2 is 12 nodes behind D1.
    const std::vector<Car> cars = k.overtake
                                      ? std::vector<Car>{{1, 1, 60, 95}, {3, 2, 58, 45}, {2, 3, 56, k.kmh}}
                                      : std::vector<Car>{{1, 1, 60, 95}, {2, 2, 48, k.kmh}, {3, 3, 46, k.kmh}};
    update(cars);
    EXPECT_EQ(pace(2), k.overtake ? line("pace", 1, "D3") : line("pace", 4, "D1"));
    markChat();
    hold(cars, 5);
    EXPECT_EQ(shows(orgaText(2, 3), "orga", 15), k.punished);
    hold(cars, 10);
    EXPECT_EQ(spectated(2), k.punished);
    EXPECT_EQ(shows(systemText(1, 0), "tmxm", 24, "D2"), k.punished);
}

INSTANTIATE_TEST_SUITE_P(RaceStart, InstructionTimers,
                         ::testing::Values(TimerCase{"OvertakeKeepingHalfThePace", true, 50, false},
                                           TimerCase{"OvertakeTooSlow", true, 40, true},
                                           TimerCase{"CloseUpFasterThanThePace", false, 105, false},
                                           TimerCase{"CloseUpAtThePace", false, 95, true}),
                         [](const ::testing::TestParamInfo<TimerCase>& info) { return info.param.name; });

TEST_F(RaceStart, ASlowCarDropsBehindTheCarFollowingItOrIsWarnedWhenLast) {
    grid(3);
    moveOff(3);
    const std::vector<Car> slow{{1, 1, 60, 95}, {2, 2, 54, 30}, {3, 3, 52, 30}};
    update(slow);
    EXPECT_EQ(pace(2), line("pace", 5));
    clock.advanceSeconds(4);
    update(slow);
    EXPECT_THAT(startOrder(), ElementsAre(1, 3, 2));
    EXPECT_TRUE(shows(teamText(2, 2), "team", 58));
    EXPECT_TRUE(shows(teamText(3, 2), "team", 57, "D2"));
    EXPECT_TRUE(shows(systemText(2, 2), "tmxm", 25, "D3"));
    EXPECT_EQ(pace(3), "    ");

    // Now last, D2 stays slow: warned, then spectated.
    const std::vector<Car> passed{{1, 1, 62, 95}, {3, 2, 56, 95}, {2, 3, 54, 30}};
    update(passed);
    markChat();
    hold(passed, 4);
    EXPECT_TRUE(shows(orgaText(2, 3), "orga", 14));
    EXPECT_FALSE(spectated(2));
    hold(passed, 10);
    EXPECT_TRUE(spectated(2));
}

TEST_F(RaceStart, ALeaderWhoNeverMovesIsSpectatedOnlyOnAMultiplayerServer) {
    grid(3);
    const std::uint16_t flags = simulator->snapshot().model.stateFlags();
    ASSERT_TRUE(simulator->setStateFlags(static_cast<std::uint16_t>(flags & ~ISS_MULTI)).ok);
    markChat();
    clock.advanceSeconds(21);
    update(field(3, kFinish - 2, 0));
    EXPECT_FALSE(spectated(1));

    ASSERT_TRUE(simulator->setStateFlags(static_cast<std::uint16_t>(flags | ISS_MULTI)).ok);
    update(field(3, kFinish - 2, 0));
    EXPECT_TRUE(spectated(1));
    EXPECT_TRUE(shows(systemText(3, 0), "tmxm", 22, "D1"));
    barrier();  // the leader has left the track
    EXPECT_TRUE(shows(orgaText(3, 1), "orga", 13, "D2"));
    EXPECT_TRUE(shows(teamText(2, 2), "team", 46));
    EXPECT_EQ(pace(2), line("pace", 6, "100"));
    EXPECT_THAT(startOrder(), ElementsAre(2, 3));
}

TEST_F(RaceStart, ACarOutOfThePitsJoinsTheFieldUntilTheLeaderHasTakenTheLine) {
    grid(2);
    moveOff(2);
    plids.push_back(driver(3, "user3", "D3"));
    send(pitLanePacket(plid(3), PITLANE_EXIT));
    update({{1, 1, 44, 95}, {2, 2, 42, 95}, {3, 3, 40, 95}});
    EXPECT_THAT(startOrder(), ElementsAre(1, 2, 3));
    EXPECT_TRUE(shows(teamText(3, 2), "team", 47));
    EXPECT_EQ(pace(3), line("pace", 0, "D2"));

    leaderCrosses(3, kFinish + 25);
    leaderCrosses(3, kFinish - 50);
    leaderCrosses(3, kFinish);
    ASSERT_EQ(c.session.startPhase, SP_ROLLING_LAST);
    plids.push_back(driver(4, "user4", "D4"));
    send(pitLanePacket(plid(4), PITLANE_EXIT));
    markChat();
    update({{1, 1, 34, 95}, {2, 2, 32, 95}, {3, 3, 30, 95}, {4, 4, 20, 60}});
    EXPECT_THAT(hostCommands(), Contains("/pitlane user4"));
    EXPECT_TRUE(shows(orgaText(4, 2), "orga", 16));
    EXPECT_EQ(at(4).race.driverStatus, DS_PITS);
    EXPECT_THAT(startOrder(), ElementsAre(1, 2, 3));
}

TEST_F(RaceStart, AnAdminWatchingADriverSeesHisPaceInstruction) {
    grid(2);
    joinGuest(9, "boss", "Boss");
    barrier();
    const int boss = c.FindIndex(9, -1);
    at(2).display.watchedBy = static_cast<std::uint8_t>(boss);
    c.entry(boss).display.watchTarget = static_cast<std::uint8_t>(indexOfPlayer(plid(2)));
    c.SetPace(plid(2), PM_CLOSE_UP, plid(1));
    EXPECT_EQ(pace(2), line("pace", 4, "D1"));
    EXPECT_EQ(buttonText(9, 139), line("pace", 4, "D1"));
    // A target that is not in the table changes nothing.
    c.SetPace(plid(2), PM_OVERTAKE, 200);
    EXPECT_EQ(pace(2), line("pace", 4, "D1"));
    EXPECT_EQ(at(2).rolling.pace.closeUp, PF_GIVEN);
}

}  // namespace
}  // namespace tmx::testing
