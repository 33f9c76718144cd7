// The real clock's texts and timing, and thread start and join.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>

#include "platform/clock.h"
#include "platform/thread.h"

namespace tmx::platform {
namespace {

// True when text is "dd<sep>dd<sep>dd" with decimal digits.
bool hasShape(const std::string& text, char separator) {
    if (text.size() != 8 || text[2] != separator || text[5] != separator) {
        return false;
    }
    for (std::size_t i : {0U, 1U, 3U, 4U, 6U, 7U}) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

TEST(ClockTest, TextShapes) {
    Clock& clock = systemClock();
    EXPECT_TRUE(hasShape(clock.timeText(), ':')) << clock.timeText();
    EXPECT_TRUE(hasShape(clock.dateText(), '/')) << clock.dateText();
    EXPECT_FALSE(hasShape("1:02:03", ':'));
    EXPECT_FALSE(hasShape("01:02/03", ':'));
    EXPECT_EQ(&clock, &systemClock()) << "one process-wide clock";
}

TEST(ClockTest, TextsFollowLocalTime) {
    // 15 January 2021 12:00:00 UTC: far from any daylight-saving change, and
    // a day above 12, so swapped month and day fields show up.
    const std::int64_t noon = 1610712000;
    const std::time_t t = static_cast<std::time_t>(noon);
    const std::tm expected = *std::localtime(&t);
    char want[32];
    std::snprintf(want, sizeof want, "%02d:%02d:%02d", expected.tm_hour, expected.tm_min,
                  expected.tm_sec);
    EXPECT_EQ(localTimeText(noon), want);
    std::snprintf(want, sizeof want, "%02d/%02d/%02d", expected.tm_mon + 1, expected.tm_mday,
                  expected.tm_year % 100);
    EXPECT_EQ(localDateText(noon), want);

    EXPECT_EQ(localTimeText(noon + 86400), localTimeText(noon));
    EXPECT_NE(localDateText(noon + 86400), localDateText(noon));
    EXPECT_NE(localTimeText(noon + 61), localTimeText(noon));
}

TEST(ClockTest, NowAndSleep) {
    Clock& clock = systemClock();
    const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t now = clock.now();
    EXPECT_GE(now, before);
    EXPECT_LE(now, before + 2);

    const std::int64_t startMs = clock.nowMs();
    clock.sleepMs(20);
    const std::int64_t afterClockSleep = clock.nowMs();
    EXPECT_GE(afterClockSleep - startMs, 20);
    sleepMs(10);
    EXPECT_GE(clock.nowMs() - afterClockSleep, 10);
    EXPECT_LT(clock.nowMs() - startMs, 2000);
}

TEST(ThreadTest, StartRunsBodyAndJoinWaits) {
    std::atomic<int> runs{0};
    Thread thread;
    EXPECT_FALSE(thread.joinable());
    ASSERT_TRUE(thread.start([&] {
        sleepMs(20);
        ++runs;
    }));
    EXPECT_TRUE(thread.joinable());
    thread.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_FALSE(thread.joinable());

    // The object can run a second body once the first is joined.
    ASSERT_TRUE(thread.start([&] { ++runs; }));
    thread.join();
    EXPECT_EQ(runs.load(), 2);
}

TEST(ThreadTest, RefusesEmptyBodyAndSecondStartWhileRunning) {
    Thread thread;
    EXPECT_FALSE(thread.start(std::function<void()>()));
    std::atomic<bool> release{false};
    ASSERT_TRUE(thread.start([&] {
        while (!release.load()) {
            sleepMs(1);
        }
    }));
    EXPECT_FALSE(thread.start([] {}));
    release = true;
    thread.join();
}

TEST(ThreadTest, DestructorJoins) {
    std::atomic<bool> done{false};
    {
        Thread thread;
        ASSERT_TRUE(thread.start([&] {
            sleepMs(30);
            done = true;
        }));
    }
    EXPECT_TRUE(done.load());
}

TEST(ThreadTest, MoveCarriesTheRunningThread) {
    std::atomic<bool> done{false};
    Thread first;
    ASSERT_TRUE(first.start([&] {
        sleepMs(20);
        done = true;
    }));
    Thread second(std::move(first));
    EXPECT_FALSE(first.joinable());
    EXPECT_TRUE(second.joinable());

    Thread third;
    third = std::move(second);
    EXPECT_TRUE(third.joinable());
    third.join();
    EXPECT_TRUE(done.load());

    // A moved-from object is still usable.
    ASSERT_TRUE(first.start([] {}));
    first.join();
}

}  // namespace
}  // namespace tmx::platform
