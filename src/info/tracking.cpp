// An admin tracking one driver: his messages and camera.
#include "controller/tmx_main.h"

namespace tmx {

// Ends the watching that entry index does and the watching of it.
void TMX_MAIN::EndWatching(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.watchTarget != data::kNoEntry && e.watchTarget < usedEntries)
        entry(e.watchTarget).watchedBy = data::kNoEntry;
    if (e.watchedBy != data::kNoEntry && e.watchedBy < usedEntries)
        entry(e.watchedBy).watchTarget = data::kNoEntry;
    e.watchTarget = data::kNoEntry;
    e.watchedBy = data::kNoEntry;
}

}  // namespace tmx
