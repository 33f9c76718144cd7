// A driver's car reports and his place in the race and on track.
#pragma once

#include <cstdint>

namespace tmx {

struct DriverPosition {
    std::int8_t reportReceived = -1;  // 0 after a join, 255 (-1) after garage or removal
};

}  // namespace tmx
