// The driving model of the simulated LFS server: cars that go round a track
// of path nodes at a pace, stop, reverse, spin, slide, drive the wrong way and
// make pit stops, and the numbers LFS reports about them.
//
// The track is a circle as long as its node count times the node length, run
// anticlockwise seen from above; node numbers rise in the driving direction
// and the finish line lies on the session's finish node. A car's place on it
// is its progress: nodes driven from the finish line of its first lap
// (negative on the grid and in the pit box before it). Progress only moves
// forward when the car does, so laps and splits are simply the finish and
// split marks that progress passes.
//
// ServerModel (model.h) owns a CarState per player and runs the updates
// (driving.cpp): every report interval (250 ms unless the InSim client asks
// for another) each car moves, what happened on the way goes out in time
// order (IS_SPX, IS_LAP, IS_PLA, IS_PIT, IS_PSF, IS_PEN, IS_FIN, IS_RES), then
// flag changes (IS_FLG) and the car reports (IS_MCI, at most 8 cars each).
// A car may follow: while it drives on the racing line it keeps at least a
// gap behind the car ahead on the track, moving after that car in each update.
// Nothing here is random: the same calls at the same simulator times give the
// same packets.
#pragma once

#include <cstdint>

namespace tmx::sim {

// The gap a following car keeps behind the car ahead unless told another.
constexpr double kFollowGapM = 8.0;

// What the driver does with the car.
enum class Motion : std::uint8_t {
    Driving,    // forward at its pace (pace 0: standing)
    Stopped,    // speed 0, the node stays
    Reversing,  // backwards, slowly, still facing forwards
    Spinning,   // forward at its pace, the heading turning fast
    Sliding,    // forward at its pace, the heading off the direction of travel
    WrongWay,   // backwards at speed, facing backwards
};

// Where the car is as far as the pit lane goes.
enum class PitPhase : std::uint8_t {
    Track,  // on the racing line
    Lane,   // driving in the pit lane (entering or leaving)
    Stop,   // standing in its pit box for a stop
    Box,    // parked in its pit box until told to drive
};

// Knobs of the driving model; the defaults make a 2 km lap of 400 nodes.
struct DrivingSettings {
    double nodeLengthM = 5.0;     // track length between two path nodes
    int startDelayMs = 5000;      // session start to the green light / leaving the boxes
    double pitSpeedKmh = 60.0;    // pit lane speed limit
    int pitEntryNodes = 25;       // pit lane entry this many nodes before the finish line
    int pitBoxNodes = 10;         // the pit boxes, before the finish line
    int pitExitNodes = 15;        // pit lane exit after the finish line
    int stopGoMs = 3000;          // standing time of a stop-go penalty
    double reverseKmh = 5.0;      // default speed of a reversing car
    double spinDegPerSec = 180;   // default yaw rate of a spinning car
    double slideDeg = 90;         // default heading offset of a sliding car
    double yellowBelowKmh = 10;   // a car on the racing line slower than this causes a yellow
    int blueNodes = 8;            // a lapping car this close behind shows the blue flag
    double gridSpacingM = 8.0;    // distance between two grid places
    double pitLaneOffsetM = -12;  // pit lane beside the track (negative: inside)
    double followDropKmh = 20;    // a follower closer than its gap drops back this much slower
};

// A change of what the car does (CarMotion::kind Driving ends any other).
struct CarMotion {
    Motion kind = Motion::Driving;
    double kmh = -1;         // -1: its pace (reversing: DrivingSettings::reverseKmh)
    double angleDeg = 0;     // Sliding: heading offset; Spinning: yaw rate in deg/s (0: settings)
    std::int64_t forMs = 0;  // above 0: back to driving at its pace after this long
};

// The state of one player's car.
struct CarState {
    // The driver.
    double paceKmh = 0;  // 0: the car does not move by itself
    Motion motion = Motion::Driving;
    double motionKmh = -1;            // speed of the current motion (-1: default)
    double angleDeg = 0;              // slide offset / spin rate of the current motion (0: default)
    std::int64_t motionUntilMs = -1;  // the motion ends then (-1: never)
    std::int64_t waitUntilMs = 0;     // standing still until then (start lights)
    bool launch = false;              // drives off when the wait is over (session start)
    // Following: while Driving on the racing line, never closer than followGapM
    // behind the car ahead on the track (the driver's setting: it outlives
    // motion changes and session starts until it is switched off).
    bool follow = false;
    double followGapM = kFollowGapM;
    double followLimit = -1;  // nodes per ms the car ahead allows in this update (-1: none)

    // Where it is.
    double progress = 0;     // nodes from the finish line of its first lap
    double lateralM = 0;     // beside the racing line (+ outside)
    double spinAngle = 0;    // heading turned by spinning, radians
    PitPhase pit = PitPhase::Box;
    double boxAt = 0, exitAt = 0;  // progress of the pit box and the pit lane exit of this visit
    bool stopPending = false;      // this visit stops at the box
    int stopMs = 0;
    std::uint32_t stopWork = 0;  // PSE_* bits of the stop
    std::int64_t stopEndMs = 0;
    bool servingDt = false, servingSg = false;
    int planLap = -1;  // pit lane on this lap (0: the next time it passes the entry; -1: none)
    int planStopMs = 0;

    // What LFS counts.
    int lapsDone = 0;
    unsigned splitMask = 0;  // splits reported in the current lap (bit 1 = split 1 ...)
    bool timing = false;     // laps are being timed (from the first crossing of the line)
    std::int64_t lapStartMs = 0;
    std::uint32_t bestLapMs = 0;
    int numStops = 0;
    bool finished = false;
    int finishOrder = 0;        // 1 = winner
    int gridSlot = 0;           // 0 = pole
    std::uint8_t position = 0;  // race position in the last report
    bool yellow = false;        // causing a yellow flag
    std::uint8_t blueFor = 0;   // PLID of the lapping car it holds up (0: none)
};

}  // namespace tmx::sim
