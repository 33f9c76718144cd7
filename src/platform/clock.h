// Time and sleeping. Everything that waits or reads the time goes through a
// Clock, so tests can set the time and shorten sleeps.
#pragma once

#include <cstdint>
#include <string>

namespace tmx::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since 1970.
    virtual std::int64_t now() = 0;
    // Milliseconds from an arbitrary start (for finer timing in tools).
    virtual std::int64_t nowMs() = 0;
    virtual void sleepMs(int ms) = 0;
    // The runtime's local time and date texts: "hh:mm:ss" and "mm/dd/yy".
    virtual std::string timeText() = 0;
    virtual std::string dateText() = 0;
};

// The real clock.
Clock& systemClock();

// Local time and date texts for a given time (seconds since 1970).
std::string localTimeText(std::int64_t secondsSince1970);
std::string localDateText(std::int64_t secondsSince1970);
// "yyyy-mm-dd hh:mm:ss" in local time, for log lines.
std::string localStampText(std::int64_t secondsSince1970);

// Real sleep, for code that has no clock at hand (tools).
void sleepMs(int ms);

}  // namespace tmx::platform
