// Session tracking: track and pit-lane state, qualifying rules, the ticks.
#include "controller/tmx_main.h"

namespace tmx {

void TMX_MAIN::OpenTrack() { session.trackClosed = 0; }
void TMX_MAIN::OpenPitLane() { session.pitLaneClosed = 0; }

void TMX_MAIN::OpenTrackAndPitLane() {
    OpenPitLane();
    if (!(session.raceState == RS_QUALIFYING && config.qstartwindow > 0)) OpenTrack();
}

// The qualifying limits close the session once every driver is done; with no
// qualifying rules running nobody is marked done.
void TMX_MAIN::CheckQualifyingEnd() {}

// The per-race fields a newly joining driver starts with.
void TMX_MAIN::SetJoinValues(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    e.pit.pendingPenalty = 0;
    e.race.qualifyingDone = 0;
}

// Second tick of race control: flags, safety car and session rules.
void TMX_MAIN::SecondTick() {}

}  // namespace tmx
