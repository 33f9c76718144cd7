// The event monitor: the latest race events, shown at the left edge of the
// screen to the drivers who asked for them, each line in the driver's own
// language. One list per server; every monitor shows the same list.
#include <cstdio>
#include <string>
#include <string_view>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "info/time_format.h"
#include "insim/buttons.h"

namespace tmx {

namespace {

constexpr int kFirstSectorEvent = 101;
constexpr int kLastSectorEvent = 103;
constexpr int kLapEvent = 201;
constexpr int kBlueFlagEvent = 22;
constexpr int kEvenLines = 32;  // lines of the "even" block
constexpr int kBestSuffixLine = 21;

// A pit stop's length between blanks: minutes only when there are any, and
// seconds and milliseconds unpadded (83045 gives " 1:23.45 ").
std::string stopTime(std::int64_t ms) {
    if (ms < 0) ms = -ms;
    const long long minutes = ms / 60000;
    std::string text = " ";
    if (minutes > 0) text += std::to_string(minutes) + ":";
    text += std::to_string(ms / 1000 % 60) + "." + std::to_string(ms % 1000) + " ";
    return text;
}

bool multiplayerMode(const TMX_MAIN& c) {
    return (c.server.lastState.Flags & insim::ISS_MULTI) != 0;
}

// The driver's stored best for a time event, 0 when he has none.
std::int32_t storedBest(const data::cl_LfsPlayer& e, int type) {
    if (!e.combination) return 0;
    if (type == kLapEvent) return e.personalBest[0];
    return e.bestSectors[static_cast<std::size_t>(type - 100)];
}

// The line of one event as the driver at index reads it.
std::string lineText(const TMX_MAIN& c, int index, const MonitorEvent& ev) {
    const int t = ev.type;
    const char* name = ev.text.c_str();
    auto even = [&](int line) { return c.LanguageLine(index, data::LB_EVEN, line); };
    if (t == 2 || t == 12) return fillPlaceholders(even(t), {name, stopTime(ev.value).c_str()});
    if (t == kBlueFlagEvent) return fillPlaceholders(even(t), {name, ev.otherName.c_str()});
    if ((t >= kFirstSectorEvent && t <= kLastSectorEvent) || t == kLapEvent) {
        const int line = t == kLapEvent ? 11 : t - kFirstSectorEvent + 8;
        std::string text = fillPlaceholders(even(line), {name, FormatTime(ev.value).c_str()});
        const data::cl_LfsPlayer& e = c.entry(index);
        const std::int32_t best = storedBest(e, t);
        if (e.race.driverStatus > DS_GARAGE && best > 0 && !e.car.empty() &&
            !(index == 0 && multiplayerMode(c))) {
            // Best minus time: a time better than the best shows red with "+".
            const std::int64_t difference = static_cast<std::int64_t>(best) - ev.value;
            const std::string shown =
                std::string(difference > 0 ? "^1" : "^2") + FormatSignedTime(difference).c_str();
            text += fillPlaceholders(even(kBestSuffixLine),
                                     {FormatTime(best).c_str(), shown.c_str(), e.car.c_str()});
        }
        return text;
    }
    // The block has no line for a type beyond it: such an event shows empty.
    if (t >= 0 && t < kEvenLines) return fillPlaceholders(even(t), {name});
    return "";
}

void advanceVersion(EventMonitorState& m) {
    m.eventVersion = m.eventVersion >= kLastEventVersion ? 1 : m.eventVersion + 1;
}

}  // namespace

void TMX_MAIN::RaiseEvent(int type, std::int64_t value, const char* name) {
    if (config.eventshowtime == 0) return;
    if (!name) name = "";
    if (std::string_view(name) == data::kHostName) return;
    if (type >= 101 && type <= 199 && session.raceState == RS_RACE) return;
    debug("\nEntered EmonAddEvent type:%d, name: %s", type, name);

    MonitorEvent ev;
    ev.type = static_cast<std::int32_t>(static_cast<std::uint8_t>(type));
    ev.value = static_cast<std::int32_t>(value);
    ev.text.assign(name);
    if (ev.type == kBlueFlagEvent && value >= 0 && value < usedEntries)
        ev.otherName = entry(static_cast<int>(value)).playerName;

    const std::int64_t now = clock_.now();
    if (monitor.count >= kMonitorEvents) {
        for (int k = 1; k < kMonitorEvents; ++k)
            monitor.events[static_cast<std::size_t>(k - 1)] =
                monitor.events[static_cast<std::size_t>(k)];
        monitor.events[kMonitorEvents - 1] = ev;
        monitor.count = kMonitorEvents;
        monitor.listTime = now;
    } else {
        if (monitor.count <= 0) {
            monitor.count = 0;
            monitor.listTime = now;
        }
        monitor.events[static_cast<std::size_t>(monitor.count)] = ev;
        ++monitor.count;
    }
    advanceVersion(monitor);
}

// One event at most ages out per call; the list time restarts at each removal.
void TMX_MAIN::AgeEvents() {
    if (config.eventshowtime == 0 || monitor.count <= 0) return;
    const std::int64_t now = clock_.now();
    if (now - monitor.listTime <= config.eventshowtime) return;
    const int count = monitor.count > kMonitorEvents ? kMonitorEvents : monitor.count;
    for (int k = 1; k < count; ++k)
        monitor.events[static_cast<std::size_t>(k - 1)] =
            monitor.events[static_cast<std::size_t>(k)];
    monitor.events[static_cast<std::size_t>(count - 1)] = MonitorEvent{};
    monitor.count = count - 1;
    monitor.listTime = now;
    advanceVersion(monitor);
}

void TMX_MAIN::ClearEvents() {
    monitor.events = {};
    monitor.count = 0;
    advanceVersion(monitor);
}

void TMX_MAIN::DrawEventMonitor(int index) {
    if (config.eventshowtime == 0) return;
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (server.multiplayerEnded || server.setupScreen) {
        // The buttons go on the next refresh.
        e.display.monitorState = 0;
        e.display.monitorVersion = kMonitorMustGo;
        return;
    }
    if (e.isHost() && multiplayerMode(*this)) return;
    if (e.display.monitorState != 2) return;
    if (e.ai) {
        // The owner's screen belongs to his own car.
        const int owner = FindIndex(e.ucid, -1);
        if (owner != -1 && owner != index && entry(owner).plid != 0 && !entry(owner).ai) {
            e.display.monitorState = 0;
            e.display.monitorVersion = kMonitorNothingShown;
            return;
        }
    }
    for (int k = 0; k < kMonitorEvents; ++k) {
        insim::ButtonRequest b;
        b.ucid = e.ucid;
        b.clickId = static_cast<std::uint8_t>(BG_EVENT_MONITOR + k);
        b.groupId = BG_EVENT_MONITOR;
        b.style = 96;
        b.left = 1;
        b.top = static_cast<std::uint8_t>(136 + 6 * k);
        b.width = 198;
        b.height = 6;
        b.lifetime = 0;
        if (k < monitor.count)
            b.text.assign(lineText(*this, index, monitor.events[static_cast<std::size_t>(k)]));
        // Never forwarded: a watching admin keeps his own monitor.
        link->Show(b);
    }
}

void TMX_MAIN::EventMonitorOn(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    e.display.monitorState = 2;
    DrawEventMonitor(index);
    if (e.display.monitorState == 2) e.display.monitorVersion = monitor.eventVersion;
}

void TMX_MAIN::ClearEventMonitor(int index) {
    if (config.eventshowtime == 0) return;
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.isHost() && multiplayerMode(*this)) return;
    debug("\nEntered ClearEmon");
    e.display.monitorState = 0;
    e.display.monitorVersion = kMonitorMustGo;
}

void TMX_MAIN::ClearAllEventMonitors() {
    debug("\nEntered ClearEmonAll");
    for (int i = 0; i < usedEntries; ++i) entry(i).display.monitorState = 0;
}

// One step of the monitor cursor: one table entry per loop pass, so that a
// busy table never delays a pass by redrawing every monitor at once.
void TMX_MAIN::EventMonitorStep() {
    if (monitor.eventCursor < 0 || monitor.eventCursor >= usedEntries) {
        monitor.eventCursor = 0;
        return;
    }
    data::cl_LfsPlayer& e = entry(monitor.eventCursor);
    if (e.display.monitorState == 2 && e.display.monitorVersion != monitor.eventVersion) {
        DrawEventMonitor(monitor.eventCursor);
        e.display.monitorVersion = monitor.eventVersion;
    } else if (e.display.monitorState != 2 && e.display.monitorVersion > 0) {
        e.display.monitorVersion = kMonitorNothingShown;
        link->DeleteGroup(BG_EVENT_MONITOR, e.ucid);
    }
    ++monitor.eventCursor;
}

}  // namespace tmx
