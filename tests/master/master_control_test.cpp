#include "master/master_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <set>
#include <string>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

using testing::FakeClock;
using testing::TempDir;

std::size_t countOf(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (auto pos = haystack.find(needle); pos != std::string::npos;
         pos = haystack.find(needle, pos + needle.size()))
        ++n;
    return n;
}

// A master whose controllers are plain objects: no thread runs them, the test
// sets their control fields as a controller thread would.
class MasterTest : public ::testing::Test {
protected:
    MasterTest() : master(console, clock) {
        master.workDir = dir.path();
        master.readKey = [] { return 0; };
        master.startThread = [this](int slot) {
            started.push_back(slot);
            return true;
        };
    }

    TMX_MAIN& addController(int slot, std::int32_t activity, std::int32_t runRequest = RUN_RUNNING) {
        auto& link = master.links[static_cast<std::size_t>(slot)];
        link = std::make_unique<insim::cl_InsimHandling>(console, clock);
        link->debug = 0;
        auto& c = master.controllers[static_cast<std::size_t>(slot)];
        c = std::make_unique<TMX_MAIN>(console, clock);
        c->slot = slot;
        c->link = link.get();
        c->master = &master;
        c->debugState = DBG_OFF;
        c->activity = activity;
        c->runRequest = runRequest;
        ++master.configuredServers;
        return *c;
    }

    void addDatabaseEntry(const char* user) {
        data::PlayerEntry e;
        e.userName = user;
        e.skillLaps = 3;
        e.combinations.emplace_back();
        e.combinations.back().laps = 2;
        master.database.entries.push_back(e);
    }

    TempDir dir;
    CaptureConsole console;
    FakeClock clock;
    cl_MasterControl master;
    std::vector<int> started;
};

TEST_F(MasterTest, DebugRequestMovesDebugOutputToTheRequestingServer) {
    TMX_MAIN& s0 = addController(0, ACT_ACTIVE);
    TMX_MAIN& s2 = addController(2, ACT_ACTIVE);
    s0.debugState = DBG_ON;
    master.links[0]->debug = 1;
    master.debugSlot = 0;

    s2.debugState = DBG_REQUEST_ON;
    master.SupervisionPass();

    EXPECT_EQ(s0.debugState.load(), DBG_OFF);
    EXPECT_EQ(master.links[0]->debug.load(), 0);
    EXPECT_EQ(s2.debugState.load(), DBG_ON);
    EXPECT_EQ(master.links[2]->debug.load(), 1);
    EXPECT_EQ(master.debugSlot.load(), 2);
    const std::string out = console.output();
    EXPECT_NE(out.find("\n\nMCP: changing debugging\n\nMCP: Server 2 is debugging now\n\n\nDEBUG server 2 listening:"),
              std::string::npos);

    s2.debugState = DBG_REQUEST_OFF;
    console.clear();
    master.SupervisionPass();
    EXPECT_EQ(s2.debugState.load(), DBG_OFF);
    EXPECT_EQ(master.links[2]->debug.load(), 0);
    EXPECT_EQ(master.debugSlot.load(), kNoDebugSlot);
    EXPECT_NE(console.output().find("\nMCP: switched off debuggging\n\nTMX is running..., no server in debugmode\n"),
              std::string::npos);
}

// The debugging server stops: once it counts as dead or is given up, debug
// output goes back to none and the spinner and the status line return. A
// server that ended by an error keeps the slot while it is still given its
// reconnect passes.
struct DebugGoneCase {
    const char* name;
    std::int32_t runRequest;
    int passesKept;
};

void PrintTo(const DebugGoneCase& k, std::ostream* os) { *os << k.name; }

class DebugGoneTest : public MasterTest, public ::testing::WithParamInterface<DebugGoneCase> {};

TEST_P(DebugGoneTest, SpinnerAndStatusLineComeBack) {
    TMX_MAIN& debugging = addController(0, ACT_ACTIVE);
    addController(1, ACT_ACTIVE);
    debugging.debugState = DBG_ON;
    master.links[0]->debug = 1;
    master.debugSlot = 0;
    master.SupervisionPass();

    debugging.runRequest = GetParam().runRequest;
    debugging.activity = ACT_STOPPED;
    for (int pass = 1; pass <= GetParam().passesKept; ++pass) {
        master.SupervisionPass();
        ASSERT_EQ(master.debugSlot.load(), 0) << "pass " << pass;
    }
    EXPECT_EQ(countOf(console.output(), "\b\b\t"), 0u) << "no spinner while it debugs";

    master.SupervisionPass();
    EXPECT_EQ(master.debugSlot.load(), kNoDebugSlot);
    EXPECT_EQ(debugging.debugState.load(), DBG_OFF);
    EXPECT_EQ(master.links[0]->debug.load(), 0);
    EXPECT_NE(console.output().find(
                  "\nMCP: switched off debuggging\n\nTMX is running..., no server in debugmode\n"),
              std::string::npos);

    console.clear();
    for (int i = 0; i < kStatusEvery; ++i) master.SupervisionPass();
    const std::string out = console.output();
    EXPECT_EQ(countOf(out, "\b\b\t"), static_cast<std::size_t>(kStatusEvery));
    EXPECT_EQ(countOf(out, "\rMCP: TmxStatus: OK"), 1u);
    EXPECT_EQ(countOf(out, "switched off debuggging"), 0u) << "given back once";
    EXPECT_EQ(master.quitRequest.load(), QUIT_NONE);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, DebugGoneTest,
    ::testing::Values(DebugGoneCase{"StoppedByAdmin", RUN_STOP, 0},
                      DebugGoneCase{"GivenUpAfterAnError", RUN_ERROR, kRetryGiveUp - 1}),
    [](const ::testing::TestParamInfo<DebugGoneCase>& info) { return std::string(info.param.name); });

TEST_F(MasterTest, SpinnerTurnsEveryPassAndStatusLineEverySixtyPasses) {
    addController(0, ACT_ACTIVE);
    for (int i = 0; i < 120; ++i) master.SupervisionPass();
    const std::string out = console.output();
    EXPECT_EQ(countOf(out, "\rMCP: TmxStatus: OK   (12:34:56  12/07/26)\t"), 2u);
    EXPECT_EQ(countOf(out, "\r" + std::string(71, ' ') + "\rMCP: TmxStatus: OK"), 2u);
    EXPECT_EQ(countOf(out, "\b\b\t-"), 30u);
    EXPECT_EQ(countOf(out, "\b\b\t\\"), 30u);
    EXPECT_EQ(out.find("\b\b\t-\b\b\t\\\b\b\t|\b\b\t/\b\b\t-"), 0u);
    EXPECT_EQ(clock.totalSleptMs(), 120 * kPassSleepMs);
    EXPECT_EQ(master.quitRequest.load(), QUIT_NONE);
}

TEST_F(MasterTest, NoSpinnerAndNoStatusLineWhileAServerIsDebugging) {
    addController(0, ACT_ACTIVE);
    master.debugSlot = 0;
    for (int i = 0; i < 61; ++i) master.SupervisionPass();
    EXPECT_EQ(console.output(), "");
    EXPECT_EQ(master.statusCounter, 1);  // the counter still wraps at 60
}

TEST_F(MasterTest, IdleServersWriteTheDatabaseOnceAfterAChange) {
    addController(0, ACT_IDLE);
    addController(1, ACT_IDLE);
    addDatabaseEntry("alice");
    for (int i = 0; i < 3; ++i) master.SupervisionPass();
    EXPECT_FALSE(dir.exists(data::kDatabaseFile)) << "nothing changed, nothing written";

    master.MarkDatabaseChanged();
    for (int i = 0; i < 5; ++i) master.SupervisionPass();
    EXPECT_EQ(countOf(console.output(), "\n\nMCP: All servers idle."), 1u);
    EXPECT_TRUE(dir.exists(data::kDatabaseFile));
    EXPECT_EQ(master.databaseChanged.load(), 0);
}

TEST_F(MasterTest, AFailedIdleWriteIsTriedAgain) {
    addController(0, ACT_IDLE);
    addDatabaseEntry("alice");
    master.MarkDatabaseChanged();
    // the new file beside the database cannot be created
    std::filesystem::create_directories(dir.file(std::string(data::kDatabaseFile) + ".new"));
    master.SupervisionPass();
    EXPECT_EQ(master.databaseChanged.load(), 1) << "the change is still only in memory";
    std::filesystem::remove_all(dir.file(std::string(data::kDatabaseFile) + ".new"));
    master.SupervisionPass();
    EXPECT_EQ(countOf(console.output(), "\n\nMCP: All servers idle."), 2u);
    EXPECT_TRUE(dir.exists(data::kDatabaseFile));
    EXPECT_EQ(master.databaseChanged.load(), 0);
}

TEST_F(MasterTest, NoIdleWriteWhileOneServerIsActive) {
    addController(0, ACT_IDLE);
    addController(1, ACT_ACTIVE);
    addDatabaseEntry("alice");
    master.MarkDatabaseChanged();
    master.SupervisionPass();
    EXPECT_EQ(console.output().find("All servers idle"), std::string::npos);
    EXPECT_EQ(master.databaseChanged.load(), 1);
}

TEST_F(MasterTest, KillAllAsksOnlyRunningControllersAndWaitsForThem) {
    TMX_MAIN& a = addController(0, ACT_ACTIVE);
    TMX_MAIN& b = addController(1, ACT_IDLE);
    TMX_MAIN& stopped = addController(2, ACT_STOPPED, RUN_STOP);
    addDatabaseEntry("alice");

    std::set<int> askedToDie;
    int sleepsWhileWaiting = 0;
    bool databaseWrittenEarly = false;
    clock.setOnSleep([&](int) {
        for (TMX_MAIN* c : {&a, &b, &stopped}) {
            if (c->activity.load() == ACT_KILL) {
                askedToDie.insert(c->slot);
                if (dir.exists(data::kDatabaseFile)) databaseWrittenEarly = true;
                // The controllers take a few passes to stop.
                if (++sleepsWhileWaiting > 4) c->activity = ACT_STOPPED;
            }
        }
    });

    master.RequestKillAll();
    master.EndRun();

    EXPECT_EQ(askedToDie, (std::set<int>{0, 1}));
    EXPECT_EQ(a.activity.load(), ACT_STOPPED);
    EXPECT_EQ(b.activity.load(), ACT_STOPPED);
    EXPECT_FALSE(databaseWrittenEarly);
    EXPECT_TRUE(dir.exists(data::kDatabaseFile));
    const std::string out = console.output();
    EXPECT_LT(out.find("\n\nMCP: Got a KILLALL. Terminating all tmx!\n"), out.find("\n\nMCP: Writing database "));
}

TEST_F(MasterTest, FailedServerIsGivenTwentyPassesThenCountsDead) {
    TMX_MAIN& failed = addController(0, ACT_STOPPED, RUN_ERROR);
    for (int pass = 1; pass < kRetryGiveUp; ++pass) {
        master.SupervisionPass();
        ASSERT_EQ(failed.runRequest.load(), RUN_ERROR) << "pass " << pass;
        ASSERT_EQ(master.quitRequest.load(), QUIT_NONE);
    }
    master.SupervisionPass();
    EXPECT_EQ(failed.runRequest.load(), RUN_STOP);
    EXPECT_EQ(master.quitRequest.load(), QUIT_NONE);
    master.SupervisionPass();
    EXPECT_EQ(master.quitRequest.load(), QUIT_ALL_DIED);

    const std::string out = console.output();
    EXPECT_EQ(countOf(out, "\nMCP:  an error occured -> trying to reconnect server 0"), 1u);
    EXPECT_EQ(countOf(out, "\nMCP: coudlnt reconnect\n"), 1u);
    EXPECT_LT(out.find("coudlnt reconnect"), out.find("\n\nMCP: All servers died. Terminating TMX\n"));
    // 20 waits of a second plus 21 passes of half a second, all virtual.
    EXPECT_EQ(clock.totalSleptMs(), 20 * 1000 + 21 * kPassSleepMs);
}

TEST_F(MasterTest, RetryCounterRestartsWhenEveryServerRunsAgain) {
    TMX_MAIN& s = addController(0, ACT_STOPPED, RUN_ERROR);
    for (int i = 0; i < 10; ++i) master.SupervisionPass();
    EXPECT_EQ(master.retryCounter, 10);
    s.activity = ACT_ACTIVE;  // e.g. the controller came back
    master.SupervisionPass();
    EXPECT_EQ(master.retryCounter, 0);
}

TEST_F(MasterTest, SecondFailingServerIsStillGivenUp) {
    TMX_MAIN& first = addController(0, ACT_STOPPED, RUN_ERROR);
    addController(1, ACT_ACTIVE);
    for (int i = 0; i < kRetryGiveUp; ++i) master.SupervisionPass();
    EXPECT_EQ(first.runRequest.load(), RUN_STOP);

    TMX_MAIN& second = *master.controllers[1];
    second.activity = ACT_STOPPED;
    second.runRequest = RUN_ERROR;
    for (int i = 0; i < 3 && master.quitRequest.load() == QUIT_NONE; ++i) master.SupervisionPass();
    EXPECT_EQ(second.runRequest.load(), RUN_STOP);
    EXPECT_EQ(master.quitRequest.load(), QUIT_ALL_DIED);
}

TEST_F(MasterTest, NoControllerEndsTheRunOnTheFirstPass) {
    master.SupervisionPass();
    EXPECT_EQ(master.quitRequest.load(), QUIT_ALL_DIED);
    EXPECT_NE(console.output().find("\n\nMCP: All servers died. Terminating TMX\n"), std::string::npos);
}

TEST_F(MasterTest, StartUpCreatesOneControllerPerConfiguredSlotInOrder) {
    dir.write("languages/__MASTER.lng", "<(cr)>\r\n\"ori\"\r\n");
    dir.write("tmx_server.cfg",
              "3:\r\nip 10.1.2.3\r\nport 30000\r\npassw pw\r\nskill 4\r\nnstext \"^1Too slow, sorry\"\r\n"
              "mode 1\r\n0:\r\nport 29998\r\nend\r\n");
    ASSERT_EQ(master.StartUp(), 0);
    EXPECT_EQ(started, (std::vector<int>{0, 3}));
    EXPECT_EQ(master.configuredServers, 2);
    for (int slot : {1, 2, 4, 5, 6, 7}) EXPECT_FALSE(master.controllers[static_cast<std::size_t>(slot)]);

    TMX_MAIN& s3 = *master.controllers[3];
    EXPECT_EQ(s3.slot, 3);
    EXPECT_EQ(s3.master, &master);
    EXPECT_EQ(s3.link, master.links[3].get());
    EXPECT_EQ(s3.host, "10.1.2.3");
    EXPECT_EQ(s3.port, "30000");
    EXPECT_EQ(s3.adminPassword, "pw");
    EXPECT_EQ(s3.minimumSkillText, "4");
    EXPECT_EQ(s3.skillKickText, "^1Too slow, sorry");
    EXPECT_EQ(s3.cityGame, 1);
    EXPECT_EQ(s3.debugState.load(), DBG_OFF);
    EXPECT_EQ(master.links[3]->debug.load(), 0);
    EXPECT_EQ(master.controllers[0]->host, "127.0.0.1");
    EXPECT_EQ(master.controllers[0]->cityGame, 0);

    EXPECT_EQ(clock.totalSleptMs(), 2 * kStartPauseMs);
    const std::string out = console.output();
    EXPECT_LT(out.find("\n\nMCP: STARTING SERVER 0"), out.find("\n\nMCP: STARTING SERVER 3"));
    EXPECT_NE(out.find("\n\nMCP: Init complete.  Processing now.\n\nMCP: TmxStatus: STARTED (12:34:56  12/07/26)\t"),
              std::string::npos);
    EXPECT_EQ(master.languages.count(), 1);
}

TEST_F(MasterTest, MissingLanguagesEndTheRunBeforeAnyServer) {
    dir.write("tmx_server.cfg", "ip 127.0.0.1\r\n");
    addDatabaseEntry("alice");
    master.MarkDatabaseChanged();
    EXPECT_EQ(master.Run(), 0);
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(dir.exists(data::kDatabaseFile)) << "the database is not written";
    EXPECT_NE(console.output().find("Couldnt read!!!  Terminating."), std::string::npos);
}

TEST_F(MasterTest, StartBackupIsMadeOnlyForALoadedDatabaseWithEntries) {
    dir.write("languages/__MASTER.lng", "<(cr)>\r\n\"ori\"\r\n");
    // version 2, no entries
    dir.write(data::kDatabaseFile, std::string("\x02\0\0\0\0\0\0\0", 8));
    ASSERT_EQ(master.StartUp(), 0);
    EXPECT_EQ(master.databaseLoaded.load(), 1);
    EXPECT_FALSE(dir.exists(std::string(data::kDatabaseFile) + ".startbak"));
}

TEST_F(MasterTest, DestroyPrintsItsLinesAndWaitsForAKey) {
    int keys = 0;
    {
        CaptureConsole local;
        auto m = std::make_unique<cl_MasterControl>(local, clock);
        m->readKey = [&keys] { return ++keys; };
        m.reset();
        EXPECT_EQ(local.output(),
                  " -> OK\n\nMCP: Deleting tmx-structures & insimstructures\n\n...all is cleared..."
                  "\nTMX is ready for termination. Thx for using. Bye!\n\n\n\npress key");
    }
    EXPECT_EQ(keys, 1);
}

}  // namespace
}  // namespace tmx
