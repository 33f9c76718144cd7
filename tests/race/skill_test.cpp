// Skill points: the skill value, lap points, when a change counts, the flash
// a driver (and the admin watching him) sees, and the summary after leaving.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lfs-sim/manual_clock.h"
#include "support/race_fixture.h"

namespace tmx {
namespace {

using namespace insim;
using Lines = std::vector<std::string>;

bool has(const Lines& lines, const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}
// The summary's lines in a row, the skill lines given as tail.
bool hasSummary(const Lines& lines, int earned, int total, const Lines& tail) {
    Lines block = {"^7", "^7SKILLSYSTEM", "^7You earned: " + std::to_string(earned) + " skillpoints",
                   "^7Your total points now: " + std::to_string(total)};
    block.insert(block.end(), tail.begin(), tail.end());
    return std::search(lines.begin(), lines.end(), block.begin(), block.end()) != lines.end();
}

// Alice drives (UCID 1); Boss (UCID 2) is an admin without a car.
class SkillTest : public testing::RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        setUpDrivers();
    }
    void setUpDrivers() {
        ASSERT_TRUE(simulator->join(2, "boss", "Boss", true).ok);
        startRunning();
        startSession(sim::SessionKind::Practice);
        alicePlid = driver(1, "alice", "Alice");
        alice = indexOfPlayer(alicePlid);
        boss = c.FindIndex(2, -1);
        ASSERT_NE(alice, -1);
    }
    void watch() {
        c.entry(alice).display.watchedBy = static_cast<std::uint8_t>(boss);
        c.entry(boss).display.watchTarget = static_cast<std::uint8_t>(alice);
    }
    std::string flash(int ucid) { return buttonText(ucid, BG_SKILL); }
    void clearFlash(int ucid) { link.DeleteGroup(BG_SKILL, static_cast<std::uint8_t>(ucid)); }

    int alicePlid = 0;
    int alice = -1;
    int boss = -1;
};

TEST_F(SkillTest, SkillValueIsPointsPerLapFromTheFifthLapCappedAtTen) {
    struct Case {
        std::int32_t points;
        std::uint32_t laps;
        int skill;
    };
    data::cl_LfsPlayer& e = c.entry(alice);
    for (const Case& k : {Case{40, 5, 8}, Case{40, 4, 0}, Case{2000, 100, 10}, Case{-50, 10, 0}}) {
        e.skillLaps = k.laps;
        e.skillPoints = k.points;
        e.skill = DriverSkill{};
        EXPECT_EQ(c.StoredSkill(1, alicePlid), k.skill) << k.points << " over " << k.laps;
        // The current skill is the points he joined with plus those of the race.
        e.skillPoints = 0;
        e.skill.basePoints = k.points - 7;
        e.skill.racePoints = 7;
        EXPECT_EQ(c.CurrentSkill(1, alicePlid), k.skill) << k.points << " over " << k.laps;
    }
    EXPECT_EQ(c.CurrentSkill(9, 99), 0) << "unknown driver";
}

TEST_F(SkillTest, LapPointsFollowTheYellowsOfTheLap) {
    struct Case {
        DriverStatus status;
        int reported, confirmed;
        int points;  // 99: the lap earns nothing
        const char* shown;
    };
    const Case cases[] = {
        {DS_RACING, 0, 0, 15, "^3SP: +15safe 9 %%"}, {DS_ON_TRACK, 10, 0, -2, "^3SP: -2safe 8 %%"},
        {DS_RACING, 8, 2, 0, "^3SP: +0safe 8 %%"},   {DS_RACING, 0, 1, 8, "^3SP: +8safe 8 %%"},
        {DS_PITLANE, 0, 0, 99, ""},
    };
    data::cl_LfsPlayer& e = c.entry(alice);
    for (const Case& k : cases) {
        clearFlash(1);
        e.race.driverStatus = k.status;
        e.flags.yellowsReported = k.reported;
        e.flags.yellowsConfirmed = k.confirmed;
        const std::int32_t before = e.skill.racePoints;
        c.LapSkillPoints(alice);
        const bool counted = k.points != 99;
        EXPECT_EQ(e.skill.racePoints - before, counted ? k.points : 0) << k.reported << "/" << k.confirmed;
        EXPECT_EQ(flash(1), k.shown) << k.reported << "/" << k.confirmed;
        EXPECT_EQ(e.flags.yellowsReported + e.flags.yellowsConfirmed, counted ? 0 : k.reported + k.confirmed);
    }
    // A lap as LFS reports it.
    e.race.driverStatus = DS_RACING;
    e.flags.yellowsReported = 10;
    const std::uint32_t laps = e.skillLaps;
    send(lapPacket(alicePlid, 1));
    EXPECT_EQ(flash(1), "^3SP: -2safe 8 %%");
    EXPECT_EQ(e.skillLaps, laps + 1);
}

TEST_F(SkillTest, ChangesCountOnlyInMultiplayerRaceControlOutsideTheStart) {
    joinTrack(0, true);  // an AI car on the host
    barrier();
    int ai = -1;
    for (int i = 0; i < c.usedEntries; ++i)
        if (c.entry(i).ai) ai = i;
    ASSERT_NE(ai, -1);
    struct Case {
        const char* name;
        RaceState state;
        int phase;
        ServerKind kind;
        int skillsystem;
        bool toAi;
        int points, reason;
        bool counts;
    };
    const Case cases[] = {
        {"server with a driver", RS_PRACTICE, SP_NONE, SK_HOST_DRIVES, 1, false, -5, 2, true},
        {"dedicated", RS_PRACTICE, SP_NONE, SK_DEDICATED, 1, false, -5, 2, true},
        {"city game", RS_CITY, SP_NONE, SK_HOST_DRIVES, 1, false, -5, 2, false},
        {"skill system off", RS_PRACTICE, SP_NONE, SK_HOST_DRIVES, 0, false, -5, 2, false},
        {"single player", RS_PRACTICE, SP_NONE, SK_SINGLE, 1, false, -5, 2, false},
        {"multiplayer replay", RS_PRACTICE, SP_NONE, SK_MULTI_REPLAY, 1, false, -5, 2, false},
        {"single-player replay", RS_PRACTICE, SP_NONE, SK_SINGLE_REPLAY, 1, false, -5, 2, false},
        {"AI driver", RS_PRACTICE, SP_NONE, SK_HOST_DRIVES, 1, true, -5, 2, false},
        {"race, start pending", RS_RACE, SP_START_PENDING, SK_HOST_DRIVES, 1, false, -5, 2, false},
        {"rolling start, pace rule", RS_RACE, SP_ROLLING_FIRST, SK_HOST_DRIVES, 1, false, -5, 13, true},
        {"last start stage", RS_RACE, SP_ROLLING_LAST, SK_HOST_DRIVES, 1, false, -5, 14, true},
        {"qualifying, phase low", RS_QUALIFYING, SP_START_PENDING, SK_HOST_DRIVES, 1, false, -5, 2, true},
        {"yellow, race on", RS_RACE, SP_NONE, SK_HOST_DRIVES, 1, false, -7, 1, true},
        {"yellow, race finished", RS_RACE_FINISHED, SP_NONE, SK_HOST_DRIVES, 1, false, -7, 1, false},
        {"short yellow, qualifying closed", RS_QUALIFYING_CLOSED, SP_NONE, SK_HOST_DRIVES, 1, false, -1, 12, false},
        {"reset, race finished", RS_RACE_FINISHED, SP_NONE, SK_HOST_DRIVES, 1, false, -5, 2, true},
    };
    const RaceState state = c.session.raceState;
    for (const Case& k : cases) {
        const int index = k.toAi ? ai : alice;
        const int ucid = c.entry(index).ucid;
        clearFlash(ucid);
        c.session.raceState = k.state;
        c.session.startPhase = k.phase;
        c.server.serverKind = k.kind;
        c.config.skillsystem = k.skillsystem;
        const std::int32_t before = c.entry(index).skill.racePoints;
        c.ChangeSkillPoints(index, k.points, k.reason);
        EXPECT_EQ(c.entry(index).skill.racePoints - before, k.counts ? k.points : 0) << k.name;
        EXPECT_EQ(flash(ucid) != "", k.counts) << k.name;
    }
    c.session.raceState = state;
    c.session.startPhase = SP_NONE;
    c.server.serverKind = SK_HOST_DRIVES;
    c.config.skillsystem = 1;
}

TEST_F(SkillTest, TheFlashShowsTheChangeAndItsReasonToTheDriverAndHisWatcher) {
    watch();
    struct Case {
        int points, reason;
        const char* shown;
    };
    for (const Case& k : {Case{10, 4, "^3SP: +10safe 5 %%"}, Case{10, 9, "^3SP: +10safe 17 %%"},
                          Case{-5, 14, "^3SP: -5safe 0 %%"}, Case{-10, 18, "^3SP: -10safe 18 %%"}}) {
        c.ChangeSkillPoints(alice, k.points, k.reason);
        flushToSim();
        for (int ucid : {1, 2}) {
            const std::vector<sim::Button> screen = simulator->screen(ucid);
            const auto b = std::find_if(screen.begin(), screen.end(),
                                        [](const sim::Button& s) { return s.clickId == BG_SKILL; });
            ASSERT_NE(b, screen.end()) << k.shown << " to " << ucid;
            EXPECT_EQ(b->text.str(), k.shown) << ucid;
            EXPECT_EQ(b->inst, 128);
            EXPECT_EQ(b->style, 17);
            EXPECT_EQ((std::vector<int>{b->left, b->top, b->width, b->height}), (std::vector<int>{0, 194, 48, 6}));
        }
    }
    // Six seconds on screen.
    clock.advanceSeconds(6);
    barrier();
    EXPECT_NE(flash(1), "");
    clock.advanceSeconds(1);
    barrier();
    EXPECT_EQ(flash(1) + flash(2), "");
}

TEST_F(SkillTest, SummaryTwoSecondsAfterLeavingWithTheRating) {
    struct Case {
        std::uint32_t laps;
        std::int32_t base;
        int gained;
        bool pitLaneClosed;
        Lines tail;
    };
    const Case cases[] = {
        {4, 100, 15, false, {"^7Your skill is 0. Drive more laps."}},
        {10, 65, 15, false, {"^7Your skill is : 8", "^2That's a good skill"}},
        {10, 30, -5, false, {"^7Your skill is : 2", "^1That's a poor skill"}},
        {10, 200, 10, false, {"^7Your skill is : 10", "^2That's a perfect skill."}},
        {10, 5, -15, true,
         {"^7Your skill is : 0", "^1That's very bad. You need more training", "^7------------------------------- ",
          "tmxm 3 %%"}},
    };
    for (const Case& k : cases) {
        const int plid = c.entry(alice).plid != 0 ? c.entry(alice).plid : joinTrack(1);
        barrier();
        c.entry(alice).skillLaps = k.laps;
        c.entry(alice).skill.basePoints = k.base;  // as if he had joined with this total
        c.ChangeSkillPoints(alice, k.gained, k.gained >= 0 ? 4 : 3);
        markChat();
        ASSERT_TRUE(simulator->spectate(plid).ok);
        barrier();
        c.session.pitLaneClosed = k.pitLaneClosed;
        EXPECT_EQ(c.entry(alice).skillPoints, k.base + k.gained);
        clock.advanceSeconds(1);
        barrier();
        EXPECT_FALSE(has(privateTo(1), "^7SKILLSYSTEM")) << "due only when more than a second old";
        clock.advanceSeconds(1);
        barrier();
        EXPECT_TRUE(hasSummary(privateTo(1), k.gained, k.base + k.gained, k.tail)) << k.tail.front();
        clock.advanceSeconds(5);
        barrier();
        const Lines lines = privateTo(1);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "^7SKILLSYSTEM"), 1) << "sent once";
        c.session.pitLaneClosed = false;
    }
}

// The server kind comes from the state LFS reports: a host alone in a game is
// single player, guests in a local game make a multiplayer replay.
struct KindCase {
    const char* name;
    std::uint16_t flags;
    bool guest;
    ServerKind kind;
    bool summary, notice;
};
class SkillKindTest : public testing::RaceFixture, public ::testing::WithParamInterface<KindCase> {};

TEST_P(SkillKindTest, SummaryOnlyInMultiplayerAndANoticeElsewhere) {
    const KindCase& k = GetParam();
    sim::SimOptions options;
    options.stateFlags = k.flags;
    startSim(options);
    if (k.guest) joinGuest(1, "alice", "Alice");
    startRunning();
    ASSERT_EQ(c.server.serverKind, k.kind);
    const int ucid = k.guest ? 1 : 0;
    const int plid = joinTrack(ucid);
    barrier();
    markChat();
    ASSERT_TRUE(simulator->spectate(plid).ok);
    barrier();
    clock.advanceSeconds(2);
    barrier();
    const Lines toAll = chatSince(sim::ChatLine::Kind::ToAll);
    EXPECT_EQ(has(chatSince(sim::ChatLine::Kind::Private, ucid), "^7SKILLSYSTEM"), k.summary);
    EXPECT_FALSE(has(toAll, "^7SKILLSYSTEM"));
    EXPECT_EQ(has(toAll, "^7TMX: skill-calculating only in multiplayer"), k.notice);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SkillKindTest,
                         ::testing::Values(KindCase{"dedicated", ISS_MULTI, true, SK_DEDICATED, true, false},
                                           KindCase{"single", ISS_GAME, false, SK_SINGLE, false, true},
                                           KindCase{"replay", ISS_GAME, true, SK_MULTI_REPLAY, false, false}),
                         [](const ::testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

// End to end with the driving model: the simulator's cars move only when the
// test moves its clock.
class SkillDrivingTest : public SkillTest {
protected:
    void SetUp() override {
        testing::ControllerFixture::SetUp();
        startSimOnManualClock();
        setUpDrivers();
    }
};

TEST_F(SkillDrivingTest, CarResetOnTrackFlashesAndTheSummaryFollowsTheSpectate) {
    watch();
    c.entry(alice).skillLaps = 10;
    c.entry(alice).skill.basePoints = 40;
    ASSERT_TRUE(simulator->drive(alicePlid, 120).ok);
    for (int i = 0; i < 40; ++i) simulator->advance(250);
    barrier();
    const sim::SimState state = simulator->snapshot();
    ASSERT_TRUE(state.model.findPlayer(alicePlid)->carState.pit == sim::PitPhase::Track);

    ASSERT_TRUE(simulator->carReset(alicePlid).ok);
    barrier();
    EXPECT_EQ(flash(1), "^3SP: -5safe 3 %%");
    EXPECT_EQ(flash(2), "^3SP: -5safe 3 %%");

    markChat();
    ASSERT_TRUE(simulator->spectate(alicePlid).ok);
    barrier();
    clock.advanceSeconds(2);
    barrier();
    EXPECT_TRUE(hasSummary(privateTo(1), -5, 35, {"^7Your skill is : 3", "^1That's a poor skill"}));
    EXPECT_FALSE(has(privateTo(2), "^7SKILLSYSTEM"));
}

}  // namespace
}  // namespace tmx
