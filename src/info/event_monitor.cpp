// The event monitor: recent events shown to the drivers who asked for them.
#include "controller/tmx_main.h"

namespace tmx {

void TMX_MAIN::ClearEventMonitor(int index) {
    if (index < 0 || index >= usedEntries) return;
    link->DeleteGroup(BG_EVENT_MONITOR, entry(index).ucid);
    entry(index).display.monitorVersion = 0;
}

// One step of the monitor cursor: one table entry per loop pass, so that a
// busy table never delays a pass by redrawing every monitor at once.
void TMX_MAIN::EventMonitorStep() {
    if (monitor.eventCursor >= usedEntries) {
        monitor.eventCursor = 0;
        return;
    }
    data::cl_LfsPlayer& e = entry(monitor.eventCursor);
    if (e.display.monitorState == 2 && e.display.monitorVersion != monitor.eventVersion) {
        // The monitor rows are drawn by the event list; the entry now shows
        // the current version.
        e.display.monitorVersion = monitor.eventVersion;
    } else if (e.display.monitorVersion > 0) {
        e.display.monitorVersion = -1;
        link->DeleteGroup(BG_EVENT_MONITOR, e.ucid);
    }
    ++monitor.eventCursor;
}

// The event list itself arrives with the event monitor.
void TMX_MAIN::RaiseEvent(int, std::int64_t, const char*) {}
void TMX_MAIN::AgeEvents() {}

}  // namespace tmx
