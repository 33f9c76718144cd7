// The simulated server's game model: what it sends for each change, its
// replies, host commands and the emulated screens. No sockets here.
#include <gtest/gtest.h>

#include "lfs-sim/model.h"
#include "sim_test_client.h"

namespace tmx::sim {
namespace {

using namespace tmx::insim;
using testing::as;

std::vector<int> typesOf(const Outbox& out) {
    std::vector<int> types;
    for (const auto& p : out) types.push_back(p.bytes[1]);
    return types;
}

class ModelTest : public ::testing::Test {
protected:
    // Alice (ucid 1) and "Bob Smith" (ucid 2, user bob) are connected; the
    // outbox starts empty.
    void addTwo() {
        ASSERT_TRUE(model.addConnection(1, "alice", "^1Alice", false, out));
        ASSERT_TRUE(model.addConnection(2, "bob", "Bob Smith", false, out));
        out.clear();
    }
    int drive(int ucid, const char* pname = "") {
        PlayerSpec wanted;
        wanted.ucid = ucid;
        wanted.pname = pname;
        Outcome o = model.addPlayer(wanted, out);
        EXPECT_TRUE(o) << o.error;
        return o.id;
    }

    ServerModel model;
    Outbox out;
};

TEST_F(ModelTest, StartsWithTheHostAloneInMultiplayer) {
    ASSERT_EQ(model.connections().size(), 1u);
    EXPECT_EQ(model.connections()[0].ucid, 0);
    EXPECT_EQ(model.connections()[0].pname, "host");
    EXPECT_TRUE(model.connections()[0].uname.empty());
    const IS_STA sta = model.state(3);
    EXPECT_EQ(sta.ReqI, 3);
    EXPECT_EQ(sta.Flags, ISS_GAME | ISS_MULTI);
    EXPECT_EQ(sta.NumConns, 1);
    EXPECT_EQ(sta.NumP, 0);
    EXPECT_EQ(sta.RaceInProg, 0);
}

TEST_F(ModelTest, JoinSendsNewConnectionThenState) {
    ASSERT_TRUE(model.addConnection(4, "alice", "^1Alice", true, out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_NCN, ISP_STA}));
    const auto ncn = as<IS_NCN>(out[0]);
    EXPECT_EQ(ncn.ReqI, 0);
    EXPECT_EQ(ncn.UCID, 4);
    EXPECT_EQ(ncn.UName, "alice");
    EXPECT_EQ(ncn.PName, "^1Alice");
    EXPECT_EQ(ncn.Admin, 1);
    EXPECT_EQ(ncn.Total, 2);
    EXPECT_EQ(as<IS_STA>(out[1]).NumConns, 2);
}

TEST_F(ModelTest, JoinRefusesTakenUcidAndUserName) {
    addTwo();
    EXPECT_FALSE(model.addConnection(1, "carol", "Carol", false, out));
    EXPECT_FALSE(model.addConnection(3, "alice", "Alice 2", false, out));
    EXPECT_FALSE(model.addConnection(0, "host2", "h", false, out));
    EXPECT_TRUE(out.empty());
    Outcome auto3 = model.addConnection(-1, "carol", "", false, out);
    ASSERT_TRUE(auto3);
    EXPECT_EQ(auto3.id, 3);
    EXPECT_EQ(model.findConnection(3)->pname, "carol");  // nickname defaults to the user name
}

TEST_F(ModelTest, ConnectionListIsInUcidOrderWithTotal) {
    ASSERT_TRUE(model.addConnection(7, "g", "G", false, out));
    ASSERT_TRUE(model.addConnection(2, "b", "B", false, out));
    out.clear();
    model.replyConnections(9, out);
    ASSERT_EQ(out.size(), 3u);
    std::vector<int> ucids;
    for (const auto& p : out) {
        const auto ncn = as<IS_NCN>(p);
        ucids.push_back(ncn.UCID);
        EXPECT_EQ(ncn.ReqI, 9);
        EXPECT_EQ(ncn.Total, 3);
    }
    EXPECT_EQ(ucids, (std::vector<int>{0, 2, 7}));
    EXPECT_EQ(as<IS_NCN>(out[0]).PName, "host");
}

TEST_F(ModelTest, PlayerJoinsTrackWithStateAndRemoteBit) {
    addTwo();
    const int plid = drive(1);
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_NPL, ISP_STA}));
    const auto npl = as<IS_NPL>(out[0]);
    EXPECT_EQ(npl.PLID, plid);
    EXPECT_EQ(npl.UCID, 1);
    EXPECT_EQ(npl.PType, PTYPE_REMOTE);
    EXPECT_EQ(npl.PName, "^1Alice");
    EXPECT_EQ(npl.CName, "XRT");
    EXPECT_EQ(npl.NumP, 1);
    EXPECT_EQ(as<IS_STA>(out[1]).NumP, 1);
    // A second human car for the same connection is refused; an AI is not.
    out.clear();
    PlayerSpec again;
    again.ucid = 1;
    EXPECT_FALSE(model.addPlayer(again, out));
    PlayerSpec ai;
    ai.ucid = 0;
    ai.ai = true;
    Outcome aiPlayer = model.addPlayer(ai, out);
    ASSERT_TRUE(aiPlayer);
    EXPECT_NE(aiPlayer.id, plid);
    const auto aiNpl = as<IS_NPL>(out[0]);
    EXPECT_EQ(aiNpl.PType, PTYPE_AI);
    EXPECT_EQ(aiNpl.PName, "AI " + std::to_string(aiPlayer.id));
}

TEST_F(ModelTest, LeavingConnectionTakesItsPlayersFirst) {
    addTwo();
    const int plid = drive(2);
    out.clear();
    ASSERT_TRUE(model.removeConnection(2, LEAVR_TIMEOUT, out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_PLL, ISP_STA, ISP_CNL, ISP_STA}));
    EXPECT_EQ(as<IS_PLL>(out[0]).PLID, plid);
    EXPECT_EQ(as<IS_STA>(out[1]).NumP, 0);
    const auto cnl = as<IS_CNL>(out[2]);
    EXPECT_EQ(cnl.UCID, 2);
    EXPECT_EQ(cnl.Reason, LEAVR_TIMEOUT);
    EXPECT_EQ(cnl.Total, 2);
    EXPECT_EQ(as<IS_STA>(out[3]).NumConns, 2);
    EXPECT_FALSE(model.removeConnection(0, LEAVR_DISCO, out));  // the host stays
}

TEST_F(ModelTest, RenameChangesConnectionAndItsPlayerWithoutState) {
    addTwo();
    const int plid = drive(1);
    out.clear();
    ASSERT_TRUE(model.renameConnection(1, "^2Ally", "AL-1", out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_CPR}));
    const auto cpr = as<IS_CPR>(out[0]);
    EXPECT_EQ(cpr.UCID, 1);
    EXPECT_EQ(cpr.PName, "^2Ally");
    EXPECT_EQ(cpr.Plate, "AL-1");
    EXPECT_EQ(model.findPlayer(plid)->pname, "^2Ally");
}

TEST_F(ModelTest, PitsKeepTheSlotAndLeavingThemResendsTheSamePlayer) {
    addTwo();
    const int plid = drive(1);
    out.clear();
    ASSERT_TRUE(model.playerToPits(plid, out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_PLP}));  // NumP unchanged: no IS_STA
    EXPECT_FALSE(model.playerToPits(plid, out));
    out.clear();
    model.replyPlayers(4, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(as<IS_NPL>(out[0]).Flags, kPitsFlag);
    out.clear();
    ASSERT_TRUE(model.playerLeavesPits(plid, out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_NPL}));
    EXPECT_EQ(as<IS_NPL>(out[0]).PLID, plid);
    EXPECT_EQ(as<IS_NPL>(out[0]).Flags, 0);
}

TEST_F(ModelTest, TakeOverMovesTheCarAndResetIsReported) {
    addTwo();
    const int plid = drive(1);
    out.clear();
    ASSERT_TRUE(model.takeOver(plid, 2, out));
    const auto toc = as<IS_TOC>(out[0]);
    EXPECT_EQ(toc.PLID, plid);
    EXPECT_EQ(toc.OldUCID, 1);
    EXPECT_EQ(toc.NewUCID, 2);
    EXPECT_EQ(model.findPlayer(plid)->ucid, 2);
    EXPECT_EQ(model.findPlayer(plid)->pname, "Bob Smith");
    EXPECT_FALSE(model.takeOver(plid, 9, out));
    out.clear();
    ASSERT_TRUE(model.carReset(plid, out));
    EXPECT_EQ(typesOf(out), (std::vector<int>{ISP_CRS}));
    EXPECT_EQ(as<IS_CRS>(out[0]).PLID, plid);
}

TEST_F(ModelTest, SessionsStartWithOrderStartAndState) {
    addTwo();
    const int p1 = drive(1);
    const int p2 = drive(2);
    out.clear();
    model.replySession(1, out);
    EXPECT_TRUE(out.empty()) << "no session: TINY_RST gets nothing";

    SessionSpec race;
    race.kind = SessionKind::Race;
    race.laps = 5;
    race.track = "AS3";
    ASSERT_TRUE(model.startSession(race, out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_REO, ISP_RST, ISP_STA}));
    const auto reo = as<IS_REO>(out[0]);
    EXPECT_EQ(reo.NumP, 2);
    EXPECT_EQ(reo.PLID[0], p1);
    EXPECT_EQ(reo.PLID[1], p2);
    const auto rst = as<IS_RST>(out[1]);
    EXPECT_EQ(rst.RaceLaps, 5);
    EXPECT_EQ(rst.QualMins, 0);
    EXPECT_EQ(rst.NumP, 2);
    EXPECT_EQ(rst.Track, "AS3");
    EXPECT_EQ(rst.NumNodes, model.session().numNodes);
    const auto sta = as<IS_STA>(out[2]);
    EXPECT_EQ(sta.RaceInProg, 1);
    EXPECT_EQ(sta.RaceLaps, 5);
    EXPECT_EQ(sta.Track, "AS3");

    out.clear();
    SessionSpec qual;
    qual.kind = SessionKind::Qualifying;
    qual.qualMins = 12;
    ASSERT_TRUE(model.startSession(qual, out));
    const auto qrst = as<IS_RST>(out[1]);
    EXPECT_EQ(qrst.RaceLaps, 0);
    EXPECT_EQ(qrst.QualMins, 12);
    EXPECT_EQ(as<IS_STA>(out.back()).RaceInProg, 2);

    out.clear();
    model.replySession(7, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(as<IS_RST>(out[0]).ReqI, 7);

    out.clear();
    SessionSpec practice;
    practice.kind = SessionKind::Practice;
    ASSERT_TRUE(model.startSession(practice, out));
    const auto psta = as<IS_STA>(out.back());
    EXPECT_EQ(psta.RaceInProg, 1);
    EXPECT_EQ(psta.RaceLaps, 0) << "practice is a race of 0 laps";
}

TEST_F(ModelTest, SessionWithoutLengthIsRefused) {
    SessionSpec race;
    race.kind = SessionKind::Race;
    EXPECT_FALSE(model.startSession(race, out));
    SessionSpec qual;
    qual.kind = SessionKind::Qualifying;
    EXPECT_FALSE(model.startSession(qual, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(model.session().running());
}

TEST_F(ModelTest, MultiplayerEndAndSetupScreen) {
    addTwo();
    drive(1);
    out.clear();
    ASSERT_TRUE(model.backToSetup(out));
    EXPECT_EQ(as<IS_TINY>(out[0]).SubT, TINY_REN);
    EXPECT_EQ(model.connections().size(), 3u) << "the setup screen keeps everybody";
    out.clear();
    ASSERT_TRUE(model.multiplayerEnds(out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_TINY, ISP_STA}));
    EXPECT_EQ(as<IS_TINY>(out[0]).SubT, TINY_MPE);
    const auto sta = as<IS_STA>(out[1]);
    EXPECT_EQ(sta.NumConns, 1);
    EXPECT_EQ(sta.NumP, 0);
    EXPECT_EQ(sta.Flags & ISS_MULTI, 0);
}

TEST_F(ModelTest, EntryScreenAndFlagsReportState) {
    addTwo();
    ASSERT_TRUE(model.entryScreen(out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_STA}));
    EXPECT_EQ(as<IS_STA>(out[0]).Flags & (ISS_FRONT_END | ISS_GAME), ISS_FRONT_END);
    out.clear();
    ASSERT_TRUE(model.setStateFlags(model.stateFlags(), out));
    EXPECT_TRUE(out.empty()) << "nothing changed: no IS_STA";
    ASSERT_TRUE(model.setStateFlags(ISS_GAME | ISS_MULTI | ISS_REPLAY, out));
    EXPECT_EQ(as<IS_STA>(out[0]).Flags, ISS_GAME | ISS_MULTI | ISS_REPLAY);
}

// ---- Chat ------------------------------------------------------------------

TEST_F(ModelTest, TypedChatIsSentWithNameHeadAndTextStart) {
    addTwo();
    model.setClientInit(ISF_MSO_COLS, '#');
    const int plid = drive(1);
    out.clear();
    ASSERT_TRUE(model.typeChat(1, "#help", out));
    auto mso = as<IS_MSO>(out[0]);
    EXPECT_EQ(mso.UCID, 1);
    EXPECT_EQ(mso.PLID, plid);
    EXPECT_EQ(mso.UserType, MSO_PREFIX);
    EXPECT_EQ(mso.Msg, "^1Alice^L : #help");
    EXPECT_EQ(mso.Msg.view().substr(mso.TextStart), "#help");

    out.clear();
    ASSERT_TRUE(model.typeChat(2, "hi ^3all", out));
    mso = as<IS_MSO>(out[0]);
    EXPECT_EQ(mso.UserType, MSO_USER);
    EXPECT_EQ(mso.PLID, 0) << "Bob has no car";
    EXPECT_EQ(mso.Msg.view().substr(mso.TextStart), "hi ^3all");
    ASSERT_EQ(model.chat().size(), 2u);
    EXPECT_EQ(model.chat()[1].kind, ChatLine::Kind::Typed);
    EXPECT_FALSE(model.typeChat(2, "", out));
}

TEST_F(ModelTest, ChatWithoutColourFlagLosesColourCodes) {
    addTwo();
    model.setClientInit(0, '#');
    ASSERT_TRUE(model.typeChat(1, "^3yellow #x", out));
    const auto mso = as<IS_MSO>(out[0]);
    EXPECT_EQ(mso.Msg, "Alice^L : yellow #x");
    EXPECT_EQ(mso.Msg.view().substr(mso.TextStart), "yellow #x");
    EXPECT_EQ(mso.UserType, MSO_USER);
}

TEST(ModelHelpers, RaceLapsEncodingAndColourStripping) {
    EXPECT_EQ(encodeRaceLaps(0), 0);
    EXPECT_EQ(encodeRaceLaps(1), 1);
    EXPECT_EQ(encodeRaceLaps(99), 99);
    EXPECT_EQ(encodeRaceLaps(100), 100);
    EXPECT_EQ(encodeRaceLaps(110), 101);
    EXPECT_EQ(encodeRaceLaps(1000), 190);
    EXPECT_EQ(stripColours("^1Bob ^7Smith^"), "Bob Smith^");
    EXPECT_EQ(stripColours("a^Lb"), "a^Lb");
}

// ---- Host commands ---------------------------------------------------------

TEST_F(ModelTest, SpecMatchesColourCodedNicknames) {
    addTwo();
    const int alice = drive(1);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/wanted ^1Alice", out));
    EXPECT_EQ(as<IS_PLL>(out[0]).PLID, alice);
    out.clear();
    const int again = drive(1);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/wanted Alice", out)) << "a plain name finds the coloured one";
    EXPECT_EQ(as<IS_PLL>(out[0]).PLID, again);
}

TEST_F(ModelTest, KickRemovesPlayerThenConnectionAsKicked) {
    addTwo();
    const int plid = drive(2);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/kick bob", out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_PLL, ISP_STA, ISP_CNL, ISP_STA}));
    EXPECT_EQ(as<IS_PLL>(out[0]).PLID, plid);
    EXPECT_EQ(as<IS_CNL>(out[2]).Reason, LEAVR_KICKED);
    EXPECT_EQ(as<IS_CNL>(out[2]).UCID, 2);
    out.clear();
    EXPECT_FALSE(model.hostMessage("/kick Bob Smith", out)) << "kick takes the user name only";
    EXPECT_FALSE(model.hostMessage("/kick ", out)) << "the host has no user name";
    EXPECT_TRUE(out.empty());
}

TEST_F(ModelTest, PenaltiesAreGivenChangedAndCleared) {
    addTwo();
    const int plid = drive(2);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/p_dt Bob Smith", out));
    auto pen = as<IS_PEN>(out.at(0));
    EXPECT_EQ(pen.PLID, plid);
    EXPECT_EQ(pen.OldPen, PENALTY_NONE);
    EXPECT_EQ(pen.NewPen, PENALTY_DT);
    EXPECT_EQ(pen.Reason, PENR_ADMIN);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/p_sg Bob Smith", out));
    pen = as<IS_PEN>(out.at(0));
    EXPECT_EQ(pen.OldPen, PENALTY_DT);
    EXPECT_EQ(pen.NewPen, PENALTY_SG);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/p_clear Bob Smith", out));
    pen = as<IS_PEN>(out.at(0));
    EXPECT_EQ(pen.OldPen, PENALTY_SG);
    EXPECT_EQ(pen.NewPen, PENALTY_NONE);
    EXPECT_EQ(pen.Reason, PENR_UNKNOWN);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/p_clear Bob Smith", out));
    EXPECT_TRUE(out.empty()) << "no penalty to clear: LFS reports nothing";
}

TEST_F(ModelTest, PitlaneTakesNicknameOrUserName) {
    addTwo();
    const int alice = drive(1);
    const int bob = drive(2);
    SessionSpec race;
    race.laps = 3;
    ASSERT_TRUE(model.startSession(race, out));  // both cars on the grid
    out.clear();
    ASSERT_TRUE(model.hostMessage("/pitlane ^1Alice", out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_PLA})) << "moved to its box, still in the race";
    EXPECT_EQ(as<IS_PLA>(out[0]).PLID, alice);
    EXPECT_EQ(as<IS_PLA>(out[0]).Fact, PITLANE_ENTER);
    EXPECT_FALSE(model.findPlayer(alice)->inPits);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/pitlane bob", out));
    EXPECT_EQ(as<IS_PLA>(out.at(0)).PLID, bob);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/pitlane Alice", out));
    EXPECT_TRUE(out.empty()) << "a car in its box stays there without a report";
    EXPECT_FALSE(model.hostMessage("/pitlane nobody", out));
    EXPECT_TRUE(out.empty());
}

TEST_F(ModelTest, RestartStartsAgainAndQualSetsTheNextQualifying) {
    addTwo();
    drive(1);
    SessionSpec race;
    race.kind = SessionKind::Race;
    race.laps = 3;
    ASSERT_TRUE(model.startSession(race, out));
    out.clear();
    ASSERT_TRUE(model.hostMessage("/restart ", out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_REO, ISP_RST}));  // nothing in IS_STA changed
    EXPECT_EQ(as<IS_RST>(out[1]).RaceLaps, 3);
    out.clear();
    ASSERT_TRUE(model.hostMessage("/qual 7 ", out));
    ASSERT_EQ(typesOf(out), (std::vector<int>{ISP_STA})) << "the race goes on";
    EXPECT_EQ(as<IS_STA>(out[0]).RaceInProg, 1);
    EXPECT_EQ(as<IS_STA>(out[0]).QualMins, 7);
    out.clear();
    SessionSpec qual;
    qual.kind = SessionKind::Qualifying;
    ASSERT_TRUE(model.startSession(qual, out));
    EXPECT_EQ(as<IS_RST>(out.at(1)).QualMins, 7);
    out.clear();
    EXPECT_FALSE(model.hostMessage("/qual", out));
    EXPECT_FALSE(model.hostMessage("/qual x", out));
    EXPECT_TRUE(out.empty());
}

TEST_F(ModelTest, UnknownCommandsAndTextsAreOnlyRecorded) {
    addTwo();
    EXPECT_FALSE(model.hostMessage("/spectate Bob", out));
    EXPECT_TRUE(model.hostMessage("hello all", out));
    model.longMessage("^7The long line");
    model.privateMessage(2, 0, "to bob");
    EXPECT_TRUE(out.empty());
    const auto& chat = model.chat();
    ASSERT_EQ(chat.size(), 4u);
    EXPECT_EQ(chat[0].kind, ChatLine::Kind::Command);
    EXPECT_FALSE(chat[0].acted);
    EXPECT_EQ(chat[1].kind, ChatLine::Kind::ToAll);
    EXPECT_EQ(chat[1].text, "hello all");
    EXPECT_EQ(chat[2].text, "^7The long line");
    EXPECT_EQ(chat[3].kind, ChatLine::Kind::Private);
    EXPECT_EQ(chat[3].ucid, 2);
}

// ---- Screens ---------------------------------------------------------------

IS_BTN btn(std::uint8_t ucid, std::uint8_t id, const char* text, std::uint8_t l = 10,
           std::uint8_t t = 20, std::uint8_t w = 30, std::uint8_t h = 5) {
    IS_BTN b;
    b.ReqI = id ? id : 1;
    b.UCID = ucid;
    b.ClickID = id;
    b.BStyle = ISB_DARK;
    b.L = l;
    b.T = t;
    b.W = w;
    b.H = h;
    b.Text.assign(text);
    return b;
}

IS_BFN bfn(std::uint8_t subT, std::uint8_t ucid, std::uint8_t id) {
    IS_BFN f;
    f.SubT = subT;
    f.UCID = ucid;
    f.ClickID = id;
    return f;
}

TEST_F(ModelTest, ButtonTextUpdateKeepsPlaceAndSize) {
    addTwo();
    ASSERT_TRUE(model.button(btn(1, 140, "first", 5, 50, 60, 6)));
    ASSERT_EQ(model.screen(1).size(), 1u);
    ASSERT_TRUE(model.button(btn(1, 140, "second", 0, 0, 0, 0)));
    auto screen = model.screen(1);
    ASSERT_EQ(screen.size(), 1u);
    EXPECT_EQ(screen[0].text, "second");
    EXPECT_EQ(screen[0].left, 5);
    EXPECT_EQ(screen[0].top, 50);
    EXPECT_EQ(screen[0].width, 60);
    EXPECT_EQ(screen[0].height, 6);
    // With a size it is drawn anew.
    ASSERT_TRUE(model.button(btn(1, 140, "third", 1, 2, 3, 4)));
    screen = model.screen(1);
    ASSERT_EQ(screen.size(), 1u);
    EXPECT_EQ(screen[0].width, 3);
    EXPECT_EQ(screen[0].text, "third");
}

TEST_F(ModelTest, ButtonsAreKeyedByConnectionAndClickId) {
    addTwo();
    ASSERT_TRUE(model.button(btn(1, 2, "one-two")));
    ASSERT_TRUE(model.button(btn(2, 1, "two-one")));
    ASSERT_TRUE(model.buttonFunction(bfn(BFN_DEL_BTN, 1, 2)));
    EXPECT_TRUE(model.screen(1).empty());
    ASSERT_EQ(model.screen(2).size(), 1u);
    EXPECT_EQ(model.screen(2)[0].text, "two-one");
    EXPECT_FALSE(model.buttonFunction(bfn(BFN_DEL_BTN, 1, 2))) << "already gone";
}

TEST_F(ModelTest, AllConnectionsButtonsAndClear) {
    addTwo();
    ASSERT_TRUE(model.button(btn(kAllUcids, 100, "status")));
    for (int ucid : {0, 1, 2}) {
        ASSERT_EQ(model.screen(ucid).size(), 1u) << ucid;
        EXPECT_EQ(model.screen(ucid)[0].text, "status");
    }
    ASSERT_TRUE(model.button(btn(2, 101, "own")));
    ASSERT_TRUE(model.buttonFunction(bfn(BFN_DEL_BTN, kAllUcids, 100)));
    EXPECT_TRUE(model.screen(1).empty());
    EXPECT_EQ(model.screen(2).size(), 1u);
    ASSERT_TRUE(model.button(btn(1, 5, "x")));
    ASSERT_TRUE(model.buttonFunction(bfn(BFN_CLEAR, 1, 0)));
    EXPECT_TRUE(model.screen(1).empty());
    EXPECT_EQ(model.screen(2).size(), 1u) << "clearing one connection leaves the others";
    ASSERT_TRUE(model.buttonFunction(bfn(BFN_CLEAR, kAllUcids, 0)));
    EXPECT_TRUE(model.screen(2).empty());
}

TEST_F(ModelTest, ButtonsLfsIgnoresAndLeavingLosesTheScreen) {
    addTwo();
    EXPECT_FALSE(model.button(btn(9, 1, "nobody")));
    IS_BTN noReq = btn(1, 3, "no reqi");
    noReq.ReqI = 0;
    EXPECT_FALSE(model.button(noReq));
    EXPECT_FALSE(model.button(btn(1, 240, "id too high")));
    EXPECT_TRUE(model.screen(1).empty());
    EXPECT_FALSE(model.button(btn(1, 7, "zero size", 1, 1, 0, 0)))
        << "reported as a text update of nothing";
    ASSERT_TRUE(model.button(btn(1, 8, "kept")));
    ASSERT_TRUE(model.removeConnection(1, LEAVR_DISCO, out));
    EXPECT_TRUE(model.screen(1).empty());
    ASSERT_TRUE(model.addConnection(1, "alice", "Alice", false, out));
    EXPECT_TRUE(model.screen(1).empty()) << "a new connection starts with a blank screen";
}

}  // namespace
}  // namespace tmx::sim
