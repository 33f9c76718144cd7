// Laps and splits: what each subsystem does when a driver completes a lap or
// passes a split, in its order.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

int TMX_MAIN::onLap(const IS_LAP&) { return 0; }
int TMX_MAIN::onSplit(const IS_SPX&) { return 0; }

}  // namespace tmx
