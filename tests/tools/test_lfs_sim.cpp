// The simulated LFS server over loopback TCP: handshake, request replies,
// model changes reaching the client, host commands, screens, keep-alives,
// reconnects and the robustness helpers; the narration a scenario prints.
#include <gtest/gtest.h>

#include "lfs-sim/lfs_sim.h"
#include "lfs-sim/manual_clock.h"
#include "lfs-sim/scenario.h"
#include "sim_test_client.h"

namespace tmx::sim {
namespace {

using namespace tmx::insim;
using testing::as;
using testing::kWaitMs;
using testing::SimClient;

class LfsSimTest : public ::testing::Test {
protected:
    // Starts a simulator on a free port with the given options and the manual clock.
    void startSim(SimOptions options = {}) {
        options.port = 0;
        sim = std::make_unique<LfsSim>(options, clock);
        ASSERT_TRUE(sim->start());
        ASSERT_NE(sim->port(), 0);
    }
    // Starts a simulator and logs a client in (password "pw").
    void startAndLogin(SimOptions options = {}) {
        options.adminPassword = "pw";
        startSim(options);
        ASSERT_TRUE(client.connectAndLogin(sim->port(), "pw"));
        ASSERT_TRUE(sim->waitForClient(kWaitMs));
    }

    ManualClock clock;
    std::unique_ptr<LfsSim> sim;
    SimClient client;
};

// ---- Handshake ------------------------------------------------------------

TEST_F(LfsSimTest, WrongPasswordClosesTheConnectionAtOnce) {
    SimOptions options;
    options.adminPassword = "secret";
    startSim(options);
    ASSERT_TRUE(client.connectAndLogin(sim->port(), "wrong"));
    EXPECT_TRUE(client.closedByServer());
    ASSERT_TRUE(sim->waitForDisconnect(kWaitMs));
    const SimState s = sim->snapshot();
    EXPECT_EQ(s.link.clientsRejected, 1);
    EXPECT_FALSE(s.link.insimReady);
    EXPECT_EQ(s.countPackets(ISP_ISI), 1u) << "the refused IS_ISI is still recorded";
}

TEST_F(LfsSimTest, FirstPacketMustBeInit) {
    startSim();
    ASSERT_TRUE(client.connect(sim->port()));
    ASSERT_TRUE(client.sendTiny(TINY_VER, 1));
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(
        sim->waitFor([](const SimState& s) { return s.link.clientsRejected == 1; }, kWaitMs));
}

TEST_F(LfsSimTest, InitIsRecordedAndVersionIsAnsweredWithReqI) {
    SimOptions options;
    options.insimVersion = 5;
    options.lfsVersion = "0.5Z28";
    startAndLogin(options);
    const SimState s = sim->snapshot();
    EXPECT_EQ(s.link.isi.IName, "LFS_TMX");
    EXPECT_EQ(s.link.isi.Prefix, '#');
    EXPECT_EQ(s.link.isi.Interval, 250);
    EXPECT_EQ(s.link.isi.Flags, ISF_MSO_COLS | ISF_MCI);

    ASSERT_TRUE(client.sendTiny(TINY_VER, 42));
    auto ver = client.nextOf(ISP_VER);
    ASSERT_TRUE(ver);
    const auto v = as<IS_VER>(*ver);
    EXPECT_EQ(v.ReqI, 42);
    EXPECT_EQ(v.InSimVer, 5);
    EXPECT_EQ(v.Version, "0.5Z28");
    EXPECT_EQ(v.Product, "S2");
    EXPECT_TRUE(client.skipped.empty());
}

TEST_F(LfsSimTest, InitWithReqIGetsVersionAndDefaultIsFour) {
    startSim();
    ASSERT_TRUE(client.connect(sim->port()));
    IS_ISI isi = SimClient::isi("");
    isi.ReqI = 3;
    ASSERT_TRUE(client.send(isi));
    auto ver = client.nextOf(ISP_VER);
    ASSERT_TRUE(ver);
    EXPECT_EQ(as<IS_VER>(*ver).ReqI, 3);
    EXPECT_EQ(as<IS_VER>(*ver).InSimVer, 4);
}

TEST_F(LfsSimTest, RequestsWithoutReqIAreNotAnswered) {
    startAndLogin();
    ASSERT_TRUE(client.sendTiny(TINY_VER, 0));
    ASSERT_TRUE(client.sendTiny(TINY_SST, 0));
    EXPECT_TRUE(client.drainUntilPing().empty());
}

TEST_F(LfsSimTest, ConnectionListHasHostAndConnectionsWithTotal) {
    startAndLogin();
    ASSERT_TRUE(sim->join(2, "bob", "^4Bob"));
    ASSERT_TRUE(sim->join(1, "alice", "^1Alice", true));
    client.drainUntilPing();  // the two joins (IS_NCN, IS_STA each)
    ASSERT_TRUE(client.sendTiny(TINY_NCN, 5));
    std::vector<IS_NCN> list;
    for (int i = 0; i < 3; ++i) {
        auto p = client.next();
        ASSERT_TRUE(p);
        ASSERT_EQ((*p)[1], ISP_NCN);
        list.push_back(as<IS_NCN>(*p));
    }
    EXPECT_EQ(list[0].UCID, 0);
    EXPECT_EQ(list[0].PName, "host");
    EXPECT_EQ(list[1].UCID, 1);
    EXPECT_EQ(list[1].UName, "alice");
    EXPECT_EQ(list[1].Admin, 1);
    EXPECT_EQ(list[2].UCID, 2);
    for (const auto& ncn : list) {
        EXPECT_EQ(ncn.ReqI, 5);
        EXPECT_EQ(ncn.Total, 3);
    }
    EXPECT_TRUE(client.drainUntilPing().empty());
}

TEST_F(LfsSimTest, PlayerListAndStateReplies) {
    startAndLogin();
    ASSERT_TRUE(client.sendTiny(TINY_NPL, 6));
    EXPECT_TRUE(client.drainUntilPing().empty()) << "no players: no IS_NPL";
    ASSERT_TRUE(sim->join(1, "alice", "Alice"));
    PlayerSpec wanted;
    wanted.ucid = 1;
    wanted.car = "FXR";
    const Outcome plid = sim->joinTrack(wanted);
    ASSERT_TRUE(plid);
    client.drainUntilPing();
    ASSERT_TRUE(client.sendTiny(TINY_NPL, 6));
    auto npl = client.next();
    ASSERT_TRUE(npl);
    const auto p = as<IS_NPL>(*npl);
    EXPECT_EQ(p.ReqI, 6);
    EXPECT_EQ(p.PLID, plid.id);
    EXPECT_EQ(p.CName, "FXR");
    ASSERT_TRUE(client.sendTiny(TINY_SST, 8));
    auto sta = client.next();
    ASSERT_TRUE(sta);
    const auto st = as<IS_STA>(*sta);
    EXPECT_EQ(st.ReqI, 8);
    EXPECT_EQ(st.NumP, 1);
    EXPECT_EQ(st.NumConns, 2);
    EXPECT_EQ(st.Flags, ISS_GAME | ISS_MULTI);
}

TEST_F(LfsSimTest, SessionReplyOnlyWhileASessionRuns) {
    startAndLogin();
    ASSERT_TRUE(client.sendTiny(TINY_RST, 4));
    EXPECT_TRUE(client.drainUntilPing().empty());
    SessionSpec race;
    race.kind = SessionKind::Race;
    race.laps = 7;
    ASSERT_TRUE(sim->startSession(race));
    client.drainUntilPing();
    ASSERT_TRUE(client.sendTiny(TINY_RST, 4));
    ASSERT_TRUE(client.sendTiny(TINY_REO, 11));
    auto rst = client.next();
    ASSERT_TRUE(rst);
    EXPECT_EQ(as<IS_RST>(*rst).ReqI, 4);
    EXPECT_EQ(as<IS_RST>(*rst).RaceLaps, 7);
    auto reo = client.next();
    ASSERT_TRUE(reo);
    EXPECT_EQ(as<IS_REO>(*reo).ReqI, 11);
}

TEST_F(LfsSimTest, JoinReachesTheClientFollowedByState) {
    startAndLogin();
    ASSERT_TRUE(sim->join(3, "carol", "Carol"));
    auto ncn = client.next();
    ASSERT_TRUE(ncn);
    EXPECT_EQ(as<IS_NCN>(*ncn).UCID, 3);
    EXPECT_EQ(as<IS_NCN>(*ncn).ReqI, 0);
    auto sta = client.next();
    ASSERT_TRUE(sta);
    ASSERT_EQ((*sta)[1], ISP_STA);
    EXPECT_EQ(as<IS_STA>(*sta).NumConns, 2);
    EXPECT_EQ(as<IS_STA>(*sta).ReqI, 0);
}

TEST_F(LfsSimTest, NothingIsSentBeforeTheClientLogsIn) {
    startSim();
    ASSERT_TRUE(client.connect(sim->port()));
    ASSERT_TRUE(sim->waitFor([](const SimState& s) { return s.link.clientConnected; }, kWaitMs));
    ASSERT_TRUE(sim->join(1, "alice", "Alice"));
    ASSERT_TRUE(client.send(SimClient::isi("")));
    ASSERT_TRUE(sim->waitForClient(kWaitMs));
    EXPECT_TRUE(client.drainUntilPing().empty());
    EXPECT_EQ(sim->snapshot().model.connections().size(), 2u);
}

// ---- Reply policies ----------------------------------------------------------

TEST_F(LfsSimTest, VersionAnsweredOnlyAfterIgnoredRequests) {
    SimOptions options;
    options.versionReply.ignoreFirst = 2;
    startAndLogin(options);
    ASSERT_TRUE(client.sendTiny(TINY_VER, 1));
    ASSERT_TRUE(client.sendTiny(TINY_VER, 2));
    EXPECT_TRUE(client.drainUntilPing().empty());
    ASSERT_TRUE(client.sendTiny(TINY_VER, 3));
    auto ver = client.next();
    ASSERT_TRUE(ver);
    EXPECT_EQ(as<IS_VER>(*ver).ReqI, 3);
    EXPECT_EQ(sim->snapshot().link.versionRequests, 3);
}

TEST_F(LfsSimTest, StateCanBeDelayedOrWithheld) {
    SimOptions options;
    options.stateReply.delayMs = 5000;
    startAndLogin(options);
    ASSERT_TRUE(client.sendTiny(TINY_SST, 9));
    EXPECT_TRUE(client.drainUntilPing().empty());
    clock.advance(4999);
    EXPECT_TRUE(client.drainUntilPing().empty());
    clock.advance(1);
    auto sta = client.nextOf(ISP_STA);
    ASSERT_TRUE(sta);
    EXPECT_EQ(as<IS_STA>(*sta).ReqI, 9);

    ReplyPolicy never;
    never.answer = false;
    sim->setStateReply(never);
    ASSERT_TRUE(client.sendTiny(TINY_SST, 10));
    clock.advance(60000);
    for (const auto& p : client.drainUntilPing()) EXPECT_NE(p.at(1), ISP_STA);
}

// ---- Host commands and screens over the link --------------------------------

TEST_F(LfsSimTest, SpecCommandWithBlankNameRemovesThatPlayer) {
    startAndLogin();
    ASSERT_TRUE(sim->join(1, "bob", "Bob"));
    ASSERT_TRUE(sim->join(2, "bsmith", "Bob Smith"));
    PlayerSpec a;
    a.ucid = 1;
    PlayerSpec b;
    b.ucid = 2;
    ASSERT_TRUE(sim->joinTrack(a));
    const Outcome smith = sim->joinTrack(b);
    ASSERT_TRUE(smith);
    client.drainUntilPing();
    ASSERT_TRUE(client.sendMst("/wanted Bob Smith"));
    auto pll = client.next();
    ASSERT_TRUE(pll);
    ASSERT_EQ((*pll)[1], ISP_PLL);
    EXPECT_EQ(as<IS_PLL>(*pll).PLID, smith.id);
    auto sta = client.next();
    ASSERT_TRUE(sta);
    EXPECT_EQ(as<IS_STA>(*sta).NumP, 1);
    const SimState s = sim->snapshot();
    ASSERT_FALSE(s.model.chat().empty());
    EXPECT_EQ(s.model.chat().back().text, "/wanted Bob Smith");
    EXPECT_TRUE(s.model.chat().back().acted);
}

TEST_F(LfsSimTest, KickAndPenaltyCommands) {
    startAndLogin();
    ASSERT_TRUE(sim->join(1, "alice", "Alice"));
    PlayerSpec a;
    a.ucid = 1;
    const Outcome plid = sim->joinTrack(a);
    client.drainUntilPing();
    ASSERT_TRUE(client.sendMst("/p_dt Alice"));
    auto pen = client.next();
    ASSERT_TRUE(pen);
    EXPECT_EQ(as<IS_PEN>(*pen).PLID, plid.id);
    EXPECT_EQ(as<IS_PEN>(*pen).NewPen, PENALTY_DT);
    EXPECT_EQ(as<IS_PEN>(*pen).Reason, PENR_ADMIN);
    ASSERT_TRUE(client.sendMst("/kick alice"));
    auto cnl = client.nextOf(ISP_CNL);
    ASSERT_TRUE(cnl);
    EXPECT_EQ(as<IS_CNL>(*cnl).Reason, LEAVR_KICKED);
    EXPECT_EQ(as<IS_CNL>(*cnl).Total, 1);
    ASSERT_EQ(client.skipped.size(), 2u);
    EXPECT_EQ(client.skipped[0][1], ISP_PLL) << "the player leaves before the connection";
}

TEST_F(LfsSimTest, ScreenFollowsButtonPackets) {
    startAndLogin();
    ASSERT_TRUE(sim->join(1, "alice", "Alice"));
    IS_BTN b;
    b.ReqI = 140;
    b.UCID = 1;
    b.ClickID = 140;
    b.BStyle = ISB_DARK;
    b.L = 10;
    b.T = 30;
    b.W = 80;
    b.H = 6;
    b.Text.assign("^7Welcome");
    ASSERT_TRUE(client.send(b));
    b.W = 0;
    b.H = 0;
    b.L = 0;
    b.T = 0;
    b.Text.assign("^7Updated");
    ASSERT_TRUE(client.send(b));
    IS_BFN clear;
    clear.SubT = BFN_CLEAR;
    clear.UCID = kAllUcids;
    ASSERT_TRUE(sim->waitFor(
        [](const SimState& s) {
            const auto screen = s.model.screen(1);
            return screen.size() == 1 && screen[0].text == "^7Updated";
        },
        kWaitMs));
    const auto screen = sim->screen(1);
    EXPECT_EQ(screen[0].left, 10);
    EXPECT_EQ(screen[0].width, 80);
    ASSERT_TRUE(client.send(clear));
    EXPECT_TRUE(sim->waitFor([](const SimState& s) { return s.model.screen(1).empty(); }, kWaitMs));
}

TEST_F(LfsSimTest, MalformedPacketsAreCountedAndTheLinkStays) {
    startAndLogin();
    // An IS_MST whose size byte says 8: too short for its layout.
    ASSERT_TRUE(client.sendBytes({8, ISP_MST, 0, 0, '/', 'r', 0, 0}));
    ASSERT_TRUE(
        sim->waitFor([](const SimState& s) { return s.link.malformedPackets == 1; }, kWaitMs));
    ASSERT_TRUE(client.sendTiny(TINY_VER, 1));
    EXPECT_TRUE(client.nextOf(ISP_VER));
}

TEST_F(LfsSimTest, SizeByteZeroFromTheClientEndsTheLink) {
    startAndLogin();
    ASSERT_TRUE(client.sendBytes({0, ISP_TINY, 0, 0}));
    EXPECT_TRUE(client.closedByServer());
    EXPECT_TRUE(sim->waitForDisconnect(kWaitMs));
}

// ---- Keep-alive -----------------------------------------------------------------

TEST_F(LfsSimTest, KeepAliveIsSentAndItsAnswerNoticed) {
    SimOptions options;
    options.keepAliveMs = 30000;
    startAndLogin(options);
    clock.advance(29999);
    EXPECT_TRUE(client.drainUntilPing().empty());
    clock.advance(1);
    auto ka = client.next();
    ASSERT_TRUE(ka);
    const auto tiny = as<IS_TINY>(*ka);
    EXPECT_EQ(tiny.SubT, TINY_NONE);
    EXPECT_EQ(tiny.ReqI, 0);
    ASSERT_TRUE(client.sendTiny(TINY_NONE, 0));
    ASSERT_TRUE(
        sim->waitFor([](const SimState& s) { return s.link.keepAliveAnswers == 1; }, kWaitMs));

    // The next one goes unanswered: noticed when the one after it is due.
    clock.advance(30000);
    ASSERT_TRUE(client.nextOf(ISP_TINY, TINY_NONE));
    EXPECT_EQ(sim->snapshot().link.keepAlivesMissed, 0);
    clock.advance(30000);
    ASSERT_TRUE(client.nextOf(ISP_TINY, TINY_NONE));
    ASSERT_TRUE(
        sim->waitFor([](const SimState& s) { return s.link.keepAlivesMissed == 1; }, kWaitMs));
    const SimState s = sim->snapshot();
    EXPECT_EQ(s.link.keepAlivesSent, 3);
    EXPECT_EQ(s.link.keepAliveAnswers, 1);
}

TEST_F(LfsSimTest, KeepAliveOffSendsNothing) {
    SimOptions options;
    options.keepAliveMs = 0;
    startAndLogin(options);
    clock.advance(120000);
    EXPECT_TRUE(client.drainUntilPing().empty());
    EXPECT_EQ(sim->snapshot().link.keepAlivesSent, 0);
}

// ---- Connections coming and going ------------------------------------------------

TEST_F(LfsSimTest, FreshClientIsAcceptedAfterADrop) {
    startAndLogin();
    ASSERT_TRUE(sim->dropClient());
    EXPECT_TRUE(client.closedByServer());
    SimClient second;
    ASSERT_TRUE(second.connectAndLogin(sim->port(), "pw"));
    ASSERT_TRUE(sim->waitFor(
        [](const SimState& s) { return s.link.insimReady && s.link.currentClient == 2; }, kWaitMs));
    ASSERT_TRUE(second.sendTiny(TINY_VER, 1));
    auto ver = second.nextOf(ISP_VER);
    ASSERT_TRUE(ver);
    const SimState s = sim->snapshot();
    EXPECT_EQ(s.link.clientsAccepted, 2);
    ASSERT_FALSE(s.received.empty());
    EXPECT_EQ(s.received.front().client, 1);
    EXPECT_EQ(s.received.back().client, 2);
}

TEST_F(LfsSimTest, TinyCloseEndsTheClient) {
    startAndLogin();
    ASSERT_TRUE(client.sendTiny(TINY_CLOSE, 0));
    EXPECT_TRUE(sim->waitForDisconnect(kWaitMs));
    EXPECT_TRUE(client.closedByServer());
}

TEST_F(LfsSimTest, StoppedListenerRefusesUntilResumed) {
    startSim();
    ASSERT_TRUE(sim->setListening(false));
    EXPECT_FALSE(sim->snapshot().link.listening);
    SimClient refused;
    EXPECT_FALSE(refused.connect(sim->port()));
    ASSERT_TRUE(sim->setListening(true));
    ASSERT_TRUE(client.connectAndLogin(sim->port()));
    EXPECT_TRUE(sim->waitForClient(kWaitMs));
}

TEST_F(LfsSimTest, ConnectedClientStaysWhenListeningStops) {
    startAndLogin();
    ASSERT_TRUE(sim->setListening(false));
    ASSERT_TRUE(client.sendTiny(TINY_VER, 1));
    EXPECT_TRUE(client.nextOf(ISP_VER));
}

// ---- Robustness helpers -----------------------------------------------------------

TEST_F(LfsSimTest, BurstGoesOutInOneWriteAndFramesCleanly) {
    startAndLogin();
    IS_VER ver;
    ver.ReqI = 1;
    ver.InSimVer = 4;
    IS_TINY mpe;
    mpe.SubT = TINY_MPE;
    const std::size_t writesBefore = sim->snapshot().sent.size();
    ASSERT_TRUE(sim->sendBurst({encode(ver), encode(sim->snapshot().model.state(0)), encode(mpe)}));
    const SimState s = sim->snapshot();
    ASSERT_EQ(s.sent.size(), writesBefore + 1);
    EXPECT_EQ(s.sent.back().bytes.size(), 20u + 28u + 4u);
    auto a = client.next();
    auto b = client.next();
    auto c = client.next();
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ((*a)[1], ISP_VER);
    EXPECT_EQ((*b)[1], ISP_STA);
    EXPECT_EQ(as<IS_TINY>(*c).SubT, TINY_MPE);
}

TEST_F(LfsSimTest, SplitPacketArrivesWholeFromTwoWrites) {
    startAndLogin();
    IS_NCN ncn;
    ncn.UCID = 5;
    ncn.UName.assign("split");
    ncn.PName.assign("Split");
    ncn.Total = 2;
    const RawPacket raw = encode(ncn);
    const std::size_t writesBefore = sim->snapshot().sent.size();
    ASSERT_TRUE(sim->sendSplit(raw, 10, 250));
    const SimState s = sim->snapshot();
    ASSERT_EQ(s.sent.size(), writesBefore + 2);
    EXPECT_EQ(s.sent[writesBefore].bytes.size(), 10u);
    EXPECT_EQ(s.sent[writesBefore + 1].bytes.size(), raw.size - 10);
    EXPECT_EQ(s.sent[writesBefore + 1].timeMs - s.sent[writesBefore].timeMs, 250)
        << "paused on the sim clock";
    auto p = client.next();
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, std::vector<std::uint8_t>(raw.data(), raw.data() + raw.size));
    EXPECT_FALSE(sim->sendSplit(raw, 0, 0));
    EXPECT_FALSE(sim->sendSplit(raw, raw.size, 0));
}

TEST_F(LfsSimTest, WrongSizeByteAndTruncatedPacketsAreSentAsAsked) {
    startAndLogin();
    IS_TINY tiny;
    tiny.SubT = TINY_REN;
    ASSERT_TRUE(sim->sendWithSizeByte(encode(tiny), 0));
    EXPECT_EQ(client.receiveBytes(4), (std::vector<std::uint8_t>{0, ISP_TINY, 0, TINY_REN}));
    IS_VER ver;
    const RawPacket raw = encode(ver);
    ASSERT_TRUE(sim->sendTruncated(raw, 7));
    ASSERT_TRUE(sim->sendRaw("\x04\x03\x00\x0b", 4));
    const auto bytes = client.receiveBytes(11);
    ASSERT_EQ(bytes.size(), 11u);
    EXPECT_EQ(bytes[0], 20) << "the size byte still claims the whole packet";
    EXPECT_EQ(bytes[7], 4);
    EXPECT_EQ(bytes[10], TINY_REN);
}

TEST_F(LfsSimTest, HelpersNeedAClient) {
    startSim();
    EXPECT_FALSE(sim->sendRaw("\x04\x03\x00\x00", 4));
    EXPECT_TRUE(sim->dropClient()) << "nothing to drop";
}

TEST_F(LfsSimTest, ReceivedPacketsCarryTimeAndBytes) {
    startAndLogin();
    clock.advance(1234);
    ASSERT_TRUE(client.sendTiny(TINY_NCN, 77));
    auto got = sim->waitForPacket(ISP_TINY, TINY_NCN, kWaitMs);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->timeMs, 1234);
    EXPECT_EQ(got->bytes, (std::vector<std::uint8_t>{4, ISP_TINY, 77, TINY_NCN}));
    EXPECT_EQ(got->describe(), "IS_TINY TINY_NCN reqi=77");
    EXPECT_FALSE(sim->waitForPacket(ISP_TINY, TINY_NPL, 20));
}

// ---- Narration ------------------------------------------------------------

// `say` prints its text at its time, in line with the steps around it, and
// only once: the step line that every other verb gets would repeat it.
TEST_F(LfsSimTest, SayPrintsItsNarrationInStepOrder) {
    startAndLogin();
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(parseScenario("say \"Scene 1: Alice joins, #help follows\"\n"
                              "join ucid=1 uname=alice\n"
                              "at 2.5 say Then   she\tleaves\n"
                              "leave ucid=1\n",
                              s, e))
        << e.text();
    CaptureConsole log;
    ScenarioRunner runner(*sim, clock, &log);
    const RunResult r = runner.run(s);
    ASSERT_TRUE(r.ok) << r.error;

    const std::string out = log.output();
    const auto first = out.find("   0.000 >> Scene 1: Alice joins, #help follows\n");
    const auto join = out.find("== line 2: join ucid=1 uname=alice\n");
    const auto second = out.find("   2.500 >> Then she leaves\n");
    const auto leave = out.find("== line 4: leave ucid=1\n");
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_NE(second, std::string::npos) << out;
    EXPECT_LT(first, join);
    EXPECT_LT(join, second);
    EXPECT_LT(second, leave);
    EXPECT_EQ(out.find("say"), std::string::npos) << "no step line for a narration:\n" << out;
}

}  // namespace
}  // namespace tmx::sim
