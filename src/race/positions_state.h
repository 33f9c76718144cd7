// Where the cars stand: the race order and the order on track.
#pragma once

#include <cstdint>

namespace tmx {

struct PositionsState {};

}  // namespace tmx
