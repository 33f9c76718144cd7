// What a driver's screen shows beside the channels: the status bar, the event
// monitor and the tracking by an admin.
#pragma once

#include <cstdint>

#include "info/lap_display_state.h"

namespace tmx {

namespace data {
constexpr std::uint8_t kNoEntry = 255;  // watch links and freed slots
}


struct DriverDisplay {
    std::int32_t monitorState = 0;
    std::int64_t monitorTime = 0;
    std::int32_t monitorVersion = 0;  // event version the monitor shows
    bool qualifyingButton = false;
    bool statusBarDrawn = false;
    bool displayFlag = false;
    std::uint8_t watchTarget = data::kNoEntry;
    std::uint8_t watchedBy = data::kNoEntry;
    DriverLapTimes lapTimes;  // split times of the lap being driven
};

}  // namespace tmx
