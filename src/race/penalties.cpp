// Penalties: the controller's own, queued and given after a random delay, and
// those LFS gives by itself.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

int TMX_MAIN::onPenalty(const IS_PEN&) { return 0; }
void TMX_MAIN::QueuePenalty(int, int) {}
void TMX_MAIN::GivePenalty(int) {}
void TMX_MAIN::PenaltyTick() {}
void TMX_MAIN::ClearPenalties(int index) {
    if (index < 0 || index >= usedEntries) return;
    entry(index).pit.pendingPenalty = 0;
}

}  // namespace tmx
