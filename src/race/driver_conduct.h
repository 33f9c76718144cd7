// How a driver drives: place changes, a stopped car, wrong-way driving, and
// the attitude of the car (spinning, sideways).
#pragma once

#include <cstdint>

namespace tmx {

enum ConductState : std::int32_t {
    CS_NORMAL = 0,
    CS_WRONG_WAY = 1,
    CS_STOPPED = 2,
    CS_GRID = 7,       // on the start grid: no check applies until the field moves
    CS_GAINED = 8,     // just gained a place
    CS_LOST = 9,       // just lost a place
    CS_GAVE_BACK = 10, // a place changed back
};

enum Attitude : std::int32_t { AT_NORMAL = 0, AT_SPINNING = 5, AT_SIDEWAYS = 6 };

struct DriverConduct {
    std::int32_t state = CS_NORMAL;
    std::int64_t time = 0;    // when the state (or its warning) began
    bool warned = false;      // the warning of the current state was given
    std::int32_t mark = 0;    // the place before a place change; the node a wrong-way drive began at
    std::int32_t count = 0;   // place changes back and forth; wrong-way nodes driven
    std::int32_t attitude = AT_NORMAL;
    std::int32_t reportedAttitude = AT_NORMAL;
    std::int64_t attitudeTime = 0;
};

}  // namespace tmx
