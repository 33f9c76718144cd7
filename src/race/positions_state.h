// Where the cars stand: the race order and the order on track.
#pragma once

#include <array>
#include <cstdint>

namespace tmx {

constexpr int kOrderSlots = 40;  // slot 0 is not used; slots 1..39 hold player ids
// The city is this many laps of the track long; the crossing counter of a car
// tells on which of them it is.
constexpr int kCityLaps = 2;

struct PositionsState {
    using Order = std::array<std::int32_t, kOrderSlots>;
    static constexpr Order emptyOrder() {
        Order o{};
        for (auto& slot : o) slot = -1;
        return o;
    }

    Order raceOrder = emptyOrder();   // slot p: the player id at race position p; -1 empty
    Order trackOrder = emptyOrder();  // slot r: the player id at track rank r; -1 (0 after a sort) empty
    std::uint8_t positionedCars = 0;
    // 1 after every race tick that had the reports of all cars; the rolling
    // start clears it when it has judged them.
    std::int32_t newPositions = 0;
    // Above 0 for a few ticks after a driver left the race, while the places
    // of the others shift without anyone overtaking.
    std::int8_t positionFreeze = 0;
    // Cars of the start grid found moving in this tick: enough of them
    // release the grid for the conduct checks.
    std::int32_t movingGridCars = 0;
};

}  // namespace tmx
