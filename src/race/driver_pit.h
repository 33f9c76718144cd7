// A driver's penalties and pit windows.
#pragma once

#include <array>
#include <cstdint>

namespace tmx {

struct DriverPit {
    std::int32_t pendingPenalty = 0;
    std::array<std::uint8_t, 10> pitWindowUsed{};
};

}  // namespace tmx
