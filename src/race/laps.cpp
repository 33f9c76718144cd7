// Laps and splits: what each subsystem does when a driver completes a lap or
// passes a split, in its order.
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

int TMX_MAIN::onLap(const IS_LAP& lap) {
    int result = 0;
    const int index = ReportedDriver(lap.PLID, "LAP", result);
    if (index == -1) return result;
    data::cl_LfsPlayer& e = entry(index);
    e.race.lastLapsDone = lap.LapsDone;
    e.position.lapStartPosition = 0;  // taken again from the next car report

    // The lap and sector time display hooks in here: it still sees the session
    // laps without this lap (0 on the first lap of a session). The last sector
    // ends at the finish line; the lap's result message wins over its sector's.
    StoreLapTimes(index, lap);
    const int sectorResult = ProcessSplit(index, e.race.splitsPassed + 1, true);
    const int lapResult = ProcessLap(index);
    ShowResultMessage(index, lapResult >= 0 ? lapResult : sectorResult);

    ++e.race.sessionLaps;
    ++e.skillLaps;
    // The laps on this car and track keep the combination record (and with
    // it the personal bests) when the database is cleaned.
    ++e.combinationLaps;
    if (e.race.sessionLaps > 0 && static_cast<std::uint32_t>(e.race.sessionLaps) > session.mostLapsDone)
        session.mostLapsDone = static_cast<std::uint32_t>(e.race.sessionLaps);

    if (e.race.driverStatus < DS_PITLANE) {
        e.race.previousDriverStatus = DS_ON_TRACK;
        e.race.driverStatus = DS_RACING;
        e.race.sessionLaps = 1;
    } else if (e.race.driverStatus == DS_ON_TRACK) {
        e.race.previousDriverStatus = DS_ON_TRACK;
        e.race.driverStatus = DS_RACING;
        if (session.raceState != RS_RACE) RaiseEvent(7, 0, e.playerName.c_str());
    }

    if (e.race.driverStatus == DS_ON_TRACK || e.race.driverStatus == DS_RACING) LapSkillPoints(index);
    // A pit board skipped in the last lap may be drawn in this one.
    if (e.position.pitBoard == PB_SKIPPED) e.position.pitBoard = PB_NOT_SHOWN;
    if (session.raceState == RS_RACE && e.race.driverStatus == DS_RACING) PitWindowsAtLap(index, lap);
    QualifyingLapLimit(index);
    AutoPitLaneAtLap(index, lap);
    return 0;
}

int TMX_MAIN::onSplit(const IS_SPX& spx) {
    int result = 0;
    const int index = ReportedDriver(spx.PLID, "SPX", result);
    if (index == -1) return result;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus == DS_PITS) {
        e.race.previousDriverStatus = DS_PITS;
        e.race.driverStatus = DS_ON_TRACK;
    }
    if (e.race.driverStatus < DS_PITS) e.race.sessionLaps = 0;
    e.position.splitStartPosition = 0;  // taken again from the next car report
    e.race.splitsPassed = spx.Split;
    if (spx.Split > session.highestSplit) session.highestSplit = spx.Split;
    // The sector time display hooks in here, with the driver's new status.
    StoreSplitTimes(index, spx);
    ShowResultMessage(index, ProcessSplit(index, spx.Split, false));
    AutoPitLaneAtSplit(index, spx);
    return 0;
}

}  // namespace tmx
