// Pit lane and track: entries, exits, stops, pit windows and the automatic
// opening and closing of the pit lane.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

int TMX_MAIN::onPitLane(const IS_PLA&) { return 0; }
int TMX_MAIN::onPitStop(const IS_PIT&) { return 0; }
int TMX_MAIN::onPitStopDone(const IS_PSF&) { return 0; }
void TMX_MAIN::PitWindowsAtLap(int, const IS_LAP&) {}
void TMX_MAIN::AutoPitLaneAtLap(int, const IS_LAP&) {}
void TMX_MAIN::AutoPitLaneAtSplit(int, const IS_SPX&) {}
void TMX_MAIN::ClosedPitLaneExitCheck(int) {}

}  // namespace tmx
