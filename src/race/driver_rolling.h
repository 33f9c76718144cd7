// A driver's part in a rolling start: his grid place and the pace instruction
// shown on his screen.
#pragma once

#include <cstdint>

namespace tmx {

// Where a driver stands in a rolling start.
enum RollingState : std::uint8_t { RL_NONE = 0, RL_FORMATION_LAP = 1, RL_COMPLETED = 2 };

// Pace instructions. Each sets one instruction flag (or none, PM_CLEAR).
enum PaceMode : std::int32_t {
    PM_GRID_FOLLOW = 0,   // follow, with the grid place (the first instruction)
    PM_FOLLOW = 1,
    PM_LET_BY = 2,        // too far up: let a car from behind pass
    PM_OVERTAKE = 3,
    PM_LET_PASS = 4,
    PM_CLOSE_UP = 5,
    PM_LEADER_PACE = 6,
    PM_LEADER_FAST = 7,   // leader warning: hold the pace
    PM_LEADER_SLOW = 8,   // leader warning: too slow
    PM_CLEAR = 9,
    PM_SPEED_UP = 10,
};

// An instruction flag: 1 when given, 2 once the driver was warned for it.
enum PaceFlag : std::uint8_t { PF_OFF = 0, PF_GIVEN = 1, PF_WARNED = 2 };

struct PaceInstruction {
    std::uint8_t follow = PF_OFF;
    std::uint8_t letBy = PF_OFF;
    std::uint8_t overtake = PF_OFF;
    std::uint8_t letPass = PF_OFF;
    std::uint8_t closeUp = PF_OFF;
    std::uint8_t leaderWarning = PF_OFF;
    std::uint8_t leaderPace = PF_OFF;
    std::uint8_t speedUp = PF_OFF;
    std::int32_t target = 0;     // player id the instruction names (0: none)
    std::int64_t startTime = 0;  // when it was given (seconds)
};

struct DriverRolling {
    std::uint8_t state = RL_NONE;
    std::uint8_t gridSlot = 0;         // 0: not in the start order
    std::uint8_t leaderWarnings = 0;   // times the leader was too fast: 0, 1 or 2
    std::uint8_t positionAtCheck = 0;  // race position at the last upkeep
    PaceInstruction pace;
};

}  // namespace tmx
