// The session a server runs, and the state of track and pit lane.
#pragma once

#include <cstdint>

#include "insim/packets.h"

namespace tmx {

enum RaceState : std::int32_t {
    RS_NONE = 0, RS_PRACTICE = 1, RS_QUALIFYING = 2, RS_RACE = 3, RS_RACE_FINISHED = 4,
    RS_QUALIFYING_CLOSED = 5, RS_CITY = 6,
};

// Start phases.
enum StartPhase : std::int32_t {
    SP_START_PENDING = 0, SP_RESTART_PENDING = 1,
    // The four stages of a rolling start: the formation lap from the grid,
    // holding the pace, speeding up for the line, waiting for the last car.
    SP_ROLLING_FIRST = 3, SP_HOLD_SPEED = 4, SP_SPEED_UP = 5, SP_ROLLING_LAST = 6,
    SP_NONE = 7,
};

struct SessionState {
    RaceState raceState = RS_NONE;
    RaceState previousRaceState = RS_NONE;
    std::int32_t startPhase = SP_NONE;
    bool trackClosed = false;
    bool pitLaneClosed = false;
    // The pit lane was closed for the last laps of this race; it is not
    // opened again by the lap rules.
    bool pitLaneAutoClosed = false;

    // The track as the last session start described it.
    std::int32_t nodeCount = 0;
    std::int32_t finishNode = 0;
    // The highest split number any driver has passed: the track's last split.
    std::int32_t highestSplit = 0;

    // The race.
    std::uint32_t mostLapsDone = 0;  // the highest session laps of any driver
    bool lastLapAnnounced = false;

    // Qualifying and its start window. Window times count from three
    // seconds after the start; the display is redrawn once per second.
    std::int64_t qualifyingStartTime = 0;
    std::int64_t windowElapsed = 0;
    std::int64_t windowLastElapsed = 0;
    std::int32_t windowTicks = 0;
    bool startWindowClosed = false;

    // The last grid order, kept whole for the start procedure.
    insim::IS_REO gridOrder;
};

}  // namespace tmx
