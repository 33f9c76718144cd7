// An admin tracking one driver: his messages and camera.
#include "controller/tmx_main.h"

namespace tmx {

// Ends the watching that entry index does and the watching of it.
void TMX_MAIN::EndWatching(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.display.watchTarget != data::kNoEntry && e.display.watchTarget < usedEntries)
        entry(e.display.watchTarget).display.watchedBy = data::kNoEntry;
    if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < usedEntries)
        entry(e.display.watchedBy).display.watchTarget = data::kNoEntry;
    e.display.watchTarget = data::kNoEntry;
    e.display.watchedBy = data::kNoEntry;
}

}  // namespace tmx
