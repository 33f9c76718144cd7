// Chat commands typed on the simulated LFS server: recognition, the blank
// reply, the help convention, admin checks and the commands' effects.
#include "commands/chat_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/controller_fixture.h"

namespace tmx {
namespace {

using namespace insim;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr int kAlice = 1;  // a guest without admin rights
constexpr int kBoss = 2;   // a guest with admin rights
constexpr const char* kUnknown = "^7ERROR, command unknown.  Try '#help'.";
constexpr const char* kNoRights = "^7ERROR, not possible. Adminrights needed!!";
constexpr const char* kNotYet = "^7Sorry, this command is not available yet.";

class ChatCommandTest : public testing::ControllerFixture {
protected:
    std::string masterLanguage() const override {
        std::string team = "<team>\r\n";
        for (int i = 0; i < 30; ++i) team += "\"team " + std::to_string(i) + "\"\r\n";
        std::string orga = "<orga>\r\n";
        for (int i = 0; i < 10; ++i) orga += "\"orga " + std::to_string(i) + "\"\r\n";
        return "<(cr)>\r\n\"ori\"\r\n\"Original\"\r\n\"TMX team\"\r\n\"2023\"\r\n" + team + orga;
    }

    void SetUp() override {
        ControllerFixture::SetUp();
        dir.write("languages/deu.lng", "<(cr)>\r\n\"deu\"\r\n\"Deutsch\"\r\n\"Hans\"\r\n\"2024\"\r\n");
        ASSERT_EQ(master.languages.loadFile(dir.path() + "/languages/", "deu.lng"), 0);
        joinGuest(kAlice, "alice", "Alice");
        ASSERT_TRUE(simulator->join(kBoss, "boss", "Boss", true).ok);
        startRunning();
        alice = c.FindIndex(kAlice, -1);
        boss = c.FindIndex(kBoss, -1);
        ASSERT_NE(alice, -1);
        ASSERT_NE(boss, -1);
        ASSERT_EQ(c.entry(boss).admin, 1);
    }

    std::vector<sim::ChatLine> chatLog() {
        flushToSim();
        return simulator->snapshot().model.chat();
    }

    // What the connection to got privately since mark.
    std::vector<std::string> privateSince(std::size_t mark, int to) {
        std::vector<std::string> lines;
        const auto log = chatLog();
        for (std::size_t i = mark; i < log.size(); ++i)
            if (log[i].kind == sim::ChatLine::Kind::Private && log[i].ucid == to) lines.push_back(log[i].text);
        return lines;
    }
    // What everybody got since mark.
    std::vector<std::string> toAllSince(std::size_t mark) {
        std::vector<std::string> lines;
        const auto log = chatLog();
        for (std::size_t i = mark; i < log.size(); ++i)
            if (log[i].kind == sim::ChatLine::Kind::ToAll) lines.push_back(log[i].text);
        return lines;
    }

    // Types a line on connection ucid and returns what that connection got
    // privately in answer.
    std::vector<std::string> say(int ucid, const std::string& text) {
        mark = chatLog().size();
        EXPECT_TRUE(simulator->chat(ucid, text).ok);
        barrier();
        return privateSince(mark, ucid);
    }

    // The same, with the chat line handed to the command handler directly
    // instead of through a loop pass (whose ticks would move the race state on).
    std::vector<std::string> sayDirect(int ucid, const std::string& text) {
        mark = chatLog().size();
        EXPECT_TRUE(simulator->chat(ucid, text).ok);
        for (int polls = 0; polls < 100; ++polls) {
            link.Poll();
            if (link.GetState() != LINK_PACKET_READY) continue;
            const std::uint8_t type = link.PacketType();
            c.Dispatch(type);
            if (type == ISP_MSO) break;
        }
        return privateSince(mark, ucid);
    }

    // The text of the button a connection sees, "" when there is none.
    std::string buttonText(int ucid, int clickId) {
        flushToSim();
        for (const auto& b : simulator->screen(ucid))
            if (b.clickId == clickId) return b.text.str();
        return "";
    }

    // Sends an IS_MSO made by hand, then waits until it was handled.
    void sendMso(const RawPacket& packet) {
        mark = chatLog().size();
        ASSERT_TRUE(simulator->sendPacket(packet));
        barrier();
    }

    std::size_t mark = 0;
    int alice = -1;
    int boss = -1;
};

// ---- Recognition ----------------------------------------------------------------

TEST_F(ChatCommandTest, TheHelpCommandInCapitalsIsUnknown) {
    EXPECT_THAT(say(kAlice, "#HELP"), ElementsAre(" ", kUnknown));
    EXPECT_THAT(say(kAlice, "#nothing at all"), ElementsAre(" ", kUnknown))
        << "the blank comes first also for an unknown command";
}

TEST_F(ChatCommandTest, AllThreePrefixesAreOneCommand) {
    c.server.currentTrack = "BL1";
    const auto hash = say(kAlice, "#track");
    EXPECT_THAT(hash, ElementsAre(" ", "^7current track : BL1"));
    EXPECT_EQ(say(kAlice, "!track"), hash);
    EXPECT_EQ(say(kAlice, ".tr"), hash);

    const auto top = say(kAlice, "#top");
    EXPECT_GT(top.size(), 1u);
    EXPECT_THAT(top, Not(Contains(kNotYet)));
    EXPECT_EQ(say(kAlice, "!top"), top);
    EXPECT_EQ(say(kAlice, ".top"), top);
}

TEST_F(ChatCommandTest, ChatWithoutPrefixGetsNoReplyAtAll) {
    const std::size_t before = received(ISP_MTC);
    say(kAlice, "hello #help");
    say(kAlice, " #help");
    EXPECT_EQ(received(ISP_MTC), before);
}

TEST_F(ChatCommandTest, NothingIsAnsweredWhileConnecting) {
    c.runRequest = RUN_CONNECTING;
    EXPECT_THAT(sayDirect(kAlice, "#help"), IsEmpty());
    c.runRequest = RUN_RUNNING;
    EXPECT_THAT(sayDirect(kAlice, "#tr"), ElementsAre(" ", "^7current track : " + c.server.currentTrack.str()));
}

TEST_F(ChatCommandTest, DebugModePrintsTheWholeMessage) {
    c.debugState = DBG_ON;
    say(kAlice, "#tr");
    EXPECT_NE(console.output().find("IS_MSO (message from host) -> \nAlice^L : #tr"), std::string::npos);
}

TEST_F(ChatCommandTest, ALineTypedOnAnAiOwnersConnectionUsesTheOwnersRecord) {
    joinTrack(kBoss, true);
    barrier();
    int ai = -1;
    for (int i = 0; i < c.usedEntries; ++i)
        if (c.entry(i).ucid == kBoss && c.entry(i).ai) ai = i;
    ASSERT_NE(ai, -1);
    // The AI's record first, and without the owner's rights: the owner's own
    // record behind it must be the one that answers.
    std::swap(c.entry(ai), c.entry(boss));
    c.entry(boss).admin = 0;
    ASSERT_EQ(c.FindIndex(kBoss, -1), boss);
    ASSERT_EQ(c.entry(boss).ai, 1);

    const auto lines = say(kBoss, "#help");
    EXPECT_THAT(lines, ::testing::Contains("^2Admincommands:"));
}

TEST_F(ChatCommandTest, TextStartFromTheServerIsNeverTrusted) {
    IS_MSO mso;
    mso.UCID = kAlice;
    mso.UserType = MSO_PREFIX;
    mso.Msg = "Alice^L : #help";
    for (int start : {200, 255, 128, 15}) {
        mso.TextStart = static_cast<std::uint8_t>(start);
        sendMso(encode(mso));
        EXPECT_THAT(privateSince(mark, kAlice), IsEmpty()) << "TextStart " << start;
    }
    EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);

    // A full 128-byte text without terminator whose last byte is the prefix.
    mso.TextStart = 127;
    RawPacket raw = encode(mso);
    for (std::size_t i = 8; i < 8 + 127; ++i) raw.bytes[i] = 'a';
    raw.bytes[8 + 127] = '#';
    sendMso(raw);
    EXPECT_THAT(privateSince(mark, kAlice), ElementsAre(" ", kUnknown));

    // A packet too short for its layout is not acted on.
    RawPacket shortPacket = encode(mso);
    shortPacket.size = 40;
    shortPacket.bytes[0] = 40;
    sendMso(shortPacket);
    EXPECT_THAT(privateSince(mark, kAlice), IsEmpty());
}

TEST_F(ChatCommandTest, AMessageFromAnUnknownConnectionIsIgnored) {
    IS_MSO mso;
    mso.UCID = 42;
    mso.TextStart = 0;
    mso.Msg = "#help";
    sendMso(encode(mso));
    EXPECT_THAT(toAllSince(mark), IsEmpty());
    EXPECT_THAT(privateSince(mark, 42), IsEmpty());
}

// ---- #help and the help convention ------------------------------------------------

TEST_F(ChatCommandTest, HelpShowsTheAdminSectionOnlyToAdmins) {
    const std::vector<std::string> head{" ", " ", "^7Trackmarshal ",
                                        "^7Visit the Trackmarshal web site for more information",
                                        "^7------------------------------------------",
                                        "^7Enter <#command ?> for more help."};
    const std::vector<std::string> users{"^2UserCommands:", "^7language,info,chatlevel,top,near,",
                                         "^7emon,track,tr,skill,tmsg,tcolor"};
    const std::vector<std::string> admins{"^2Admincommands:",
                                          "^7setstart,nextstart,setspeed,trackopen,trackclosed,pitopen,",
                                          "^7pitclosed,watch,nowatch,setskill,setdebug,loadconfig",
                                          "^7QUIT, KILLALL"};
    // One blank for the line, one that #help begins with.
    std::vector<std::string> forUser = head;
    forUser.insert(forUser.end(), users.begin(), users.end());
    std::vector<std::string> forAdmin = head;
    forAdmin.insert(forAdmin.end(), admins.begin(), admins.end());
    forAdmin.insert(forAdmin.end(), users.begin(), users.end());

    EXPECT_EQ(say(kAlice, "#help"), forUser);
    EXPECT_EQ(say(kAlice, "#?"), forUser);
    EXPECT_EQ(say(kAlice, "#help ?"), forUser) << "#help has no help of its own";
    EXPECT_EQ(say(kBoss, "!help"), forAdmin);

    c.session.raceState = RS_CITY;
    std::vector<std::string> forCity = forUser;
    forCity.push_back("^2CityrunMode:");
    forCity.push_back("^7cars, map, buy");
    EXPECT_EQ(say(kAlice, "#help"), forCity);
}

TEST_F(ChatCommandTest, EveryCommandShowsItsHelpAfterAFurtherBlank) {
    const std::vector<std::pair<const char*, const char*>> firstHelpLine{
        {"setdebug", "^7with debug a server starts/stop debug-output"},
        {"loadconfig", "^7loadconfig loads a serverconfig (default = server_x.cfg)"},
        {"setstart", "^7set the starts to grandprix (gp), rollingstart (rs)"},
        {"nextstart", "^7set the next start to grandprix (gp) or"},
        {"setspeed", "^7set the normalspeed for rollingstart and safetycar."},
        {"watch", "^7With #watch you can see the TMX-messages for other players."},
        {"nowatch", "^7With #nowatch you stop watching other players."},
        {"setskill", "^7sets the skill to a given value"},
        {"trackclosed", "^7close the track. Pitlane will open, if it's closed"},
        {"trackopen", "^7open the track."},
        {"pitclosed", "^7close the pitlane. Track will open, if it's closed"},
        {"pitopen", "^7#open the pitlane."},
        {"top", "^7shows the serverranking for a combo"},
        {"near", "^7shows the serverranking near your position"},
        {"info", "^7shows different infos specified with the 2nd value"},
        {"tcolor", "^7changes the color of your teammessages"},
        {"chatlevel", "^7changes the textoutput from full to minimum"},
        {"emon", "^7switch the eventmonitor on/off"},
        {"language", "^7changes the language"},
        {"lang", "^7changes the language"},
        {"tmsg", "^7changes the position of your teammessages"},
        {"skill", "^7shows your skill. Skill has a value from 0 to 10."},
        {"track", "^7shows the trackname"},
        {"tr", "^7shows the trackname"},
        {"cars", "^7#cars = shows the prices for new cars"},
        {"buy", "^7#buy = use this to buy equipment in a store"},
        {"map", "^7#map = shows important locations"},
    };
    for (const auto& [word, line] : firstHelpLine) {
        // Help is for everybody, admin command or not.
        const auto lines = say(kAlice, std::string("#") + word + (word[0] == 's' ? " help" : " ?"));
        ASSERT_GE(lines.size(), 3u) << word;
        EXPECT_EQ(lines[0], " ") << word;
        EXPECT_EQ(lines[1], " ") << word;
        EXPECT_EQ(lines[2], line) << word;
    }
    EXPECT_THAT(say(kAlice, "#tcolor ?"),
                ElementsAre(" ", " ", "^7changes the color of your teammessages"));
    EXPECT_EQ(c.entry(alice).teamColour, 3) << "help changes nothing";
    EXPECT_THAT(say(kAlice, "#setskill ?"),
                ElementsAre(" ", " ", "^7sets the skill to a given value",
                            "^7use: #setkill <lfs-worldname> <skill> (0-10)"));
}

TEST_F(ChatCommandTest, QuitAndKillallHelpIsForAdminsOnlyWithoutTheFurtherBlank) {
    EXPECT_THAT(say(kAlice, "#QUIT ?"), ElementsAre(" ", "^7ERROR, Quit not possible. Adminrights needed!!"));
    EXPECT_THAT(say(kAlice, "#KILLALL help"),
                ElementsAre(" ", "^7ERROR, KILLALL not possible. Adminrights needed!!"));
    EXPECT_THAT(say(kBoss, "#QUIT ?"), ElementsAre(" ", "^7stops the controller for this server",
                                                   "^7be careful!!!!. TMX will not restart for this server"));
    EXPECT_THAT(say(kBoss, "#KILLALL ?"), ElementsAre(" ", "^7stops all controllers for all servers",
                                                      "^7be careful!!!!. TMX will not restart"));
    EXPECT_EQ(c.runRequest.load(), RUN_RUNNING);
    EXPECT_EQ(master.quitRequest.load(), QUIT_NONE);
}

TEST_F(ChatCommandTest, AdminCommandsRefuseOthersAndChangeNothing) {
    c.session.trackClosed = 0;
    EXPECT_THAT(say(kAlice, "#trackclosed"), ElementsAre(" ", kNoRights));
    EXPECT_EQ(c.session.trackClosed, 0);
    EXPECT_THAT(say(kAlice, "#setstart gp"), ElementsAre(" ", kNoRights));
    EXPECT_EQ(c.config.starttype, 2);
    EXPECT_THAT(say(kAlice, "#setskill boss 5"),
                ElementsAre(" ", "^7Error, setskill not possible. Adminrights needed!!"));
    EXPECT_THAT(say(kAlice, "#nowatch"), ElementsAre(" ", "^ERROR, not possible. Adminrights needed!!"));
    EXPECT_THAT(say(kAlice, "#watch boss"),
                ElementsAre(" ", "^7Error, watch not possible. Adminrights needed!!"));
    EXPECT_THAT(say(kAlice, "#KILLALL"), ElementsAre(" ", "^7ERROR, KILLALL not possible. Adminrights needed!!"));
    EXPECT_EQ(master.quitRequest.load(), QUIT_NONE);
}

// ---- Admin commands ------------------------------------------------------------------

TEST_F(ChatCommandTest, SetdebugPostsARequestOnlyWhenThereIsSomethingToChange) {
    c.slot = 3;
    EXPECT_THAT(say(kBoss, "#setdebug"), ElementsAre(" ", "^7Hello, i am server 3. Debugging is off"));
    EXPECT_THAT(say(kBoss, "#setdebug 0"), ElementsAre(" ", "^7nothing to change!"));
    EXPECT_EQ(c.debugState.load(), DBG_OFF);
    EXPECT_THAT(say(kBoss, "#setdebug 1"), ElementsAre(" ", "^7sent the command to MCP"));
    EXPECT_EQ(c.debugState.load(), DBG_REQUEST_ON);

    c.debugState = DBG_ON;  // the master carried the request out
    EXPECT_THAT(say(kBoss, "#setdebug"), ElementsAre(" ", "^7Hello, i am server 3. Debugging is on"));
    EXPECT_THAT(say(kBoss, "#setdebug 7"), ElementsAre(" ", "^7nothing to change!"));
    EXPECT_EQ(c.debugState.load(), DBG_ON);
    EXPECT_THAT(say(kBoss, "#setdebug -1"), ElementsAre(" ", "^7sent the command to MCP"));
    EXPECT_EQ(c.debugState.load(), DBG_REQUEST_OFF);
    c.debugState = DBG_OFF;
}

TEST_F(ChatCommandTest, KillallAsksTheMasterToEndTheRun) {
    EXPECT_THAT(say(kBoss, "#KILLALL"), ElementsAre(" "));
    EXPECT_EQ(master.quitRequest.load(), QUIT_KILLALL);
}

TEST_F(ChatCommandTest, QuitStopsThisController) {
    ASSERT_TRUE(simulator->chat(kBoss, "#QUIT").ok);
    EXPECT_TRUE(pumpUntil([&] { return c.activity.load() == ACT_STOPPED; }));
    EXPECT_EQ(c.runRequest.load(), RUN_STOP);
    EXPECT_EQ(c.usedEntries, 0);
    EXPECT_TRUE(simulator->waitFor(
        [](const sim::SimState& s) {
            for (const auto& line : s.model.chat())
                if (line.kind == sim::ChatLine::Kind::ToAll && line.text == "^1TMX is closed by admin")
                    return true;
            return false;
        },
        testing::kWaitMs));
    EXPECT_NE(console.output().find("TMX is killed by admin"), std::string::npos);
}

TEST_F(ChatCommandTest, LoadconfigReadsTheServersOwnFileOrANamedOne) {
    c.slot = 0;
    dir.write("server_0.cfg", "rs_speed 120\r\n");
    dir.write("other.cfg", "qtype 1\r\n");
    EXPECT_THAT(say(kBoss, "#loadconfig"), ElementsAre(" ", "^7Done. serverconfig loaded. (pls restart session)"));
    EXPECT_THAT(toAllSince(mark), ElementsAre(" ", "^2The settings have changed by an admin",
                                              "^2Enter '#info' for more info"));
    EXPECT_EQ(c.config.rs_speed, 120);

    EXPECT_THAT(say(kBoss, "#loadconfig other.cfg"), ::testing::Contains("^7Done. serverconfig loaded. (pls restart session)"));
    EXPECT_EQ(c.config.qtype, 1);
    EXPECT_EQ(c.config.rs_speed, 120) << "a reload changes only what the file gives";

    EXPECT_THAT(say(kBoss, "#loadconfig missing.cfg"), ElementsAre(" ", "^7ERROR, couldnt read the serverconfig!"));
    EXPECT_THAT(toAllSince(mark), IsEmpty());
}

TEST_F(ChatCommandTest, SetstartAndNextstartTakeOnlyTheirOptions) {
    EXPECT_THAT(say(kBoss, "#setstart gp"), ElementsAre(" ", "^7Ok, all starts are grandprix-starts now"));
    EXPECT_EQ(c.config.starttype, 0);
    EXPECT_THAT(toAllSince(mark),
                ElementsAre(" ", "^2The racestart was changed by an admin", "^2Enter '#info' for more info"));
    say(kBoss, "#setstart rs");
    EXPECT_EQ(c.config.starttype, 1);
    say(kBoss, "#setstart rnd");
    EXPECT_EQ(c.config.starttype, 2);
    EXPECT_THAT(say(kBoss, "#setstart GP"), ElementsAre(" ", "^7ERROR, need an option (gp,rs or rnd) or ?"));
    EXPECT_EQ(c.config.starttype, 2);

    EXPECT_THAT(say(kBoss, "#nextstart rnd"), ElementsAre(" ", "^7TMX: need an option (gp or rs) or ?"));
    EXPECT_EQ(c.start.nextStart, ST_NONE);
    EXPECT_THAT(say(kBoss, "#nextstart rs"), ElementsAre(" ", "^7OK, next start will be a rolling-start"));
    EXPECT_EQ(c.start.nextStart, ST_ROLLING);
    EXPECT_THAT(toAllSince(mark), ElementsAre(" ", "^2The next racestart was changed to rollingstart by an admin"));
    EXPECT_THAT(say(kBoss, "#nextstart gp"), ElementsAre(" ", "^7Ok, next start will be a grandprix-start"));
    EXPECT_EQ(c.start.nextStart, ST_GRAND_PRIX);
    EXPECT_THAT(toAllSince(mark), ElementsAre(" ", "^2The next racestart was changed to gp-start by an admin"));
    EXPECT_THAT(say(kAlice, "#nextstart rs"), ElementsAre(" ", kNoRights));
    EXPECT_EQ(c.start.nextStart, ST_GRAND_PRIX);
}

TEST_F(ChatCommandTest, SetspeedShowsForEverybodyAndClampsForAdmins) {
    const std::vector<std::string> speeds100{"Inlap/Safety normal speed:100", "minimum speed before pickup pace:60",
                                             "maximum speed before pickup pace:110",
                                             "minimum speed after pickup pace:90"};
    std::vector<std::string> shown{" ", "^7current speeds:"};
    shown.insert(shown.end(), speeds100.begin(), speeds100.end());
    EXPECT_EQ(say(kAlice, "#setspeed"), shown);
    EXPECT_THAT(say(kAlice, "#setspeed 120"), ElementsAre(" ", kNoRights));
    EXPECT_EQ(c.config.rs_speed, 100);

    EXPECT_THAT(say(kBoss, "#setspeed 40"),
                ElementsAre(" ", "ERROR, min. speed is 50kmh. changed speed to 50kmh", "^7OK, new speeds:",
                            "Inlap/Safety normal speed:50", "minimum speed before pickup pace:45",
                            "maximum speed before pickup pace:55", "minimum speed after pickup pace:45"));
    EXPECT_THAT(toAllSince(mark), ElementsAre(" ", "^2The inlapspeed was changed by an admin",
                                              "^2Enter '#info rs-speed' for more info"));
    say(kBoss, "#setspeed 200");
    EXPECT_EQ(c.config.rs_speed, 160);
    EXPECT_EQ(c.config.rs_derived.maxBeforePickup, 176);

    c.config.setRollingSpeed(100);
    std::vector<std::string> zero{" "};
    zero.insert(zero.end(), speeds100.begin(), speeds100.end());
    EXPECT_EQ(say(kBoss, "#setspeed 0"), zero) << "0 only shows the speeds";

    c.session.raceState = RS_RACE;
    c.session.startPhase = SP_ROLLING_FIRST;
    EXPECT_THAT(sayDirect(kBoss, "#setspeed 120"),
                ElementsAre(" ", "^7ERROR, not possible at this time. Wait for raceend"));
    EXPECT_EQ(c.config.rs_speed, 100);
}

TEST_F(ChatCommandTest, SetskillForAConnectedDriverSetsPointsThroughHisLaps) {
    ASSERT_NE(c.entry(alice).databaseEntry, nullptr);
    c.entry(alice).databaseEntry->skillLaps = 8;
    EXPECT_THAT(say(kBoss, "#setskill Alice 6"), ElementsAre(" ", "^7...found the  player. Command done"));
    EXPECT_EQ(c.entry(alice).databaseEntry->skillPoints, 48);
    EXPECT_EQ(c.entry(alice).skillPoints, 48);
    EXPECT_EQ(master.databaseChanged.load(), 1);

    c.entry(alice).databaseEntry->skillLaps = 0;
    EXPECT_THAT(say(kBoss, "#setskill alice 9"), ElementsAre(" ", "^7...found the  player. Command done"));
    EXPECT_EQ(c.entry(alice).skillPoints, 0) << "no laps: points 0, no complaint";

    EXPECT_THAT(say(kBoss, "#setskill boss 5"), ElementsAre(" ", "^7ERROR, you cant set your own skill"));
    EXPECT_THAT(say(kBoss, "#setskill alice 11"), ElementsAre(" ", "^7ERROR, skillrange is 0-10"));
    EXPECT_THAT(say(kBoss, "#setskill alice"),
                ElementsAre(" ", "^7ERROR, need a target (LFS Worldname) and a skill"));
}

TEST_F(ChatCommandTest, SetskillForADriverInTheRaceSurvivesHisLeavingTheRace) {
    const int car = joinTrack(kAlice);
    barrier();
    const int index = c.FindIndex(kAlice, car);
    ASSERT_NE(index, -1);
    c.entry(index).databaseEntry->skillLaps = 10;
    c.entry(index).skill.racePoints = 25;  // earned before the admin steps in
    EXPECT_THAT(say(kBoss, "#setskill alice 4"), ElementsAre(" ", "^7...found the  player. Command done"));
    c.CommitSkill(kAlice, car);
    EXPECT_EQ(c.entry(index).skillPoints, 40);
}

TEST_F(ChatCommandTest, SetskillForAStoredDriverWorksOnTheDatabase) {
    data::PlayerEntry carl;
    carl.userName = "carl";
    carl.skillLaps = 10;
    carl.skillPoints = 3;
    carl.teamColour = 6;
    master.database.append(carl);
    data::PlayerEntry dora;
    dora.userName = "dora";
    master.database.append(dora);
    data::PlayerEntry eve;
    eve.userName = "eve";
    eve.skillLaps = 5;
    eve.skillPoints = 5;
    eve.onlineCount = 1;
    master.database.append(eve);

    EXPECT_THAT(say(kBoss, "#setskill carl 7"),
                ElementsAre(" ", "^7player is not here. Searching in database.",
                            "^7...found the  player in database. Command done"));
    ASSERT_NE(master.database.find("carl"), nullptr);
    EXPECT_EQ(master.database.find("carl")->skillPoints, 70);
    EXPECT_EQ(master.database.find("carl")->teamColour, 6) << "the rest of the entry stays";
    EXPECT_EQ(master.database.find("carl")->onlineCount, 0) << "a lookup is no connection";

    EXPECT_THAT(say(kBoss, "#setskill dora 7"),
                ElementsAre(" ", "^7player is not here. Searching in database.", "^7ERROR, player has no driven laps"));
    EXPECT_THAT(say(kBoss, "#setskill eve 7"),
                ElementsAre(" ", "^7player is not here. Searching in database.",
                            "^7ERROR, player is online on another TMX-server"));
    EXPECT_EQ(master.database.find("eve")->skillPoints, 5);

    EXPECT_EQ(master.database.find("nobody"), nullptr);
    EXPECT_THAT(say(kBoss, "#setskill nobody 7"),
                ElementsAre(" ", "^7player is not here. Searching in database.",
                            "^7ERROR, not a known player. Need a target (LFS Worldname)"));
    EXPECT_EQ(master.database.find("nobody"), nullptr) << "an unknown name leaves no entry behind";
}

// The master's idle clean runs on its own thread and frees entries nobody
// holds: a stored driver's lookup must not keep a pointer past its lock.
TEST_F(ChatCommandTest, SetSkillOfAStoredDriverRacesSafelyWithTheIdleClean) {
    std::atomic<bool> stop{false};
    std::thread cleaner([&] {
        while (!stop.load()) {
            {
                DatabaseLock lock(master, nullptr);
                if (!master.database.find("dora")) {  // a stored driver without laps, cleaned away each time
                    data::PlayerEntry dora;
                    dora.userName = "dora";
                    master.database.append(std::move(dora));
                }
            }
            master.CleanDatabase();
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // leave the lock to the controller
        }
    });
    for (int i = 0; i < 20; ++i) {
        const auto reply = say(kBoss, "#setskill dora 7");
        ASSERT_EQ(reply.size(), 3u);
        EXPECT_TRUE(reply[2] == "^7ERROR, player has no driven laps" ||
                    reply[2] == "^7ERROR, not a known player. Need a target (LFS Worldname)")
            << reply[2];
    }
    stop = true;
    cleaner.join();
}

TEST_F(ChatCommandTest, TrackAndPitLaneCommandsSetTheFlagsAndAnnounce) {
    joinTrack(kBoss);
    barrier();
    ASSERT_EQ(c.entry(boss).race.driverStatus, DS_PITS);
    c.entry(alice).race.driverStatus = DS_RACING;
    c.session.pitLaneClosed = 1;
    say(kBoss, "#trackclosed");
    EXPECT_EQ(c.session.trackClosed, 1);
    EXPECT_EQ(c.session.pitLaneClosed, 0) << "closing the track opens the pit lane";
    EXPECT_THAT(toAllSince(mark), ElementsAre("^1Track is closed by admin"));
    // Everybody gets the organisation lines; the team line depends on where
    // the driver is.
    EXPECT_EQ(buttonText(kAlice, 130), "orga 3");
    EXPECT_EQ(buttonText(kAlice, 131), "orga 5");
    EXPECT_EQ(buttonText(kBoss, 131), "orga 5");
    EXPECT_EQ(buttonText(kAlice, 111), "^3team 24");
    EXPECT_EQ(buttonText(kBoss, 111), "^3team 3");

    say(kBoss, "#pitclosed");
    EXPECT_EQ(c.session.pitLaneClosed, 1);
    EXPECT_EQ(c.session.trackClosed, 0) << "closing the pit lane opens the track";
    EXPECT_THAT(toAllSince(mark), ElementsAre("^1Pitlane is closed by admin"));

    say(kBoss, "#pitopen");
    EXPECT_EQ(c.session.pitLaneClosed, 0);
    EXPECT_THAT(toAllSince(mark), ElementsAre("^2Pitlane is opened by admin"));

    c.session.trackClosed = 1;
    say(kBoss, "#trackopen");
    EXPECT_EQ(c.session.trackClosed, 0);
    EXPECT_THAT(toAllSince(mark), ElementsAre("^2Track is opened by admin"));
}

TEST_F(ChatCommandTest, WatchChecksTheSenderAndTheTarget) {
    const int plid = joinTrack(kBoss);
    barrier();
    ASSERT_GE(c.entry(boss).race.driverStatus, DS_GARAGE);
    EXPECT_THAT(say(kBoss, "#watch alice"), ElementsAre(" ", "^7ERROR, watch not possible. Go to spectate first!!"));
    ASSERT_TRUE(simulator->spectate(plid).ok);
    barrier();
    ASSERT_LT(c.entry(boss).race.driverStatus, DS_GARAGE);

    EXPECT_THAT(say(kBoss, "#watch"), ElementsAre(" ", "^7ERROR, need a target (LFS Worldname)"));
    EXPECT_THAT(say(kBoss, "#watch zed"),
                ElementsAre(" ", "^7ERROR, not a player here. Need a target (LFS Worldname)"));
    EXPECT_THAT(say(kBoss, "#watch Boss"), ElementsAre(" ", "^7ERROR, you can't track yourself."));
    EXPECT_THAT(say(kBoss, "#watch alice"), ElementsAre(" ", "^7ERROR, This driver isn't driving."));
    joinTrack(kAlice);
    barrier();
    EXPECT_THAT(say(kBoss, "#nowatch"), ElementsAre(" ", "^7ERROR, not possible. You're watching none!"));
    EXPECT_THAT(say(kBoss, "#watch alice"), ElementsAre(" ", "^7TMX: You are tracking now."));
    EXPECT_THAT(say(kBoss, "#nowatch"), ElementsAre(" ", "^7TMX: stopped tracking."));
}

// ---- User commands -----------------------------------------------------------------

TEST_F(ChatCommandTest, LangShowsAndBindsTheDriversLanguage) {
    EXPECT_THAT(say(kAlice, "#lang"),
                ElementsAre(" ", " ", " ", "^2your current language: ori", "long name: Original",
                            "created 2023 by TMX team", "^7 enter '#lang ?' to see available languages"));

    EXPECT_THAT(say(kAlice, "#lang deutsch"),
                ElementsAre(" ", "^2language changed.", "^2your new language: deu", "long name: Deutsch",
                            "created 2024 by Hans"))
        << "the code is cut to three characters";
    EXPECT_EQ(c.entry(alice).language, master.languages.language(1));
    EXPECT_EQ(c.entry(alice).languageCode, "deu");
    EXPECT_NE(c.serverLanguage, master.languages.language(1)) << "only the host's record changes it";

    EXPECT_THAT(say(kAlice, ".language xyz"),
                ElementsAre(" ", "^1error: language not found. ", "^1your old language: deu",
                            "long name: Deutsch", "created 2024 by Hans"));
    EXPECT_EQ(c.entry(alice).language, master.languages.language(1));
    EXPECT_EQ(c.entry(alice).languageCode, "deu");

    EXPECT_THAT(say(kAlice, "#lang ?"),
                ElementsAre(" ", " ", "^7changes the language", "^7usage: #language <shortname>",
                            "^3available languages:", "^7ori (original), deu (Deutsch)", " ",
                            "^2your current language: deu", "long name: Deutsch", "created 2024 by Hans"));
}

TEST_F(ChatCommandTest, TeamSettingsAndChatLevelChangeThroughTheChannels) {
    say(kAlice, "#tcolor");
    EXPECT_EQ(c.entry(alice).teamColour, 4);
    say(kAlice, "#tmsg");
    EXPECT_EQ(c.entry(alice).teamPosition, 150);

    const char* levels[] = {"Full:  all messages activated", "Medium:  switch off fun-messages",
                            "Minimum: only important messages activated"};
    EXPECT_THAT(say(kAlice, "#chatlevel ?"), ElementsAre(" ", " ", "^7changes the textoutput from full to minimum",
                                                         "^7Your Setting: Full", levels[0], levels[1], levels[2]));
    EXPECT_EQ(c.entry(alice).chatLevel, 2) << "help changes nothing";
    EXPECT_THAT(say(kAlice, "#chatlevel"), ElementsAre(" ", levels[0], levels[1], levels[2]));
    EXPECT_EQ(c.entry(alice).chatLevel, 1);
}

TEST_F(ChatCommandTest, InfoPages) {
    // A private message carries at most 63 characters.
    const std::string dashes =
        std::string("^7-----------------------------------------------------------------").substr(0, 63);
    EXPECT_THAT(say(kAlice, "#info"),
                ElementsAre(" ", "^7General serversettings:", "^7Details and news in the forum of this server's community",
                            dashes, "^7Qualy: No special settings!", " ", "^7Racestart:  ^2Random (gp-start or rollingstart)",
                            "^3enter '#info rs' for more infos", " ", "^7Pitwindow:  Not Active", " ",
                            "^7Watch your crewmessages! They will help you!"));
    EXPECT_THAT(say(kAlice, "#info pw"), ElementsAre(" ", "^7Pitwindow:  Not Active"));
    ASSERT_TRUE(c.config.pitwindow.add(10, 12));
    ASSERT_TRUE(c.config.pitwindow.add(15, 20));
    EXPECT_THAT(say(kAlice, "#info pw"),
                ElementsAre(" ", "^2active Pitwindows:", "(you must stop in a pitwindow or you will get a penalty)",
                            "^71. Lap 10 - 12", "^72. Lap 15 - 20"));
    EXPECT_THAT(say(kAlice, "#info q"), ElementsAre(" ", " ", "^2Rules for qualifying: ", "^3no special rules in qualy "));
    c.config.qtype = 1;
    c.config.qsessiontime = 0;
    c.config.qmaxlaps = 0;
    c.config.qallowedtries = 0;
    c.config.qstartwindow = 5;
    EXPECT_THAT(say(kAlice, "#info q"),
                ElementsAre(" ", " ", "^2Rules for qualifying: ", "^3TMX is controlling the qualy with special rules",
                            "^2Startwindow: 5", "You have to start in the first  5 minute(s)",
                            "After this time the track is closed!"));
}

TEST_F(ChatCommandTest, SkillIsShownFromFiveLapsOn) {
    c.entry(alice).skillLaps = 4;
    c.entry(alice).skillPoints = 40;
    EXPECT_THAT(say(kAlice, "#skill"), ElementsAre(" ", "^7", "^7SKILLSYSTEM", "^7Your earned points: 40",
                                                   "^7Your driven laps: 4", "^1Your skill is 0. Drive more laps."));
    c.entry(alice).skillLaps = 10;
    c.entry(alice).skillPoints = 75;
    EXPECT_THAT(say(kAlice, "#skill"),
                ElementsAre(" ", "^7", "^7SKILLSYSTEM", "^7Your earned points: 75", "^7Your driven laps: 10",
                            "^7Your skill is : 7", "^3That's a average skill"));
    c.config.skillsystem = 0;
    EXPECT_THAT(say(kAlice, "#skill"), ElementsAre(" ", "^7Skillsystem is switched off by admin"));
}

TEST_F(ChatCommandTest, EventMonitorSwitchesOffOrSaysItIsDeactivated) {
    c.server.setupScreen = false;  // a session runs: the monitor may be shown
    c.entry(alice).display.monitorState = 2;
    EXPECT_THAT(say(kAlice, "#emon"), ElementsAre(" ", "^7Eventmonitor turned off"));
    EXPECT_EQ(c.entry(alice).display.monitorState, 0);
    c.config.eventshowtime = 0;
    EXPECT_THAT(say(kAlice, "#emon"), ElementsAre(" ", "^7Eventmonitor is deactivated by admin"));
    const auto help = say(kAlice, "#emon ?");
    ASSERT_FALSE(help.empty());
    EXPECT_EQ(help.back(), "^7Eventmonitor is deactivated by admin");
}

TEST_F(ChatCommandTest, CityCommandsSayTheyAreNotAvailableYet) {
    for (const char* line : {"#cars", "#buy 2", "#map"})
        EXPECT_THAT(say(kAlice, line), ElementsAre(" ", kNotYet)) << line;
}

}  // namespace
}  // namespace tmx
