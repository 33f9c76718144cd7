// Session tracking: session starts, the grid order, the finish, track and
// pit-lane state, and the qualifying rules with their tick.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

void TMX_MAIN::OpenTrack() { session.trackClosed = false; }
void TMX_MAIN::OpenPitLane() { session.pitLaneClosed = false; }

void TMX_MAIN::OpenTrackAndPitLane() {
    OpenPitLane();
    if (!(session.raceState == RS_QUALIFYING && config.qstartwindow > 0)) OpenTrack();
}

int TMX_MAIN::onRaceStart(const IS_RST&) { return 0; }
int TMX_MAIN::onGridOrder(const IS_REO&) { return 0; }
int TMX_MAIN::onFinish(const IS_FIN&) { return 0; }

void TMX_MAIN::CheckQualifyingEnd() {}
void TMX_MAIN::MarkQualifyingDone(int) {}
bool TMX_MAIN::ApplyQualifyingExitLimits(int) { return false; }
void TMX_MAIN::RefuseQualifyingExit(int, int, int, int) {}
void TMX_MAIN::SessionTick() {}
void TMX_MAIN::MonitorDisplayTimers() {}

}  // namespace tmx
