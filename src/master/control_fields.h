// The fields through which the master and the controllers talk. Each value is
// written by one side and polled by the other; no queue, no message.
#pragma once

#include <atomic>
#include <cstdint>

namespace tmx {

// Controller activity.
enum Activity : std::int32_t {
    ACT_STOPPED = 0,   // the controller's thread has ended or is about to
    ACT_CREATED = 1,   // created, not yet started
    ACT_ACTIVE = 2,    // initialised, players present
    ACT_IDLE = 3,      // fewer than two connections or no player
    ACT_KILL = 5,      // kill requested by the master
};

// Controller run request.
enum RunRequest : std::int32_t {
    RUN_CONNECTING = 0,  // set at the start of every connect attempt
    RUN_RUNNING = 1,
    RUN_STOP = 2,        // killed by admin, wrong InSim version, or given up by the master
    RUN_ERROR = 3,       // ended by an error (table mismatch, failed reconnect)
};

// Controller debug state.
enum DebugState : std::int32_t {
    DBG_OFF = 0,
    DBG_ON = 1,
    DBG_REQUEST_OFF = 4,
    DBG_REQUEST_ON = 5,
};

constexpr std::uint8_t kNoDebugSlot = 255;

// Master quit request.
// QUIT_SIGNAL: the operating system asked the program to stop (Ctrl-C,
// SIGTERM); it ends as on a kill-all.
enum QuitRequest : std::uint8_t { QUIT_NONE = 0, QUIT_KILLALL = 1, QUIT_ALL_DIED = 2, QUIT_SIGNAL = 3 };

// The polled fields of one controller.
struct ControllerFields {
    std::atomic<std::int32_t> activity{ACT_CREATED};
    std::atomic<std::int32_t> runRequest{RUN_CONNECTING};
    std::atomic<std::int32_t> debugState{DBG_ON};
};

}  // namespace tmx
