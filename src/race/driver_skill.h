// A driver's skill points while he is in the race, and his summary after it.
#pragma once

#include <cstdint>

namespace tmx {

struct DriverSkill {
    std::int32_t basePoints = 0;     // total skill points when the driver joined the race
    std::int32_t racePoints = 0;     // skill points gained or lost since then
    std::int32_t summaryPoints = 0;  // kept for the summary when he leaves
    std::int32_t summaryBase = 0;
    std::int64_t summaryTime = 0;    // when the summary is due; 0 = none
};

}  // namespace tmx
