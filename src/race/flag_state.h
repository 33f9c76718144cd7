// Yellow flags on track: how many drivers are under a confirmed yellow in each
// sector of the lap.
#pragma once

#include <array>
#include <cstdint>

namespace tmx {

constexpr int kSectors = 5;  // before the first split, and after each of up to four
// This many confirmed yellows in one sector call for the safety car.
constexpr int kSafetyCarYellows = 30;

struct FlagState {
    std::array<std::int8_t, kSectors> yellowCars{};  // recounted on every pass
};

}  // namespace tmx
