// A clock the test sets: sleeping advances virtual time at once, and a hook
// lets a test act "while" the code under test sleeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"

namespace tmx::testing {

class FakeClock : public platform::Clock {
public:
    explicit FakeClock(std::int64_t startSeconds = 1'800'000'000) : ms_(startSeconds * 1000) {}

    std::int64_t now() override { return ms_.load() / 1000; }
    std::int64_t nowMs() override { return ms_.load(); }
    void sleepMs(int ms) override {
        ms_ += ms;
        sleptMs_ += ms;
        ++sleeps_;
        std::function<void(int)> hook;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hook = onSleep;
        }
        if (hook) hook(ms);
        // Other threads of the test get a chance to run, without real waiting.
        std::this_thread::yield();
    }
    std::string timeText() override { return "12:34:56"; }
    std::string dateText() override { return "12/07/26"; }

    void advanceMs(std::int64_t ms) { ms_ += ms; }
    void advanceSeconds(std::int64_t s) { ms_ += s * 1000; }
    std::int64_t totalSleptMs() const { return sleptMs_.load(); }
    int sleepCount() const { return sleeps_.load(); }
    void setOnSleep(std::function<void(int)> hook) {
        std::lock_guard<std::mutex> lock(mutex_);
        onSleep = std::move(hook);
    }

private:
    std::atomic<std::int64_t> ms_;
    std::atomic<std::int64_t> sleptMs_{0};
    std::atomic<int> sleeps_{0};
    std::mutex mutex_;
    std::function<void(int)> onSleep;
};

}  // namespace tmx::testing
