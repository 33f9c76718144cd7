// The real clock, the same on every platform but for the local-time call.
#include <array>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/platform_internal.h"

namespace tmx::platform {

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }

    std::int64_t nowMs() override {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    }

    void sleepMs(int ms) override { platform::sleepMs(ms); }

    std::string timeText() override { return localTimeText(now()); }
    std::string dateText() override { return localDateText(now()); }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::string localTimeText(std::int64_t secondsSince1970) {
    std::tm local{};
    std::array<char, 32> text{};
    if (!detail::toLocalTime(secondsSince1970, local) ||
        std::strftime(text.data(), text.size(), "%H:%M:%S", &local) == 0) {
        return "00:00:00";
    }
    return text.data();
}

std::string localDateText(std::int64_t secondsSince1970) {
    std::tm local{};
    std::array<char, 32> text{};
    if (!detail::toLocalTime(secondsSince1970, local) ||
        std::strftime(text.data(), text.size(), "%m/%d/", &local) == 0) {
        return "00/00/00";
    }
    // Two-digit year, as the runtime's date text has always shown it.
    const int year = (local.tm_year % 100 + 100) % 100;
    std::string date = text.data();
    date += static_cast<char>('0' + year / 10);
    date += static_cast<char>('0' + year % 10);
    return date;
}

std::string localStampText(std::int64_t secondsSince1970) {
    std::tm local{};
    std::array<char, 32> text{};
    if (!detail::toLocalTime(secondsSince1970, local) ||
        std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return "0000-00-00 00:00:00";
    }
    return text.data();
}

void sleepMs(int ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

}  // namespace tmx::platform
