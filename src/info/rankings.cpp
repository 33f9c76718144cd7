// Server rankings per car and track combination.
#include "controller/tmx_main.h"

namespace tmx {

// The ranking lists are built from the central database's combination
// records; with no list kept yet there is nothing to build or check.
void TMX_MAIN::BuildRankings() {}
void TMX_MAIN::CheckCarSet() {}

int TMX_MAIN::ServerRank(int) const { return -1; }
int TMX_MAIN::RankDriver(int, int, bool) { return -1; }

}  // namespace tmx
