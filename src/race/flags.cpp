// Yellow and blue flags, the safety-car call, and the driving-conduct checks
// the race tick runs.
#include "controller/tmx_main.h"

namespace tmx {

// Flags and conduct are followed once their rules are built; until then the
// ticks judge nothing.
void TMX_MAIN::FlagTick() {}
void TMX_MAIN::ClearFlags(int) {}
void TMX_MAIN::ConductPlaces(int, int, int) {}
void TMX_MAIN::CheckConduct(int) {}
void TMX_MAIN::ReleaseGrid(int) {}

}  // namespace tmx
