// Where a packet stands in the list of everything the simulated server received.
// Order checks compare these places: packets sent in one burst share a
// millisecond, so their times cannot tell which came first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "lfs-sim/lfs_sim.h"

namespace tmx::testing {

// Place of the first received packet at index >= from that matches, or none.
inline std::optional<std::size_t> positionOf(
    const sim::SimState& state, const std::function<bool(const sim::ReceivedPacket&)>& matches,
    std::size_t from = 0) {
    for (std::size_t i = from; i < state.received.size(); ++i)
        if (matches(state.received[i])) return i;
    return std::nullopt;
}

// Place of the first received packet of that type (and TINY sub-type) at index >= from.
inline std::optional<std::size_t> positionOf(const sim::SimState& state, std::uint8_t type,
                                             int tinySubType = -1, std::size_t from = 0) {
    return positionOf(
        state, [&](const sim::ReceivedPacket& p) { return p.is(type, tinySubType); }, from);
}

}  // namespace tmx::testing
