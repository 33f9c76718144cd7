// What the server tells about itself: its InSim version, its state flags and
// what follows from them. Set by the version and state handlers.
#pragma once

#include <cstdint>

#include "common/fixed_string.h"
#include "insim/packets.h"

namespace tmx {

// Server kinds.
enum ServerKind : std::int32_t {
    SK_SINGLE = 1, SK_HOST_DRIVES = 2, SK_DEDICATED = 3, SK_MULTI_REPLAY = 4, SK_SINGLE_REPLAY = 5,
};

struct ServerFacts {
    ServerKind serverKind = SK_SINGLE;
    bool multiplayer = false;
    std::uint8_t weather = 0;
    std::uint8_t wind = 0;
    FixedString<7> currentTrack;
    insim::IS_VER lastVersion;
    insim::IS_STA lastState;
    // No multiplayer game runs (start, entry screen, TINY_MPE) until an IS_STA says so.
    bool multiplayerEnded = true;
    // The server shows its setup screen; the status bar waits for the next session.
    bool setupScreen = true;
};

}  // namespace tmx
