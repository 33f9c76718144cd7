// The scenario format: parsing (and its error lines) and running scenarios
// against a simulator on an injected clock.
#include <gtest/gtest.h>

#include "lfs-sim/manual_clock.h"
#include "lfs-sim/scenario.h"
#include "sim_test_client.h"

namespace tmx::sim {
namespace {

using namespace tmx::insim;
using testing::as;
using testing::kWaitMs;
using testing::SimClient;

Scenario parseOk(std::string_view text) {
    Scenario s;
    ScenarioError e;
    EXPECT_TRUE(parseScenario(text, s, e)) << e.text();
    return s;
}

ScenarioError parseBad(std::string_view text) {
    Scenario s;
    ScenarioError e;
    EXPECT_FALSE(parseScenario(text, s, e)) << "parsed although it should not";
    return e;
}

TEST(ScenarioParse, StepsTimesWordsAndArguments) {
    const Scenario s = parseOk(
        "# a comment line\n"
        "\n"
        "await client timeout=20\n"
        "at 1.5 join ucid=1 uname=alice pname=\"^1Alice \\\"A\\\" Smith\"   # trailing comment\n"
        "after 250ms drive ucid=1 car=XRT ai=no\n"
        "chat ucid=1 text=\"#help me\"\r\n"
        "session qualify mins=12 track=BL1\n"
        "raw 04 03 00 00 0403000b\n"
        "end 2s\n");
    ASSERT_EQ(s.steps.size(), 7u);
    EXPECT_EQ(s.steps[0].line, 3);
    EXPECT_EQ(s.steps[0].verb, "await");
    EXPECT_EQ(s.steps[0].words, (std::vector<std::string>{"client"}));
    EXPECT_EQ(*s.steps[0].arg("timeout"), "20");
    EXPECT_EQ(s.steps[0].timing, ScenarioStep::Timing::Next);

    EXPECT_EQ(s.steps[1].timing, ScenarioStep::Timing::At);
    EXPECT_EQ(s.steps[1].timeMs, 1500);
    EXPECT_EQ(*s.steps[1].arg("pname"), "^1Alice \"A\" Smith");
    EXPECT_EQ(s.steps[1].arg("admin"), nullptr);

    EXPECT_EQ(s.steps[2].timing, ScenarioStep::Timing::After);
    EXPECT_EQ(s.steps[2].timeMs, 250);
    EXPECT_EQ(*s.steps[3].arg("text"), "#help me");
    EXPECT_EQ(s.steps[4].words, (std::vector<std::string>{"qualify"}));
    EXPECT_EQ(s.steps[5].words.size(), 5u);
    EXPECT_EQ(s.steps[6].words, (std::vector<std::string>{"2s"}));
    EXPECT_EQ(s.steps[6].line, 9);
}

TEST(ScenarioParse, BadLinesNameTheirLineNumber) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"await client\njion ucid=1 uname=a\n", 2, "unknown verb \"jion\""},
        {"\n\njoin ucid=300 uname=a\n", 3, "ucid= must be a number from 1 to 254"},
        {"join pname=x\n", 1, "join needs uname="},
        {"join uname=a color=red\n", 1, "unknown argument color="},
        {"join uname=a uname=b\n", 1, "given twice"},
        {"chat ucid=1 text=\"open\n", 1, "no closing"},
        {"wait\n", 1, "usage: wait TIME"},
        {"wait soon\n", 1, "must be a time"},
        {"at join uname=a\n", 1, "needs a time"},
        {"at 2\n", 1, "a verb must follow"},
        {"ucid=1 join\n", 1, "must begin with a verb"},
        {"spectate\n", 1, "exactly one of plid=, pname= or ucid="},
        {"spectate plid=1 ucid=2\n", 1, "exactly one of"},
        {"await packet IS_NOPE\n", 1, "unknown packet name"},
        {"await packet\n", 1, "needs a packet name"},
        {"await client TINY_NCN\n", 1, "takes no packet name"},
        {"session sprint\n", 1, "none|practice|qualify|race"},
        {"raw 4 3\n", 1, "hex bytes"},
        {"listen maybe\n", 1, "on|off"},
        {"drive ucid=1 car=TOOLONG\n", 1, "longer than 4"},
        {"join uname=\"\"\n", 1, "must not be empty"},
        {"end 1 2\n", 1, "unexpected word"},
        {"car plid=1 stop gap=5\n", 1, "gap= belongs to car ... follow"},
        {"car plid=1 nofollow speed=50\n", 1, "belong to the motions"},
        {"car plid=1 follow gap=0\n", 1, "gap= must be a number from 1"},
        {"race laps=3 follow=maybe\n", 1, "1/0"},
    };
    for (const auto& c : cases) {
        const ScenarioError e = parseBad(c.text);
        EXPECT_EQ(e.line, c.line) << c.text;
        EXPECT_NE(e.message.find(c.says), std::string::npos) << c.text << " -> " << e.message;
        EXPECT_EQ(e.text().rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << e.text();
    }
}

TEST(ScenarioParse, EveryExampleScenarioParses) {
    for (const char* name : {"demo.scn", "rolling_start.scn", "flags_and_conduct.scn"}) {
        Scenario s;
        ScenarioError e;
        EXPECT_TRUE(loadScenarioFile(std::string(TMX_SOURCE_DIR) + "/examples/" + name, s, e)) << e.text();
        EXPECT_EQ(s.steps.back().verb, "end") << name;
    }
}

TEST(ScenarioParse, ExampleDemoScenarioParses) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(loadScenarioFile(std::string(TMX_SOURCE_DIR) + "/examples/demo.scn", s, e))
        << e.text();
    ASSERT_FALSE(s.steps.empty());
    EXPECT_EQ(s.steps.back().verb, "end");
    // The demo ends by itself: an admin types the kill-all command and the
    // simulator waits for Trackmarshal to close its link before ending.
    std::size_t killAll = s.steps.size(), disconnect = s.steps.size();
    for (std::size_t i = 0; i < s.steps.size(); ++i) {
        const std::string* text = s.steps[i].arg("text");
        if (s.steps[i].verb == "chat" && text && *text == "#KILLALL") killAll = i;
        if (s.steps[i].verb == "await" && s.steps[i].words[0] == "disconnect") disconnect = i;
    }
    ASSERT_LT(killAll, s.steps.size());
    EXPECT_LT(killAll, disconnect);
    EXPECT_LT(disconnect, s.steps.size() - 1);
}

TEST(ScenarioParse, MissingFileIsReported) {
    Scenario s;
    ScenarioError e;
    EXPECT_FALSE(loadScenarioFile("/nonexistent/none.scn", s, e));
    EXPECT_EQ(e.line, 0);
    EXPECT_NE(e.message.find("cannot open"), std::string::npos);
}

class ScenarioRun : public ::testing::Test {
protected:
    void SetUp() override {
        SimOptions options;
        options.keepAliveMs = 0;
        sim = std::make_unique<LfsSim>(options, clock);
        ASSERT_TRUE(sim->start());
    }
    void login() {
        ASSERT_TRUE(client.connectAndLogin(sim->port()));
        ASSERT_TRUE(sim->waitForClient(kWaitMs));
    }

    ManualClock clock;
    std::unique_ptr<LfsSim> sim;
    SimClient client;
};

TEST_F(ScenarioRun, TimedStepsHappenAtTheirTimesOnTheInjectedClock) {
    login();
    const Scenario s = parseOk(
        "at 1 join ucid=1 uname=alice pname=Alice\n"
        "after 0.5 drive ucid=1 car=RB4\n"
        "at 3 chat ucid=1 text=hello\n"
        "wait 1\n"
        "pit ucid=1\n"
        "end 2\n"
        "join ucid=2 uname=never\n");
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.stepsRun, 6u) << "nothing runs after end";
    EXPECT_EQ(clock.nowMs(), 6000) << "4 s of steps and 2 s of grace";

    const SimState st = sim->snapshot();
    auto firstSentOfType = [&](std::uint8_t type) -> std::int64_t {
        for (const auto& w : st.sent)
            if (w.bytes.size() > 1 && w.bytes[1] == type) return w.timeMs;
        return -1;
    };
    EXPECT_EQ(firstSentOfType(ISP_NCN), 1000);
    EXPECT_EQ(firstSentOfType(ISP_NPL), 1500);
    EXPECT_EQ(firstSentOfType(ISP_MSO), 3000);
    EXPECT_EQ(firstSentOfType(ISP_PLP), 4000);
    EXPECT_EQ(st.model.findConnection(2), nullptr);
    ASSERT_EQ(st.model.players().size(), 1u);
    EXPECT_EQ(st.model.players()[0].car, "RB4");
    EXPECT_TRUE(st.model.players()[0].inPits);
}

TEST_F(ScenarioRun, AwaitFollowsTheClientInOrder) {
    const Scenario s = parseOk(
        "await client timeout=3\n"
        "await packet TINY_NCN timeout=3\n"
        "join ucid=4 uname=dave\n"
        "await packet IS_MST text=\"/kick dave\" timeout=3\n");
    ScenarioRunner runner(*sim, clock);
    RunResult result;
    platform::Thread thread;
    ASSERT_TRUE(thread.start([&] { result = runner.run(s); }));
    login();
    ASSERT_TRUE(client.sendTiny(TINY_NCN, 1));
    ASSERT_TRUE(client.nextOf(ISP_NCN, -1));  // the host's reply
    auto joined = client.nextOf(ISP_NCN, -1);
    ASSERT_TRUE(joined);
    EXPECT_EQ(as<IS_NCN>(*joined).UCID, 4);
    ASSERT_TRUE(client.sendMst("/kick other"));
    ASSERT_TRUE(client.sendMst("/kick dave"));
    thread.join();
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_FALSE(result.ended);
    EXPECT_EQ(result.stepsRun, 4u);
    EXPECT_EQ(sim->snapshot().model.findConnection(4), nullptr) << "the kick was carried out";
}

TEST_F(ScenarioRun, FailingStepStopsWithItsLine) {
    login();
    const Scenario s = parseOk(
        "join ucid=1 uname=alice\n"
        "\n"
        "leave ucid=9\n"
        "join ucid=2 uname=bob\n");
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedLine, 3);
    EXPECT_EQ(r.error, "line 3: no connection 9");
    EXPECT_EQ(sim->snapshot().model.findConnection(2), nullptr);
}

TEST_F(ScenarioRun, AwaitTimesOutWithItsLine) {
    login();
    const Scenario s = parseOk("await packet TINY_NPL timeout=30ms\n");
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedLine, 1);
    EXPECT_NE(r.error.find("no TINY_NPL received"), std::string::npos) << r.error;
}

TEST_F(ScenarioRun, StepByStepIgnoresTimes) {
    login();
    const Scenario s = parseOk(
        "at 100 join ucid=1 uname=alice\n"
        "after 50 drive ucid=1\n"
        "penalty ucid=1 pen=sg\n"
        "session race laps=3 track=FE1\n"
        "state flags=515\n"
        "raw 04 03 00 0b\n"
        "drop\n"
        "listen off\n");
    ScenarioRunner runner(*sim, clock);
    for (std::size_t i = 0; i < 5; ++i) {
        const StepResult r = runner.execute(s.steps[i]);
        ASSERT_TRUE(r.ok) << s.steps[i].source << ": " << r.error;
    }
    EXPECT_EQ(clock.nowMs(), 0);
    std::vector<int> types;
    for (int i = 0; i < 9; ++i) {
        auto p = client.next();
        ASSERT_TRUE(p);
        types.push_back((*p)[1]);
    }
    EXPECT_EQ(types, (std::vector<int>{ISP_NCN, ISP_STA, ISP_NPL, ISP_STA, ISP_PEN, ISP_REO,
                                       ISP_RST, ISP_STA, ISP_STA}));
    ASSERT_TRUE(runner.execute(s.steps[5]).ok);
    EXPECT_EQ(client.receiveBytes(4), (std::vector<std::uint8_t>{4, 3, 0, 11}));
    ASSERT_TRUE(runner.execute(s.steps[6]).ok);
    EXPECT_TRUE(client.closedByServer());
    ASSERT_TRUE(runner.execute(s.steps[7]).ok);
    EXPECT_FALSE(sim->snapshot().link.listening);
    const SimState st = sim->snapshot();
    EXPECT_EQ(st.model.session().track, "FE1");
    EXPECT_EQ(st.model.stateFlags(), 515);
}

TEST_F(ScenarioRun, TakeoverRenameAdminAndScreenVerbs) {
    login();
    const Scenario s = parseOk(
        "join ucid=1 uname=alice pname=Alice\n"
        "join ucid=2 uname=bob pname=Bob\n"
        "admin ucid=2\n"
        "drive ucid=1 plid=9\n"
        "takeover plid=9 to=2\n"
        "rename ucid=2 pname=Robert plate=RB-1\n"
        "reset pname=Robert\n"
        "spectate plid=9\n"
        "leave ucid=1 reason=banned\n"
        "setup-screen\n"
        "end-multiplayer\n");
    ScenarioRunner runner(*sim, clock);
    const RunResult r = runner.run(s);
    ASSERT_TRUE(r.ok) << r.error;
    auto toc = client.nextOf(ISP_TOC);
    ASSERT_TRUE(toc);
    EXPECT_EQ(as<IS_TOC>(*toc).NewUCID, 2);
    auto crs = client.nextOf(ISP_CRS);
    ASSERT_TRUE(crs);
    EXPECT_EQ(as<IS_CRS>(*crs).PLID, 9);
    auto cnl = client.nextOf(ISP_CNL);
    ASSERT_TRUE(cnl);
    EXPECT_EQ(as<IS_CNL>(*cnl).Reason, LEAVR_BANNED);
    auto ren = client.nextOf(ISP_TINY, TINY_REN);
    ASSERT_TRUE(ren);
    ASSERT_TRUE(client.nextOf(ISP_TINY, TINY_MPE));
}

}  // namespace
}  // namespace tmx::sim
