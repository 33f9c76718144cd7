// A clock that moves only when told to: sleeping advances it at once. Tests
// inject it into the simulator and the scenario runner so that timed steps
// and keep-alives happen at exact, repeatable times without waiting.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace tmx::sim {

class ManualClock final : public platform::Clock {
public:
    // The clock starts at startSeconds (seconds since 1970) and 0 ms.
    explicit ManualClock(std::int64_t startSeconds = 1'700'000'000) : startSeconds_(startSeconds) {}

    std::int64_t now() override { return startSeconds_ + ms_.load() / 1000; }
    std::int64_t nowMs() override { return ms_.load(); }
    void sleepMs(int ms) override {
        if (ms > 0) ms_ += ms;
    }
    std::string timeText() override { return platform::localTimeText(now()); }
    std::string dateText() override { return platform::localDateText(now()); }

    void advance(std::int64_t ms) { ms_ += ms; }
    void setMs(std::int64_t ms) { ms_ = ms; }

private:
    const std::int64_t startSeconds_;
    std::atomic<std::int64_t> ms_{0};
};

}  // namespace tmx::sim
