// A driver's penalties and pit windows.
#pragma once

#include <array>
#include <cstdint>

namespace tmx {

constexpr int kPenaltyQueueSize = 10;

// The controller's own penalties, by what they are given for.
enum PenaltyKind : std::int32_t {
    PK_NONE = 0,               // nothing pending: a given "none" clears the LFS penalty
    PK_CLOSED_PIT_ENTRY = 2,   // entered the closed pit lane
    PK_CLOSED_TRACK_EXIT = 3,  // left the pits onto the closed track
    PK_CLOSED_PIT_EXIT = 4,    // drove out of the closed pit lane in a race
    PK_PACE_LEADER = 5,        // rolling-start leader too fast a second time
    PK_FORMATION_PLACES = 6,   // gained places on the formation lap
    PK_MISSED_WINDOW = 7,      // missed a pit window
};

// Pit window flags.
enum PitWindowFlag : std::uint8_t { PW_OPEN = 0, PW_STOPPED = 1, PW_MISSED = 2 };

struct DriverPit {
    std::int32_t pendingPenalty = PK_NONE;  // the kind waiting to be given
    std::int64_t penaltyDue = 0;            // when it is to be given (seconds)
    // Further kinds behind the pending one, oldest first.
    std::array<std::uint8_t, kPenaltyQueueSize> penaltyQueue{};
    std::int32_t queueLength = 0;
    // The LFS penalty the driver still has to serve (NewPen); 0 when none.
    std::uint8_t lfsPenalty = 0;
    // LapsDone + 1 at the last pit-lane entry; -1 after a pit exit or a penalty drive.
    std::int32_t pitEntryLap = -1;
    std::array<std::uint8_t, 10> pitWindowUsed{};  // per window: PitWindowFlag
    // Caught driving out of the closed pit lane during this stay in the pits,
    // so that one breach is judged once and not at every car report.
    bool closedExitCaught = false;
};

}  // namespace tmx
