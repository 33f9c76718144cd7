// The start procedure of a race: the start order of a rolling start and the
// bookkeeping of its stages.
#pragma once

#include <array>
#include <cstdint>

namespace tmx {

// Slots 1..kGridSlots of the start order hold cars; slot 0 and the slots
// behind the grid stay empty, so that "the slot before" and "the slot after"
// never leave the array.
constexpr int kGridSlots = 32;
constexpr int kStartOrderSize = 40;

// Where the request for a fresh grid order (IS_REO) stands: once the field
// has left the grid, LFS's order is the start order.
enum GridOrderRequest : std::uint8_t {
    GR_REQUESTED = 1, GR_RECEIVED = 2, GR_TAKEN = 3, GR_IDLE = 0xff,
};

// Kinds of race start.
enum StartKind : std::int32_t { ST_NONE = -1, ST_GRAND_PRIX = 0, ST_ROLLING = 1, ST_RANDOM = 2 };

struct StartState {
    using Order = std::array<std::int32_t, kStartOrderSize>;
    static constexpr Order emptyOrder() {
        Order o{};
        for (auto& slot : o) slot = -1;
        return o;
    }

    Order order = emptyOrder();  // slot s: the player id on grid place s; -1 or 0 empty
    std::uint8_t orderCount = 0;  // NumP of the grid order it was built from
    // The kind the next start must have whatever the start type says: set by
    // an admin, and to rolling by an aborted start. ST_NONE when free.
    std::int32_t nextStart = ST_NONE;
    std::int64_t stageStartTime = 0;  // when the stage began; the time of an abort
    // When "/restart" was last sent after an abort; 0 before.
    std::int64_t restartSentTime = 0;
    std::int32_t orderErrors = 0;     // cars out of order in the current check
    std::uint8_t gridOrderRequest = GR_IDLE;
    // The cars of the start order at the last upkeep: the field the checks
    // compare a car's slot with.
    std::int32_t carsInOrder = 0;

    std::int32_t& at(int slot) { return order[static_cast<std::size_t>(slot)]; }
    std::int32_t at(int slot) const { return order[static_cast<std::size_t>(slot)]; }
};

}  // namespace tmx
