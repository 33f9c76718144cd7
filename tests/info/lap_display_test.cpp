// Lap and sector times: what a driver sees after each split and lap, his
// personal bests kept in his combination record, his place in the server
// ranking announced, and the pit board with its short names and gaps.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "info/lap_display_state.h"
#include "info/time_format.h"
#include "support/race_fixture.h"

namespace tmx {
namespace {

using namespace insim;

TEST(TimeFormatTest, UnsignedAndSignedTimes) {
    struct Case {
        std::int64_t ms;
        const char* plain;
        const char* withSign;
    };
    for (const Case& k : {Case{83456, "1:23:456", "+1:23:456"}, Case{5007, "0:05:007", "+0:05:007"},
                          Case{0, "0:00:000", "+0:00:000"}, Case{-1500, "0:01:500", "-0:01:500"},
                          Case{3600000, "60:00:000", "+60:00:000"},
                          // The most negative lap difference still has a size.
                          Case{INT32_MIN, "35791:23:648", "-35791:23:648"}}) {
        EXPECT_EQ(FormatTime(k.ms).str(), k.plain) << k.ms;
        EXPECT_EQ(FormatSignedTime(k.ms).str(), k.withSign) << k.ms;
    }
}

TEST(ShortNameTest, ColourSegmentOrLettersOfTheWholeName) {
    struct Case {
        const char* name;
        const char* shortName;
    };
    for (const Case& k : {Case{"Alexande", "xan"}, Case{"Alex", "Ale"}, Case{"Al", "Al"}, Case{"Abcdef", "def"},
                          Case{"^1Bob", "^1Bob"}, Case{"^4[TM]^1S.chumi", "^1Sch"},
                          // Too little after the last colour code: letters of the whole name.
                          Case{"^1Mike^7", "Mik"}, Case{"^2[XY]^3Zo", "XYZ"}, Case{"", ""}, Case{"^", ""}}) {
        char name[32];
        std::snprintf(name, sizeof name, "%s", k.name);
        lapdisplay::ShortName(name, sizeof name);
        EXPECT_STREQ(name, k.shortName) << k.name;
    }
    char name[32] = "^1A^^2b^";  // "^^" is a code too
    lapdisplay::StripColourCodes(name);
    EXPECT_STREQ(name, "A2b");
}

// Alice drives (UCID 1, car XRT); Boss (UCID 2) is an admin without a car.
class LapDisplayTest : public testing::RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        ASSERT_TRUE(simulator->join(2, "boss", "Boss", true).ok);
        startRunning();
        startSession(sim::SessionKind::Practice);
        alicePlid = driver(1, "alice", "Alice");
        alice = indexOfPlayer(alicePlid);
        ASSERT_NE(alice, -1);
        boss = c.FindIndex(2, -1);
    }
    // One lap of four sectors: three splits and the finish line.
    void lap(int plid, std::array<std::uint32_t, 4> sectors, int lapsDone) {
        std::uint32_t at = 0;
        for (int k = 0; k < 3; ++k) {
            at += sectors[static_cast<std::size_t>(k)];
            send(splitPacket(plid, k + 1, at));
        }
        send(lapPacket(plid, lapsDone, at + sectors[3]));
    }
    // Clears what the last lap left on the driver's screen.
    void clearScreen(int ucid) {
        for (std::uint8_t g : {BG_TEAM, BG_SYSTEM, BG_SECTOR, BG_LAP})
            link.DeleteGroup(g, static_cast<std::uint8_t>(ucid));
    }
    int styleOf(int ucid, int clickId) {
        flushToSim();
        for (const auto& b : simulator->screen(ucid))
            if (b.clickId == clickId) return b.style;
        return -1;
    }

    int alicePlid = 0;
    int alice = -1;
    int boss = -1;
};

TEST_F(LapDisplayTest, LapsOfAPracticeShowTimesDifferencesAndBests) {
    struct Case {
        const char* what;
        std::array<std::uint32_t, 4> sectors;
        const char* lapText;      // "" = no lap time shown
        const char* lapDiff;      // "" = no difference shown
        int lapDiffStyle;
        const char* sectorDiff;   // difference of the last sector
        int sectorDiffStyle;
        const char* result;       // the team line: block and line
        std::int32_t personalBest;
    };
    const Case cases[] = {
        // Begun somewhere on track: the splits count, the lap is no time.
        {"out lap", {20000, 20000, 20000, 23456}, "", "", -1, "", -1, "team 23", 0},
        {"first timed lap", {20000, 20000, 20000, 23456}, "^7Lap   : 1:23:456", "", -1, "", -1, "time 1", 83456},
        {"equal lap", {20000, 20000, 20000, 23456}, "^7Lap   : 1:23:456", "^2Diff:  +0:00:000 (pb)", 68,
         "^2Diff : +0:00:000 (pb)", 68, "", 83456},
        {"last sector 1.5 s slower", {20000, 20000, 20000, 24956}, "^7Lap   : 1:24:956",
         "^1Diff:  +0:01:500 (pb)", 69, "^1Diff : +0:01:500 (pb)", 69, "", 83456},
        {"better sector and lap", {20000, 20000, 20000, 23000}, "^7Lap   : 1:23:000",
         "^2Diff:  -0:00:456 (pb)", 68, "^2Diff : -0:00:456 (pb)", 68, "time 2", 83000},
    };
    int lapsDone = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        clearScreen(1);
        lap(alicePlid, k.sectors, ++lapsDone);
        EXPECT_EQ(buttonText(1, BG_LAP), k.lapText);
        EXPECT_EQ(buttonText(1, BG_LAP + 1), k.lapDiff);
        EXPECT_EQ(styleOf(1, BG_LAP + 1), k.lapDiffStyle);
        EXPECT_EQ(buttonText(1, BG_SECTOR + 1), k.sectorDiff);
        EXPECT_EQ(styleOf(1, BG_SECTOR + 1), k.sectorDiffStyle);
        const std::string team = teamText(1, 0);
        if (*k.result)
            EXPECT_NE(team.find(k.result), std::string::npos) << team;
        else
            EXPECT_EQ(team, "");
        const data::cl_LfsPlayer& e = c.entry(alice);
        EXPECT_EQ(e.personalBest[0], k.personalBest);
        // The personal best lives in the database, not only on the record.
        ASSERT_NE(e.combination, nullptr);
        EXPECT_EQ(e.combination->personalBest[0], k.personalBest);
    }
    const data::cl_LfsPlayer& e = c.entry(alice);
    EXPECT_EQ(e.combination->bestSectors[4], 23000);
    EXPECT_EQ(e.combination->personalBest[4], 23000);
    EXPECT_EQ(e.lapCounter, lapsDone);
}

TEST_F(LapDisplayTest, SplitsOfTheOutLapTellTheDriverAndTheWatcherSeesTheTimes) {
    send(splitPacket(alicePlid, 1, 20000));
    EXPECT_NE(teamText(1, 0).find("team 20"), std::string::npos);
    EXPECT_EQ(buttonText(1, BG_SECTOR), "") << "no time on an out lap";
    send(splitPacket(alicePlid, 2, 41000));
    EXPECT_NE(teamText(1, 0).find("team 21"), std::string::npos);
    send(lapPacket(alicePlid, 1, 60000));

    c.entry(alice).display.watchedBy = static_cast<std::uint8_t>(boss);
    send(splitPacket(alicePlid, 1, 21500));
    for (int ucid : {1, 2}) EXPECT_EQ(buttonText(ucid, BG_SECTOR), "^7Sect:  0:21:500") << ucid;
    send(splitPacket(alicePlid, 2, 40000));
    EXPECT_EQ(buttonText(2, BG_SECTOR), "^7Sect:  0:18:500") << "sector 2 runs from split 1";

    // With the time channel off nothing is drawn.
    c.config.timemsg.left = -1;
    link.DeleteGroup(BG_SECTOR, 1);
    send(splitPacket(alicePlid, 1, 19000));
    EXPECT_EQ(buttonText(1, BG_SECTOR), "");
}

TEST_F(LapDisplayTest, ANewBestIsAnnouncedWithItsPlaceInTheRanking) {
    const int bobPlid = driver(3, "bob", "Bob");
    lap(alicePlid, {20000, 20000, 20000, 20000}, 1);
    lap(bobPlid, {20000, 20000, 20000, 20000}, 1);
    markChat();
    struct Case {
        const char* what;
        int plid, ucid;
        std::uint32_t lastSector;
        int place;                 // his place afterwards, 0-based
        const char* systemLine;    // what he sees on system line 3
        std::vector<std::string> chat;
    };
    const Case cases[] = {
        {"first place", alicePlid, 1, 20000, 0, "tmxm 5 Alice", {}},
        {"behind her", bobPlid, 3, 21000, 1, "tmxm 6 Bob2", {"tmxm 6 Bob2"}},
        {"better, still second", bobPlid, 3, 20500, 1, "tmxm 7 Bob2", {}},
        {"first again", alicePlid, 1, 19000, 0, "tmxm 8 Alice", {}},
    };
    int laps = 1;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ++laps;
        clearScreen(1);
        clearScreen(3);
        markChat();
        lap(k.plid, {20000, 20000, 20000, k.lastSector}, laps);
        EXPECT_EQ(c.RankDriver(k.ucid, k.plid, true), k.place);
        EXPECT_NE(systemText(k.ucid, 3).find(k.systemLine), std::string::npos) << systemText(k.ucid, 3);
        EXPECT_EQ(chatSince(sim::ChatLine::Kind::ToAll), k.chat);
    }
    // First place is told to everybody.
    EXPECT_NE(systemText(2, 3).find("tmxm 8 Alice"), std::string::npos);
}

class PitBoardTest : public LapDisplayTest {
protected:
    void SetUp() override {
        LapDisplayTest::SetUp();
        bobPlid = driver(3, "bob", "^1Bobby");
        carlPlid = driver(4, "carl", "Carlotta");
        startSession(sim::SessionKind::Race, 5);
        c.session.startPhase = SP_NONE;
        for (int plid : {alicePlid, bobPlid, carlPlid}) {
            data::cl_LfsPlayer& e = c.entry(indexOfPlayer(plid));
            e.race.driverStatus = DS_RACING;
            e.race.sessionLaps = 3;
            e.race.lastLapsDone = 3;
            e.position.current.Lap = 4;
            e.position.trackRank = 1;
        }
        data::cl_LfsPlayer& a = c.entry(alice);
        a.position.current.PLID = static_cast<std::uint8_t>(alicePlid);
        a.position.current.Position = 2;
        a.position.trackAhead = static_cast<std::uint8_t>(bobPlid);
        a.position.trackBehind = static_cast<std::uint8_t>(carlPlid);
        a.display.lapTimes.splitElapsed = 300000;
    }
    int bobPlid = 0;
    int carlPlid = 0;
};

TEST_F(PitBoardTest, GapsToTheCarsAheadAndBehind) {
    struct Case {
        std::int64_t aheadGap, behindGap;
        int aheadLaps;
        const char* ahead;
        const char* behind;
    };
    for (const Case& k : {Case{10000, 1500, 0, "^1Bob^7  ~0:10:000", "lot^7  ~0:01:500"},
                          Case{10001, 10001, 0, "^1Bob^7  Far away", "lot^7  Far away"},
                          Case{-10000, -10001, 1, "^1Bob^7  ~0:10:000", "lot^7  Far away"},
                          Case{500, 500, 2, "^1Bob^7  LAP(s)", "lot^7  ~0:00:500"}}) {
        SCOPED_TRACE(k.ahead);
        data::cl_LfsPlayer& a = c.entry(alice);
        a.position.pitBoard = PB_NOT_SHOWN;
        c.entry(indexOfPlayer(bobPlid)).display.lapTimes.splitElapsed =
            static_cast<std::uint32_t>(300000 - k.aheadGap);
        c.entry(indexOfPlayer(bobPlid)).position.current.Lap = static_cast<std::uint16_t>(4 - k.aheadLaps);
        c.entry(indexOfPlayer(carlPlid)).display.lapTimes.splitElapsed =
            static_cast<std::uint32_t>(300000 + k.behindGap);
        c.ShowPitBoard(alice);
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD), "Ali^7  P2  L4");
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD + 1), "-----------------");
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD + 2), k.ahead);
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD + 4), k.behind);
        EXPECT_EQ(a.position.pitBoard, PB_SHOWN);
    }
}

TEST_F(PitBoardTest, BlankRowsWithoutANeighbourAndNoBoardOutsideARace) {
    data::cl_LfsPlayer& a = c.entry(alice);
    const auto carl = static_cast<std::uint8_t>(carlPlid);
    const auto self = static_cast<std::uint8_t>(alicePlid);
    c.entry(indexOfPlayer(carlPlid)).display.lapTimes.splitElapsed = 300000;
    struct Neighbours {
        std::uint8_t ahead, behind;
        bool carlBehind;
    };
    // Alone on track, the car ahead also behind, himself as neighbour.
    for (const Neighbours& n : {Neighbours{0, 0, false}, Neighbours{carl, carl, true}, Neighbours{self, self, false}}) {
        a.position.trackAhead = n.ahead;
        a.position.trackBehind = n.behind;
        c.ShowPitBoard(alice);
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD + 2), std::string(12, ' ')) << int(n.ahead);
        EXPECT_EQ(buttonText(1, BG_PIT_BOARD + 4), n.carlBehind ? "lot^7  ~0:00:000" : std::string(11, ' '))
            << int(n.behind);
    }

    // Outside a race the board has its one chance in the lap but stays blank.
    link.DeleteGroup(BG_PIT_BOARD, 1);
    c.session.raceState = RS_PRACTICE;
    a.position.pitBoard = PB_NOT_SHOWN;
    c.ShowPitBoard(alice);
    EXPECT_EQ(buttonText(1, BG_PIT_BOARD), "");
    EXPECT_EQ(a.position.pitBoard, PB_SHOWN);
}

TEST_F(PitBoardTest, RaceLapsAreTimedFromTheFirstButNotDuringAStart) {
    clearScreen(1);
    c.entry(alice).race.sessionLaps = 0;
    lap(alicePlid, {20000, 20000, 20000, 20000}, 1);
    EXPECT_EQ(buttonText(1, BG_LAP), "^7Lap   : 1:20:000") << "the first race lap is timed";
    EXPECT_EQ(c.entry(alice).personalBest[0], 80000);
    EXPECT_NE(teamText(1, 0).find("time 1"), std::string::npos);
    EXPECT_EQ(systemText(1, 3), "") << "no ranking news in a race";

    // A rolling start under way: no times, no bests.
    clearScreen(1);
    c.session.startPhase = SP_ROLLING_FIRST;
    data::cl_LfsPlayer& a = c.entry(alice);
    a.currentLap = {79000, 19000, 20000, 20000, 20000};
    EXPECT_EQ(c.ProcessSplit(alice, 1, false), 0) << "a better sector is kept all the same";
    EXPECT_EQ(c.ProcessLap(alice), -1);
    c.ShowResultMessage(alice, 1);
    EXPECT_EQ(buttonText(1, BG_LAP), "");
    EXPECT_EQ(buttonText(1, BG_SECTOR), "");
    EXPECT_EQ(teamText(1, 0), "");
    EXPECT_EQ(a.personalBest[0], 80000);
}

}  // namespace
}  // namespace tmx
