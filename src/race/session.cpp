// Session tracking: session starts, the grid order, the finish, track and
// pit-lane state, and the qualifying rules with their tick.
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

namespace {

// Seconds after a qualifying start before the start window counts.
constexpr std::int64_t kWindowDelay = 3;
// A qualifier done on track is called in after this many seconds.
constexpr std::int64_t kReturnDelay = 10;
// Seconds a waiting event monitor waits before it shows.
constexpr std::int64_t kMonitorWait = 8;
constexpr std::int64_t kMonitorWaitQualifying = 15;

bool hasCar(const data::cl_LfsPlayer& e) { return e.plid != 0; }

void setStatus(data::cl_LfsPlayer& e, DriverStatus status, DriverStatus previous) {
    e.race.previousDriverStatus = previous;
    e.race.driverStatus = status;
}

bool qualifyingRulesApply(const TMX_MAIN& c) {
    return c.session.raceState == RS_QUALIFYING && c.config.qtype == 1;
}

// A host command is a fixed command word followed by the driver's name.
void sendHostCommand(TMX_MAIN& c, const char* command, int index) {
    const std::string text = std::string(command) + c.entry(index).playerName.c_str();
    c.link->SendMessage(text.c_str());
}

void sendPrivateLine(TMX_MAIN& c, int index, data::LanguageBlockId block, int line) {
    c.link->SendPrivate(c.LanguageLine(index, block, line), c.entry(index).ucid, 0);
}

// The event monitor shows again once the driver has waited a while.
void waitForMonitor(TMX_MAIN& c, int index) {
    c.entry(index).display.monitorState = 1;
    c.entry(index).display.monitorTime = c.clock().now();
}

// A session start for a driver with a car: back to the pits, or onto the grid
// in a race, with nothing left over from the session before.
void startSessionFor(TMX_MAIN& c, int index, DriverStatus status, DriverStatus previous) {
    data::cl_LfsPlayer& e = c.entry(index);
    setStatus(e, status, previous);
    e.race.sessionLaps = 0;
    e.race.lastLapsDone = 0;
    e.race.splitsPassed = 0;
    e.position.pitBoard = PB_NOT_SHOWN;
    c.ResetCarReports(index);
    c.ClearPenalties(index);
}

// A new session of the city game: the race state stays 6.
void beginCitySession(TMX_MAIN& c) {
    c.OpenTrack();
    c.OpenPitLane();
    c.session.startPhase = SP_NONE;
    for (int i = 0; i < c.usedEntries; ++i) {
        if (hasCar(c.entry(i))) startSessionFor(c, i, DS_PITS, DS_GARAGE);
    }
    // The city places move to new addresses here once the city game has them.
    c.resync.flag = false;
    c.RefreshAllStatusBars();
}

void beginPractice(TMX_MAIN& c, const IS_RST& rst) {
    c.session.raceState = RS_PRACTICE;
    c.session.startPhase = SP_NONE;
    c.BroadcastSystemText(0, 15, 3000);
    c.debug("Practice startet. -> NumP:%d", rst.NumP);
    c.OpenTrack();
    c.OpenPitLane();
    c.RefreshAllStatusBars();
    for (int i = 0; i < c.usedEntries; ++i) {
        if (!hasCar(c.entry(i))) continue;
        startSessionFor(c, i, DS_PITS, DS_GARAGE);
        waitForMonitor(c, i);
    }
    c.resync.flag = false;
}

void beginQualifying(TMX_MAIN& c, const IS_RST& rst, std::int64_t now) {
    c.session.raceState = RS_QUALIFYING;
    c.session.startPhase = SP_NONE;
    if (c.config.qtype == 1) {
        c.BroadcastSystemText(0, 12, 8000);
        c.BroadcastSystemText(1, 13, 8000);
    } else {
        c.BroadcastSystemText(0, 11, 3000);
    }
    c.session.qualifyingStartTime = now;
    c.session.windowElapsed = 0;
    c.session.windowLastElapsed = 0;
    c.session.windowTicks = -3;
    if (c.config.qtype == 1) {
        const int minutes = c.config.qsessiontime == 0 ? 60 : c.config.qsessiontime;
        c.link->SendMessage(("/qual " + std::to_string(minutes)).c_str());
    }
    c.debug("Qualy startet. -> NumP:%d, Mins:%d", rst.NumP, rst.QualMins);
    c.OpenTrack();
    c.OpenPitLane();
    c.RefreshAllStatusBars();
    c.session.startWindowClosed = false;
    for (int i = 0; i < c.usedEntries; ++i) {
        DriverRace& r = c.entry(i).race;
        r.qualifyingLaps = 0;
        r.qualifyingTries = 0;
        r.qualifyingDone = false;
        if (!hasCar(c.entry(i))) continue;
        startSessionFor(c, i, DS_PITS, DS_GARAGE);
        waitForMonitor(c, i);
    }
    c.resync.flag = false;
}

void beginRace(TMX_MAIN& c, const IS_RST& rst, bool runningRaceReported) {
    c.session.raceState = RS_RACE;
    c.session.mostLapsDone = 0;
    c.session.lastLapAnnounced = false;
    c.BroadcastSystemText(0, 14, 3000);
    c.debug("Rennen startet. -> NumP:%d, Laps:%d", rst.NumP, rst.RaceLaps);
    c.OpenTrack();
    c.session.pitLaneAutoClosed = false;
    for (int i = 0; i < c.usedEntries; ++i) {
        data::cl_LfsPlayer& e = c.entry(i);
        if (!hasCar(e)) continue;
        // Every car starts from the grid: previous status 10 marks it.
        startSessionFor(c, i, DS_ON_TRACK, DS_PITSTOP_DONE);
        e.conduct.state = CS_GRID;
        e.pit.pitWindowUsed = {};
        e.display.monitorState = 0;
    }
    c.session.pitLaneClosed = c.config.startpitclose == 1;
    c.RefreshAllStatusBars();
    c.session.startPhase = SP_START_PENDING;
    if (!runningRaceReported) c.resync.flag = false;
}

}  // namespace

void TMX_MAIN::OpenTrack() { session.trackClosed = false; }
void TMX_MAIN::OpenPitLane() { session.pitLaneClosed = false; }

void TMX_MAIN::OpenTrackAndPitLane() {
    OpenPitLane();
    if (!(session.raceState == RS_QUALIFYING && config.qstartwindow > 0)) OpenTrack();
}

int TMX_MAIN::onRaceStart(const IS_RST& rst) {
    session.nodeCount = rst.NumNodes;
    session.finishNode = rst.Finish;
    // A session runs again: the status bar may be drawn.
    server.setupScreen = false;
    if (runRequest.load() == RUN_CONNECTING) {
        debug(" Init TMX\n");
        return 0;
    }
    // The answer to the session request of a handshake or resync (it carries
    // the request's id) reports a race that is already running: no start
    // procedure may begin on it. The flag stays set, so the loop cancels the
    // pending start and opens track and pit lane.
    const bool runningRaceReported = resync.flag && rst.ReqI != 0;

    link->ClearAll();
    const std::int64_t now = clock_.now();
    for (int i = 0; i < usedEntries; ++i) {
        DriverDisplay& d = entry(i).display;
        d.qualifyingButton = false;
        d.statusBarDrawn = false;
        d.displayFlag = false;
        d.monitorState = 1;
        d.monitorTime = now;
        d.watchTarget = data::kNoEntry;
        d.watchedBy = data::kNoEntry;
    }
    // The event list starts empty with the session.
    ClearEvents();

    if (session.raceState == RS_CITY) {
        beginCitySession(*this);
    } else if (rst.RaceLaps == 0 && rst.QualMins == 0) {
        beginPractice(*this, rst);
    } else if (rst.RaceLaps == 0) {
        beginQualifying(*this, rst, now);
    } else if (rst.QualMins == 0) {
        beginRace(*this, rst, runningRaceReported);
    }
    return 0;
}

int TMX_MAIN::onGridOrder(const IS_REO& reo) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    session.gridOrder = reo;
    if (start.gridOrderRequest == GR_REQUESTED) start.gridOrderRequest = GR_RECEIVED;
    return 0;
}

int TMX_MAIN::onFinish(const IS_FIN&) {
    if (runRequest.load() == RUN_CONNECTING || session.raceState != RS_RACE) return 0;
    session.raceState = RS_RACE_FINISHED;
    if (config.autotrackclose == 0) {
        session.pitLaneAutoClosed = false;
        if (session.pitLaneClosed) {
            OpenPitLane();
            RefreshAllStatusBars();
        }
    } else {
        session.trackClosed = true;
        OpenPitLane();
        RefreshAllStatusBars();
        BroadcastOrgaText(1, 4, 10000);
    }
    return 0;
}

void TMX_MAIN::MarkQualifyingDone(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.qualifyingDone) return;
    e.race.qualifyingDone = true;
    RaiseEvent(13, 0, e.playerName.c_str());
}

void TMX_MAIN::CheckQualifyingEnd() {
    if (!qualifyingRulesApply(*this)) return;
    int stillQualifying = 0;
    for (int i = 0; i < usedEntries; ++i) {
        const data::cl_LfsPlayer& e = entry(i);
        if (e.race.qualifyingDone) continue;
        if (e.race.driverStatus <= DS_PITSTOP_DONE && session.startWindowClosed)
            MarkQualifyingDone(i);
        else
            ++stillQualifying;
    }
    if (stillQualifying > 0) return;
    link->SendMessage("/qual 1");
    session.raceState = RS_QUALIFYING_CLOSED;
    OpenTrack();
    OpenPitLane();
    link->ClearAll();
    RefreshAllStatusBars();
    BroadcastOrgaText(0, 20, 8000);
    BroadcastOrgaText(1, 21, 8000);
}

// The lap limit, after the lap has been counted.
void TMX_MAIN::QualifyingLapLimit(int index) {
    if (!qualifyingRulesApply(*this) || config.qmaxlaps == 0) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus <= DS_PITS) return;
    ++e.race.qualifyingLaps;
    if (e.race.qualifyingLaps < config.qmaxlaps) {
        const int left = config.qmaxlaps - e.race.qualifyingLaps;
        if (left == 1) {
            TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 90), 6000);
        } else {
            const std::string count = std::to_string(left);
            const std::string text = fillPlaceholders(LanguageLine(index, data::LB_TEAM, 91), {count.c_str()});
            TeamLine(index, 1, text.c_str(), 6000);
        }
        return;
    }
    if (e.race.driverStatus < DS_ON_TRACK) {
        MarkQualifyingDone(index);
    } else if (config.qautospectate == 1) {
        sendHostCommand(*this, "/spec ", index);
        sendPrivateLine(*this, index, data::LB_TEAM, 93);
        setStatus(e, DS_SPECTATING, DS_RACING);
        MarkQualifyingDone(index);
        waitForMonitor(*this, index);
    } else {
        SystemLineText(index, 1, 42, 10000);
        TeamLine(index, 2, LanguageLine(index, data::LB_TEAM, 94), 10000);
        MarkQualifyingDone(index);
        e.race.qualifyingDoneTime = clock_.now();
    }
    CheckQualifyingEnd();
}

bool TMX_MAIN::ApplyQualifyingExitLimits(int index) {
    if (index < 0 || index >= usedEntries || !qualifyingRulesApply(*this)) return false;
    DriverRace& r = entry(index).race;
    if (config.qmaxlaps > 0 && r.qualifyingLaps >= config.qmaxlaps) {
        RefuseQualifyingExit(index, 40, -10, 18);
        return true;
    }
    if (config.qallowedtries > 0 && r.qualifyingTries >= config.qallowedtries) {
        RefuseQualifyingExit(index, 41, -10, 18);
        return true;
    }
    ++r.qualifyingTries;
    if (r.qualifyingTries == config.qallowedtries)
        TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 88), 10000);
    if (r.qualifyingLaps + 1 == config.qmaxlaps)
        TeamLine(index, 2, LanguageLine(index, data::LB_TEAM, 89), 10000);
    return false;
}

void TMX_MAIN::RefuseQualifyingExit(int index, int tmxmLine, int points, int reason) {
    if (index < 0 || index >= usedEntries) return;
    setStatus(entry(index), DS_PITS, DS_GARAGE);
    SystemLineText(index, 1, tmxmLine, 10000);
    SystemLineText(index, 2, 39, 10000);
    ChangeSkillPoints(index, points, reason);
    sendHostCommand(*this, "/pitlane ", index);
    MarkQualifyingDone(index);
    CheckQualifyingEnd();
    waitForMonitor(*this, index);
}

void TMX_MAIN::SessionTick() {
    if (!qualifyingRulesApply(*this)) return;
    const std::int64_t now = clock_.now();

    if (config.qstartwindow > 0 && !session.trackClosed) {
        session.windowElapsed = now - session.qualifyingStartTime - kWindowDelay;
        if (session.windowElapsed / 60 < config.qstartwindow) {
            if (session.windowElapsed != session.windowLastElapsed) {
                session.windowLastElapsed = session.windowElapsed;
                ++session.windowTicks;
                for (int i = 0; i < usedEntries; ++i) {
                    if (entry(i).race.driverStatus < DS_ON_TRACK) DrawStartWindowButton(i);
                }
            }
        } else {
            session.trackClosed = true;
            RefreshAllStatusBars();
            session.startWindowClosed = true;
            for (int i = 0; i < usedEntries; ++i) {
                if (entry(i).race.driverStatus >= DS_ON_TRACK) continue;
                OrgaLineText(i, 1, 19, 8000);
                MarkQualifyingDone(i);
            }
            for (int i = 0; i < usedEntries; ++i) link->Delete(entry(i).ucid, BG_WINDOW);
            CheckQualifyingEnd();
        }
    }

    if (!qualifyingRulesApply(*this) || config.qmaxlaps == 0) return;
    for (int i = 0; i < usedEntries; ++i) {
        data::cl_LfsPlayer& e = entry(i);
        if (e.race.driverStatus <= DS_PITSTOP_DONE || !e.race.qualifyingDone) continue;
        if (now - e.race.qualifyingDoneTime <= kReturnDelay) continue;
        sendHostCommand(*this, "/pitlane ", i);
        sendPrivateLine(*this, i, data::LB_TEAM, 93);
        setStatus(e, DS_PITS, DS_GARAGE);
        waitForMonitor(*this, i);
    }
}

void TMX_MAIN::MonitorDisplayTimers() {
    const std::int64_t wait = session.raceState == RS_QUALIFYING ? kMonitorWaitQualifying : kMonitorWait;
    const std::int64_t now = clock_.now();
    for (int i = 0; i < usedEntries; ++i) {
        DriverDisplay& d = entry(i).display;
        if (d.monitorState != 1 || now - d.monitorTime < wait) continue;
        d.monitorState = 2;
        d.monitorVersion = 0;
    }
}

}  // namespace tmx
