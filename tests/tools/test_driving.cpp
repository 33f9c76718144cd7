// The simulator's driving model: motion and car reports, laps and splits,
// the pit lane, following the car ahead, host commands acting on driving cars
// (what a rolling start uses), and the race scenarios.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "lfs-sim/manual_clock.h"
#include "lfs-sim/scenario.h"
#include "sim_test_client.h"

namespace tmx::sim {
namespace {

using namespace tmx::insim;
using testing::as;
using testing::kWaitMs;
using testing::SimClient;

using Bytes = std::vector<std::uint8_t>;

constexpr int kNodes = 400;  // the default track: 400 nodes of 5 m, splits at 130 and 260
constexpr double kPi = 3.14159265358979323846;

std::vector<Bytes> toBytes(const Outbox& out) {
    std::vector<Bytes> all;
    for (const auto& p : out) all.emplace_back(p.data(), p.data() + p.size);
    return all;
}

// Every packet of a byte stream.
std::vector<Bytes> splitStream(const Bytes& stream) {
    std::vector<Bytes> all;
    for (std::size_t at = 0; at + 4 <= stream.size() && stream[at] >= 4; at += stream[at])
        all.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                         stream.begin() + static_cast<std::ptrdiff_t>(at + stream[at]));
    return all;
}

// The packets of one player (byte 3 is the PLID of every race event).
std::vector<Bytes> eventsOf(const std::vector<Bytes>& all, int plid) {
    std::vector<Bytes> mine;
    for (const auto& p : all)
        if (p[1] != ISP_MCI && p[1] != ISP_STA && p[3] == plid) mine.push_back(p);
    return mine;
}

// The report of one car in the last IS_MCI set.
std::optional<CompCar> lastReport(const std::vector<Bytes>& all, int plid) {
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        if ((*it)[1] != ISP_MCI) continue;
        const auto mci = as<IS_MCI>(*it);
        for (int i = 0; i < mci.NumC; ++i)
            if (mci.Info[i].PLID == plid) return mci.Info[i];
    }
    return std::nullopt;
}

int wrapRaw(int delta) {  // an angle difference in raw units, in -32768..32767
    return ((delta % 65536) + 65536 + 32768) % 65536 - 32768;
}

PlayerSpec carOf(int ucid) {
    PlayerSpec wanted;
    wanted.ucid = ucid;
    return wanted;
}

std::vector<Bytes> carReports(const std::vector<Bytes>& all) {
    std::vector<Bytes> mci;
    for (const auto& p : all)
        if (p[1] == ISP_MCI) mci.push_back(p);
    return mci;
}

class DrivingModel : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    // A new server whose cars start at once.
    void reset() {
        model = ServerModel();
        DrivingSettings settings;
        settings.startDelayMs = 0;
        model.setDrivingSettings(settings);
        sent.clear();
        now = 0;
    }
    void race(int laps, int cars, double pace = 120) {
        RaceSpec r;
        r.laps = laps;
        r.cars = cars;
        r.paceKmh = pace;
        ASSERT_TRUE(model.startRace(r, out));
        out.clear();
    }
    // Runs ms of updates; returns the packets they sent.
    std::vector<Bytes> run(int ms) {
        now += ms;
        Outbox o;
        model.updateCars(now, o);
        auto packets = toBytes(o);
        sent.insert(sent.end(), packets.begin(), packets.end());
        return packets;
    }

    ServerModel model;
    Outbox out;
    std::vector<Bytes> sent;
    std::int64_t now = 0;
};

// ---- Motion --------------------------------------------------------------------

struct MotionCase {
    const char* name;
    CarMotion motion;
    double kmh;         // expected speed
    int trend;          // the node: +1 forward, -1 backward, 0 stays
    int headingOffDeg;  // Heading - Direction; -1: turning (spin)
    bool crossesFinishBackwards;
};

TEST_F(DrivingModel, MotionShowsInSpeedNodesDirectionHeadingAndYaw) {
    const MotionCase cases[] = {
        {"drive", {Motion::Driving}, 100, +1, 0, false},
        {"stop", {Motion::Stopped}, 0, 0, 0, false},
        {"reverse", {Motion::Reversing, 5}, 5, -1, 180, false},
        {"spin", {Motion::Spinning}, 100, +1, -1, false},
        {"slide", {Motion::Sliding, -1, 90}, 100, +1, 90, false},
        {"wrong way", {Motion::WrongWay}, 100, -1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        race(3, 1, 100);
        run(2000);
        ASSERT_TRUE(model.setCarMotion(1, c.motion));
        const int before = lastReport(sent, 1)->Node;
        bool wrapped = false;
        int previous = before;
        for (int i = 0; i < 32; ++i) {  // 8 s
            const auto r = lastReport(run(250), 1);
            ASSERT_TRUE(r);
            if (std::abs(r->Node - previous) > kNodes / 2) wrapped = true;
            previous = r->Node;
        }
        const int moved = wrapRaw((previous - before) * 65536 / kNodes);
        EXPECT_EQ(moved > 0 ? 1 : moved < 0 ? -1 : 0, c.trend) << before << " -> " << previous;
        EXPECT_EQ(wrapped, c.crossesFinishBackwards);
        for (const auto& p : sent) EXPECT_NE(p[1], ISP_LAP) << "no lap is completed";

        const auto reports = carReports(sent);
        const CompCar a = as<IS_MCI>(reports.end()[-2]).Info[0];
        const CompCar b = as<IS_MCI>(reports.end()[-1]).Info[0];
        EXPECT_NEAR(b.Speed, c.kmh / 3.6 * 327.68, 1.0);
        if (c.headingOffDeg >= 0) {
            EXPECT_NEAR(wrapRaw(b.Heading - b.Direction - c.headingOffDeg * 65536 / 360), 0, 1);
        }
        const double radiusM = std::hypot(b.X, b.Y) / 65536.0;
        if (c.kmh > 0) {
            // The way it went between two reports is its direction of travel.
            const double dx = b.X - a.X, dy = b.Y - a.Y;
            const int travelled = static_cast<int>(std::atan2(-dx, dy) / (2 * kPi) * 65536);
            EXPECT_NEAR(wrapRaw(travelled - b.Direction), 0, 364);  // 2 degrees
        }
        if (c.headingOffDeg < 0) {
            EXPECT_EQ(b.AngVel, 8192) << "180 degrees per second";
            EXPECT_NEAR(wrapRaw((b.Heading - a.Heading) - (b.Direction - a.Direction)), 8192, 2);
        } else {
            const double yaw = c.trend * (b.Speed / 327.68) / radiusM / (2 * kPi) * 16384;
            EXPECT_NEAR(b.AngVel, yaw, 1.0);
        }
    }
}

// ---- Laps, splits and positions ------------------------------------------------

TEST_F(DrivingModel, LapsAndSplitsComeInOrderWithConsistentTimesAndTheRaceFinishes) {
    race(3, 3);  // paces 120, 118, 116
    run(90000);
    for (int plid = 1; plid <= 3; ++plid) EXPECT_EQ(lastReport(sent, plid)->Position, plid);
    run(120000);

    std::vector<int> finishOrder;
    for (int plid = 1; plid <= 3; ++plid) {
        SCOPED_TRACE("car " + std::to_string(plid));
        const double lapMs = kNodes * 5.0 / ((122 - 2 * plid) / 3.6) * 1000;
        std::vector<std::uint8_t> types;
        std::uint32_t lapStartE = 0, lapSum = 0, lastSplit = 0;
        for (const auto& p : eventsOf(sent, plid)) {
            types.push_back(p[1]);
            if (p[1] == ISP_SPX) {
                const auto spx = as<IS_SPX>(p);
                EXPECT_EQ(spx.ETime - spx.STime, lapStartE);
                EXPECT_GT(spx.STime, lastSplit);
                lastSplit = spx.STime;
            } else if (p[1] == ISP_LAP) {
                const auto lap = as<IS_LAP>(p);
                EXPECT_GT(lap.LTime, lastSplit);
                lapSum += lap.LTime;
                EXPECT_EQ(lap.ETime, lapSum);
                if (lap.LapsDone > 1) {
                    EXPECT_NEAR(lap.LTime, lapMs, 1.0);
                }
                lapStartE = lap.ETime;
                lastSplit = 0;
            } else if (p[1] == ISP_FIN) {
                const auto fin = as<IS_FIN>(p);
                EXPECT_EQ(fin.TTime, lapSum);
                EXPECT_EQ(fin.LapsDone, 3);
                finishOrder.push_back(plid);
            } else if (p[1] == ISP_RES) {
                EXPECT_EQ(p.size(), 84u);
                EXPECT_EQ(p[80], finishOrder.size() - 1) << "result number";
            }
        }
        const std::vector<std::uint8_t> lap = {ISP_SPX, ISP_SPX, ISP_LAP};
        std::vector<std::uint8_t> expected;
        for (int i = 0; i < 3; ++i) expected.insert(expected.end(), lap.begin(), lap.end());
        expected.push_back(ISP_FIN);
        expected.push_back(ISP_RES);
        EXPECT_EQ(types, expected);
    }
    EXPECT_EQ(finishOrder, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(model.state(0).NumFinished, 3);
    for (int plid = 1; plid <= 3; ++plid) EXPECT_EQ(lastReport(sent, plid)->Position, plid);
}

TEST_F(DrivingModel, TwentyCarsAreReportedInPacketsOfEightOncePerInterval) {
    race(2, 20);
    const auto first = run(250);
    ASSERT_EQ(first.size(), 3u);
    std::vector<int> counts, positions(21, 0), flags;
    for (const auto& p : first) {
        const auto mci = as<IS_MCI>(p);
        counts.push_back(mci.NumC);
        for (int i = 0; i < mci.NumC; ++i) {
            ++positions.at(mci.Info[i].Position);
            flags.push_back(mci.Info[i].Info & (CCI_FIRST | CCI_LAST));
        }
    }
    EXPECT_EQ(counts, (std::vector<int>{8, 8, 4}));
    std::vector<int> eachOnce(21, 1);
    eachOnce[0] = 0;
    EXPECT_EQ(positions, eachOnce) << "positions 1 to 20, each once";
    EXPECT_EQ(flags.front(), CCI_FIRST);
    EXPECT_EQ(flags.back(), CCI_LAST);
    EXPECT_EQ(std::count(flags.begin(), flags.end(), 0), 18);
    EXPECT_TRUE(run(249).empty()) << "the next update is 250 ms after the last";
    EXPECT_EQ(run(1).size(), 3u);
}

// ---- Pit lane ---------------------------------------------------------------------

struct PitCase {
    const char* name;
    const char* command;  // host command before the visit ("" none)
    int stopMs;           // planned stop; 0 drives through
    std::vector<std::string> visit;
    std::uint32_t standing;  // IS_PSF STime (0: no stop)
};

std::string label(const Bytes& p) {
    switch (p[1]) {
        case ISP_PLA:
            return "PLA" + std::to_string(p[4]);
        case ISP_PEN:
            return "PEN" + std::to_string(p[5]);
        case ISP_LAP:
            return "LAP" + std::to_string(as<IS_LAP>(p).LapsDone);
        case ISP_PIT:
            return "PIT";
        case ISP_PSF:
            return "PSF";
        default:
            return "type " + std::to_string(p[1]);
    }
}

TEST_F(DrivingModel, PitVisitsStopServePenaltiesAndCountLapsInTheLane) {
    const PitCase cases[] = {
        {"stop", "", 8000, {"PLA1", "PIT", "PSF", "LAP2", "PLA0"}, 8000},
        {"drive-through", "/p_dt Driver 1", 0, {"PLA3", "LAP2", "PLA0", "PEN0"}, 0},
        {"stop-go", "/p_sg Driver 1", 0, {"PLA4", "PIT", "PSF", "PEN0", "LAP2", "PLA0"}, 3000},
        {"no purpose", "", 0, {"PLA2", "LAP2", "PLA0"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        race(5, 1);
        if (*c.command) {
            ASSERT_TRUE(model.hostMessage(c.command, out));
        }
        ASSERT_TRUE(model.planPitStop(1, 2, c.stopMs));
        run(150000);
        std::vector<std::string> visit;
        for (const auto& p : eventsOf(sent, 1)) {
            if (p[1] == ISP_PLA && visit.empty()) visit.push_back(label(p));
            else if (!visit.empty() && p[1] != ISP_SPX) visit.push_back(label(p));
            else if (!visit.empty()) break;
            if (p[1] == ISP_PIT) {
                EXPECT_EQ(as<IS_PIT>(p).LapsDone, 1);
                EXPECT_EQ(as<IS_PIT>(p).NumStops, 1);
            }
            if (p[1] == ISP_PSF) {
                EXPECT_EQ(as<IS_PSF>(p).STime, c.standing);
            }
        }
        EXPECT_EQ(visit, c.visit);
        const auto back = lastReport(sent, 1);
        EXPECT_EQ(back->Speed, static_cast<int>(std::round(120 / 3.6 * 327.68))) << "racing again";
    }
}

// ---- Following ----------------------------------------------------------------------

class Following : public DrivingModel {
protected:
    const CarState& car(int plid) { return model.findPlayer(plid)->carState; }
    double gapM(int behind, int ahead) {  // along the track, in metres
        const double nodes = std::fmod(car(ahead).progress - car(behind).progress, kNodes);
        return (nodes < 0 ? nodes + kNodes : nodes) * 5.0;
    }
    double kmh(int plid) { return lastReport(sent, plid)->Speed / 327.68 * 3.6; }
};

struct FollowCase {
    const char* name;
    double leadKmh, followKmh, gapM;
    int holdMs;       // the follower stands this long first
    int leadStopsMs;  // the lead car stops then (0: never; -1: once it crosses the line)
    double topKmh, lowKmh, endKmh;  // the follower's speeds
};

// Car 2 follows car 1 from the grid, 8 m behind it. It never passes and never
// comes closer than its gap (or, when closer, than it was); it ends at its gap.
TEST_F(Following, FollowerClosesUpToItsGapAndNeverPasses) {
    const FollowCase cases[] = {
        {"slower car ahead", 80, 120, 8, 0, 0, 80, 80, 80},
        {"car ahead stops", 100, 100, 8, 0, 20000, 100, 0, 0},
        {"car ahead far away", 100, 140, 8, 20000, 0, 140, 0, 100},
        {"stops across the finish line", 100, 130, 8, 2000, -1, 130, 0, 0},
        {"closer than its gap: drops back", 100, 100, 30, 0, 0, 100, 80, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        race(3, 2);
        ASSERT_TRUE(model.driveCar(1, c.leadKmh));
        ASSERT_TRUE(model.driveCar(2, c.followKmh));
        ASSERT_TRUE(model.followCar(2, true, c.gapM));
        if (c.holdMs > 0) {
            ASSERT_TRUE(model.setCarMotion(2, CarMotion{Motion::Stopped, -1, 0, c.holdMs}));
        }
        double top = 0, low = 1000, gap = gapM(2, 1);
        for (int ms = 250; ms <= 120000; ms += 250) {
            run(250);
            if (c.leadStopsMs == -1 ? car(1).lapsDone == 1 : ms == c.leadStopsMs)
                model.setCarMotion(1, CarMotion{Motion::Stopped});
            ASSERT_LT(car(2).progress, car(1).progress) << "passed at " << ms << " ms";
            ASSERT_GE(gapM(2, 1), std::min(c.gapM, gap) - 1e-6) << ms << " ms";
            gap = gapM(2, 1);
            top = std::max(top, kmh(2));
            low = std::min(low, kmh(2));
        }
        EXPECT_NEAR(top, c.topKmh, 0.05);
        EXPECT_NEAR(low, c.lowKmh, 0.05);
        EXPECT_NEAR(kmh(2), c.endKmh, 0.05);
        EXPECT_NEAR(gapM(2, 1), c.gapM, 1e-6);
        if (c.leadStopsMs == -1) {
            EXPECT_LT(lastReport(sent, 1)->Node, 2);
            EXPECT_GE(lastReport(sent, 2)->Node, kNodes - 2) << "behind it, before the line";
        }
    }
}

// The car ahead is the one ahead on the track, whatever lap either is on.
TEST_F(Following, FollowsTheCarThatLappedIt) {
    race(5, 2);
    ASSERT_TRUE(model.driveCar(1, 150));
    ASSERT_TRUE(model.driveCar(2, 100));
    ASSERT_TRUE(model.followCar(2, true));
    while (car(1).progress - car(2).progress < kNodes + 4 && now < 300000) run(250);
    ASSERT_TRUE(model.setCarMotion(1, CarMotion{Motion::Stopped}));
    run(10000);
    EXPECT_NEAR(car(1).progress - car(2).progress, kNodes + 1.6, 1e-6) << "a lap down, 8 m behind";
    EXPECT_EQ(kmh(2), 0);
}

TEST_F(Following, NewPaceKeepsFollowingAndNofollowLetsItPass) {
    race(3, 2);
    ASSERT_TRUE(model.driveCar(1, 80));
    ASSERT_TRUE(model.followCar(2, true));
    ASSERT_TRUE(model.driveCar(2, 130));
    run(10000);
    EXPECT_NEAR(kmh(2), 80, 0.05);
    ASSERT_TRUE(model.followCar(2, false));
    run(5000);
    EXPECT_GT(car(2).progress, car(1).progress) << "it has passed";
    EXPECT_NEAR(kmh(2), 130, 0.05);
}

TEST_F(Following, LateJoinerWaitsInHisBoxAndLeavesThroughThePitExit) {
    race(3, 1);
    run(10000);
    ASSERT_TRUE(model.addConnection(2, "erik", "Erik", false, out));
    ASSERT_TRUE(model.addPlayer(carOf(2), out));
    run(10000);
    EXPECT_EQ(lastReport(sent, 2)->Node, kNodes - 10) << "in his box, before the line";
    EXPECT_EQ(kmh(2), 0);
    ASSERT_TRUE(model.driveCar(2, 100));
    std::vector<std::string> visit;
    double laneKmh = 0;
    while (car(2).pit != PitPhase::Track && now < 60000) {
        for (const auto& p : eventsOf(run(250), 2)) visit.push_back(label(p));
        if (car(2).pit == PitPhase::Lane) laneKmh = kmh(2);
    }
    EXPECT_EQ(visit, (std::vector<std::string>{"PLA0"})) << "the pit exit, nothing else";
    EXPECT_NEAR(laneKmh, 60, 0.05);
    run(250);
    EXPECT_NEAR(kmh(2), 100, 0.05);
}

TEST_F(Following, CarWithoutPaceNeverLeavesTheGrid) {
    for (int ucid : {1, 2}) {
        ASSERT_TRUE(model.addConnection(ucid, "u" + std::to_string(ucid), "U", false, out));
        ASSERT_TRUE(model.addPlayer(carOf(ucid), out));
    }
    ASSERT_TRUE(model.driveCar(1, 100));
    SessionSpec race;
    race.laps = 3;
    ASSERT_TRUE(model.startSession(race, out));
    const double grid = car(2).progress;
    run(60000);
    EXPECT_EQ(car(2).progress, grid);
    EXPECT_GT(car(1).progress, grid + 100) << "the other car drove";
}

// ---- Over the link: updates by the clock and host commands -----------------------

class DrivingLink : public ::testing::Test {
protected:
    void SetUp() override {
        SimOptions options;
        options.keepAliveMs = 0;
        sim = std::make_unique<LfsSim>(options, clock);
        ASSERT_TRUE(sim->start());
        ASSERT_TRUE(client.connectAndLogin(sim->port()));
        ASSERT_TRUE(sim->waitForClient(kWaitMs));
    }
    ManualClock clock;
    std::unique_ptr<LfsSim> sim;
    SimClient client;
};

struct CommandCase {
    const char* command;
    std::uint8_t reply;  // the first packet it brings
    std::function<void(const Bytes&)> check;
};

TEST_F(DrivingLink, HostCommandsActOnDrivingCars) {
    DrivingSettings settings;
    settings.startDelayMs = 1000;
    sim->setDrivingSettings(settings);
    RaceSpec race;
    race.laps = 3;
    race.cars = 2;
    ASSERT_TRUE(sim->startRace(race));
    client.drainUntilPing();
    auto updates = [&] {
        const SimState st = sim->snapshot();
        return std::count_if(st.sent.begin(), st.sent.end(),
                             [](const SentWrite& w) { return w.bytes.at(1) == ISP_MCI; });
    };
    sim->advance(2249);
    EXPECT_EQ(updates(), 8);
    sim->advance(1);
    EXPECT_EQ(updates(), 9) << "one update per 250 ms of simulator time";
    EXPECT_EQ(splitStream(sim->snapshot().sent.back().bytes).size(), 1u) << "2 cars, 1 IS_MCI";
    client.drainUntilPing();

    const CommandCase cases[] = {
        {"/p_sg Driver 2", ISP_PEN, [](const Bytes& p) { EXPECT_EQ(as<IS_PEN>(p).NewPen, PENALTY_SG); }},
        {"/p_clear Driver 2", ISP_PEN, [](const Bytes& p) { EXPECT_EQ(as<IS_PEN>(p).NewPen, PENALTY_NONE); }},
        {"/qual 12", ISP_STA, [](const Bytes& p) { EXPECT_EQ(as<IS_STA>(p).QualMins, 12); }},
        {"/pitlane Driver 1", ISP_PLA, [](const Bytes& p) {
             EXPECT_EQ(as<IS_PLA>(p).PLID, 1);
             EXPECT_EQ(as<IS_PLA>(p).Fact, PITLANE_ENTER);
         }},
        {"/spec Driver 2", ISP_PLL, [](const Bytes& p) { EXPECT_EQ(as<IS_PLL>(p).PLID, 2); }},
        {"/restart", ISP_REO, [](const Bytes& p) { EXPECT_EQ(as<IS_REO>(p).NumP, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(client.sendMst(c.command));
        const auto reply = client.drainUntilPing();
        ASSERT_FALSE(reply.empty());
        ASSERT_EQ(reply[0].at(1), c.reply);
        c.check(reply[0]);
        if (std::string(c.command) == "/pitlane Driver 1") {
            sim->advance(250);
            const auto inBox = lastReport(client.drainUntilPing(), 1);
            EXPECT_EQ(inBox->Speed, 0);
            EXPECT_EQ(inBox->Node, kNodes - 10) << "its pit box, before the line";
        }
    }
    EXPECT_EQ(sim->snapshot().model.session().qualMins, 12);
    sim->advance(250);
    const auto grid = lastReport(client.drainUntilPing(), 1);
    EXPECT_EQ(grid->Node, kNodes - 1) << "back on the grid, pole behind the line";
    EXPECT_EQ(grid->Lap, 1);
    EXPECT_EQ(grid->Speed, 0) << "the lights are still red";
}

// What a rolling start needs from the server: the grid order on request (cars
// in the garage at the start after the grid), /pitlane and /spec by user name,
// and /restart putting the cars back on the grid with a new IS_REO and IS_RST.
TEST_F(DrivingLink, GridOrderRestartAndHostCommandsByUserName) {
    for (int ucid : {1, 2, 3}) {
        ASSERT_TRUE(sim->join(ucid, "driver" + std::to_string(ucid), "D" + std::to_string(ucid)));
        ASSERT_TRUE(sim->joinTrack(carOf(ucid)));
    }
    ASSERT_TRUE(sim->toPits(1));
    ASSERT_TRUE(sim->startRace(RaceSpec{}));
    sim->advance(20000);
    client.drainUntilPing();
    auto reply = [&](const std::string& mst) {
        EXPECT_TRUE(mst.empty() ? client.sendTiny(TINY_REO, 9) : client.sendMst(mst));
        return client.drainUntilPing();
    };
    auto order = [](const Bytes& reo) {
        const auto r = as<IS_REO>(reo);
        return std::vector<int>(r.PLID.begin(), r.PLID.begin() + r.NumP);
    };
    auto packets = reply("");
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].at(2), 9) << "ReqI";
    EXPECT_EQ(order(packets[0]), (std::vector<int>{2, 3, 1})) << "the grid, then the garage";
    packets = reply("/pitlane driver2");
    EXPECT_EQ(packets.at(0).at(1), ISP_PLA);
    EXPECT_EQ(packets.at(0).at(4), PITLANE_ENTER);
    EXPECT_EQ(sim->snapshot().model.findPlayer(2)->carState.pit, PitPhase::Box);

    packets = reply("/restart");
    ASSERT_GE(packets.size(), 2u);
    EXPECT_EQ(packets[0].at(1), ISP_REO);
    EXPECT_EQ(order(packets[0]), (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(packets[1].at(1), ISP_RST);
    EXPECT_EQ(packets[0].at(2) + packets[1].at(2), 0) << "ReqI 0";
    const SimState afterRestart = sim->snapshot();
    for (int plid : {2, 3}) {
        const CarState& c = afterRestart.model.findPlayer(plid)->carState;
        EXPECT_TRUE(c.pit == PitPhase::Track && c.lapsDone == 0 && c.progress < 0) << "on the grid";
    }
    packets = reply("/spec driver3");
    EXPECT_EQ(packets.at(0).at(1), ISP_PLL);
    EXPECT_EQ(packets.at(0).at(3), 3);
}

// ---- Scenario ---------------------------------------------------------------------

TEST_F(DrivingLink, RaceScenarioFileRunsToTheFinish) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(loadScenarioFile(TMX_SOURCE_DIR "/tests/tools/race_with_pitstop.scn", s, e))
        << e.text();
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    ASSERT_TRUE(r.ok) << r.error;

    const SimState st = sim->snapshot();
    const auto all = splitStream(st.sentBytes());
    std::vector<int> finishers, yellow;
    int pitLaps = -1;
    for (const auto& p : all) {
        if (p[1] == ISP_FIN) finishers.push_back(p[3]);
        if (p[1] == ISP_PIT) pitLaps = 10 * p[3] + as<IS_PIT>(p).LapsDone;
        if (p[1] == ISP_FLG && p[5] == FLG_YELLOW) yellow.push_back(p[3] * 10 + p[4]);
    }
    EXPECT_EQ(finishers, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(pitLaps, 22) << "car 2 stopped once, with 2 laps done";
    EXPECT_EQ(yellow, (std::vector<int>{31, 30})) << "car 3 stood on the track, then drove on";
    for (const auto& p : st.model.players()) EXPECT_EQ(p.carState.lapsDone, 5);

    for (const char* bad : {"car plid=1 fly\n", "pitstop lap=2\n", "race cars=3\n"}) {
        EXPECT_FALSE(parseScenario(bad, s, e)) << bad;
        EXPECT_EQ(e.line, 1);
    }
}

TEST_F(DrivingLink, RaceWithFollowQueuesTheFieldBehindThePoleCar) {
    ScenarioRunner runner(*sim, clock);
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(parseScenario("race laps=3 cars=4 pace=100 follow=1\n"
                              "car plid=1 drive speed=60\n"
                              "after 30 car plid=3 nofollow\n"
                              "car plid=4 follow gap=20\n",
                              s, e))
        << e.text();
    ASSERT_TRUE(runner.run(s).ok);
    const SimState st = sim->snapshot();
    const auto all = splitStream(st.sentBytes());
    std::vector<bool> following;
    for (const auto& p : st.model.players()) {
        following.push_back(p.carState.follow);
        EXPECT_NEAR(lastReport(all, p.plid)->Speed, 60 / 3.6 * 327.68, 1.0) << int{p.plid};
        if (p.plid == 1) continue;
        const double gap = st.model.findPlayer(p.plid - 1)->carState.progress - p.carState.progress;
        EXPECT_NEAR(gap * 5, 8, 1e-6) << int{p.plid};
    }
    EXPECT_EQ(following, (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(st.model.findPlayer(4)->carState.followGapM, 20);
}

// The rolling start example: the queue drives its formation lap without a
// car standing (no yellow), the overtaker finishes it ahead of the car he
// passed, the late joiner comes out of the pits during it, and all finish.
TEST_F(DrivingLink, RollingStartExampleRuns) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(loadScenarioFile(TMX_SOURCE_DIR "/examples/rolling_start.scn", s, e)) << e.text();
    ASSERT_TRUE(client.sendTiny(TINY_RST, 1));
    ASSERT_TRUE(sim->waitForPacket(ISP_TINY, TINY_RST, kWaitMs));
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.ended);

    std::vector<int> formationLap, finishers;
    int joinerOutAfterLaps = -1, yellows = 0;
    for (const auto& p : splitStream(sim->snapshot().sentBytes())) {
        if (p[1] == ISP_LAP && as<IS_LAP>(p).LapsDone == 1) formationLap.push_back(p[3]);
        if (p[1] == ISP_PLA && p[3] == 6 && p[4] == PITLANE_EXIT)
            joinerOutAfterLaps = static_cast<int>(formationLap.size());
        if (p[1] == ISP_FLG && p[5] == FLG_YELLOW) ++yellows;
        if (p[1] == ISP_FIN) finishers.push_back(p[3]);
    }
    EXPECT_EQ(formationLap, (std::vector<int>{1, 2, 3, 4, 5, 6}));  // the place given back
    EXPECT_EQ(joinerOutAfterLaps, 0) << "out before the pole car ends the formation lap";
    EXPECT_EQ(yellows, 0);
    EXPECT_EQ(finishers.size(), 6u);
}


}  // namespace
}  // namespace tmx::sim
