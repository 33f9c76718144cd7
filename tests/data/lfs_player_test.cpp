#include "data/lfs_player.h"

#include <gtest/gtest.h>

#include "master/master_control.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace tmx::data {
namespace {

using testing::FakeClock;

class PlayerRecordTest : public ::testing::Test {
protected:
    PlayerRecordTest() : master(console, clock) { master.readKey = [] { return 0; }; }

    cl_LfsPlayer driver(const char* user, const char* nick, const char* carName = "XRT") {
        cl_LfsPlayer p;
        p.userName = user;
        p.playerName = nick;
        p.car = carName;
        return p;
    }

    PlayerEntry& stored(const char* user) {
        PlayerEntry e;
        e.userName = user;
        e.playerName = "old nick";
        e.teamColour = 6;
        e.teamPosition = 90;
        e.chatLevel = 1;
        e.language = "fra";
        e.skillPoints = 321;
        e.skillLaps = 45;
        return master.database.append(e);
    }

    CaptureConsole console;
    FakeClock clock;
    cl_MasterControl master;
};

TEST_F(PlayerRecordTest, ResetGivesEveryFieldItsResetValue) {
    cl_LfsPlayer p;
    PlayerEntry dummy;
    CombinationRecord combo;
    p.databaseEntry = &dummy;
    p.combination = &combo;
    p.languageCode = "deu";
    p.teamColour = 1;
    p.teamPosition = 30;
    p.chatLevel = 0;
    p.skillPoints = 5;
    p.skillLaps = 6;
    p.ucid = 7;
    p.plid = 8;
    p.playerName = "x";
    p.ai = 1;
    p.display.watchTarget = 3;
    p.display.watchedBy = 4;
    p.personalBest[0] = 9;
    p.position.reportReceived = 0;
    p.cityTimer = 11;

    p.Reset(1234);
    EXPECT_EQ(p.databaseEntry, nullptr);
    EXPECT_EQ(p.combination, nullptr);
    EXPECT_EQ(p.languageCode, "ori");
    EXPECT_EQ(p.teamColour, 3);
    EXPECT_EQ(p.teamPosition, 170);
    EXPECT_EQ(p.chatLevel, 2);
    EXPECT_EQ(p.skillPoints, 0);
    EXPECT_EQ(p.skillLaps, 0u);
    EXPECT_EQ(p.ucid, 0);
    EXPECT_EQ(p.plid, 0);
    EXPECT_TRUE(p.playerName.empty());
    EXPECT_EQ(p.ai, 0);
    EXPECT_EQ(p.display.watchTarget, kNoEntry);
    EXPECT_EQ(p.display.watchedBy, kNoEntry);
    EXPECT_EQ(p.personalBest[0], 0);
    EXPECT_EQ(p.position.reportReceived, -1);
    EXPECT_EQ(p.cityTimer, 1234) << "the city-game timer takes the time given";
}

TEST_F(PlayerRecordTest, ResetRaceDataClearsOnlyTheLapData) {
    cl_LfsPlayer p = driver("u", "n");
    CombinationRecord combo;
    p.combination = &combo;
    p.combinationLaps = 4;
    p.currentLap = {1, 2, 3, 4, 5};
    p.bestSectors = {6, 7, 8, 9, 10};
    p.personalBest = {11, 12, 13, 14, 15};
    p.skillLaps = 20;
    p.lapCounter = 7;
    p.pit.pitWindowUsed[9] = 1;
    p.pit.pendingPenalty = 3;
    p.ResetRaceData();
    EXPECT_EQ(p.lapCounter, 0);
    EXPECT_EQ(p.pit.pitWindowUsed[9], 0);
    EXPECT_EQ(p.pit.pendingPenalty, 3) << "the pending penalty is not touched";
    EXPECT_EQ(p.combination, nullptr);
    EXPECT_EQ(p.combinationLaps, 0);
    EXPECT_EQ(p.currentLap, (std::array<std::int32_t, 5>{}));
    EXPECT_EQ(p.bestSectors, (std::array<std::int32_t, 5>{}));
    EXPECT_EQ(p.personalBest, (std::array<std::int32_t, 5>{}));
    EXPECT_EQ(p.skillLaps, 20u);
    EXPECT_EQ(p.userName, "u");
    EXPECT_EQ(p.car, "XRT");
}

TEST_F(PlayerRecordTest, NewPlayerGetsTheDefaults) {
    cl_LfsPlayer p = driver("newbie", "^3New");
    p.teamColour = 1;
    p.chatLevel = 0;
    p.languageCode = "xyz";
    EXPECT_EQ(p.LoadFromDatabase(master), 3);
    EXPECT_EQ(p.teamColour, 3);
    EXPECT_EQ(p.teamPosition, 170);
    EXPECT_EQ(p.chatLevel, 2);
    EXPECT_EQ(p.languageCode, "ori");
    ASSERT_NE(p.databaseEntry, nullptr);
    EXPECT_EQ(p.databaseEntry->onlineCount, 1) << "a loaded connection's entry is online";
    EXPECT_EQ(p.databaseEntry->playerName, "^3New");
}

TEST_F(PlayerRecordTest, LoadCopiesTheStoredFieldsAndSaveWritesThemBack) {
    PlayerEntry& e = stored("alice");
    cl_LfsPlayer p = driver("alice", "^1Alice");
    EXPECT_EQ(p.LoadFromDatabase(master), 2);
    EXPECT_EQ(p.databaseEntry, &e);
    EXPECT_EQ(p.teamColour, 6);
    EXPECT_EQ(p.teamPosition, 90);
    EXPECT_EQ(p.chatLevel, 1);
    EXPECT_EQ(p.languageCode, "fra");
    EXPECT_EQ(p.skillPoints, 321);
    EXPECT_EQ(p.skillLaps, 45u);
    EXPECT_EQ(p.playerName, "^1Alice") << "the nickname is not loaded";
    EXPECT_EQ(e.lastSeen, clock.now());

    master.databaseChanged = 0;
    p.teamColour = 2;
    p.teamPosition = 110;
    p.chatLevel = 0;
    p.languageCode = "eng";
    p.skillPoints = 400;
    p.skillLaps = 50;
    EXPECT_EQ(p.SaveToDatabase(master), 0);
    EXPECT_EQ(e.teamColour, 2);
    EXPECT_EQ(e.teamPosition, 110);
    EXPECT_EQ(e.chatLevel, 0);
    EXPECT_EQ(e.language, "eng");
    EXPECT_EQ(e.skillPoints, 400);
    EXPECT_EQ(e.skillLaps, 50u);
    EXPECT_EQ(e.playerName, "^1Alice");
    EXPECT_EQ(e.userName, "alice");
    EXPECT_EQ(master.databaseChanged.load(), 1);
}

TEST_F(PlayerRecordTest, StoredChatLevelAboveTwoLoadsAsTwo) {
    stored("chatty").chatLevel = 7;
    cl_LfsPlayer p = driver("chatty", "c");
    p.LoadFromDatabase(master);
    EXPECT_EQ(p.chatLevel, 2);
}

TEST_F(PlayerRecordTest, HostIsNeverLoadedOrSaved) {
    cl_LfsPlayer host = driver("", "host");
    EXPECT_EQ(host.LoadFromDatabase(master), 0);
    EXPECT_EQ(host.databaseEntry, nullptr);
    EXPECT_TRUE(master.database.empty());

    PlayerEntry dummy;
    host.databaseEntry = &dummy;
    host.skillPoints = 99;
    host.teamColour = 1;
    EXPECT_EQ(host.SaveToDatabase(master), 0);
    EXPECT_EQ(dummy.skillPoints, 0);
    EXPECT_EQ(dummy.teamColour, 3);
    EXPECT_EQ(host.LoadCombination(master, "BL1"), 0);
    EXPECT_TRUE(dummy.combinations.empty());
    EXPECT_EQ(host.SaveCombination(master), 0);
    EXPECT_EQ(master.databaseChanged.load(), 0);
    EXPECT_EQ(console.output(), "");
}

TEST_F(PlayerRecordTest, AiCarNeverTouchesItsOwnersEntry) {
    PlayerEntry& e = stored("owner");
    cl_LfsPlayer owner = driver("owner", "Owner");
    ASSERT_EQ(owner.LoadFromDatabase(master), 2);
    ASSERT_EQ(owner.LoadCombination(master, "BL1"), 0);
    const std::size_t combos = e.combinations.size();

    cl_LfsPlayer ai = owner;  // an AI entry starts as a copy of its owner's
    ai.ai = 1;
    ai.playerName = "AI 1";
    ai.car = "FZR";
    ai.skillPoints = 9999;
    ai.combinationLaps = 77;
    EXPECT_EQ(ai.LoadFromDatabase(master), 0);
    EXPECT_EQ(ai.SaveToDatabase(master), 0);
    EXPECT_EQ(ai.LoadCombination(master, "AS3"), 0);
    EXPECT_EQ(ai.SaveCombination(master), 0);
    EXPECT_EQ(e.skillPoints, 321);
    EXPECT_EQ(e.playerName, "old nick");
    EXPECT_EQ(e.combinations.size(), combos);
    EXPECT_EQ(owner.combination->laps, 0);
}

TEST_F(PlayerRecordTest, EachCarAndTrackHasItsOwnCombination) {
    cl_LfsPlayer p = driver("alice", "A", "XRT");
    ASSERT_EQ(p.LoadFromDatabase(master), 3);
    ASSERT_EQ(p.LoadCombination(master, "BL1"), 0);
    CombinationRecord* xrtBl1 = p.combination;
    ASSERT_NE(xrtBl1, nullptr);
    EXPECT_EQ(xrtBl1->car, "XRT");
    EXPECT_EQ(xrtBl1->track, "BL1");
    p.combinationLaps = 3;
    p.personalBest = {80000, 20000, 20000, 20000, 20000};
    p.bestSectors = {19000, 19500, 19600, 19700, 0};
    master.databaseChanged = 0;
    EXPECT_EQ(p.SaveCombination(master), 0);
    EXPECT_EQ(master.databaseChanged.load(), 1);

    p.car = "FZR";
    p.ResetRaceData();
    ASSERT_EQ(p.LoadCombination(master, "BL1"), 0);
    EXPECT_NE(p.combination, xrtBl1);
    EXPECT_EQ(p.combinationLaps, 0);
    p.car = "XRT";
    ASSERT_EQ(p.LoadCombination(master, "BL1R"), 0);
    EXPECT_NE(p.combination, xrtBl1) << "tracks compare exactly";
    EXPECT_EQ(p.databaseEntry->combinations.size(), 3u);

    ASSERT_EQ(p.LoadCombination(master, "BL1"), 0);
    EXPECT_EQ(p.combination, xrtBl1) << "back to the old pair finds its record";
    EXPECT_EQ(p.combinationLaps, 3);
    EXPECT_EQ(p.personalBest, (std::array<std::int32_t, 5>{80000, 20000, 20000, 20000, 20000}));
    EXPECT_EQ(p.bestSectors, (std::array<std::int32_t, 5>{19000, 19500, 19600, 19700, 0}));
    EXPECT_EQ(p.databaseEntry->combinations.size(), 3u);
}

TEST_F(PlayerRecordTest, MissingLinksAreRefused) {
    cl_LfsPlayer p = driver("nobody", "n");
    EXPECT_EQ(p.SaveToDatabase(master), -1);
    EXPECT_EQ(p.LoadCombination(master, "BL1"), -1);
    EXPECT_EQ(p.SaveCombination(master), -1);
    p.LoadFromDatabase(master);
    EXPECT_EQ(p.SaveCombination(master), -1) << "no combination loaded yet";
    EXPECT_EQ(master.database.entries.front().combinations.size(), 0u);
}

TEST_F(PlayerRecordTest, DebugLinesNameThePlayer) {
    master.debugSlot = 0;
    cl_LfsPlayer p = driver("alice", "^1Al");
    p.LoadFromDatabase(master);
    p.LoadCombination(master, "BL1");
    p.SaveCombination(master);
    p.SaveToDatabase(master);
    p.LoadCombination(master, "BL1");
    EXPECT_EQ(console.output(),
              "\nDEBUG: Load player from central database: ^1Al , alice\n"
              "\nDEBUG: created an entry  for a new player (Nr.0) in central database\n"
              "\nDEBUG: Create combo in central database for ^1Al , alice\n"
              "\nDEBUG: Load combo from central database for ^1Al , alice\n"
              "\nDEBUG: Save combo in central databse for ^1Al , alice\n"
              "\nDEBUG: Save player in central database: ^1Al , alice\n"
              "\nDEBUG: Load combo from central database for ^1Al , alice\n");
}

TEST_F(PlayerRecordTest, LongTrackNamesAreCutAndStillFound) {
    cl_LfsPlayer p = driver("alice", "A");
    p.LoadFromDatabase(master);
    ASSERT_EQ(p.LoadCombination(master, "WE1R_LONGER"), 0);
    CombinationRecord* first = p.combination;
    EXPECT_EQ(first->track, "WE1R_L");
    ASSERT_EQ(p.LoadCombination(master, "WE1R_LONGER"), 0);
    EXPECT_EQ(p.combination, first);
    ASSERT_EQ(p.LoadCombination(master, nullptr), 0);
    EXPECT_TRUE(p.combination->track.empty());
}

}  // namespace
}  // namespace tmx::data
