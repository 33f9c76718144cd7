// An admin tracking one driver: his messages and camera. Each driver has one
// tracking slot; the channels, time displays and other forwarded buttons read
// the slot and repeat what they draw on the tracker's screen.
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

// The tracker is told privately by connection: he spectates and has no
// player id, and a private line with a player id is not sent by connection.
void TMX_MAIN::TrackDriver(int tracker, int target) {
    if (tracker < 0 || tracker >= usedEntries || target < 0 || target >= usedEntries) return;
    data::cl_LfsPlayer& a = entry(tracker);
    data::cl_LfsPlayer& b = entry(target);
    if (b.display.watchedBy != data::kNoEntry) {
        sendPrivate(tracker, "^7TMX: not possible! No free trackingslot");
        return;
    }
    // A slot the tracker still holds is given back, so that it never stays taken.
    const std::uint8_t previous = a.display.watchTarget;
    if (previous != data::kNoEntry && previous < usedEntries &&
        entry(previous).display.watchedBy == tracker)
        entry(previous).display.watchedBy = data::kNoEntry;
    b.display.watchedBy = static_cast<std::uint8_t>(tracker);
    a.display.watchTarget = static_cast<std::uint8_t>(target);
    sendPrivate(tracker, "^7TMX: You are tracking now.");
    DrawStatusBar(tracker);
    insim::IS_SCC camera;
    camera.ViewPLID = b.plid;
    camera.InGameCam = 3;
    const insim::RawPacket raw = insim::encode(camera);
    link->SendRaw(raw.data(), static_cast<int>(raw.size));
}

void TMX_MAIN::StopTracking(int tracker) {
    if (tracker < 0 || tracker >= usedEntries) return;
    data::cl_LfsPlayer& a = entry(tracker);
    if (a.display.watchTarget == data::kNoEntry) return;
    if (a.display.watchTarget < usedEntries)
        entry(a.display.watchTarget).display.watchedBy = data::kNoEntry;
    a.display.watchTarget = data::kNoEntry;
    sendPrivate(tracker, "^7TMX: stopped tracking.");
    ClearStatusBar(tracker);
    DrawStatusBar(tracker);
}

}  // namespace tmx
