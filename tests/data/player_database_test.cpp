#include "data/player_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "data/lfs_player.h"
#include "master/master_control.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

using data::CombinationList;
using data::CombinationRecord;
using data::PlayerEntry;
using testing::FakeClock;
using testing::TempDir;

// ---- File bytes written by hand from the layout tables ----------------------

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

void put(std::string& block, std::size_t offset, const std::string& bytes) {
    block.replace(offset, bytes.size(), bytes);
}

struct EntryBytes {
    std::uint8_t online = 0;
    std::uint64_t lastSeen = 0;
    std::string user, player;
    std::uint8_t colour = 3, position = 170, chat = 2;
    std::string language = "ori";
    std::int32_t points = 0;
    std::uint32_t laps = 0;
    bool garbageLinks = false;  // memory links filled with non-zero bytes
};

std::string entryBytes(const EntryBytes& e) {
    std::string b(96, '\0');
    if (e.garbageLinks) put(b, 0, std::string(12, '\x5A'));
    b[12] = static_cast<char>(e.online);
    put(b, 16, le32(static_cast<std::uint32_t>(e.lastSeen)));
    put(b, 20, le32(static_cast<std::uint32_t>(e.lastSeen >> 32)));
    put(b, 24, e.user);
    put(b, 49, e.player);
    b[74] = static_cast<char>(e.colour);
    b[75] = static_cast<char>(e.position);
    b[76] = static_cast<char>(e.chat);
    put(b, 77, e.language.substr(0, 3));
    put(b, 84, le32(static_cast<std::uint32_t>(e.points)));
    put(b, 88, le32(e.laps));
    return b;
}

struct ComboBytes {
    std::array<std::int32_t, 5> best{}, sectors{};
    std::int32_t laps = 0;
    std::string car, track;
    bool garbageLinks = false;
};

std::string comboBytes(const ComboBytes& c) {
    std::string b(64, '\0');
    if (c.garbageLinks) put(b, 0, std::string(8, '\x33'));
    for (std::size_t i = 0; i < 5; ++i) {
        put(b, 8 + 4 * i, le32(static_cast<std::uint32_t>(c.best[i])));
        put(b, 28 + 4 * i, le32(static_cast<std::uint32_t>(c.sectors[i])));
    }
    put(b, 48, le32(static_cast<std::uint32_t>(c.laps)));
    put(b, 52, c.car);
    put(b, 57, c.track);
    return b;
}

const EntryBytes kAlice{1, 0x1'2345'6789ULL, "alice", "^1Al^7ice", 5, 150, 1, "deu", -42, 77, true};
const ComboBytes kAliceXrt{{83456, 20000, 21000, 22000, 20456}, {19000, 20500, 21500, 19900, 0}, 12, "XRT", "BL1R", true};
const ComboBytes kAliceFzr{{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, 0, "FZR", "AS7"};
const EntryBytes kBob{0, 1'800'000'000ULL, "Bob_the_driver_with_24ch", "Bob", 7, 30, 0, "eng", 1234, 9, false};

std::string twoPlayerFile() {
    return le32(2) + le32(2) + entryBytes(kAlice) + le32(2) + comboBytes(kAliceXrt) + comboBytes(kAliceFzr) +
           entryBytes(kBob) + le32(0);
}

class DatabaseTest : public ::testing::Test {
protected:
    DatabaseTest() : master(console, clock) {
        master.workDir = dir.path();
        master.readKey = [] { return 0; };
    }

    // A player record as a connection's table entry would hold it.
    static data::cl_LfsPlayer player(const char* user, const char* nick = "nick") {
        data::cl_LfsPlayer p;
        p.userName = user;
        p.playerName = nick;
        return p;
    }

    PlayerEntry& add(const char* user, std::uint32_t skillLaps, std::vector<std::int32_t> comboLaps,
                     std::int32_t online = 0) {
        PlayerEntry e;
        e.userName = user;
        e.skillLaps = skillLaps;
        e.onlineCount = online;
        for (std::int32_t laps : comboLaps) e.combinations.emplace_back().laps = laps;
        return master.database.append(std::move(e));
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : master.database.entries) out.push_back(e.userName.str());
        return out;
    }

    std::string file() const { return data::kDatabaseFile; }

    TempDir dir;
    CaptureConsole console;
    FakeClock clock;
    cl_MasterControl master;
};

// ---- Read -------------------------------------------------------------------------

TEST_F(DatabaseTest, ReadLoadsEveryFieldOfAHandBuiltFile) {
    dir.write(file(), le32(2) + twoPlayerFile().substr(4));
    master.databaseChanged = 1;
    ASSERT_EQ(master.ReadDatabase(file()), 0);
    EXPECT_EQ(console.output(), "\nReading database from disk :tmx_db.rdb\nReading :..\nDone\n\n");
    EXPECT_EQ(master.databaseLoaded.load(), 1);
    EXPECT_EQ(master.databaseChanged.load(), 0);
    ASSERT_EQ(master.database.count(), 2);

    const PlayerEntry& a = master.database.entries.front();
    EXPECT_EQ(a.onlineCount, 0) << "the online flag is cleared on reading";
    EXPECT_EQ(a.lastSeen, 0x1'2345'6789LL);
    EXPECT_EQ(a.userName, "alice");
    EXPECT_EQ(a.playerName, "^1Al^7ice");
    EXPECT_EQ(a.teamColour, 5);
    EXPECT_EQ(a.teamPosition, 150);
    EXPECT_EQ(a.chatLevel, 1);
    EXPECT_EQ(a.language, "deu");
    EXPECT_EQ(a.skillPoints, -42);
    EXPECT_EQ(a.skillLaps, 77u);
    ASSERT_EQ(a.combinations.size(), 2u);
    const CombinationRecord& xrt = a.combinations[0];
    EXPECT_EQ(xrt.personalBest, (std::array<std::int32_t, 5>{83456, 20000, 21000, 22000, 20456}));
    EXPECT_EQ(xrt.bestSectors, (std::array<std::int32_t, 5>{19000, 20500, 21500, 19900, 0}));
    EXPECT_EQ(xrt.laps, 12);
    EXPECT_EQ(xrt.car, "XRT");
    EXPECT_EQ(xrt.track, "BL1R");
    EXPECT_EQ(a.combinations[1].car, "FZR");
    EXPECT_EQ(a.combinations[1].track, "AS7");
    EXPECT_EQ(a.combinations[1].laps, 0);

    const PlayerEntry& b = master.database.entries.back();
    EXPECT_EQ(b.userName, "Bob_the_driver_with_24ch");
    EXPECT_EQ(b.lastSeen, 1'800'000'000);
    EXPECT_EQ(b.teamColour, 7);
    EXPECT_EQ(b.teamPosition, 30);
    EXPECT_EQ(b.chatLevel, 0);
    EXPECT_EQ(b.language, "eng");
    EXPECT_EQ(b.skillPoints, 1234);
    EXPECT_EQ(b.skillLaps, 9u);
    EXPECT_TRUE(b.combinations.empty());
}

TEST_F(DatabaseTest, ReadRefusesBadHeaders) {
    struct Case {
        std::string bytes;
        std::string message;
    } cases[] = {
        {le32(1) + le32(0), "\nWrong DB-Version"},
        {"", "\nWrong DB-Version"},  // no bytes is no read error, and no version 2
        {std::string("\x02\0", 2), "\nWrong DB-Version"},
        {le32(2), "\nReading :\nError while reading database. Playernumber??"},
        {le32(2) + "\x01", "\nReading :\nError while reading database. Playernumber??"},
    };
    for (const Case& c : cases) {
        console.clear();
        master.databaseLoaded = 1;
        dir.write(file(), c.bytes);
        EXPECT_EQ(master.ReadDatabase(file()), -1);
        EXPECT_EQ(console.output(), "\nReading database from disk :tmx_db.rdb" + c.message) << c.message;
        EXPECT_EQ(master.databaseLoaded.load(), 0);
        EXPECT_TRUE(master.database.empty());
        EXPECT_EQ(master.databaseBusy.load(), 0);
    }
    console.clear();
    EXPECT_EQ(master.ReadDatabase("missing.rdb"), -1);
    EXPECT_EQ(console.output(),
              "\nReading database from disk :missing.rdb\nCouldn't open databasefile for load :missing.rdb");
}

TEST_F(DatabaseTest, TruncatedFileKeepsOnlyTheWholeEntriesBeforeIt) {
    const std::string whole = le32(2) + le32(3) + entryBytes(kBob) + le32(0) + entryBytes(kAlice) + le32(2) +
                              comboBytes(kAliceXrt) + comboBytes(kAliceFzr);
    // cut inside alice's second record, inside her entry, and before her record count
    for (std::size_t cut : {whole.size() - 1, whole.size() - 64 - 10, std::size_t{8 + 100 + 50}, std::size_t{8 + 100 + 96 + 2}}) {
        console.clear();
        master.database.clear();
        dir.write(file(), whole.substr(0, cut));
        EXPECT_EQ(master.ReadDatabase(file()), -1) << cut;
        EXPECT_EQ(names(), std::vector<std::string>{"Bob_the_driver_with_24ch"}) << cut;
        EXPECT_EQ(console.output(), "\nReading database from disk :tmx_db.rdb\nReading :.\nError while "
                                    "reading database. Playernumber??");
        EXPECT_EQ(master.databaseLoaded.load(), 0);
    }
    // the third entry is missing altogether: the two whole ones stay
    dir.write(file(), whole);
    EXPECT_EQ(master.ReadDatabase(file()), -1);
    EXPECT_EQ(master.database.count(), 2);
    EXPECT_EQ(master.database.entries.back().combinations.size(), 2u);
}

TEST_F(DatabaseTest, ReadingAgainReplacesTheDatabaseInMemory) {
    add("old", 1, {1});
    dir.write(file(), twoPlayerFile());
    ASSERT_EQ(master.ReadDatabase(file()), 0);
    EXPECT_NE(console.output().find("\nDeleting old database in ram"), std::string::npos);
    EXPECT_EQ(names(), (std::vector<std::string>{"alice", "Bob_the_driver_with_24ch"}));
    data::cl_LfsPlayer p = player("old");
    EXPECT_EQ(master.FindOrCreateEntry(&p, false), 3) << "the index forgot the old entries";
}

// ---- Write ----------------------------------------------------------------------------

TEST_F(DatabaseTest, WriteMatchesTheLayoutByteForByte) {
    PlayerEntry a;
    a.onlineCount = 1;
    a.lastSeen = 0x1'2345'6789LL;
    a.userName = "alice";
    a.playerName = "^1Al^7ice";
    a.teamColour = 5;
    a.teamPosition = 150;
    a.chatLevel = 1;
    a.language = "deu";
    a.skillPoints = -42;
    a.skillLaps = 77;
    CombinationRecord& x = a.combinations.emplace_back();
    x.personalBest = kAliceXrt.best;
    x.bestSectors = kAliceXrt.sectors;
    x.laps = 12;
    x.car = "XRT";
    x.track = "BL1R";
    CombinationRecord& f = a.combinations.emplace_back();
    f.car = "FZR";
    f.track = "AS7";
    master.database.append(a);
    PlayerEntry b;
    b.lastSeen = 1'800'000'000;
    b.userName = kBob.user.c_str();
    b.playerName = "Bob";
    b.teamColour = 7;
    b.teamPosition = 30;
    b.chatLevel = 0;
    b.language = "eng";
    b.skillPoints = 1234;
    b.skillLaps = 9;
    master.database.append(b);
    master.databaseChanged = 1;

    ASSERT_EQ(master.WriteDatabase(file()), 0);
    EntryBytes aliceOnDisk = kAlice;
    aliceOnDisk.garbageLinks = false;  // links are written as zero
    ComboBytes xrtOnDisk = kAliceXrt;
    xrtOnDisk.garbageLinks = false;
    EXPECT_EQ(dir.read(file()), le32(2) + le32(2) + entryBytes(aliceOnDisk) + le32(2) + comboBytes(xrtOnDisk) +
                                    comboBytes(kAliceFzr) + entryBytes(kBob) + le32(0))
        << "the online flag is written as it is";
    EXPECT_EQ(master.databaseChanged.load(), 0);
    EXPECT_EQ(console.output(), "\nWriting database to disk :tmx_db.rdb\nCreating database-backup"
                                "\nCouldn't read (copy) file :" +
                                    dir.file(file()) + "\nFailed\n\nWriting :... Done\n");
    EXPECT_FALSE(dir.exists(file() + ".new")) << "nothing is left beside the database";
}

TEST_F(DatabaseTest, RoundTripGivesTheSameDatabaseAndTheSameBytes) {
    dir.write(file(), twoPlayerFile());
    ASSERT_EQ(master.ReadDatabase(file()), 0);
    add("carol", 4, {3, 0, 5});
    ASSERT_EQ(master.WriteDatabase(file()), 0);
    const std::string first = dir.read(file());

    cl_MasterControl again(console, clock);
    again.workDir = dir.path();
    again.readKey = [] { return 0; };
    ASSERT_EQ(again.ReadDatabase(file()), 0);
    ASSERT_EQ(again.database.count(), 3);
    auto it = again.database.entries.begin();
    EXPECT_EQ(it->userName, "alice");
    EXPECT_EQ(it->combinations[0].personalBest[0], 83456);
    ++it;
    ++it;
    EXPECT_EQ(it->userName, "carol");
    ASSERT_EQ(it->combinations.size(), 3u);
    EXPECT_EQ(it->combinations[2].laps, 5);
    ASSERT_EQ(again.WriteDatabase(file()), 0);
    EXPECT_EQ(dir.read(file()), first);
    EXPECT_EQ(first[8 + 12], '\0') << "alice's online flag was cleared by the first read";
}

TEST_F(DatabaseTest, EmptyDatabaseLeavesTheFileUntouched) {
    dir.write(file(), "old content");
    master.databaseChanged = 1;
    EXPECT_EQ(master.WriteDatabase(file()), 0);
    EXPECT_EQ(dir.read(file()), "old content");
    EXPECT_FALSE(dir.exists(file() + ".bak"));
    EXPECT_EQ(console.output(), "");
    EXPECT_EQ(master.databaseChanged.load(), 1);
}

TEST_F(DatabaseTest, WrongVersionFileSurvivesOnlyInTheBackup) {
    const std::string v1 = le32(1) + le32(0);
    dir.write(file(), v1);
    EXPECT_EQ(master.ReadDatabase(file()), -1);
    add("alice", 1, {1});
    ASSERT_EQ(master.WriteDatabase(file()), 0);
    EXPECT_EQ(dir.read(file() + ".bak"), v1);
    EXPECT_EQ(dir.read(file()).substr(0, 8), le32(2) + le32(1));
    EXPECT_NE(console.output().find("\nCreating database-backup\nDone\n\nWriting :"), std::string::npos);
}

TEST_F(DatabaseTest, BackupHoldsTheFileAsItWasBeforeEachWrite) {
    add("alice", 1, {1});
    ASSERT_EQ(master.WriteDatabase(file()), 0);
    const std::string first = dir.read(file());
    add("bob", 2, {3});
    ASSERT_EQ(master.WriteDatabase(file()), 0);
    const std::string second = dir.read(file());
    ASSERT_NE(first, second);
    EXPECT_EQ(dir.read(file() + ".bak"), first);
    add("carol", 3, {4});
    ASSERT_EQ(master.WriteDatabase(file()), 0);
    EXPECT_EQ(dir.read(file() + ".bak"), second) << "the backup never follows the new file";
    EXPECT_NE(dir.read(file()), second);
}

TEST_F(DatabaseTest, FailedWriteKeepsTheOldFileWhole) {
    dir.write(file(), twoPlayerFile());
    add("alice", 1, {1});
    master.databaseChanged = 1;
    // the file beside the database cannot be created
    std::filesystem::create_directories(dir.file(file() + ".new"));
    EXPECT_EQ(master.WriteDatabase(file()), -1);
    EXPECT_EQ(dir.read(file()), twoPlayerFile());
    EXPECT_EQ(master.databaseChanged.load(), 1) << "the change is still only in memory";
    EXPECT_NE(console.output().find("\nCouldn't open databasefile for save :tmx_db.rdb"), std::string::npos);
    EXPECT_EQ(master.databaseBusy.load(), 0);
    // and the lock was given back
    data::cl_LfsPlayer p = player("bob");
    EXPECT_EQ(master.FindOrCreateEntry(&p, false), 3);
}

TEST_F(DatabaseTest, StartUpMakesTheStartBackupOfALoadedDatabase) {
    dir.write("languages/__MASTER.lng", "<(cr)>\r\n\"ori\"\r\n");
    dir.write(file(), twoPlayerFile());
    ASSERT_EQ(master.StartUp(), 0);
    EXPECT_EQ(dir.read(file() + ".startbak"), twoPlayerFile());
    EXPECT_NE(console.output().find("\n\nMCP: Creating startbackup \nDone\n"), std::string::npos);
}

TEST_F(DatabaseTest, CopyFileReportsBothSides) {
    dir.write("a", std::string("x\0y", 3));
    EXPECT_EQ(master.CopyFile(dir.file("a"), dir.file("b")), 0);
    EXPECT_EQ(dir.read("b"), std::string("x\0y", 3));
    EXPECT_EQ(master.CopyFile(dir.file("none"), dir.file("c")), -1);
    EXPECT_EQ(master.CopyFile(dir.file("a"), dir.file("no/such/dir")), -1);
    EXPECT_EQ(console.output(), "\nCouldn't read (copy) file :" + dir.file("none") + "\nCouldn't write file (copy) :" +
                                    dir.file("no/such/dir"));
}

// ---- Find or create --------------------------------------------------------------

TEST_F(DatabaseTest, FindOrCreateResultsAndTexts) {
    data::cl_LfsPlayer alice = player("alice", "^1Alice");
    EXPECT_EQ(master.FindOrCreateEntry(&alice, false), 3);
    ASSERT_NE(alice.databaseEntry, nullptr);
    const PlayerEntry& e = *alice.databaseEntry;
    EXPECT_EQ(e.userName, "alice");
    EXPECT_EQ(e.playerName, "^1Alice");
    EXPECT_EQ(e.teamColour, 3);
    EXPECT_EQ(e.teamPosition, 170);
    EXPECT_EQ(e.chatLevel, 2);
    EXPECT_EQ(e.language, "ori");
    EXPECT_EQ(e.lastSeen, 0) << "a new entry has not been seen";
    EXPECT_EQ(e.onlineCount, 0);
    EXPECT_EQ(e.skillPoints, 0);
    EXPECT_EQ(master.databaseChanged.load(), 1);
    EXPECT_EQ(console.output(), "") << "no debug lines while no server debugs";

    master.databaseChanged = 0;
    clock.advanceSeconds(100);
    data::cl_LfsPlayer again = player("alice");
    EXPECT_EQ(master.FindOrCreateEntry(&again, false), 2);
    EXPECT_EQ(again.databaseEntry, alice.databaseEntry);
    EXPECT_EQ(e.lastSeen, clock.now());
    EXPECT_EQ(master.databaseChanged.load(), 0) << "finding changes nothing to save";

    alice.databaseEntry->onlineCount = 1;
    EXPECT_EQ(master.FindOrCreateEntry(&again, false), 5);

    EXPECT_EQ(master.FindOrCreateEntry(nullptr, true), -1);
    EXPECT_EQ(console.output(), "MCP-ERROR: LoadPlayer -> got an illegal playerpointer!!!\n");
    EXPECT_EQ(master.database.count(), 1);
}

TEST_F(DatabaseTest, DebugLinesWhileAServerDebugs) {
    master.debugSlot = 3;
    add("x", 1, {});
    add("y", 1, {});
    data::cl_LfsPlayer p = player("alice");
    master.FindOrCreateEntry(&p, true);
    EXPECT_EQ(console.output(), "\nDEBUG: created an entry  for a new player (Nr.2) in central database\n");
    console.clear();
    master.FindOrCreateEntry(&p, true);
    EXPECT_EQ(console.output(), "\nDEBUG: LoadPlayer -> found a databaseentry for a new player\n"
                                "\nDEBUG: LoadPlayer -> Player is online? (Busy=1)\n");
    console.clear();
    master.CleanDatabase();
    EXPECT_EQ(console.output(), "\nMCP:  Cleaning Database\nx -->\ny -->\nalice -->\nDB-Cleaning done\n");
}

TEST_F(DatabaseTest, MarkOnlineTakesEffectInTheSameStep) {
    data::cl_LfsPlayer p = player("alice");
    EXPECT_EQ(master.FindOrCreateEntry(&p, true), 3);
    EXPECT_EQ(p.databaseEntry->onlineCount, 1);
    // an idle clean right after cannot remove the lap-less new entry
    master.CleanDatabase();
    ASSERT_EQ(master.database.count(), 1);
    EXPECT_EQ(&master.database.entries.front(), p.databaseEntry);
    // a second connection of the same name holds it too; each hold is given back alone
    data::cl_LfsPlayer second = player("alice");
    EXPECT_EQ(master.FindOrCreateEntry(&second, true), 5);
    master.ReleaseEntry(p);
    EXPECT_EQ(p.databaseEntry, nullptr) << "a released record keeps no link into the database";
    master.ReleaseEntry(p);  // a second release of the same record gives nothing back
    master.CleanDatabase();
    ASSERT_EQ(master.database.count(), 1) << "still held by the second connection";
    EXPECT_EQ(master.FindOrCreateEntry(&p, false), 5) << "the result tells it is online";
    master.ReleaseEntry(second);
    EXPECT_EQ(master.FindOrCreateEntry(&p, true), 2);
    master.ReleaseEntry(p);
    master.CleanDatabase();
    EXPECT_TRUE(master.database.empty());
}

TEST_F(DatabaseTest, UserNamesDifferingInCaseAreDifferentPlayers) {
    data::cl_LfsPlayer lower = player("alice"), upper = player("Alice"), caps = player("ALICE");
    EXPECT_EQ(master.FindOrCreateEntry(&lower, false), 3);
    EXPECT_EQ(master.FindOrCreateEntry(&upper, false), 3);
    EXPECT_EQ(master.FindOrCreateEntry(&caps, false), 3);
    EXPECT_EQ(master.database.count(), 3);
    EXPECT_NE(lower.databaseEntry, upper.databaseEntry);
    data::cl_LfsPlayer again = player("Alice");
    EXPECT_EQ(master.FindOrCreateEntry(&again, false), 2);
    EXPECT_EQ(again.databaseEntry, upper.databaseEntry);
}

TEST_F(DatabaseTest, DuplicateNamesInTheFileAnswerWithTheFirstUntilItIsCleaned) {
    EntryBytes first = kBob, second = kBob;
    first.laps = 0;  // cleaned away
    second.points = 999;
    dir.write(file(), le32(2) + le32(2) + entryBytes(first) + le32(0) + entryBytes(second) + le32(1) +
                          comboBytes(kAliceXrt));
    ASSERT_EQ(master.ReadDatabase(file()), 0);
    data::cl_LfsPlayer p = player(kBob.user.c_str());
    EXPECT_EQ(master.FindOrCreateEntry(&p, false), 2);
    EXPECT_EQ(p.databaseEntry, &master.database.entries.front());
    master.CleanDatabase();
    EXPECT_EQ(master.FindOrCreateEntry(&p, false), 2);
    EXPECT_EQ(p.databaseEntry->skillPoints, 999);
}

// Lookups through the index give what a walk of the list gives, whatever
// mix of creation, cleaning, renaming and reading came before.
TEST_F(DatabaseTest, IndexAlwaysAgreesWithAListWalk) {
    std::mt19937 rng(12345);
    const char* pool[] = {"a", "b", "c", "d", "e", "f", "g", "A", "B", "bb", ""};
    auto walk = [&](const std::string& name) -> PlayerEntry* {
        for (PlayerEntry& e : master.database.entries)
            if (e.userName == name) return &e;
        return nullptr;
    };
    for (int step = 0; step < 3000; ++step) {
        const std::string name = pool[rng() % std::size(pool)];
        switch (rng() % 10) {
            case 0: {  // some players drive laps, go online or offline
                for (PlayerEntry& e : master.database.entries) {
                    if (rng() % 3 == 0) e.onlineCount = static_cast<std::int32_t>(rng() % 2);
                    if (rng() % 3 == 0) e.skillLaps = rng() % 2;
                    if (rng() % 3 == 0) e.combinations.emplace_back().laps = static_cast<std::int32_t>(rng() % 2);
                }
                master.CleanDatabase();
                break;
            }
            case 1: {  // a saved record may carry another user name
                if (master.database.empty()) break;
                data::cl_LfsPlayer p = player(name.c_str());
                p.databaseEntry = &master.database.entries.back();
                p.SaveToDatabase(master);
                break;
            }
            case 2:
                if (rng() % 25 == 0 && master.WriteDatabase(file()) == 0) master.ReadDatabase(file());
                break;
            default: {
                PlayerEntry* expected = walk(name);
                data::cl_LfsPlayer p = player(name.c_str());
                const int result = master.FindOrCreateEntry(&p, false);
                if (expected) {
                    EXPECT_EQ(p.databaseEntry, expected) << step << " " << name;
                    EXPECT_NE(result, 3);
                } else {
                    EXPECT_EQ(result, 3) << step << " " << name;
                    EXPECT_EQ(p.databaseEntry, &master.database.entries.back());
                }
            }
        }
    }
}

// ---- Combination records ----------------------------------------------------------

TEST_F(DatabaseTest, CreateCombinationAppendsAZeroedRecord) {
    EXPECT_EQ(master.CreateCombination(nullptr), nullptr);
    data::cl_LfsPlayer p = player("alice");
    EXPECT_EQ(master.CreateCombination(&p), nullptr);
    EXPECT_EQ(console.output(), "ERROR: CreateRecord -> illegal playerpointer!!\n"
                                "ERROR: CreateRecord -> player has no entry in central database!\n");
    master.FindOrCreateEntry(&p, true);
    master.databaseChanged = 0;
    CombinationRecord* first = master.CreateCombination(&p);
    ASSERT_NE(first, nullptr);
    first->car = "XRT";
    first->laps = 4;
    CombinationRecord* second = master.CreateCombination(&p);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->laps, 0);
    EXPECT_TRUE(second->car.empty());
    EXPECT_EQ(second->personalBest, (std::array<std::int32_t, 5>{}));
    EXPECT_EQ(&p.databaseEntry->combinations.back(), second);
    EXPECT_EQ(p.databaseEntry->combinations.size(), 2u);
    EXPECT_EQ(master.databaseChanged.load(), 1);
}

TEST(CombinationListTest, AppendingNeverMovesARecord) {
    CombinationList list;
    std::vector<CombinationRecord*> addresses;
    for (int i = 0; i < 100; ++i) {
        CombinationRecord& r = list.emplace_back();
        r.laps = i;
        addresses.push_back(&r);
    }
    ASSERT_EQ(list.size(), 100u);
    int i = 0;
    for (CombinationRecord& r : list) {
        EXPECT_EQ(&r, addresses[static_cast<std::size_t>(i)]);
        EXPECT_EQ(r.laps, i++);
    }
    EXPECT_EQ(i, 100);
    EXPECT_EQ(&list[57], addresses[57]);
    EXPECT_EQ(&list.back(), addresses.back());
}

TEST(CombinationListTest, RemoveIfKeepsTheOrderOfTheOthers) {
    CombinationList list;
    list.reserve(3);
    for (int i = 0; i < 40; ++i) list.emplace_back().laps = i;
    EXPECT_EQ(list.removeIf([](const CombinationRecord& r) { return r.laps % 3 != 0; }), 26u);
    std::vector<int> left;
    for (const CombinationRecord& r : list) left.push_back(r.laps);
    EXPECT_EQ(left, (std::vector<int>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 33, 36, 39}));
    EXPECT_EQ(list.back().laps, 39);
    // appending after a compaction gives a blank record at the end
    CombinationRecord& added = list.emplace_back();
    EXPECT_EQ(added.laps, 0);
    EXPECT_EQ(list.size(), 15u);
    EXPECT_EQ(&list.back(), &added);
    const CombinationList copy = list;
    EXPECT_EQ(copy.size(), 15u);
    EXPECT_EQ(copy[1].laps, 3);
    // a compaction that ends inside a block leaves the slots after it blank
    CombinationList partial;
    for (int i = 0; i < 10; ++i) partial.emplace_back().laps = i + 1;
    EXPECT_EQ(partial.removeIf([](const CombinationRecord& r) { return r.laps == 1; }), 1u);
    EXPECT_EQ(partial.back().laps, 10);
    EXPECT_EQ(partial.emplace_back().laps, 0);
    EXPECT_EQ(partial.size(), 10u);

    EXPECT_EQ(list.removeIf([](const CombinationRecord&) { return true; }), 15u);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.begin(), list.end());
    EXPECT_EQ(copy.size(), 15u);
}

// ---- Cleaning -------------------------------------------------------------------------

TEST_F(DatabaseTest, CleaningRemovesWhatHasNoLapsAndSparesOnlinePlayers) {
    add("joined-and-left", 0, {0});
    add("laps-but-zero-combos", 5, {0, 0});
    PlayerEntry& mixed = add("mixed", 5, {0, 7, 0, 2});
    add("online-no-laps", 0, {0, 0}, 1);
    add("never-drove", 3, {});
    add("skill-laps-zero", 0, {4});
    master.CleanDatabase();
    EXPECT_EQ(names(), (std::vector<std::string>{"mixed", "online-no-laps"}));
    std::vector<int> laps;
    for (const auto& r : mixed.combinations) laps.push_back(r.laps);
    EXPECT_EQ(laps, (std::vector<int>{7, 2}));
    EXPECT_EQ(master.database.entries.back().combinations.size(), 2u) << "an online player keeps every record";
    EXPECT_EQ(console.output(), "\nMCP:  Cleaning Database\nDB-Cleaning done\n");

    console.clear();
    master.database.clear();
    master.CleanDatabase();
    EXPECT_EQ(console.output(), "") << "nothing at all for an empty database";
}

// ---- The lock ----------------------------------------------------------------------------

TEST_F(DatabaseTest, WaitingOperationsPrintTheirBusyMessageOnce) {
    struct Op {
        std::function<void()> run;
        std::string busy;  // what a waiting operation prints on a database with entries
        bool saysWhenItWaits;  // clean and write speak only once they know there is something to do
    };
    data::cl_LfsPlayer p = player("bob");
    const Op ops[] = {
        {[&] { master.FindOrCreateEntry(&p, false); }, "\nMCP: Database is busy!\n", true},
        {[&] { master.CleanDatabase(); }, "\nMCP:  Cleaning Database\nDatabase is busy!", false},
        {[&] { master.WriteDatabase(file()); }, "\nWriting database to disk :tmx_db.rdb\nDatabase is busy!", false},
        {[&] { master.ReadDatabase(file()); }, "\nReading database from disk :tmx_db.rdb\nDatabase is busy!", true},
    };
    auto runWhileLocked = [&](const Op& op) {
        console.clear();
        master.databaseLock.lock();
        master.databaseBusy = 1;
        std::atomic<bool> done{false};
        std::thread t([&] {
            op.run();
            done = true;
        });
        if (op.saysWhenItWaits) {
            ASSERT_TRUE(testing::eventually([&] { return console.output().find("busy!") != std::string::npos; }));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            EXPECT_EQ(console.output(), "") << "nothing is said before the lock is had";
        }
        EXPECT_FALSE(done.load()) << "the operation waits for the lock";
        master.databaseBusy = 0;
        master.databaseLock.unlock();
        t.join();
        EXPECT_EQ(master.databaseBusy.load(), 0);
    };
    // An empty database: a waiting clean or write ends as silently as a free one.
    for (int i : {1, 2}) {
        runWhileLocked(ops[i]);
        EXPECT_EQ(console.output(), "");
    }
    add("alice", 1, {1});
    for (const Op& op : ops) {
        runWhileLocked(op);
        EXPECT_NE(console.output().find(op.busy), std::string::npos) << console.output();
    }
}

// Both threads start their save together; the master cleans and writes
// meanwhile. Every save lands, and the last ones leave the database changed.
TEST_F(DatabaseTest, TwoThreadsSavingAtTheSameMomentBothLand) {
    data::cl_LfsPlayer a = player("alice"), b = player("bob");
    ASSERT_EQ(a.LoadFromDatabase(master), 3);
    ASSERT_EQ(b.LoadFromDatabase(master), 3);
    ASSERT_EQ(a.LoadCombination(master, "BL1"), 0);
    ASSERT_EQ(b.LoadCombination(master, "BL1"), 0);
    constexpr int kRounds = 200;
    std::atomic<int> ready{0};
    auto together = [&ready](int round) {
        ++ready;
        while (ready.load() < 2 * round) std::this_thread::yield();
    };
    auto driver = [&](data::cl_LfsPlayer& p, int base, bool createNewcomers) {
        for (int i = 1; i <= kRounds; ++i) {
            together(i);
            p.skillLaps = static_cast<std::uint32_t>(base + i);
            p.combinationLaps = base + i;
            EXPECT_EQ(p.SaveToDatabase(master), 0);
            EXPECT_EQ(p.SaveCombination(master), 0);
            if (createNewcomers) {
                data::cl_LfsPlayer newcomer = player(("n" + std::to_string(base + i)).c_str());
                EXPECT_EQ(master.FindOrCreateEntry(&newcomer, false), 3);
            }
        }
    };
    {
        std::thread ta(driver, std::ref(a), 1000, true), tb(driver, std::ref(b), 5000, true);
        for (int i = 0; i < 5; ++i) {
            master.CleanDatabase();
            master.WriteDatabase(file());
        }
        ta.join();
        tb.join();
    }
    EXPECT_EQ(a.databaseEntry->skillLaps, 1000u + kRounds);
    EXPECT_EQ(b.databaseEntry->skillLaps, 5000u + kRounds);
    EXPECT_EQ(a.combination->laps, 1000 + kRounds);
    EXPECT_EQ(b.combination->laps, 5000 + kRounds);

    // with no write after them, two saves at the same moment leave the flag set
    master.WriteDatabase(file());
    ASSERT_EQ(master.databaseChanged.load(), 0);
    ready = 0;
    {
        std::thread ta(driver, std::ref(a), 2000, false), tb(driver, std::ref(b), 6000, false);
        ta.join();
        tb.join();
    }
    EXPECT_EQ(master.databaseChanged.load(), 1);
    EXPECT_EQ(a.databaseEntry->skillLaps, 2000u + kRounds);
    EXPECT_EQ(b.databaseEntry->skillLaps, 6000u + kRounds);
    EXPECT_EQ(master.databaseBusy.load(), 0);
}

}  // namespace
}  // namespace tmx
