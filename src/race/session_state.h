// The session a server runs, and the state of track and pit lane.
#pragma once

#include <cstdint>

namespace tmx {

enum RaceState : std::int32_t {
    RS_NONE = 0, RS_PRACTICE = 1, RS_QUALIFYING = 2, RS_RACE = 3, RS_RACE_FINISHED = 4,
    RS_QUALIFYING_CLOSED = 5, RS_CITY = 6,
};

// Start phases.
enum StartPhase : std::int32_t {
    SP_START_PENDING = 0, SP_RESTART_PENDING = 1, SP_ROLLING_FIRST = 3, SP_ROLLING_LAST = 6,
    SP_NONE = 7,
};

struct SessionState {
    RaceState raceState = RS_NONE;
    RaceState previousRaceState = RS_NONE;
    std::int32_t startPhase = SP_NONE;
    bool trackClosed = false;
    bool pitLaneClosed = false;
    std::int64_t qualifyingStartTime = 0;
};

}  // namespace tmx
