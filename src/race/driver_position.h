// A driver's car reports and his place in the race and on track.
#pragma once

#include <cstdint>

#include "insim/packets.h"

namespace tmx {

// Pit-board states of the current lap.
enum PitBoardState : std::uint8_t {
    PB_NOT_SHOWN = 0,  // not yet shown in this lap
    PB_SHOWN = 1,      // shown in this lap (set by the lap display)
    PB_SKIPPED = 2,    // the draw said no for this lap; a lap report turns it back to 0
};

struct DriverPosition {
    // The last two car reports, stored as LFS sends them. A stored report is
    // valid only while its PLID is the driver's own.
    insim::CompCar current;
    insim::CompCar previous;
    std::int8_t reportReceived = -1;  // 1 = a report since the last race tick; 0 after a join, -1 after garage or removal

    std::uint8_t lapStartPosition = 0;    // race position in the first report after the last lap (0 = not yet)
    std::uint8_t splitStartPosition = 0;  // race position in the first report after the last split (0 = not yet)
    std::uint8_t lastPosition = 0;        // race position at the previous race tick (0 = none)
    std::uint8_t raceBehind = 0;          // player ids of the neighbours in the race order
    std::uint8_t raceAhead = 0;
    std::uint8_t trackRank = 0;           // place in the track order (1 = level with the race leader)
    std::uint8_t trackBehind = 0;         // player ids of the neighbours on track
    std::uint8_t trackAhead = 0;
    std::uint8_t pitBoard = PB_NOT_SHOWN;

    // City mode: speed and direction along the path nodes.
    std::int32_t speedKmh = 0;
    std::int32_t lastNode = 0;
    std::int32_t currentNode = 0;
    std::int32_t nodeChanges = 0;
    std::uint8_t backwards = 0;   // 1 = the last node change went against the track direction
    std::int32_t crossings = 0;   // finish-line crossings, wrapped by the city's count

    bool currentValid(std::uint8_t plid) const { return plid != 0 && current.PLID == plid; }
    bool previousValid(std::uint8_t plid) const { return plid != 0 && previous.PLID == plid; }

    // The per-race fields a driver starts with when he joins the race.
    void ResetRaceData() {
        lapStartPosition = 0;
        splitStartPosition = 0;
        lastPosition = 0;
        raceBehind = raceAhead = 0;
        trackRank = 0;
        trackBehind = trackAhead = 0;
        pitBoard = PB_NOT_SHOWN;
    }
};

}  // namespace tmx
