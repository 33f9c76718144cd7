// The server's event list as the monitors show it.
#pragma once

#include <cstdint>

namespace tmx {

struct EventMonitorState {
    std::int32_t eventVersion = 1;
    std::int32_t eventCursor = 0;  // the entry the round-robin refresh visits next
};

}  // namespace tmx
