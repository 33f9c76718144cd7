// The server's event list as the monitors show it.
#pragma once

#include <array>
#include <cstdint>

#include "common/fixed_string.h"

namespace tmx {

constexpr int kMonitorEvents = 8;
// The version shown by a monitor whose buttons must go, and by one that shows nothing.
constexpr std::int32_t kMonitorMustGo = 9999;
constexpr std::int32_t kMonitorNothingShown = -1;
constexpr std::int32_t kLastEventVersion = 10000;

struct MonitorEvent {
    std::int32_t type = 0;
    std::int32_t value = 0;  // a time in milliseconds, or a table index
    FixedString<64> text;    // usually a player name or a driver label
    // The name of the second driver an event names (the blue-flag car): taken
    // when the event is raised, since the table index it came as may belong
    // to somebody else, or nobody, by the time the line is drawn.
    FixedString<25> otherName;
};

struct EventMonitorState {
    std::int32_t eventVersion = 1;
    std::int32_t eventCursor = 0;  // the entry the round-robin refresh visits next
    std::array<MonitorEvent, kMonitorEvents> events{};  // oldest first
    std::int32_t count = 0;
    std::int64_t listTime = 0;  // seconds: see AgeEvents
};

}  // namespace tmx
