// The event monitor: the list of the latest events, its ageing, the line of
// each event type as a driver reads it, and #emon, checked on the screens of
// the simulated server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using Rows = std::vector<std::string>;

class EventMonitorTest : public RaceFixture {
protected:
    // The lines that take more than one value get marks for all of them.
    std::string masterLanguage() const override {
        std::string text = RaceFixture::masterLanguage();
        const struct {
            const char* from;
            const char* to;
        } lines[] = {{"\"even 2 %%\"", "\"even 2 %% in%%s\""},
                     {"\"even 12 %%\"", "\"even 12 %% in%%s\""},
                     {"\"even 22 %%\"", "\"even 22 %% lets %% pass\""},
                     {"\"even 8 %%\"", "\"even 8 %% %%\""},
                     {"\"even 9 %%\"", "\"even 9 %% %%\""},
                     {"\"even 11 %%\"", "\"even 11 %% %%\""},
                     {"\"even 21 %%\"", "\" (best %% diff %% car %%)\""}};
        for (const auto& l : lines)
            text.replace(text.find(l.from), std::string(l.from).size(), l.to);
        return text;
    }

    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        startSession(sim::SessionKind::Practice);
        alicePlid = driver(1, "alice", "Alice");
        bobPlid = driver(2, "bob", "Bob");
        alice = indexOfPlayer(alicePlid);
        bob = indexOfPlayer(bobPlid);
        ASSERT_NE(alice, -1);
        ASSERT_NE(bob, -1);
    }

    Rows emon(int ucid) {
        markChat();
        EXPECT_TRUE(simulator->chat(ucid, "#emon").ok);
        barrier();
        return privateTo(ucid);
    }
    // One full round of the refresh: every entry visited once.
    void refresh() {
        for (int i = 0; i <= c.usedEntries; ++i) c.EventMonitorStep();
    }
    const sim::Button* button(int ucid, int clickId) {
        flushToSim();
        screen = simulator->screen(ucid);
        for (const auto& b : screen)
            if (b.clickId == clickId) return &b;
        return nullptr;
    }
    // The monitor as the driver sees it, rows 0 to 7 ("-" for a row not drawn).
    Rows monitor(int ucid) {
        refresh();
        Rows rows;
        for (int k = 0; k < 8; ++k) {
            const sim::Button* b = button(ucid, 90 + k);
            rows.push_back(b ? b->text.str() : "-");
        }
        return rows;
    }
    static Rows events(int type, int from, int to) {
        Rows rows;
        for (int n = from; n <= to; ++n)
            rows.push_back(line("even", type, "D" + std::to_string(n)));
        while (rows.size() < 8) rows.push_back("");
        return rows;
    }

    int alicePlid = 0, bobPlid = 0;
    int alice = -1, bob = -1;
    std::vector<sim::Button> screen;
};

TEST_F(EventMonitorTest, NinthEventPushesOutTheOldestAndEventsAgeOneAtATime) {
    ASSERT_EQ(emon(1).back(), "^7Eventmonitor turned on");
    for (int n = 1; n <= 8; ++n) {
        c.RaiseEvent(7, 0, ("D" + std::to_string(n)).c_str());
        clock.advanceSeconds(1);  // the list time stays at the first event
    }
    EXPECT_EQ(monitor(1), events(7, 1, 8));
    c.AgeEvents();
    EXPECT_EQ(monitor(1), events(7, 2, 8))
        << "8 s after the first event, the show time of 5 s has run out";

    c.RaiseEvent(7, 0, "D9");
    c.RaiseEvent(7, 0, "D10");
    EXPECT_EQ(monitor(1), events(7, 3, 10)) << "the tenth event pushes out the oldest";
    clock.advanceSeconds(5);
    c.AgeEvents();
    EXPECT_EQ(monitor(1), events(7, 3, 10)) << "5 s are not more than the show time";

    // The full list ages out one event per call once more than 5 s have
    // passed since the last change: empty after 8 x 6 s.
    for (int n = 4; n <= 11; ++n) {
        clock.advanceSeconds(1);
        c.AgeEvents();
        c.AgeEvents();
        EXPECT_EQ(monitor(1), events(7, n, 10));
        clock.advanceSeconds(5);
    }
}

TEST_F(EventMonitorTest, EachEventTypeReadsAsItsLineWithTheBestAndDifference) {
    c.entry(alice).bestSectors[1] = 31500;
    c.entry(alice).personalBest[0] = 90000;
    ASSERT_NE(c.entry(alice).combination, nullptr);
    ASSERT_EQ(emon(1).back(), "^7Eventmonitor turned on");
    const struct {
        int type;
        std::int64_t value;
        DriverStatus viewer;  // Alice's status as she reads the line
        RaceState state;
        const char* shown;  // "" for an empty row, nullptr for an event not recorded
    } cases[] = {
        {7, 0, DS_RACING, RS_PRACTICE, "even 7 Bob"},
        {1, 0, DS_RACING, RS_RACE, "even 1 Bob"},
        {2, 83045, DS_RACING, RS_RACE, "even 2 Bob in 1:23.45 s"},
        {12, 5007, DS_RACING, RS_RACE, "even 12 Bob in 5.7 s"},
        {101, 30000, DS_RACING, RS_PRACTICE,
         "even 8 Bob 0:30:000 (best 0:31:500 diff ^1+0:01:500 car XRT)"},
        {101, 30000, DS_GARAGE, RS_PRACTICE, "even 8 Bob 0:30:000"},
        {102, 30000, DS_RACING, RS_QUALIFYING, "even 9 Bob 0:30:000"},  // no best sector 2
        {101, 30000, DS_RACING, RS_RACE, nullptr},
        {103, 30000, DS_RACING, RS_RACE, nullptr},
        {201, 91000, DS_RACING, RS_RACE,
         "even 11 Bob 1:31:000 (best 1:30:000 diff ^2-0:01:000 car XRT)"},
        {201, 90000, DS_RACING, RS_RACE,
         "even 11 Bob 1:30:000 (best 1:30:000 diff ^2+0:00:000 car XRT)"},
        {150, 0, DS_RACING, RS_PRACTICE, ""},
        {40, 0, DS_RACING, RS_PRACTICE, ""},  // beyond the 32 lines of the block
    };
    for (const auto& k : cases) {
        c.ClearEvents();
        c.session.raceState = k.state;
        c.entry(alice).race.driverStatus = k.viewer;
        c.RaiseEvent(k.type, k.value, "Bob");
        const Rows rows = monitor(1);
        const std::string what =
            "type " + std::to_string(k.type) + " in state " + std::to_string(k.state);
        EXPECT_EQ(c.monitor.count, k.shown ? 1 : 0) << what;
        EXPECT_EQ(rows[0], k.shown ? k.shown : "") << what;
    }
    c.session.raceState = RS_PRACTICE;
    c.ClearEvents();
    c.RaiseEvent(7, 0, "host");
    EXPECT_EQ(c.monitor.count, 0) << "the host raises no events";
}

TEST_F(EventMonitorTest, TheBlueFlagLineKeepsTheNameOfTheCarBehindWhenTheTableMoves) {
    ASSERT_EQ(emon(2).back(), "^7Eventmonitor turned on");
    const int carol = indexOfPlayer(driver(3, "carol", "Carol"));
    c.RaiseEvent(22, carol, "Bob");
    ASSERT_TRUE(simulator->leave(1).ok);  // Alice's entry goes; Carol's index moves
    barrier();
    EXPECT_EQ(monitor(2)[0], "even 22 Bob lets Carol pass");
}

TEST_F(EventMonitorTest, EmonSwitchesTheRowsOnAndOffAndNeverForwardsThem) {
    ASSERT_TRUE(simulator->join(5, "boss", "Boss", true).ok);
    barrier();
    const int boss = c.FindIndex(5, -1);
    c.entry(alice).display.watchedBy = static_cast<std::uint8_t>(boss);
    c.RaiseEvent(1, 0, "Bob");

    EXPECT_EQ(emon(1).back(), "^7Eventmonitor turned on");
    const sim::Button* row = button(1, 91);  // drawn at once, before any refresh
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text.str(), "");
    EXPECT_EQ((std::vector<int>{row->left, row->top, row->width, row->height, row->style}),
              (std::vector<int>{1, 142, 198, 6, 96}));
    ASSERT_NE(button(1, 90), nullptr);
    EXPECT_EQ(button(1, 90)->text.str(), "even 1 Bob");
    EXPECT_EQ(monitor(5), Rows(8, "-")) << "the watching admin keeps his own screen";

    EXPECT_EQ(emon(1).back(), "^7Eventmonitor turned off");
    EXPECT_EQ(monitor(1), Rows(8, "-"));

    c.config.eventshowtime = 0;
    EXPECT_EQ(emon(1).back(), "^7Eventmonitor is deactivated by admin");
    EXPECT_EQ(monitor(1), Rows(8, "-"));
}

}  // namespace
}  // namespace tmx::testing
