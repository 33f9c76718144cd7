// Car positions and speeds from IS_MCI, and the race tick.
#include "controller/tmx_main.h"

namespace tmx {

void TMX_MAIN::RaceTick() {}
void TMX_MAIN::StartPositionFreeze() {}
void TMX_MAIN::ClearFlags(int) {}

}  // namespace tmx
