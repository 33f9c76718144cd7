// Yellow and blue flags, and the safety-car call. LFS reports a car that
// causes a local yellow (slow or stopped on the racing line) and a car shown
// the blue flag. A yellow counts only once it has lasted more than a second;
// confirmed yellows are counted per sector, and a sector full of them calls
// for the safety car (which this program cannot send out).
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

namespace {

// Flags count in qualifying and in a race, there only once the leader has
// taken the line at the end of a rolling start's formation lap.
bool yellowsCount(const TMX_MAIN& c, bool reporting) {
    const RaceState state = c.session.raceState;
    if (state == RS_RACE) return c.session.startPhase > SP_SPEED_UP;
    return !reporting || state == RS_QUALIFYING;
}

void yellowReported(TMX_MAIN& c, int index) {
    DriverFlags& f = c.entry(index).flags;
    ++f.yellowsReported;
    const std::uint8_t sector = static_cast<std::uint8_t>(c.entry(index).race.splitsPassed);
    if (f.yellowState == YS_IDLE) {
        f.yellowState = YS_REPORTED;
        f.yellowReportTime = c.clock().now();
    } else if (f.yellowState == YS_CLEARED) {
        f.yellowState = YS_CONFIRMED;  // the same yellow goes on
    }
    f.yellowSector = sector;
}

void yellowCleared(TMX_MAIN& c, int index) {
    DriverFlags& f = c.entry(index).flags;
    if (f.yellowState == YS_REPORTED) {
        // Gone within its first second: a small cost, never counted.
        c.ChangeSkillPoints(index, -1, 12);
        f.yellowState = YS_IDLE;
    } else if (f.yellowState == YS_CONFIRMED) {
        f.yellowState = YS_CLEARED;
        f.yellowClearTime = c.clock().now();
    }
}

void blueShown(TMX_MAIN& c, int index, int carBehind) {
    const int behind = carBehind > 0 ? c.FindIndex(-1, carBehind) : -1;
    if (behind == -1) return;
    DriverFlags& f = c.entry(index).flags;
    if (f.blueFlagCar == behind || f.blueFlagCar == behind + kBlueReported) return;
    f.blueFlagCar = behind;
    f.blueFlagTime = c.clock().now();
}

// The yellow and blue flags of one driver on this pass.
void flagStep(TMX_MAIN& c, int index, std::array<std::int8_t, kSectors>& yellowCars) {
    data::cl_LfsPlayer& e = c.entry(index);
    DriverFlags& f = e.flags;
    if (e.race.driverStatus < DS_PITS) {
        f.yellowSector = kNoSector;
        f.yellowState = YS_IDLE;
        return;
    }
    const std::int64_t now = c.clock().now();
    if (f.blueFlagCar < kNoBlueFlag - 1 && now - f.blueFlagTime > 1) {
        c.RaiseEvent(22, f.blueFlagCar, e.playerName.c_str());
        f.blueFlagCar += kBlueReported;
    }
    const bool inSector = f.yellowSector < kSectors;
    if (f.yellowState == YS_REPORTED && now - f.yellowReportTime > 1) {
        ++f.yellowsConfirmed;
        if (inSector) ++yellowCars[f.yellowSector];
        c.ChangeSkillPoints(index, -7, 1);
        f.yellowState = YS_CONFIRMED;
        c.TeamLine(index, 1, c.LanguageLine(index, data::LB_TEAM, 30), 3000);
        c.RaiseEvent(6, 0, e.playerName.c_str());
    } else if (f.yellowState == YS_CLEARED && now - f.yellowClearTime > 1) {
        f.yellowSector = kNoSector;
        f.yellowState = YS_IDLE;
        c.TeamLine(index, 1, c.LanguageLine(index, data::LB_TEAM, 31), 3000);
    } else if (f.yellowState == YS_CONFIRMED && inSector) {
        ++yellowCars[f.yellowSector];
    }
}

}  // namespace

int TMX_MAIN::onFlag(const IS_FLG& flg) {
    int result = 0;
    const int index = ReportedDriver(flg.PLID, "FLG", result);
    if (index == -1) return result;
    debug(" ISP_FLG ->");
    debug("PId:%d, Idx:%d, Off/ON:%1d, flag:%1d ", flg.PLID, index, flg.OffOn, flg.Flag);
    if (flg.Flag == FLG_YELLOW && flg.OffOn == 1) {
        debug("\nDEBUG: FLG -> Yellow set");
        if (yellowsCount(*this, true)) yellowReported(*this, index);
    } else if (flg.Flag == FLG_YELLOW && flg.OffOn == 0 && entry(index).flags.yellowSector != kNoSector) {
        debug("\nDEBUG: FLG -> Yellow cleared");
        if (yellowsCount(*this, false)) yellowCleared(*this, index);
    } else if (flg.Flag == FLG_BLUE && flg.OffOn == 1) {
        debug("\nDEBUG: FLG -> Blue set");
        blueShown(*this, index, flg.CarBehind);
    } else if (flg.Flag == FLG_BLUE && flg.OffOn == 0) {
        debug("\nDEBUG: FLG -> Blue cleared");
        entry(index).flags.blueFlagCar = kNoBlueFlag;
    }
    return 0;
}

void TMX_MAIN::FlagTick() {
    const std::array<std::int8_t, kSectors> before = flagState.yellowCars;
    flagState.yellowCars = {};
    for (int i = 0; i < usedEntries; ++i) flagStep(*this, i, flagState.yellowCars);

    for (int sector = 0; sector < kSectors; ++sector) {
        const int cars = flagState.yellowCars[static_cast<std::size_t>(sector)];
        if (cars == before[static_cast<std::size_t>(sector)]) continue;
        debug("\nDEBUG: New yellowstate in sector %1d (yellows=%3d)\n", sector, cars);
        debug("\n\nDEBUG: Listening  ");
        if (cars < kSafetyCarYellows) continue;
        debug("DEBUG: The safety car should come!!!");
        debug("\n\nDEBUG: Listening  ");
        link->SendMessage("^7TMX: Safetycar should come. But the engine is blown!");
        if (session.raceState == RS_QUALIFYING || session.raceState == RS_RACE) {
            BroadcastSystem(0, "uhhh. Houston we have a problem", 10000);
            BroadcastSystem(1, "The safetycar should come. But the engine is blown.", 10000);
        }
    }
}

void TMX_MAIN::ClearFlags(int index) {
    if (index < 0 || index >= usedEntries) return;
    DriverFlags& f = entry(index).flags;
    f.yellowState = YS_IDLE;
    f.yellowSector = kNoSector;
    f.blueFlagCar = kNoBlueFlag;
}

}  // namespace tmx
