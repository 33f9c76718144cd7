// The bookkeeping of a resynchronisation: the table is emptied and every
// connection, then every player, is requested again until the counts of the
// last IS_STA are reached.
#pragma once

#include <cstdint>

namespace tmx {

enum ResyncPhase : std::int32_t { RP_NONE = 0, RP_CONNECTIONS = 1, RP_PLAYERS = 2 };

struct ResyncState {
    ResyncPhase phase = RP_NONE;
    // Set once the handshake (or a resync) asked for state and session: the
    // session packet that answers announces no new start.
    bool flag = false;
    std::int32_t expectedPlayers = 0;
    std::int32_t expectedConnections = 0;
};

}  // namespace tmx
