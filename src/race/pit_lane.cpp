// Pit lane and track: entries, exits, stops, pit windows and the automatic
// opening and closing of the pit lane.
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

namespace {

using data::cl_LfsPlayer;

void setStatus(cl_LfsPlayer& e, DriverStatus status) {
    e.race.previousDriverStatus = e.race.driverStatus;
    e.race.driverStatus = status;
}

void setStatus(cl_LfsPlayer& e, DriverStatus status, DriverStatus previous) {
    e.race.previousDriverStatus = previous;
    e.race.driverStatus = status;
}

bool onTrack(const cl_LfsPlayer& e) {
    return e.race.driverStatus == DS_ON_TRACK || e.race.driverStatus == DS_RACING;
}

bool qualifyingRules(const TMX_MAIN& c) {
    return c.session.raceState == RS_QUALIFYING && c.config.qtype == 1;
}

bool startWindowRules(const TMX_MAIN& c) {
    return qualifyingRules(c) && c.config.qstartwindow > 0;
}

// After the race or the qualifying, leaving onto a closed track costs no skill.
bool sessionOver(const TMX_MAIN& c) {
    return c.session.raceState == RS_RACE_FINISHED || c.session.raceState == RS_QUALIFYING_CLOSED;
}

// A qualifier who has used up his laps or his tries (a limit of 0 is none).
bool qualifyingLimitReached(const TMX_MAIN& c, const cl_LfsPlayer& e) {
    return (c.config.qmaxlaps > 0 && e.race.qualifyingLaps >= c.config.qmaxlaps) ||
           (c.config.qallowedtries > 0 && e.race.qualifyingTries >= c.config.qallowedtries);
}

const char* teamText(TMX_MAIN& c, int index, int line) {
    return c.LanguageLine(index, data::LB_TEAM, line);
}

// A host command is a fixed command word followed by the driver's name.
void hostCommand(TMX_MAIN& c, const char* command, int index) {
    const std::string text = std::string(command) + c.entry(index).playerName.c_str();
    c.link->SendMessage(text.c_str());
}

void privateLine(TMX_MAIN& c, int index, int tmxmLine) {
    c.link->SendPrivate(c.LanguageLine(index, data::LB_TMXM, tmxmLine), c.entry(index).ucid, 0);
}

// What a driver is told after a breach that queued a penalty.
void announceBreach(TMX_MAIN& c, int index, int tmxmLine) {
    privateLine(c, index, tmxmLine);
    privateLine(c, index, 26);
    c.OrgaLineText(index, 3, 11, 8000);
}

// The event monitor shows again once the driver has waited a while.
void monitorFromNow(TMX_MAIN& c, int index) {
    c.entry(index).display.monitorState = 1;
    c.entry(index).display.monitorTime = c.clock().now();
}

void markDone(TMX_MAIN& c, int index) {
    c.MarkQualifyingDone(index);
    c.CheckQualifyingEnd();
}

// A qualifier at his lap or try limit enters the pit lane: he is done.
void qualifyingLimitAtEntry(TMX_MAIN& c, int index) {
    if (!qualifyingLimitReached(c, c.entry(index))) return;
    c.TeamLine(index, 2, teamText(c, index, 92), 10000);
    markDone(c, index);
    if (c.session.raceState != RS_QUALIFYING_CLOSED) c.OrgaLineText(index, 3, 22, 10000);
}

// The tries and laps a special qualifier has left, when he takes his car.
void showQualifyingAllowance(TMX_MAIN& c, int index) {
    const cl_LfsPlayer& e = c.entry(index);
    c.TeamLine(index, 0, teamText(c, index, 82), 12000);
    int line = 1;
    bool used = false;
    const auto showLeft = [&](int limit, int taken, int leftLine, int noneLine) {
        // No limit, nothing to count down.
        if (limit == 0) return;
        const int left = limit - taken;
        if (left > 0) {
            const std::string value = std::to_string(left);
            const std::string text =
                fillPlaceholders(teamText(c, index, leftLine), {value.c_str()});
            c.TeamLine(index, line, text.c_str(), 12000);
        } else {
            c.TeamLine(index, line, teamText(c, index, noneLine), 12000);
            used = true;
        }
        ++line;
    };
    showLeft(c.config.qallowedtries, e.race.qualifyingTries, 83, 84);
    showLeft(c.config.qmaxlaps, e.race.qualifyingLaps, 85, 86);
    if (used) {
        markDone(c, index);
        c.OrgaLineText(index, 3, 22, 10000);
    }
}

}  // namespace

// ---- IS_PLA ------------------------------------------------------------------------

namespace {

void pitExit(TMX_MAIN& c, int index) {
    cl_LfsPlayer& e = c.entry(index);
    if (startWindowRules(c)) c.link->Delete(e.ucid, BG_WINDOW);
    if (e.race.driverStatus == DS_PITS) c.link->Delete(e.ucid, BG_TEAM);
    e.pit.pitEntryLap = -1;
    e.pit.closedExitCaught = false;
    // The city game forgives an LFS penalty at the pit exit.
    if (c.isCity() && e.pit.lfsPenalty != 0) {
        c.ClearPenalties(index);
        c.GivePenalty(index);
    }
    if (e.race.driverStatus == DS_EARLY) {
        setStatus(e, DS_PITS, DS_SPECTATING);
        e.race.sessionLaps = 0;
    }
    c.DrawPitWindowButton(index);

    if (c.session.trackClosed) {
        if (startWindowRules(c)) {
            c.RefuseQualifyingExit(index, 38, -15, 11);
        } else if (e.race.driverStatus == DS_PITSTOP_DONE || e.race.driverStatus == DS_PITLANE) {
            // Out of the pit lane he was told to stay in: punished, not sent back.
            c.TeamLine(index, 1, teamText(c, index, 11), 8000);
            setStatus(e, DS_ON_TRACK);
            if (!sessionOver(c)) c.ChangeSkillPoints(index, -15, 11);
            c.QueuePenalty(index, PK_CLOSED_TRACK_EXIT);
            announceBreach(c, index, 18);
            c.RaiseEvent(0, 0, e.playerName.c_str());
        } else {
            setStatus(e, DS_PITS, DS_GARAGE);
            c.SystemLineText(index, 1, 2, 15000);
            if (!sessionOver(c)) c.ChangeSkillPoints(index, -15, 11);
            hostCommand(c, "/pitlane ", index);
            monitorFromNow(c, index);
        }
        return;
    }

    // A refused qualifier stays in the pits: no welcome onto the track.
    const bool refused = c.ApplyQualifyingExitLimits(index);
    c.DrawStatusBar(index);
    if (refused) return;
    const DriverStatus previous = e.race.previousDriverStatus;
    if (previous == DS_SPECTATING || previous == DS_GARAGE || previous == DS_CONNECTED) {
        if (!c.isCity()) c.TeamLine(index, 0, teamText(c, index, 9), 5000);
        setStatus(e, DS_ON_TRACK);
        e.race.sessionLaps = 0;
        c.RaiseEvent(0, 0, e.playerName.c_str());
        if (previous == DS_CONNECTED) c.OrgaLineText(index, 1, 8, 20000);
    } else if (e.race.driverStatus == DS_PITSTOP_DONE || e.race.driverStatus == DS_RACING ||
               e.race.driverStatus == DS_PITLANE) {
        const bool fromPitLane = e.race.driverStatus == DS_PITLANE;
        c.TeamLine(index, 0, teamText(c, index, 10), 5000);
        if (fromPitLane)
            setStatus(e, DS_ON_TRACK, DS_PITSTOP_DONE);
        else
            setStatus(e, DS_ON_TRACK);
        c.DrawPitWindowButton(index);
        c.RaiseEvent(0, 0, e.playerName.c_str());
    }
}

// A driver on track drives into the pit lane to stop or to pass through.
void pitLaneFromTrack(TMX_MAIN& c, int index) {
    cl_LfsPlayer& e = c.entry(index);
    c.RaiseEvent(1, 0, e.playerName.c_str());
    if (c.session.pitLaneClosed) {
        c.TeamLine(index, 0, teamText(c, index, 14), 8000);
        setStatus(e, DS_PITLANE);
        if (qualifyingRules(c)) {
            qualifyingLimitAtEntry(c, index);
        } else {
            c.ChangeSkillPoints(index, -5, 10);
            c.QueuePenalty(index, PK_CLOSED_PIT_ENTRY);
            announceBreach(c, index, 17);
        }
    } else {
        c.TeamLine(index, 0, teamText(c, index, 12), 5000);
        if (c.session.trackClosed) {
            c.TeamLine(index, 1, teamText(c, index, 13), 10000);
            if (startWindowRules(c)) markDone(c, index);
        }
        setStatus(e, DS_PITLANE);
        if (qualifyingRules(c)) qualifyingLimitAtEntry(c, index);
    }
    c.DrawStatusBar(index);
}

// A driver coming out of the garage into his pit box.
void pitBoxFromGarage(TMX_MAIN& c, int index) {
    cl_LfsPlayer& e = c.entry(index);
    c.DrawStatusBar(index);
    if (c.session.pitLaneClosed) c.TeamLine(index, 0, teamText(c, index, 6), 8000);
    if (!c.isCity() && !qualifyingRules(c)) {
        const int rank = c.ServerRank(index);
        if (rank >= 0) {
            const std::string text = std::string(teamText(c, index, 95)) + std::to_string(rank + 1);
            c.TeamLine(index, 1, text.c_str(), 5000);
        } else {
            c.TeamLine(index, 1, teamText(c, index, 96), 5000);
        }
    }
    if (c.session.trackClosed) {
        if (startWindowRules(c)) {
            c.TeamLine(index, 0, teamText(c, index, 82), 10000);
            c.TeamLine(index, 1, teamText(c, index, 87), 10000);
            markDone(c, index);
            c.OrgaLineText(index, 3, 22, 30000);
        } else {
            c.TeamLine(index, 0, teamText(c, index, 3), 10000);
        }
    } else if (e.race.driverStatus == DS_PITS) {
        if (c.isCity()) {
            // The city game greets its drivers with their job in its own display;
            // the stint starts its laps from 0 all the same.
            e.race.sessionLaps = 0;
        } else if (qualifyingRules(c)) {
            showQualifyingAllowance(c, index);
        } else {
            int welcome = -1;
            switch (e.race.previousDriverStatus) {
                case DS_GARAGE:
                    welcome = 2;
                    break;
                case DS_SPECTATING:
                    welcome = 1;
                    break;
                case DS_CONNECTED:
                    welcome = 0;
                    break;
                default:
                    break;
            }
            if (welcome >= 0 && !c.session.pitLaneClosed)
                c.TeamLine(index, 0, teamText(c, index, welcome), 5000);
            e.race.sessionLaps = 0;
            const ServerKind kind = c.server.serverKind;
            if (c.config.skillsystem &&
                (kind == SK_HOST_DRIVES || kind == SK_DEDICATED || kind == SK_MULTI_REPLAY)) {
                const std::string text = std::string(teamText(c, index, 97)) +
                                         std::to_string(e.skillPoints) + teamText(c, index, 98) +
                                         std::to_string(c.StoredSkill(e.ucid, e.plid)) + " )";
                c.TeamLine(index, 2, text.c_str(), 5000);
            }
        }
    }
    monitorFromNow(c, index);
}

}  // namespace

int TMX_MAIN::onPitLane(const IS_PLA& pla) {
    int result = 0;
    const int index = ReportedDriver(pla.PLID, "PLA", result);
    if (index == -1) return result;
    if (pla.Fact == PITLANE_EXIT) {
        pitExit(*this, index);
        return 0;
    }
    if (pla.Fact > PITLANE_SG) return 0;

    data::cl_LfsPlayer& e = entry(index);
    e.pit.pitEntryLap = e.race.lastLapsDone + 1;
    if (e.race.driverStatus == DS_EARLY) {
        e.race.sessionLaps = 0;
    } else if (onTrack(e)) {
        if (pla.Fact == PITLANE_ENTER || pla.Fact == PITLANE_NO_PURPOSE) {
            pitLaneFromTrack(*this, index);
        } else {
            // A penalty drive is no pit stop: it counts for no pit window.
            TeamLine(index, 1, teamText(*this, index, pla.Fact == PITLANE_SG ? 8 : 7), 8000);
            e.pit.pitEntryLap = -1;
            RaiseEvent(1, 0, e.playerName.c_str());
        }
    } else {
        pitBoxFromGarage(*this, index);
    }
    return 0;
}

// ---- IS_PIT, IS_PSF ----------------------------------------------------------------

int TMX_MAIN::onPitStop(const IS_PIT& pit) {
    int result = 0;
    const int index = ReportedDriver(pit.PLID, "PIT", result);
    if (index == -1) return result;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus == DS_EARLY) {
        e.race.sessionLaps = 0;
    } else if (e.race.driverStatus == DS_PITS) {
        TeamLine(index, 0, teamText(*this, index, 15), 3000);
    } else {
        link->Delete(e.ucid, BG_TEAM);
        setStatus(e, DS_PITSTOP);
    }
    return 0;
}

int TMX_MAIN::onPitStopDone(const IS_PSF& psf) {
    int result = 0;
    const int index = ReportedDriver(psf.PLID, "PSF", result);
    if (index == -1) return result;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus == DS_EARLY) {
        e.race.sessionLaps = 0;
        return 0;
    }
    if (e.race.driverStatus == DS_PITS) return 0;

    setStatus(e, DS_PITSTOP_DONE);
    link->Delete(e.ucid, BG_TEAM);
    if (session.trackClosed) {
        TeamLine(index, 1, teamText(*this, index, 13), 10000);
        if (startWindowRules(*this)) markDone(*this, index);
    }

    const data::PitWindows& windows = config.pitwindow;
    const int lap = e.pit.pitEntryLap;
    const bool checked = session.raceState == RS_RACE && windows.count >= 1 && lap > 1;
    if (checked) {
        for (int w = 0; w < windows.count && w < data::kMaxPitWindows; ++w) {
            const auto slot = static_cast<std::size_t>(w);
            if (windows.from[slot] <= lap && lap <= windows.to[slot]) {
                e.pit.pitWindowUsed[slot] = PW_STOPPED;
                TeamLine(index, 0, teamText(*this, index, 17), 5000);
                link->Delete(e.ucid, BG_WINDOW);
                RaiseEvent(12, psf.STime, e.playerName.c_str());
                return 0;
            }
        }
    }
    RaiseEvent(2, psf.STime, e.playerName.c_str());
    TeamLine(index, 0, teamText(*this, index, checked ? 18 : 16), 5000);
    return 0;
}

// ---- Laps and splits ---------------------------------------------------------------

void TMX_MAIN::PitWindowsAtLap(int index, const IS_LAP& lap) {
    if (index < 0 || index >= usedEntries) return;
    if (session.raceState != RS_RACE || entry(index).race.driverStatus != DS_RACING) return;
    data::cl_LfsPlayer& e = entry(index);
    const data::PitWindows& windows = config.pitwindow;
    const int begun = lap.LapsDone + 1;
    for (int w = 0; w < windows.count && w < data::kMaxPitWindows; ++w) {
        const auto slot = static_cast<std::size_t>(w);
        const bool open = e.pit.pitWindowUsed[slot] == PW_OPEN;
        if (begun == windows.to[slot] + 1 && open && !e.ai) {
            TeamLine(index, 2, teamText(*this, index, 43), 8000);
            QueuePenalty(index, PK_MISSED_WINDOW);
            announceBreach(*this, index, 19);
            e.pit.pitWindowUsed[slot] = PW_MISSED;
            return;
        }
        if (begun == windows.from[slot]) {
            TeamLine(index, 2, teamText(*this, index, 45), 8000);
            return;
        }
        if (begun == windows.to[slot] && open) {
            TeamLine(index, 2, teamText(*this, index, 44), 8000);
            return;
        }
    }
}

void TMX_MAIN::AutoPitLaneAtLap(int index, const IS_LAP& lap) {
    if (index < 0 || index >= usedEntries) return;
    if (session.raceState != RS_RACE || session.startPhase != SP_NONE) return;
    if (session.pitLaneClosed && !session.pitLaneAutoClosed) {
        const int rule = config.autoopenpit;
        const bool open = rule < 0 ? session.mostLapsDone >= static_cast<std::uint32_t>(-rule)
                                   : rule > 0 && session.mostLapsDone > 0;
        if (open) {
            OpenPitLane();
            BroadcastOrga(2, "^3Orga: The pitlane is open now!", 10000);
            RefreshAllStatusBars();
        }
    }
    if (!session.pitLaneClosed && !session.pitLaneAutoClosed) {
        const int raceLaps = server.lastState.RaceLaps;
        if (raceLaps >= 1 && raceLaps <= 99 && lap.LapsDone > 2 &&
            raceLaps - lap.LapsDone <= config.autopitclose) {
            session.pitLaneClosed = true;
            session.pitLaneAutoClosed = true;
            RefreshAllStatusBars();
            BroadcastOrgaText(2, 2, 10000);
        }
    }
}

void TMX_MAIN::AutoPitLaneAtSplit(int index, const IS_SPX& spx) {
    if (index < 0 || index >= usedEntries) return;
    if (session.raceState == RS_RACE && session.startPhase == SP_NONE && config.autoopenpit > 0 &&
        spx.Split == config.autoopenpit && session.pitLaneClosed && !session.pitLaneAutoClosed) {
        OpenPitLane();
        BroadcastOrgaText(2, 10, 8000);
        RefreshAllStatusBars();
    }
    if (spx.Split >= session.highestSplit && session.trackClosed &&
        session.raceState != RS_QUALIFYING)
        TeamLine(index, 1, teamText(*this, index, 24), 10000);
}

// ---- The race tick ------------------------------------------------------------------

void TMX_MAIN::ClosedPitLaneExitCheck(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus != DS_PITS || !session.pitLaneClosed) return;
    if (e.pit.pendingPenalty == PK_CLOSED_PIT_EXIT || e.pit.closedExitCaught) return;
    if (!e.position.currentValid(e.plid)) return;
    // Raw speed x 0.0109 km/h, truncated: more than 2 km/h is driving off.
    const int kmh = static_cast<int>(e.position.current.Speed) * 109 / 10000;
    if (kmh <= 2) return;

    e.pit.closedExitCaught = true;
    ChangeSkillPoints(index, -5, 10);
    if (session.raceState == RS_RACE || session.raceState == RS_RACE_FINISHED) {
        TeamLine(index, 1, teamText(*this, index, 5), 8000);
        QueuePenalty(index, PK_CLOSED_PIT_EXIT);
        announceBreach(*this, index, 16);
    } else {
        if (master) e.SaveCombination(*master);
        hostCommand(*this, "/spec ", index);
        SystemLineText(index, 1, 3, 15000);
        TeamLine(index, 0, teamText(*this, index, 4), 5000);
        monitorFromNow(*this, index);
    }
}

}  // namespace tmx
