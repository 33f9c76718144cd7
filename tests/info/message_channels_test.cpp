// Message channels and the status bar, checked on the simulated server's
// emulated screens.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/placeholders.h"
#include "support/controller_fixture.h"

namespace tmx {
namespace {

using namespace insim;

class ChannelTest : public testing::ControllerFixture {
protected:
    std::string masterLanguage() const override {
        std::string team = "<team>\r\n";
        for (int i = 0; i < 30; ++i) team += "\"team line " + std::to_string(i) + "\"\r\n";
        return "<(cr)>\r\n\"ori\"\r\n<tmxm>\r\n\"Hello %%, meet %%\"\r\n"
               "<trac>\r\n\"^2track open\"\r\n\"^1track closed\"\r\n\"^3window\"\r\n\"t3\"\r\n\"t4\"\r\n"
               "\"t5\"\r\n\"t6\"\r\n\"^2pits open\"\r\n\"^1pits closed\"\r\n\"window to %%\"\r\n\"last lap %%\"\r\n"
               "\"window from %%\"\r\n\"^7start in \"\r\n" +
               team;
    }

    void SetUp() override {
        ControllerFixture::SetUp();
        joinGuest(1, "alice", "Alice");
        joinGuest(2, "boss", "Boss");
        startRunning();
        alice = c.FindIndex(1, -1);
        boss = c.FindIndex(2, -1);
        ASSERT_NE(alice, -1);
        ASSERT_NE(boss, -1);
    }

    // A practice session starts: the setup screen is left behind.
    void sessionStarts() {
        sim::SessionSpec practice;
        practice.kind = sim::SessionKind::Practice;
        ASSERT_TRUE(simulator->startSession(practice).ok);
        barrier();
        ASSERT_FALSE(c.server.setupScreen);
    }

    // The button a connection sees with that click id, or nullptr.
    const sim::Button* shown(int ucid, int clickId) {
        flushToSim();
        screen = simulator->screen(ucid);
        for (const auto& b : screen)
            if (b.clickId == clickId) return &b;
        return nullptr;
    }

    int alice = -1;
    int boss = -1;
    std::vector<sim::Button> screen;
};

TEST_F(ChannelTest, MessageLevelPrefixAgainstTheDriversChatLevel) {
    c.entry(alice).chatLevel = 1;
    EXPECT_EQ(c.SystemLine(alice, 0, "#2chatter", 5000), 0);
    EXPECT_EQ(shown(1, 140), nullptr);

    EXPECT_GT(c.SystemLine(alice, 1, "#0rule", 5000), 0);
    ASSERT_NE(shown(1, 141), nullptr);
    EXPECT_EQ(shown(1, 141)->text, "rule");

    EXPECT_EQ(c.SystemLine(alice, 2, "#9loud", 5000), 0) << "a level above 2 counts as 2";
    c.entry(alice).chatLevel = 7;  // a stored value above 2 counts as full
    EXPECT_GT(c.SystemLine(alice, 2, "#9loud", 5000), 0);
    ASSERT_NE(shown(1, 142), nullptr);
    EXPECT_EQ(shown(1, 142)->text, "loud");
}

TEST_F(ChannelTest, SystemChannelGeometryAndLanguageSubstitution) {
    c.BroadcastSystemText(2, 0, 5000, "Alice", "Bob");
    const sim::Button* b = shown(2, 142);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text, "Hello Alice, meet Bob");
    EXPECT_EQ(b->left, 50);
    EXPECT_EQ(b->top, 1 + 2 * 9);
    EXPECT_EQ(b->width, 100);
    EXPECT_EQ(b->height, 9);
    EXPECT_EQ(b->style, 3);
    ASSERT_NE(shown(1, 142), nullptr);
}

TEST_F(ChannelTest, ValuesGoIntoTheirOwnPlaceholdersEvenWhenOneContainsTheMark) {
    c.BroadcastSystemText(1, 0, 5000, "^1100%%Club", "Bob");
    const sim::Button* b = shown(1, 141);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text, "Hello ^1100%%Club, meet Bob");
}

TEST(PlaceholderTest, EachValueFillsTheNextMarkOfTheLineOnly) {
    struct Case {
        const char* line;
        const char* first;
        const char* second;
        const char* expected;
    };
    const Case cases[] = {
        {"%% and %%", "a%%b", "c", "a%%b and c"},
        {"%% and %%", nullptr, "c", "%% and c"},
        {"%%%%", "x", "y", "xy"},
        {"no mark", "x", nullptr, "no mark"},
        {"%% only", "x", "y", "x only"},
        {"%%, %% and %%", "x", "y", "x, y and %%"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(fillPlaceholders(k.line, {k.first, k.second}), k.expected) << k.line;
}

TEST_F(ChannelTest, TeamLinesTakeTheTeamColourAndPosition) {
    for (int line = 0; line < 4; ++line) c.TeamLine(alice, line, "go", 5000);
    const int tops[] = {161, 168, 175, 182};
    for (int line = 0; line < 4; ++line) {
        const sim::Button* b = shown(1, 110 + line);
        ASSERT_NE(b, nullptr) << line;
        EXPECT_EQ(b->top, tops[line]);
        EXPECT_EQ(b->text, "^3go");
        EXPECT_EQ(b->style, 3);
        EXPECT_EQ(b->width, 160);
        EXPECT_EQ(b->left, 20);
    }
    c.TeamLine(alice, 0, "^5own colour", 5000);
    EXPECT_EQ(shown(1, 110)->text, "^5own colour");
    EXPECT_EQ(shown(1, 110)->style, 3) << "the box still follows the team colour";
}

TEST_F(ChannelTest, TeamSettingsCycleAndConfirm) {
    std::vector<int> positions;
    for (int i = 0; i < 8; ++i) {
        c.ChangeTeamPosition(alice);
        positions.push_back(c.entry(alice).teamPosition);
    }
    EXPECT_EQ(positions, (std::vector<int>{150, 130, 110, 90, 70, 50, 30, 170}));
    EXPECT_EQ(shown(1, 110)->text, "^3team line 29");

    for (int i = 0; i < 7; ++i) c.ChangeTeamColour(alice);
    EXPECT_EQ(c.entry(alice).teamColour, 3) << "3 .. 7, then back to 1 .. 3";
    EXPECT_EQ(shown(1, 110)->text, "^3team line 25");

    c.ChangeChatLevel(alice);
    EXPECT_EQ(c.entry(alice).chatLevel, 1);
    EXPECT_EQ(shown(1, 110)->text, "^3team line 27");
    c.ChangeChatLevel(alice);
    c.ChangeChatLevel(alice);
    EXPECT_EQ(c.entry(alice).chatLevel, 2) << "from minimum back to full";
}

TEST_F(ChannelTest, AiLinesReachOnlyAWatchingAdmin) {
    joinTrack(1, true);
    barrier();
    const int ai = c.usedEntries - 1;
    ASSERT_EQ(c.entry(ai).ai, 1);
    EXPECT_EQ(c.SystemLine(ai, 0, "ai text", 5000), -1) << "nothing handed over";
    EXPECT_EQ(shown(1, 140), nullptr);

    c.entry(ai).display.watchedBy = static_cast<std::uint8_t>(boss);
    c.SystemLine(ai, 0, "ai text", 5000);
    EXPECT_EQ(shown(1, 140), nullptr);
    ASSERT_NE(shown(2, 140), nullptr);
    EXPECT_EQ(shown(2, 140)->text, "ai text");
}

TEST_F(ChannelTest, SwitchedOffChannelIsSilentEvenForBroadcasts) {
    c.config.orgamsg.left = -1;
    EXPECT_EQ(c.OrgaLine(alice, 0, "nothing", 5000), 0);
    c.BroadcastOrga(1, "nothing", 5000);
    c.BroadcastOrgaText(2, 0, 5000, "x");
    EXPECT_EQ(shown(1, 130), nullptr);
    EXPECT_EQ(shown(1, 131), nullptr);
    EXPECT_EQ(shown(2, 132), nullptr);
}

// Every single-driver sender asks its channel before the index: an off
// channel answers 0 for any index, an open one -1 for an index off the table.
TEST_F(ChannelTest, EveryLineSenderAnswersForAnOffChannelBeforeTheIndex) {
    using Sender = std::function<int(int index)>;
    struct Case {
        const char* name;
        data::MessageChannel* channel;
        Sender send;
    };
    const Case cases[] = {
        {"system", &c.config.tmxmsg, [&](int i) { return c.SystemLine(i, 0, "x", 5000); }},
        {"orga", &c.config.orgamsg, [&](int i) { return c.OrgaLine(i, 0, "x", 5000); }},
        {"team", &c.config.crewmsg, [&](int i) { return c.TeamLine(i, 0, "x", 5000); }},
        {"info", &c.config.infomsg, [&](int i) { return c.InfoLine(i, 1, "x", 5000); }},
        {"system text", &c.config.tmxmsg, [&](int i) { return c.SystemLineText(i, 0, 0, 5000, "v"); }},
        {"orga text", &c.config.orgamsg, [&](int i) { return c.OrgaLineText(i, 0, 0, 5000, "v"); }},
    };
    for (const Case& k : cases) {
        const int left = k.channel->left;
        for (int index : {-1, c.usedEntries, 99}) {
            k.channel->left = -1;
            EXPECT_EQ(k.send(index), 0) << k.name << " off, index " << index;
            k.channel->left = left;
            EXPECT_EQ(k.send(index), -1) << k.name << " on, index " << index;
        }
    }
}

TEST_F(ChannelTest, HostScreenIsLeftAloneInMultiplayer) {
    ASSERT_TRUE(c.server.lastState.Flags & ISS_MULTI);
    EXPECT_EQ(c.SystemLine(0, 0, "for the host", 5000), 0);
    EXPECT_EQ(shown(0, 140), nullptr);
}

TEST_F(ChannelTest, StatusBarShowsTrackAndPitLaneState) {
    sessionStarts();
    c.ClearStatusBar(alice);  // drawn afresh below, with its full look
    c.session.pitLaneClosed = 1;
    c.entry(alice).race.driverStatus = DS_PITS;
    c.DrawStatusBar(alice);
    const sim::Button* track = shown(1, 100);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->text, "^2track open");
    EXPECT_EQ(track->style, 20);
    EXPECT_EQ(track->left, 69);
    EXPECT_EQ(track->top, 194);
    EXPECT_EQ(track->inst, INST_ALWAYS_ON);
    const sim::Button* pit = shown(1, 101);
    ASSERT_NE(pit, nullptr);
    EXPECT_EQ(pit->text, "^1pits closed");
    EXPECT_EQ(pit->style, 21);
    EXPECT_EQ(c.entry(alice).display.statusBarDrawn, 1);
    // The open-track button lives 10 s; the closed pit lane stays.
    EXPECT_EQ(link.FindButton(1, 100)->lifetime, 10);
    EXPECT_EQ(link.FindButton(1, 101)->lifetime, 0);

    c.ClearStatusBar(alice);
    EXPECT_EQ(shown(1, 100), nullptr);
    EXPECT_EQ(c.entry(alice).display.statusBarDrawn, 0);
}

TEST_F(ChannelTest, StatusBarStaysWhileWaitingAndIsNotDrawnInTheSetupScreen) {
    c.DrawStatusBar(alice);
    EXPECT_EQ(shown(1, 100), nullptr) << "setup screen";
    sessionStarts();
    c.entry(alice).race.driverStatus = DS_SPECTATING;
    c.DrawStatusBar(alice);
    ASSERT_NE(link.FindButton(1, 100), nullptr);
    EXPECT_EQ(link.FindButton(1, 100)->lifetime, 0);
}

TEST_F(ChannelTest, StartWindowButtonCountsDown) {
    c.session.raceState = RS_QUALIFYING;
    c.config.qtype = 1;
    c.config.qstartwindow = 2;
    c.session.qualifyingStartTime = clock.now() - 65;  // 55 s left
    c.DrawStartWindowButton(alice);
    ASSERT_NE(shown(1, 220), nullptr);
    EXPECT_EQ(shown(1, 220)->text, "^1start in 00:55") << "the last minute turns red";
    c.session.qualifyingStartTime = clock.now() - 10;  // 1:50 left
    c.DrawStartWindowButton(alice);
    EXPECT_EQ(shown(1, 220)->text, "^7start in 01:50");
}

TEST_F(ChannelTest, PitWindowButtonNamesTheNextWindow) {
    c.session.raceState = RS_RACE;
    ASSERT_TRUE(c.config.pitwindow.add(5, 8));
    c.entry(alice).race.driverStatus = DS_ON_TRACK;
    c.entry(alice).lapCounter = 2;
    c.DrawPitWindowButton(alice);
    ASSERT_NE(shown(1, 220), nullptr);
    EXPECT_EQ(shown(1, 220)->text, "window from 5");
    c.entry(alice).lapCounter = 5;
    c.DrawPitWindowButton(alice);
    EXPECT_EQ(shown(1, 220)->text, "window to 8");
    c.entry(alice).lapCounter = 7;
    c.DrawPitWindowButton(alice);
    EXPECT_EQ(shown(1, 220)->text, "last lap 8");
}

}  // namespace
}  // namespace tmx
