// Message channels and the race status bar: what a driver sees on screen.
// The channel drawing arrives with the channel geometry of server_N.cfg; until
// then a line is dropped the way a switched-off channel drops it (result 0).
#include "controller/tmx_main.h"

namespace tmx {

int TMX_MAIN::SystemLine(int index, int, const char*, std::int64_t) {
    return index < 0 || index >= usedEntries ? -1 : 0;
}

int TMX_MAIN::SystemLineText(int index, int, int, std::int64_t, const char*) {
    return index < 0 || index >= usedEntries ? -1 : 0;
}

int TMX_MAIN::TeamLine(int index, int, const char*, std::int64_t) {
    return index < 0 || index >= usedEntries ? -1 : 0;
}

void TMX_MAIN::BroadcastSystemText(int, int, std::int64_t) {}

void TMX_MAIN::DrawStatusBar(int index) {
    if (index >= 0 && index < usedEntries) entry(index).statusBarDrawn = 1;
}

void TMX_MAIN::ClearStatusBar(int index) {
    if (index < 0 || index >= usedEntries) return;
    link->DeleteGroup(BG_STATUS_BAR, entry(index).ucid);
    entry(index).statusBarDrawn = 0;
}

void TMX_MAIN::RefreshAllStatusBars() {
    for (int i = 0; i < usedEntries; ++i) {
        ClearStatusBar(i);
        if (!(isCity() && entry(i).driverStatus <= DS_GARAGE)) DrawStatusBar(i);
    }
}

}  // namespace tmx
