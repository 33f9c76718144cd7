// Car positions and speeds from IS_MCI, and the race tick.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

int TMX_MAIN::onCarPositions(const IS_MCI&) { return 0; }
void TMX_MAIN::RaceTick() {}
void TMX_MAIN::ResetCarReports(int) {}
void TMX_MAIN::StartPositionFreeze() {}

}  // namespace tmx
