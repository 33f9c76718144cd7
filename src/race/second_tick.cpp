// The controller's second tick, and the values a driver starts a race with.
#include "controller/tmx_main.h"

namespace tmx {

void TMX_MAIN::SecondTick() {
    SkillSummaryTick();
    SessionTick();
    if (!isCity()) FlagTick();
    PenaltyTick();
    AgeEvents();
    MonitorDisplayTimers();
}

void TMX_MAIN::SetJoinValues(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    e.pit = DriverPit{};  // no penalty pending or queued, no pit entry, every window open
    e.flags = DriverFlags{};
    e.rolling = DriverRolling{};  // a car that joins during a start is taken in as a late car
}

}  // namespace tmx
