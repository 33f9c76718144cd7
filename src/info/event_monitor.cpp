// The event monitor: recent events shown to the drivers who asked for them.
#include "controller/tmx_main.h"

namespace tmx {

void TMX_MAIN::ClearEventMonitor(int index) {
    if (index < 0 || index >= usedEntries) return;
    link->DeleteGroup(BG_EVENT_MONITOR, entry(index).ucid);
    entry(index).monitorVersion = 0;
}

// One step of the monitor cursor: one table entry per loop pass, so that a
// busy table never delays a pass by redrawing every monitor at once.
void TMX_MAIN::EventMonitorStep() {
    if (eventCursor >= usedEntries) {
        eventCursor = 0;
        return;
    }
    data::cl_LfsPlayer& e = entry(eventCursor);
    if (e.monitorState == 2 && e.monitorVersion != eventVersion) {
        // The monitor rows are drawn by the event list; the entry now shows
        // the current version.
        e.monitorVersion = eventVersion;
    } else if (e.monitorVersion > 0) {
        e.monitorVersion = -1;
        link->DeleteGroup(BG_EVENT_MONITOR, e.ucid);
    }
    ++eventCursor;
}

}  // namespace tmx
