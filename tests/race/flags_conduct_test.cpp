// Yellow and blue flags, the safety-car call and the conduct checks, in a
// race under way on a 400-node track whose finish line is node 30. Flags and
// car reports are made by hand; the controller's clock moves only when a
// test moves it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using ::testing::Contains;
using ::testing::Not;

constexpr int kFinish = 30;
constexpr const char* kSafetyCarCall = "^7TMX: Safetycar should come. But the engine is blown!";

class FlagsAndConduct : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        c.config.starttype = ST_GRAND_PRIX;
    }
    // Drivers D1..Dn (connection k) in a race that is under way.
    void race(int n) {
        for (int k = 1; k <= n; ++k)
            plids.push_back(driver(k, ("user" + std::to_string(k)).c_str(), ("D" + std::to_string(k)).c_str()));
        sim::SessionSpec s;
        s.kind = sim::SessionKind::Race;
        s.laps = 5;
        s.numNodes = 400;
        s.finish = kFinish;
        ASSERT_TRUE(simulator->startSession(s).ok);
        barrier();
        ASSERT_EQ(c.session.startPhase, SP_NONE);
        markChat();
    }
    int plid(int k) const { return plids.at(static_cast<std::size_t>(k - 1)); }
    data::cl_LfsPlayer& at(int k) { return c.entry(indexOfPlayer(plid(k))); }
    void flag(int k, std::uint8_t which, bool on, int behind = 0) {
        IS_FLG f;
        f.PLID = static_cast<std::uint8_t>(plid(k));
        f.Flag = which;
        f.OffOn = on ? 1 : 0;
        f.CarBehind = static_cast<std::uint8_t>(behind);
        send(encode(f));
    }
    void wait(int seconds) {
        clock.advanceSeconds(seconds);
        barrier();
    }
    // D1 alone at node, raw speed.
    void report(int node, int raw) { reportCars({{plid(1), 1, node, 0, raw}}); }
    // D1 gets going: the grid is released.
    void getGoing() {
        report(kFinish - 4, 5000);
        report(kFinish - 2, 5000);
        ASSERT_EQ(at(1).conduct.state, CS_NORMAL);
    }
    std::vector<std::string> toAll() { return chatSince(sim::ChatLine::Kind::ToAll); }

    std::vector<int> plids;
};

TEST_F(FlagsAndConduct, AYellowCountsOnlyOnceItHasLastedMoreThanASecond) {
    race(1);
    enum Step { kReport, kClear, kWait1, kWait2 };
    const struct {
        const char* name;
        std::vector<Step> steps;
        int points, state, carsInSector;
    } cases[] = {
        {"cleared within its second", {kReport, kWait1, kClear, kWait2}, -1, YS_IDLE, 0},
        {"confirmed, however long", {kReport, kWait2, kWait2, kWait2}, -7, YS_CONFIRMED, 1},
        {"confirmed, cleared, over", {kReport, kWait2, kClear, kWait2}, -7, YS_IDLE, 0},
        {"flagged again while the clear waits", {kReport, kWait2, kClear, kWait1, kReport, kWait2}, -7,
         YS_CONFIRMED, 1},
    };
    for (const auto& k : cases) {
        at(1).flags = DriverFlags{};
        at(1).skill.racePoints = 0;
        for (const Step step : k.steps) {
            if (step == kReport || step == kClear) flag(1, FLG_YELLOW, step == kReport);
            if (step == kWait1 || step == kWait2) wait(step == kWait1 ? 1 : 2);
        }
        EXPECT_EQ(at(1).skill.racePoints, k.points) << k.name;
        EXPECT_EQ(at(1).flags.yellowState, k.state) << k.name;
        EXPECT_EQ(c.flagState.yellowCars[0], k.carsInSector) << k.name;
    }
}

TEST_F(FlagsAndConduct, ABlueFlagIsReportedOncePerPairUntilItIsCleared) {
    race(2);
    const int behind = indexOfPlayer(plid(2));
    flag(1, FLG_BLUE, true, plid(2));
    wait(2);
    EXPECT_EQ(at(1).flags.blueFlagCar, behind + kBlueReported);
    flag(1, FLG_BLUE, true, plid(2));
    wait(2);
    EXPECT_EQ(at(1).flags.blueFlagCar, behind + kBlueReported);
    flag(1, FLG_BLUE, false);
    EXPECT_EQ(at(1).flags.blueFlagCar, kNoBlueFlag);
    flag(1, FLG_BLUE, true, plid(2));
    EXPECT_EQ(at(1).flags.blueFlagCar, behind);
}

TEST_F(FlagsAndConduct, TheThirtiethConfirmedYellowInASectorCallsTheSafetyCar) {
    race(30);
    for (int k = 1; k <= 29; ++k) flag(k, FLG_YELLOW, true);
    wait(2);
    EXPECT_EQ(c.flagState.yellowCars[0], 29);
    EXPECT_THAT(toAll(), Not(Contains(kSafetyCarCall)));
    flag(30, FLG_YELLOW, true);
    wait(2);
    EXPECT_THAT(toAll(), Contains(kSafetyCarCall));
    EXPECT_EQ(systemText(5, 0), "uhhh. Houston we have a problem");
    EXPECT_EQ(systemText(5, 1), "The safetycar should come. But the engine is blown.");
}

TEST_F(FlagsAndConduct, AStoppedCarIsWarnedThenSentToThePits) {
    race(1);
    getGoing();
    report(50, 184);  // exactly the limit: not stopped
    EXPECT_EQ(at(1).conduct.state, CS_NORMAL);
    report(50, 183);
    EXPECT_EQ(at(1).conduct.state, CS_STOPPED);
    report(50, 184);  // nor released
    EXPECT_EQ(at(1).conduct.state, CS_STOPPED);

    // With the defaults: warned after 16 s, sent to the pits 16 s later.
    for (int s = 1; s <= 15; ++s) wait(1), report(50, 0);
    EXPECT_FALSE(shows(teamText(1, 0), "team", 63));
    wait(1), report(50, 0);
    EXPECT_TRUE(shows(teamText(1, 0), "team", 63));
    for (int s = 1; s <= 15; ++s) wait(1), report(50, 0);
    EXPECT_THAT(hostCommands(), Not(Contains("/pitlane D1")));
    wait(1), report(50, 0);
    EXPECT_THAT(hostCommands(), Contains("/pitlane D1"));
    EXPECT_TRUE(shows(orgaText(1, 1), "orga", 17));
    EXPECT_EQ(at(1).race.driverStatus, DS_PITS);
}

TEST_F(FlagsAndConduct, WrongWayIsSeenPastTheFinishNodeAndTimedOnlyWhileMoving) {
    race(1);
    getGoing();
    const int fast = 5000, creeping = 250;
    for (const int node : {kFinish + 1, kFinish, kFinish - 1}) {
        report(node, fast);
        EXPECT_EQ(at(1).conduct.state, CS_NORMAL) << node;
    }
    report(kFinish - 2, fast);
    EXPECT_EQ(at(1).conduct.state, CS_WRONG_WAY);

    // Creeping backwards: nodes count, the clock does not run.
    for (int node = kFinish - 3; node > kFinish - 9; --node) wait(2), report(node, creeping);
    EXPECT_EQ(at(1).conduct.count, 7);
    EXPECT_FALSE(shows(teamText(1, 0), "team", 64));
    wait(6), report(kFinish - 9, fast);
    EXPECT_TRUE(shows(teamText(1, 0), "team", 64));

    wait(11), report(kFinish - 10, fast);
    EXPECT_THAT(hostCommands(), Contains("/spec D1"));
    EXPECT_THAT(privateTo(1), Contains(line("orga", 18)));
    EXPECT_EQ(at(1).race.driverStatus, DS_SPECTATING);
}

TEST_F(FlagsAndConduct, PlaceChangesAreCommentedOnlyAfterTheFirstLap) {
    race(2);
    const auto positions = [&](int first, int second, int node) {
        reportCars({{plid(first), 1, node + 2, 100}, {plid(second), 2, node, 100}});
    };
    positions(1, 2, 40);
    positions(1, 2, 44);  // moving: the grid is released
    positions(2, 1, 48);
    wait(6), positions(2, 1, 52);
    EXPECT_EQ(teamText(2, 0), "");

    for (int k : {1, 2}) send(lapPacket(plid(k), 1));
    c.random.script({4});  // the losing driver's line: the fifth, team 75
    positions(1, 2, 56);
    EXPECT_EQ(at(1).conduct.state, CS_GAINED);
    wait(6), positions(1, 2, 60);
    EXPECT_TRUE(shows(teamText(1, 0), "team", 65));  // into the lead
    EXPECT_TRUE(shows(teamText(2, 0), "team", 75));
}


// The same rules on cars of the simulator's driving model: what LFS reports
// of a car that stops, spins and drives the wrong way.
class ConductDriving : public FlagsAndConduct {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startSimOnManualClock();
        startRunning();
        c.config.starttype = ST_GRAND_PRIX;
        sim::RaceSpec wanted;
        wanted.laps = 10;
        wanted.cars = 3;
        ASSERT_TRUE(simulator->startRace(wanted).ok);
        barrier();
        for (int k = 1; k <= 3; ++k) plids.push_back(k);
        markChat();
        drive(8);  // the green light and a few seconds of racing
    }
    // Both clocks move on together, one car update at a time.
    void drive(int seconds) {
        for (int update = 0; update < seconds * 4; ++update) {
            simulator->advance(250);
            clock.advanceMs(250);
            barrier();
        }
    }
};

TEST_F(ConductDriving, AStoppedCarFlagsYellowSleepsAndGoesToThePits) {
    ASSERT_TRUE(simulator->stopCar(plid(3)).ok);
    drive(3);
    EXPECT_EQ(at(3).flags.yellowState, YS_CONFIRMED);
    EXPECT_TRUE(shows(teamText(3, 1), "team", 30));
    drive(15);
    EXPECT_TRUE(shows(teamText(3, 0), "team", 63));
    drive(17);
    EXPECT_THAT(hostCommands(), Contains("/pitlane Driver 3"));
}

TEST_F(ConductDriving, SpinningAndWrongWayCarsAreSeen) {
    ASSERT_TRUE(simulator->spinCar(plid(2)).ok);
    drive(2);
    EXPECT_EQ(at(2).conduct.reportedAttitude, AT_SPINNING);
    // Against the traffic at 60 km/h, a node back at almost every update:
    // warned after ten such updates, spectated after twenty.
    ASSERT_TRUE(simulator->wrongWay(plid(1), 60).ok);
    drive(1);
    EXPECT_EQ(at(1).conduct.state, CS_WRONG_WAY);
    EXPECT_FALSE(shows(teamText(1, 0), "team", 64));
    drive(3);
    EXPECT_TRUE(shows(teamText(1, 0), "team", 64));
    EXPECT_THAT(hostCommands(), Not(Contains("/spec Driver 1")));
    drive(3);
    EXPECT_THAT(hostCommands(), Contains("/spec Driver 1"));
}

}  // namespace
}  // namespace tmx::testing
