// Lap and sector times, and the pit board.
#include "controller/tmx_main.h"

namespace tmx {

// The pit board is drawn by the lap display; until it exists the board only
// counts as shown for this lap.
void TMX_MAIN::ShowPitBoard(int index) {
    if (index < 0 || index >= usedEntries) return;
    entry(index).position.pitBoard = PB_SHOWN;
}

int TMX_MAIN::ProcessSplit(int, int, bool) { return 0; }
int TMX_MAIN::ProcessLap(int) { return 0; }

}  // namespace tmx
