// The controller against the simulated LFS server over loopback TCP: the
// handshake, the server state, the table handlers and the stop paths. The
// controller runs on the test's own thread, one loop pass at a time.
#include "controller/tmx_main.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "support/controller_fixture.h"
#include "support/received_order.h"

namespace tmx {
namespace {

using namespace insim;

using ControllerTest = testing::ControllerFixture;
using testing::countOf;
using testing::filler;
using testing::kWaitMs;
using testing::versionPacket;
using testing::tinyPacket;

// ---- Handshake ---------------------------------------------------------------

TEST_F(ControllerTest, HandshakeWithOnlyTheHostStillAsksForPlayersThenGreets) {
    ASSERT_EQ(c.Connect(), 0);
    flushToSim();
    sim::SimState s = simulator->snapshot();
    ASSERT_GE(s.received.size(), 7u);
    EXPECT_TRUE(s.received[0].is(ISP_ISI));
    EXPECT_TRUE(s.received[1].is(ISP_TINY, TINY_VER));
    EXPECT_TRUE(s.received[2].is(ISP_TINY, TINY_SST));
    EXPECT_TRUE(s.received[3].is(ISP_TINY, TINY_NCN));
    EXPECT_TRUE(s.received[4].is(ISP_TINY, TINY_NPL)) << "asked even with no player";
    EXPECT_TRUE(s.received[5].is(ISP_MTC));
    ASSERT_TRUE(s.received.back().is(ISP_TINY, TINY_PING));  // the flush marker
    EXPECT_TRUE(s.received[s.received.size() - 3].is(ISP_TINY, TINY_SST));
    EXPECT_TRUE(s.received[s.received.size() - 2].is(ISP_TINY, TINY_RST));
    EXPECT_EQ(s.countPackets(ISP_MSX), 2u);
    EXPECT_EQ(s.countPackets(ISP_MST), 7u);
    EXPECT_EQ(c.usedEntries, 1);
    EXPECT_EQ(c.connections, 1);
    EXPECT_EQ(c.players, 0);
    EXPECT_EQ(c.entry(0).playerName, "host");
    EXPECT_EQ(c.entry(0).race.driverStatus, DS_CONNECTED);
    EXPECT_EQ(c.resync.flag, 1);
    EXPECT_EQ(c.serverLanguage, master.languages.language(0));
}

TEST_F(ControllerTest, HandshakeCollectsEveryConnectionAndPlayer) {
    joinGuest(1, "alice", "^1Alice");
    joinGuest(2, "bob", "Bob");
    joinTrack(1);
    joinTrack(0, true);  // an AI car of the host
    ASSERT_EQ(c.Connect(), 0);
    EXPECT_EQ(c.connections, 3);
    EXPECT_EQ(c.players, 2);
    EXPECT_EQ(c.usedEntries, 4) << "the AI car has an entry of its own";
    const int alice = c.FindIndex(1, -1);
    ASSERT_NE(alice, -1);
    EXPECT_EQ(c.entry(alice).race.driverStatus, DS_EARLY) << "joined before the controller was ready";
    EXPECT_EQ(c.entry(alice).race.previousDriverStatus, 1);
    EXPECT_EQ(c.entry(0).plid, 0) << "the host's own entry keeps no AI player";
    EXPECT_EQ(c.entry(3).ucid, 0);
    EXPECT_EQ(c.entry(3).ai, 1);
}

// IS_VER and IS_STA share nine tries. Each try is one poll: the first poll
// after the request only receives, every further one cuts one packet.
class HandshakeTriesTest : public ControllerTest {
protected:
    void SetUp() override {
        sim::SimOptions options;
        options.versionReply.answer = false;
        options.stateReply.answer = false;
        startSim(options);
        link.receiveWaitMs = 5000;  // the fillers always arrive within one wait
    }

    // Fillers before IS_VER and before IS_STA; returns Connect's result.
    int connectWith(int beforeVersion, int beforeState) {
        int result = 0;
        std::thread controller([&] { result = c.Connect(); });
        EXPECT_TRUE(simulator->waitForPacket(ISP_TINY, TINY_VER, kWaitMs));
        std::vector<RawPacket> burst(static_cast<std::size_t>(beforeVersion), filler());
        burst.push_back(versionPacket());
        EXPECT_TRUE(simulator->sendBurst(burst));
        if (simulator->waitForPacket(ISP_TINY, TINY_SST, kWaitMs)) {
            std::vector<RawPacket> state(static_cast<std::size_t>(beforeState), filler());
            IS_STA sta = simulator->snapshot().model.state(1);
            state.push_back(encode(sta));
            EXPECT_TRUE(simulator->sendBurst(state));
        }
        controller.join();
        return result;
    }
};

TEST_F(HandshakeTriesTest, VersionOnTheFifthTryLeavesFourTriesForTheState) {
    // tries 1-4: receive + three fillers, 5: IS_VER; 6: receive, 7-8 fillers, 9: IS_STA
    EXPECT_EQ(connectWith(3, 2), 0);
    EXPECT_EQ(c.usedEntries, 1);
}

TEST_F(HandshakeTriesTest, StateOnTheTenthTryIsTooLate) {
    c.debugState = DBG_ON;
    link.debug = 0;
    EXPECT_EQ(connectWith(3, 3), -1);
    EXPECT_NE(console.output().find("no IS_STA!\nTerminating....\n"), std::string::npos);
    EXPECT_EQ(received(ISP_TINY, TINY_NCN), 0u);
}

TEST_F(ControllerTest, NoVersionEndsTheThreadAsDeadAtStart) {
    sim::SimOptions options;
    options.versionReply.answer = false;
    startSim(options);
    link.receiveWaitMs = 5;
    c.Run();
    EXPECT_EQ(c.activity.load(), ACT_STOPPED);
    EXPECT_EQ(c.runRequest.load(), RUN_CONNECTING) << "the master counts this server dead";
    EXPECT_NE(console.output().find("\ncan't connect LFS\nTerminating"), std::string::npos);
}

TEST_F(ControllerTest, WrongInsimVersionStopsTheController) {
    sim::SimOptions options;
    options.insimVersion = 5;
    startSim(options);
    EXPECT_EQ(c.Connect(), -1);
    EXPECT_EQ(c.runRequest.load(), RUN_STOP);
    EXPECT_NE(console.output().find("\nwrong insimversion. need version 4\nTerminating....\n"),
              std::string::npos);
}

// ---- Server state ---------------------------------------------------------------

TEST_F(ControllerTest, StateDuringTheHandshakeOnlyRecordsTheTrack) {
    sim::SessionSpec race;
    race.kind = sim::SessionKind::Race;
    race.laps = 5;
    race.track = "AS3";
    ASSERT_TRUE(simulator->startSession(race).ok);
    ASSERT_EQ(c.Connect(), 0);
    EXPECT_EQ(c.server.currentTrack, "AS3");
    EXPECT_EQ(c.session.raceState, RS_NONE);
    EXPECT_EQ(c.server.serverKind, SK_HOST_DRIVES);
    EXPECT_EQ(c.server.multiplayer, 1);
}

TEST_F(ControllerTest, ServerKindFromTheStateFlags) {
    startRunning();
    ASSERT_TRUE(simulator->setStateFlags(ISS_GAME | ISS_REPLAY).ok);
    barrier();
    EXPECT_EQ(c.server.serverKind, SK_SINGLE) << "replay and game with one connection";
    EXPECT_EQ(c.server.multiplayer, 0);
    EXPECT_EQ(link.Multiplayer(), 0);

    ASSERT_TRUE(simulator->setStateFlags(ISS_MULTI).ok);
    barrier();
    EXPECT_EQ(c.server.serverKind, SK_DEDICATED);
    EXPECT_EQ(c.server.multiplayer, 1);
}

TEST_F(ControllerTest, ReplayWithSeveralConnectionsIsAMultiplayerReplay) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    ASSERT_TRUE(simulator->setStateFlags(ISS_GAME | ISS_REPLAY).ok);
    barrier();
    EXPECT_EQ(c.server.serverKind, SK_MULTI_REPLAY);
    EXPECT_EQ(c.server.multiplayer, 0);
}

TEST_F(ControllerTest, HostAloneMakesTheServerIdleAndOpensTrackAndPitLane) {
    startRunning();
    c.session.trackClosed = 1;
    c.session.pitLaneClosed = 1;
    ASSERT_TRUE(simulator->setStateFlags(ISS_GAME | ISS_MULTI | ISS_PAUSED).ok);
    barrier();
    EXPECT_EQ(c.activity.load(), ACT_IDLE);
    EXPECT_EQ(c.session.trackClosed, 0);
    EXPECT_EQ(c.session.pitLaneClosed, 0);
}

TEST_F(ControllerTest, QualifyingStartWindowKeepsTheTrackClosedWhenIdle) {
    sim::SessionSpec qual;
    qual.kind = sim::SessionKind::Qualifying;
    qual.qualMins = 20;
    ASSERT_TRUE(simulator->startSession(qual).ok);
    startRunning();
    ASSERT_TRUE(pumpUntil([&] { return c.session.raceState == RS_QUALIFYING; }));
    c.session.trackClosed = 1;
    c.session.pitLaneClosed = 1;
    ASSERT_TRUE(simulator->setStateFlags(ISS_GAME | ISS_MULTI | ISS_PAUSED).ok);
    barrier();
    EXPECT_EQ(c.session.trackClosed, 1);
    EXPECT_EQ(c.session.pitLaneClosed, 0);
}

TEST_F(ControllerTest, EntryScreenAfterMultiplayerForcesAResyncEvenWithMatchingCounts) {
    startRunning();
    ASSERT_EQ(c.server.serverKind, SK_HOST_DRIVES);
    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(simulator->entryScreen().ok);
    ASSERT_TRUE(pumpUntil([&] { return received(ISP_TINY, TINY_SST, before) >= 1; }));
    ASSERT_TRUE(simulator->waitForPacket(ISP_TINY, TINY_SST, kWaitMs, before));
    barrier();
    barrier();
    EXPECT_EQ(received(ISP_TINY, TINY_NCN, before), 1u);
    // the collected table is whole again: the host
    EXPECT_EQ(c.resync.phase, RP_NONE);
    EXPECT_EQ(c.usedEntries, 1);
    EXPECT_EQ(c.entry(0).playerName, "host");
}

TEST_F(ControllerTest, MultiplayerEndAloneDoesNotResync) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(simulator->multiplayerEnds().ok);
    barrier();
    EXPECT_EQ(received(ISP_TINY, TINY_NCN, before), 0u);
    EXPECT_EQ(c.usedEntries, 1) << "every entry but the host's is removed";
    EXPECT_EQ(c.connections, 1);
}

TEST_F(ControllerTest, CountMismatchEmptiesAndRecollectsTheTable) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    // Bob and his car appear on the server without the controller hearing of it.
    ASSERT_TRUE(simulator
                    ->apply([](sim::ServerModel& m, sim::Outbox& out) {
                        m.addConnection(2, "bob", "Bob", false, out);
                        sim::PlayerSpec car;
                        car.ucid = 2;
                        m.addPlayer(car, out);
                        out.clear();
                        return sim::Outcome::success();
                    })
                    .ok);
    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(simulator->sendPacket(encode(simulator->snapshot().model.state(0))));
    ASSERT_TRUE(pumpUntil([&] { return c.resync.phase == RP_CONNECTIONS; }));
    EXPECT_EQ(c.usedEntries, 0) << "the table is emptied first";
    c.resync.flag = 0;
    ASSERT_TRUE(pumpUntil([&] { return c.resync.phase == RP_NONE; }));
    EXPECT_EQ(c.resync.flag, 1);
    EXPECT_EQ(c.connections, 3);
    EXPECT_EQ(c.players, 1);
    EXPECT_EQ(c.FindIndex(2, -1) != -1, true);
    flushToSim();
    sim::SimState s = simulator->snapshot();
    const auto ncn = testing::positionOf(s, ISP_TINY, TINY_NCN, before);
    const auto npl = testing::positionOf(s, ISP_TINY, TINY_NPL, before);
    const auto sst = testing::positionOf(s, ISP_TINY, TINY_SST, before);
    const auto rst = testing::positionOf(s, ISP_TINY, TINY_RST, before);
    ASSERT_TRUE(ncn && npl && sst && rst);
    EXPECT_LT(*ncn, *npl);
    EXPECT_LT(*npl, *sst);
    EXPECT_LT(*sst, *rst);
}

// ---- The table ---------------------------------------------------------------------

TEST_F(ControllerTest, AiCarOnTheHostGetsItsOwnEntryAndLeavingFreesOnlyIt) {
    startRunning();
    const int ai = joinTrack(0, true);
    barrier();
    ASSERT_EQ(c.usedEntries, 2);
    EXPECT_EQ(c.entry(0).playerName, "host");
    EXPECT_EQ(c.entry(0).plid, 0);
    EXPECT_EQ(c.entry(1).ucid, 0);
    EXPECT_EQ(c.entry(1).plid, ai);
    EXPECT_EQ(c.players, 1);

    ASSERT_TRUE(simulator->spectate(ai).ok);
    barrier();
    EXPECT_EQ(c.usedEntries, 1);
    EXPECT_EQ(c.entry(0).playerName, "host");
    EXPECT_EQ(c.players, 0);
    EXPECT_EQ(c.connections, 1);
    EXPECT_EQ(c.entry(1).ucid, data::kNoEntry) << "a freed slot carries UCID 255";
}

TEST_F(ControllerTest, HostDrivingBesideItsAiCarsKeepsEntryZero) {
    startRunning();
    const int own = joinTrack(0);
    const int ai = joinTrack(0, true);
    barrier();
    ASSERT_EQ(c.usedEntries, 2);
    ASSERT_EQ(c.entry(0).plid, own);
    ASSERT_TRUE(simulator->spectate(own).ok);
    barrier();
    EXPECT_EQ(c.usedEntries, 2);
    EXPECT_EQ(c.entry(0).playerName, "host");
    EXPECT_EQ(c.entry(0).plid, 0);
    EXPECT_EQ(c.entry(1).plid, ai);
    EXPECT_EQ(c.FindIndex(0, -1), 0);
}

TEST_F(ControllerTest, ConnectionLeavingWithItsPlayerListedLosesBoth) {
    joinGuest(1, "alice", "Alice");
    joinGuest(2, "bob", "Bob");
    joinTrack(1);
    joinTrack(2);
    startRunning();
    ASSERT_EQ(c.players, 2);
    IS_CNL cnl;
    cnl.UCID = 1;
    cnl.Total = 2;
    ASSERT_TRUE(simulator->sendPacket(encode(cnl)));
    barrier();
    EXPECT_EQ(c.FindIndex(1, -1), -1);
    EXPECT_EQ(c.connections, 2);
    EXPECT_EQ(c.players, 1);
    EXPECT_EQ(c.usedEntries, 2);
    const int bob = c.FindIndex(2, -1);
    ASSERT_NE(bob, -1);
    EXPECT_EQ(c.entry(bob).playerName, "Bob");
    EXPECT_NE(c.entry(bob).plid, 0);
}

TEST_F(ControllerTest, RenameChangesOnlyTheConnectionsOwnEntry) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    joinTrack(1, true);  // an AI car on Alice's connection
    barrier();
    ASSERT_EQ(c.usedEntries, 3);
    const std::string aiName = c.entry(2).playerName.str();
    ASSERT_TRUE(simulator->rename(1, "^2Alicia").ok);
    barrier();
    EXPECT_EQ(c.entry(1).playerName, "^2Alicia");
    EXPECT_EQ(c.entry(2).playerName, aiName);
}

TEST_F(ControllerTest, TakeOverMismatchesAreReportedButKeepTheControllerRunning) {
    joinGuest(1, "alice", "Alice");
    const int car = joinTrack(1);
    startRunning();
    IS_TOC toc;
    toc.PLID = static_cast<std::uint8_t>(car);
    toc.OldUCID = 1;
    toc.NewUCID = 9;
    ASSERT_TRUE(simulator->sendPacket(encode(toc)));
    toc.NewUCID = 0;
    toc.OldUCID = 7;
    ASSERT_TRUE(simulator->sendPacket(encode(toc)));
    toc.OldUCID = 0;
    ASSERT_TRUE(simulator->sendPacket(encode(toc)));
    toc.OldUCID = 1;  // matches: nothing to say
    ASSERT_TRUE(simulator->sendPacket(encode(toc)));
    barrier();
    const std::string out = console.output();
    EXPECT_EQ(countOf(out, "\nTMX: TOC -> unknown new connection -> database mismatch"), 1u);
    EXPECT_EQ(countOf(out, "\nTMX: TOC -> unknown old connection -> database mismatch"), 1u);
    EXPECT_EQ(countOf(out, "\nTMX: TOC -> playerid and oldconnection-id dont match -> database mismatch"), 1u);
    EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);
    EXPECT_EQ(c.entry(c.FindIndex(1, -1)).plid, car) << "a take-over changes no entry";
}

TEST_F(ControllerTest, UnknownPlayerStopsTheControllerAtTheNextPass) {
    startRunning();
    IS_PLL pll;
    pll.PLID = 42;
    ASSERT_TRUE(simulator->sendPacket(encode(pll)));
    ASSERT_TRUE(pumpUntil([&] { return c.runRequest.load() == RUN_ERROR; }));
    EXPECT_NE(console.output().find("\nTMX: PLL -> unknown player - database mismatch\nTerminating ....\n"),
              std::string::npos);
    EXPECT_FALSE(c.Pass());
    EXPECT_EQ(c.activity.load(), ACT_STOPPED);
    EXPECT_NE(console.output().find("\n\nTMX: ...is closing. An error occured"), std::string::npos);
    EXPECT_EQ(c.usedEntries, 0);
}

TEST_F(ControllerTest, KnownConnectionIdTwiceStopsTheController) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    IS_NCN ncn;
    ncn.UCID = 1;
    ncn.UName = "mallory";
    ncn.PName = "Mallory";
    ASSERT_TRUE(simulator->sendPacket(encode(ncn)));
    ASSERT_TRUE(pumpUntil([&] { return c.runRequest.load() == RUN_ERROR; }));
    EXPECT_NE(console.output().find("\nTMX: IS_NCL -> DatabaseMismatch - UCID known\nTerminating......."),
              std::string::npos);
}

TEST_F(ControllerTest, TheFiftyFirstConnectionIsRefused) {
    startRunning();
    for (int ucid = 1; ucid <= 50; ++ucid) {
        IS_NCN ncn;
        ncn.UCID = static_cast<std::uint8_t>(ucid);
        ncn.UName = ("user" + std::to_string(ucid)).c_str();
        ncn.PName = ("Driver " + std::to_string(ucid)).c_str();
        ASSERT_TRUE(simulator->sendPacket(encode(ncn)));
    }
    barrier();
    EXPECT_EQ(c.usedEntries, kTableSize);
    EXPECT_EQ(c.connections, kTableSize);
    EXPECT_EQ(c.FindIndex(50, -1), -1);
    EXPECT_NE(console.output().find("\nTMX: IS_NCN -> table full, connection 50 not taken"), std::string::npos);
    EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);
}

TEST_F(ControllerTest, SetupScreenKeepsEveryConnectionAndPlayer) {
    joinGuest(1, "alice", "Alice");
    joinTrack(1);
    startRunning();
    ASSERT_TRUE(simulator->backToSetup().ok);
    barrier();
    EXPECT_EQ(c.server.setupScreen, 1);
    EXPECT_EQ(c.connections, 2);
    EXPECT_EQ(c.players, 1);
}

TEST_F(ControllerTest, CarResetCostsADriverOnTrackFivePoints) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    const int car = joinTrack(1);
    barrier();
    const int alice = c.FindIndex(1, car);
    ASSERT_NE(alice, -1);
    EXPECT_EQ(c.entry(alice).race.driverStatus, DS_PITS);
    ASSERT_TRUE(simulator->carReset(car).ok);
    barrier();
    EXPECT_EQ(c.entry(alice).skill.racePoints, -5);
    ASSERT_TRUE(simulator->toPits(car).ok);
    barrier();
    EXPECT_EQ(c.entry(alice).race.driverStatus, DS_GARAGE);
    ASSERT_TRUE(simulator->carReset(car).ok);
    barrier();
    EXPECT_EQ(c.entry(alice).skill.racePoints, -5) << "no cost in the garage";
}

TEST_F(ControllerTest, DriverBelowTheMinimumSkillIsToldAndKicked) {
    c.minimumSkill = 3;
    startRunning();
    const std::size_t before = simulator->receivedCount();
    joinGuest(1, "alice", "Alice");
    ASSERT_TRUE(pumpUntil([&] { return received(ISP_MST, -1, before) >= 1; }));
    sim::SimState s = simulator->snapshot();
    std::vector<std::string> told;
    std::string command;
    for (std::size_t i = before; i < s.received.size(); ++i) {
        const auto& p = s.received[i];
        if (p.is(ISP_MTC)) {
            IS_MTC m;
            ASSERT_TRUE(decode(p.bytes.data(), p.bytes.size(), m));
            told.push_back(m.Msg.str());
        } else if (p.is(ISP_MST)) {
            IS_MST m;
            ASSERT_TRUE(decode(p.bytes.data(), p.bytes.size(), m));
            command = m.Msg.str();
        }
    }
    ASSERT_GE(told.size(), 2u);
    EXPECT_EQ(told[told.size() - 2], "^7Sorry, your skill is to low");
    EXPECT_EQ(told.back(), "^7TMX: ^1Your skill: 0, needed skill: 3");
    EXPECT_EQ(command, "/kick alice");
    barrier();
    EXPECT_EQ(c.FindIndex(1, -1), -1) << "the server's kick removed the connection";
}

TEST_F(ControllerTest, AdminBelowTheMinimumSkillStays) {
    c.minimumSkill = 3;
    startRunning();
    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(simulator->join(1, "boss", "Boss", true).ok);
    barrier();
    flushToSim();
    EXPECT_NE(c.FindIndex(1, -1), -1);
    EXPECT_EQ(received(ISP_MST, -1, before), 0u);
    sim::SimState s = simulator->snapshot();
    bool lucky = false;
    for (std::size_t i = before; i < s.received.size(); ++i) {
        IS_MTC m;
        if (s.received[i].is(ISP_MTC) && decode(s.received[i].bytes.data(), s.received[i].bytes.size(), m))
            lucky = lucky || m.Msg == "^7TMX: Your luck. You are an admin. puuh.";
    }
    EXPECT_TRUE(lucky);
}

TEST_F(ControllerTest, ReturningDriverIsWelcomedBackByName) {
    data::PlayerEntry known;
    known.userName = "alice";
    known.playerName = "Alice";
    master.database.entries.push_back(known);
    startRunning();
    joinGuest(1, "alice", "^1Alice");
    barrier();
    flushToSim();
    bool welcomed = false;
    for (const auto& b : simulator->screen(1))
        welcomed = welcomed || (b.clickId == 145 && b.text == "Welcome back ^1Alice");
    EXPECT_TRUE(welcomed);
    EXPECT_EQ(c.entry(c.FindIndex(1, -1)).databaseEntry->onlineCount, 1);
}

TEST_F(ControllerTest, UnknownLanguageCodeFallsBackToTheMasterLanguage) {
    data::PlayerEntry known;
    known.userName = "alice";
    known.language = "xyz";
    master.database.entries.push_back(known);
    startRunning();
    const std::size_t before = simulator->receivedCount();
    joinGuest(1, "alice", "Alice");
    barrier();
    const data::cl_LfsPlayer& e = c.entry(c.FindIndex(1, -1));
    EXPECT_EQ(e.languageCode, "ori");
    EXPECT_EQ(e.language, master.languages.language(0));
    flushToSim();
    sim::SimState s = simulator->snapshot();
    std::vector<std::string> told;
    for (std::size_t i = before; i < s.received.size(); ++i) {
        IS_MTC m;
        if (s.received[i].is(ISP_MTC) && decode(s.received[i].bytes.data(), s.received[i].bytes.size(), m))
            told.push_back(m.Msg.str());
    }
    ASSERT_GE(told.size(), 2u);
    EXPECT_EQ(told[0], " ");
    EXPECT_EQ(told[1], "MCP: coudlnt find your language. Set to 'ori'");
}

TEST_F(ControllerTest, CityModeSendsEveryDriverToThePitLane) {
    joinGuest(1, "alice", "^1Alice");
    joinGuest(2, "bob", "Bob");
    joinTrack(1);
    c.cityGame = 1;
    link.receiveWaitMs = 20;
    std::thread controller([&] { c.Run(); });
    const bool sent = simulator->waitFor(
        [](const sim::SimState& s) {
            int pitlane = 0;
            for (const auto& line : s.model.chat())
                if (line.kind == sim::ChatLine::Kind::Command && line.text.rfind("/pitlane ", 0) == 0) ++pitlane;
            return pitlane >= 2;
        },
        kWaitMs);
    c.runRequest = RUN_STOP;
    controller.join();
    ASSERT_TRUE(sent);
    std::vector<std::string> commands;
    const sim::SimState after = simulator->snapshot();
    for (const auto& line : after.model.chat())
        if (line.kind == sim::ChatLine::Kind::Command) commands.push_back(line.text);
    EXPECT_EQ(commands, (std::vector<std::string>{"/pitlane ^1Alice", "/pitlane Bob"})) << "the host is skipped";
    EXPECT_EQ(c.session.raceState, RS_CITY);
    EXPECT_NE(console.output().find("\n     Started CityrunMode"), std::string::npos);
    EXPECT_EQ(c.activity.load(), ACT_STOPPED);
}

TEST_F(ControllerTest, SettingsOfADriverWhoNeverDroveAreKeptWhenHeLeaves) {
    startRunning();
    joinGuest(1, "alice", "Alice");
    barrier();
    const int alice = c.FindIndex(1, -1);
    ASSERT_NE(alice, -1);
    c.ChangeTeamColour(alice);
    c.entry(alice).languageCode = "deu";
    ASSERT_TRUE(simulator->leave(1).ok);
    barrier();
    const data::PlayerEntry* stored = master.database.find("alice");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->teamColour, 4);
    EXPECT_EQ(stored->language, "deu");
    EXPECT_EQ(stored->onlineCount, 0);
}

// ---- Stopping ------------------------------------------------------------------------

TEST_F(ControllerTest, KillAnnouncesItselfOneSecondBeforeClosingTheLink) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    const std::size_t before = simulator->receivedCount();
    bool announcedBeforeTheWait = false;
    bool closedDuringTheWait = true;
    clock.setOnSleep([&](int ms) {
        if (ms != 1000) return;
        auto said = simulator->waitForPacket(ISP_MST, -1, kWaitMs, before);
        IS_MST mst;
        announcedBeforeTheWait = said && decode(said->bytes.data(), said->bytes.size(), mst) &&
                                 mst.Msg == "^1TMX is killed by admin";
        closedDuringTheWait = received(ISP_TINY, TINY_CLOSE, before) > 0;
    });
    c.activity = ACT_KILL;
    EXPECT_FALSE(c.Pass());
    EXPECT_TRUE(announcedBeforeTheWait);
    EXPECT_FALSE(closedDuringTheWait);
    EXPECT_EQ(c.activity.load(), ACT_STOPPED);
    EXPECT_EQ(c.runRequest.load(), RUN_STOP);
    EXPECT_EQ(c.usedEntries, 0);
    EXPECT_TRUE(simulator->waitForPacket(ISP_TINY, TINY_CLOSE, kWaitMs, before));
    const std::string out = console.output();
    EXPECT_LT(out.find("\n\nServer 0: TMX is killed by admin"), out.find("\nServer 0: Insim disconnected\n\n"));
}

TEST_F(ControllerTest, StopByAdminClosesAndClears) {
    joinGuest(1, "alice", "Alice");
    startRunning();
    c.runRequest = RUN_STOP;
    EXPECT_FALSE(c.Pass());
    EXPECT_EQ(c.activity.load(), ACT_STOPPED);
    EXPECT_EQ(c.usedEntries, 0);
    EXPECT_EQ(c.connections, 0);
    EXPECT_EQ(link.GetState(), LINK_NOT_CONNECTED);
    const std::string out = console.output();
    const auto killed = out.find("\n\nServer 0: TMX is killed by admin");
    ASSERT_NE(killed, std::string::npos);
    EXPECT_LT(killed, out.find("\nServer 0: Insim disconnected"));
    EXPECT_LT(out.find("\nServer 0: Insim disconnected"), out.find("\nServer 0: All connections cleared"));
}

}  // namespace
}  // namespace tmx
