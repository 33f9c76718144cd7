// A driver's yellow and blue flags.
#pragma once

#include <cstdint>

namespace tmx {

// Where a driver's yellow flag stands.
enum YellowState : std::int32_t {
    YS_REPORTED = 0,  // reported, not yet confirmed
    YS_CONFIRMED = 1,
    YS_CLEARED = 2,   // cleared, waiting a moment before it is over
    YS_IDLE = 3,
};

constexpr std::uint8_t kNoSector = 128;
constexpr std::int32_t kNoBlueFlag = 256;
// Added to the blue flag car once the flag has been reported.
constexpr std::int32_t kBlueReported = 1000;

struct DriverFlags {
    std::int32_t yellowState = YS_IDLE;
    // The splits the driver had passed in his lap when the yellow was reported.
    std::uint8_t yellowSector = kNoSector;
    std::int64_t yellowReportTime = 0;
    std::int64_t yellowClearTime = 0;
    std::int32_t yellowsReported = 0;   // yellow reports in this lap
    std::int32_t yellowsConfirmed = 0;  // yellows confirmed in this lap
    // Table index of the car behind while a blue flag is shown (+1000 once
    // reported), kNoBlueFlag for none; when it was first shown.
    std::int32_t blueFlagCar = kNoBlueFlag;
    std::int64_t blueFlagTime = 0;
};

}  // namespace tmx
