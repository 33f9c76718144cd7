// A driver's yellow flags in the current lap.
#pragma once

#include <cstdint>

namespace tmx {

struct DriverFlags {
    std::int32_t yellowsReported = 0;   // yellow reports in this lap
    std::int32_t yellowsConfirmed = 0;  // yellows confirmed in this lap
};

}  // namespace tmx
