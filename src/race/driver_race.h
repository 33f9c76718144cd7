// A driver's place in the session: his status and the qualifying rules.
#pragma once

#include <cstdint>

namespace tmx {

// Driver statuses of a table entry.
enum DriverStatus : std::int32_t {
    DS_NONE = 0,
    DS_BEFORE_READY = 1,    // the previous status of a driver who joined during the handshake
    DS_CONNECTED = 3,       // connected without a car
    DS_EARLY = 4,           // joined before the controller was ready
    DS_SPECTATING = 5,      // sent to spectate
    DS_GARAGE = 6,
    DS_PITS = 7,            // in the pits, may leave
    DS_PITLANE = 8,         // entered the pit lane from the track
    DS_PITSTOP = 9,
    DS_PITSTOP_DONE = 10,
    DS_ON_TRACK = 11,       // on track without a completed lap
    DS_RACING = 12,         // on track after at least one lap
};

struct DriverRace {
    DriverStatus driverStatus = DS_NONE;
    DriverStatus previousDriverStatus = DS_NONE;
    std::int32_t sessionLaps = 0;     // laps completed in this session
    std::uint16_t lastLapsDone = 0;   // LapsDone of his last IS_LAP in this session
    std::int32_t splitsPassed = 0;    // the last split passed in the current lap

    // Qualifying rules.
    std::uint8_t qualifyingLaps = 0;
    std::uint8_t qualifyingTries = 0;        // pit exits
    bool qualifyingDone = false;             // done under the qualifying rules
    std::int64_t qualifyingDoneTime = 0;     // when he reached the lap limit on track
};

}  // namespace tmx
