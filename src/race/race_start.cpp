// Race starts. A grand-prix start is LFS's own standing start: it is only
// announced. A rolling start is run here: the field drives one formation lap
// behind the leader at the pace speed, each driver with a standing
// instruction on screen, through four stages marked by the leader crossing
// nodes of the lap; too many cars out of order abort it and restart the race.
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "race/node_math.h"

namespace tmx {

using namespace insim;

namespace {

// The leader's raw speed above which the field has left the grid.
constexpr int kGridLeftSpeed = 300;
// An aborted start waits this long (seconds) before the race is restarted,
// and asks again after kRestartRetry seconds while LFS has not restarted it.
constexpr int kRestartDelay = 19;
constexpr int kRestartRetry = 10;
// Stage nodes, counted from the finish node.
constexpr int kHoldSpeedNodes = 25;
constexpr int kSpeedUpNodes = -50;
// Delay (seconds) of a penalty earned on the formation lap, once racing.
constexpr int kPenaltyDelayMin = 15, kPenaltyDelayMax = 75;

int mph(int kmh) { return static_cast<int>(kmh * 0.621); }

bool onTrack(const data::cl_LfsPlayer& e) {
    return e.race.driverStatus == DS_ON_TRACK || e.race.driverStatus == DS_RACING;
}

void sendTiny(TMX_MAIN& c, std::uint8_t subType) {
    IS_TINY tiny;
    tiny.ReqI = 1;
    tiny.SubT = subType;
    const RawPacket raw = encode(tiny);
    c.link->SendRaw(raw.data(), static_cast<int>(raw.size));
}

void hostCommand(TMX_MAIN& c, const char* command, const char* name) {
    const std::string line = std::string(command) + name;
    c.link->SendMessage(line.c_str());
}

void teamText(TMX_MAIN& c, int index, int line, int teamLine, std::int64_t lifetimeMs) {
    c.TeamLine(index, line, c.LanguageLine(index, data::LB_TEAM, teamLine), lifetimeMs);
}

// Table index of the car on a grid place, -1 when it is empty or unknown.
int carOn(TMX_MAIN& c, int slot) {
    const std::int32_t id = c.start.at(slot);
    return id > 0 ? c.FindIndex(-1, id) : -1;
}

// The player id on the grid place before slot (0 for none), the car an
// instruction to follow names.
int carBefore(const TMX_MAIN& c, int slot) {
    const std::int32_t id = slot > 1 ? c.start.at(slot - 1) : 0;
    return id > 0 ? id : 0;
}

// Clears every driver's part in an earlier start order, so that a stale grid
// place never counts in this one.
void leaveStartOrder(TMX_MAIN& c) {
    for (int i = 0; i < c.usedEntries; ++i) {
        DriverRolling& r = c.entry(i).rolling;
        r.state = RL_NONE;
        r.gridSlot = 0;
    }
}

// The start order (and race order) from the last grid order; cars on the
// grid are on track.
void buildStartOrder(TMX_MAIN& c, bool rebuilt) {
    const IS_REO& reo = c.session.gridOrder;
    c.start.order = StartState::emptyOrder();
    c.start.orderCount = 0;
    leaveStartOrder(c);
    if (reo.NumP == 0) return;
    const int cars = reo.NumP < kGridSlots ? reo.NumP : kGridSlots;
    for (int k = 0; k < cars; ++k) {
        const std::int32_t id = reo.PLID[static_cast<std::size_t>(k)] == 0 ? -1 : reo.PLID[static_cast<std::size_t>(k)];
        c.start.at(k + 1) = id;
        c.positions.raceOrder[static_cast<std::size_t>(k + 1)] = id;
        const int index = id > 0 ? c.FindIndex(-1, id) : -1;
        if (index == -1) {
            if (rebuilt) c.debug("\nDEBUG: Racesstart 2nd Reo -> wrong pid (index:%d)", k + 1);
            else c.debug("\nDEBUG: Creating startorder -> unknown pid");
            continue;
        }
        DriverRace& r = c.entry(index).race;
        if (r.driverStatus != DS_GARAGE) {
            r.previousDriverStatus = r.driverStatus;
            r.driverStatus = DS_ON_TRACK;
        }
    }
    c.start.orderCount = reo.NumP;
}

// A car takes its grid place in the rolling start.
void joinFormation(TMX_MAIN& c, int index, int slot) {
    data::cl_LfsPlayer& e = c.entry(index);
    e.rolling.state = RL_FORMATION_LAP;
    e.rolling.gridSlot = static_cast<std::uint8_t>(slot);
    e.rolling.leaderWarnings = 0;
    e.pit.pendingPenalty = PK_NONE;
}

void beginGrandPrix(TMX_MAIN& c) {
    c.debug("GP-Start \n");
    c.BroadcastSystemText(2, 27, 10000);
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        const int index = carOn(c, slot);
        if (index == -1) continue;
        data::cl_LfsPlayer& e = c.entry(index);
        teamText(c, index, 2, slot == 1 ? 32 : 33, 15000);
        e.rolling.state = RL_NONE;
        e.position.current = CompCar{};
        e.pit.pendingPenalty = PK_NONE;
        e.conduct.state = CS_GRID;
    }
    c.session.startPhase = SP_NONE;
    c.debug("\nDEBUG: Racestart -> Phase Ready \n");
}

void beginRollingStart(TMX_MAIN& c) {
    c.debug("RollingStart ");
    const std::string speed = std::to_string(c.config.rs_speed);
    const std::string speedMph = std::to_string(mph(c.config.rs_speed));
    c.BroadcastSystemText(3, 28, 10000);
    c.BroadcastSystemText(4, 29, 10000, speed.c_str(), speedMph.c_str());
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        const int index = carOn(c, slot);
        if (index == -1) continue;
        joinFormation(c, index, slot);
        c.entry(index).conduct.state = CS_GRID;
        const int plid = c.entry(index).plid;
        if (slot == 1) {
            teamText(c, index, 2, 46, 0);
            c.SetPace(plid, PM_LEADER_PACE, 0);
        } else {
            teamText(c, index, 2, 47, 0);
            c.SetPace(plid, PM_GRID_FOLLOW, carBefore(c, slot));
        }
    }
    c.session.startPhase = SP_ROLLING_FIRST;
    c.start.stageStartTime = c.clock().now();
    c.debug("\nDEBUG: Racestart -> start for inlap (Stage0) \n");
}

// ---- Start-order upkeep ------------------------------------------------------

// Should the car on a grid place leave the start order?
bool leavesStartOrder(TMX_MAIN& c, int index) {
    if (index == -1) return true;
    const data::cl_LfsPlayer& e = c.entry(index);
    if (e.rolling.state == RL_NONE) return false;
    return !onTrack(e) || (c.session.startPhase > SP_ROLLING_FIRST && e.position.lastPosition == 0);
}

// Takes the car off grid place slot; the cars behind move up one place.
void removeFromSlot(TMX_MAIN& c, int slot, int index) {
    if (index != -1) {
        data::cl_LfsPlayer& e = c.entry(index);
        e.rolling.state = RL_NONE;
        e.rolling.gridSlot = 0;
        e.pit.pendingPenalty = PK_NONE;
        c.SetPace(e.plid, PM_CLEAR, 0);
        e.conduct.state = CS_NORMAL;
    }
    for (int k = slot; k < kGridSlots; ++k) {
        c.start.at(k) = c.start.at(k + 1);
        const int moved = carOn(c, k);
        if (moved != -1) c.entry(moved).rolling.gridSlot = static_cast<std::uint8_t>(k);
    }
    c.start.at(kGridSlots) = -1;
}

void announceNewLeader(TMX_MAIN& c) {
    const int index = carOn(c, 1);
    if (index == -1) return;
    data::cl_LfsPlayer& e = c.entry(index);
    c.BroadcastOrgaText(1, 13, 6000, e.playerName.c_str());
    e.rolling.leaderWarnings = 0;
    if (c.session.startPhase <= SP_HOLD_SPEED) {
        teamText(c, index, 2, 46, 0);
        c.SetPace(e.plid, PM_LEADER_PACE, 0);
    } else {
        teamText(c, index, 2, 48, 0);
        c.SetPace(e.plid, PM_CLEAR, 0);
    }
}

// Drivers who left the race, went to the pits or have no place any more
// leave the start order. True when any did.
bool removeDepartedCars(TMX_MAIN& c) {
    bool changed = false;
    int slot = 1;
    while (slot <= kGridSlots) {
        if (c.start.at(slot) <= 0) {
            ++slot;
            continue;
        }
        const int index = carOn(c, slot);
        if (!leavesStartOrder(c, index)) {
            ++slot;
            continue;
        }
        changed = true;
        removeFromSlot(c, slot, index);
        if (slot == 1) {
            announceNewLeader(c);
        } else {
            const int moved = carOn(c, slot);
            if (moved != -1) {
                c.SetPace(c.entry(moved).plid, PM_FOLLOW, carBefore(c, slot));
                c.entry(moved).rolling.leaderWarnings = 0;
            }
        }
        // The place is looked at again: another car has moved into it.
    }
    return changed;
}

bool inStartOrder(const TMX_MAIN& c, int plid) {
    for (int slot = 1; slot <= kGridSlots; ++slot)
        if (c.start.at(slot) == plid) return true;
    return false;
}

// A driver on track who is not part of the start drove out of the pits (or
// joined) during it: he joins the end of the field, or, once the leader has
// started the race, goes back to the pits.
bool takeLateCars(TMX_MAIN& c) {
    bool changed = false;
    const int phase = c.session.startPhase;
    for (int i = 0; i < c.usedEntries; ++i) {
        data::cl_LfsPlayer& e = c.entry(i);
        if (e.plid == 0 || !onTrack(e) || e.rolling.state != RL_NONE || e.position.lastPosition == 0 ||
            inStartOrder(c, e.plid))
            continue;
        if (phase == SP_ROLLING_LAST) {
            changed = true;
            hostCommand(c, "/pitlane ", e.userName.c_str());
            e.race.previousDriverStatus = DS_GARAGE;
            e.race.driverStatus = DS_PITS;
            e.pit.pendingPenalty = PK_NONE;
            e.rolling.state = RL_NONE;
            c.OrgaLineText(i, 2, 16, 5000);
            e.display.monitorState = 1;
            e.display.monitorTime = c.clock().now();
            continue;
        }
        int last = 0;
        for (int slot = kGridSlots; slot >= 1; --slot)
            if (c.start.at(slot) > 0) {
                last = slot;
                break;
            }
        if (last >= kGridSlots) {
            c.debug("DEBUG: searching for newplayer error. data mismatch");
            continue;
        }
        changed = true;
        const int slot = last + 1;
        c.start.at(slot) = e.plid;
        joinFormation(c, i, slot);
        teamText(c, i, 2, phase == SP_SPEED_UP ? 49 : 47, 0);
        c.SetPace(e.plid, PM_FOLLOW, carBefore(c, slot));
    }
    return changed;
}

// Counts the field and notes every car's race position. False when the
// procedure is over because no car is left.
bool countField(TMX_MAIN& c) {
    int count = 0;
    bool emptyBefore = false;
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        if (c.start.at(slot) <= 0) {
            emptyBefore = true;
            continue;
        }
        if (emptyBefore) c.debug("\nDEBUG: count startorder, have a NULL between!?");
        ++count;
        const int index = carOn(c, slot);
        if (index == -1) {
            c.debug("\nDEBUG: count startorder,   wrong pid");
            continue;
        }
        c.entry(index).rolling.positionAtCheck = c.entry(index).position.lastPosition;
    }
    c.start.carsInOrder = count;
    if (count > 0) return true;
    c.session.startPhase = SP_NONE;
    c.BroadcastSystemText(0, 37, 6000);
    c.OpenPitLane();
    c.RefreshAllStatusBars();
    return false;
}

// The upkeep at the start of every stage step: true when the step may go on
// (nothing changed and the field is not empty).
bool upkeep(TMX_MAIN& c) {
    bool changed = removeDepartedCars(c);
    changed = takeLateCars(c) || changed;
    if (changed) return false;
    return countField(c);
}

// Every car of the start order checked once; false when too many were out
// of order and the start is aborted.
bool checkCars(TMX_MAIN& c) {
    c.start.orderErrors = 0;
    for (int slot = 1; slot <= kGridSlots; ++slot)
        if (c.start.at(slot) > 0) c.CheckCar(slot);
    if (c.start.orderErrors < c.config.maxerror) return true;
    c.session.startPhase = SP_RESTART_PENDING;
    c.BroadcastSystemText(4, 34, 12000);
    c.BroadcastSystemText(5, 35, 12000);
    c.BroadcastSystemText(6, 36, 12000);
    c.start.stageStartTime = c.clock().now();
    c.start.restartSentTime = 0;
    c.start.nextStart = ST_ROLLING;
    return false;
}

// Takes the new-positions flag: the later stages act once per update of the
// car reports.
bool takeNewPositions(TMX_MAIN& c) {
    if (!c.positions.newPositions) return false;
    c.positions.newPositions = 0;
    return true;
}

// A leader who has not moved when the time is up goes to spectate; his
// record is not saved and he gets no private lines.
void spectateStandingLeader(TMX_MAIN& c, int index) {
    data::cl_LfsPlayer& e = c.entry(index);
    e.race.previousDriverStatus = DS_ON_TRACK;
    e.race.driverStatus = DS_SPECTATING;
    c.BroadcastSystemText(0, 22, 8000, e.playerName.c_str());
    c.SetPace(e.plid, PM_CLEAR, 0);
    hostCommand(c, "/spec ", e.playerName.c_str());
    e.display.monitorState = 1;
    e.display.monitorTime = c.clock().now();
}

// The requested grid order has come: the start order is built anew from it
// and every car gets its instruction.
void takeRequestedGridOrder(TMX_MAIN& c) {
    c.start.gridOrderRequest = GR_TAKEN;
    c.debug("\nDEBUG: RaceStart -> got the requested Reo\n");
    buildStartOrder(c, true);
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        const int index = carOn(c, slot);
        if (index == -1) continue;
        joinFormation(c, index, slot);
        const int plid = c.entry(index).plid;
        if (slot == 1) {
            teamText(c, index, 2, 46, 6000);
            c.SetPace(plid, PM_LEADER_FAST, 0);
            // Time to get up to the pace before the leader timer counts.
            c.entry(index).rolling.pace.startTime += 15;
        } else {
            teamText(c, index, 2, 47, 6000);
            c.SetPace(plid, PM_FOLLOW, carBefore(c, slot));
        }
    }
}

// Stage 0: from the grid to just past the finish line.
void formationLapStage(TMX_MAIN& c) {
    if (!upkeep(c)) return;
    const int leader = carOn(c, 1);
    if (leader == -1) {
        c.debug("\nDEBUG: Racestart Stage0 -> unknown leader");
        return;
    }
    data::cl_LfsPlayer& l = c.entry(leader);
    const std::int64_t now = c.clock().now();
    if (c.start.gridOrderRequest == GR_IDLE && l.position.currentValid(l.plid)) {
        if (l.position.current.Speed > kGridLeftSpeed) {
            // The field is moving: the grid as LFS has it now is the start order.
            sendTiny(c, TINY_REO);
            c.start.gridOrderRequest = GR_REQUESTED;
            c.debug("\nDEBUG: RaceStart -> Request Reo send\n");
            return;
        }
        if (now - c.start.stageStartTime > c.config.starttime && c.server.multiplayer) {
            spectateStandingLeader(c, leader);
            c.start.stageStartTime = now;
        }
    }
    if (c.start.gridOrderRequest == GR_RECEIVED) takeRequestedGridOrder(c);
    if (c.start.gridOrderRequest != GR_TAKEN) return;
    if (!takeNewPositions(c)) return;
    if (!checkCars(c)) return;
    const int lead = carOn(c, 1);
    if (lead == -1 || !c.entry(lead).position.currentValid(c.entry(lead).plid)) return;
    if (c.Crossed(lead, wrapNode(c.session.finishNode + kHoldSpeedNodes, c.session.nodeCount))) {
        c.session.startPhase = SP_HOLD_SPEED;
        c.debug("\nDEBUG: Racestart -> Hold speed (Stage1) \n");
    }
}

// The leader of a later stage, -1 (with a debug line) when unknown.
int stageLeader(TMX_MAIN& c, const char* stage) {
    const int leader = carOn(c, 1);
    if (leader == -1) c.debug("\nDEBUG: Racestart %s -> unknown leader", stage);
    return leader;
}

// Stage 1: the field holds the pace until the last part of the lap.
void holdSpeedStage(TMX_MAIN& c) {
    if (!takeNewPositions(c) || !upkeep(c)) return;
    const int leader = stageLeader(c, "Stage1");
    if (leader == -1 || !checkCars(c)) return;
    const int node = wrapNode(c.session.finishNode + kSpeedUpNodes, c.session.nodeCount);
    if (!c.Crossed(leader, node)) return;
    c.BroadcastSystemText(8, 30, 5000);
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        if (c.start.at(slot) <= 0) continue;
        const int index = carOn(c, slot);
        if (index == -1) {
            c.debug("\nDEBUG: Racesstart InlapHoldSpeed -> wrong pid (index:%d)", slot);
            continue;
        }
        if (slot == 1) {
            teamText(c, index, 2, 48, 0);
            c.SetPace(c.entry(index).plid, PM_CLEAR, 0);
        } else {
            teamText(c, index, 2, 49, 0);
        }
        c.entry(index).rolling.leaderWarnings = 0;
    }
    c.session.startPhase = SP_SPEED_UP;
    c.debug("\nDEBUG: Racestart -> speed up for racestart (Stage2) \n");
}

// Stage 2: the field speeds up; the race starts when the leader takes the line.
void speedUpStage(TMX_MAIN& c) {
    if (!takeNewPositions(c) || !upkeep(c)) return;
    const int leader = stageLeader(c, "Stage2");
    if (leader == -1 || !checkCars(c)) return;
    if (!c.Crossed(leader, c.session.finishNode)) return;
    c.BroadcastSystemText(8, 31, 5000);
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        if (c.start.at(slot) <= 0) continue;
        const int index = carOn(c, slot);
        if (index == -1) {
            c.debug("\nDEBUG: Racesstart -> wrong pid (index:%d)", slot);
            continue;
        }
        if (slot == 1) {
            teamText(c, index, 2, 50, 8000);
            c.entry(index).rolling.state = RL_COMPLETED;
            c.SetPace(c.entry(index).plid, PM_CLEAR, 0);
        } else {
            teamText(c, index, 2, 51, 0);
        }
    }
    c.session.startPhase = SP_ROLLING_LAST;
    c.debug("\nDEBUG: Racestart -> wait for last (FINISHED) \n");
}

// Stage 3: the race runs; the start is over once the last car of the field
// has completed its formation lap.
void lastCarStage(TMX_MAIN& c) {
    if (!takeNewPositions(c) || !upkeep(c)) return;
    if (!checkCars(c)) return;
    for (int slot = 1; slot <= kGridSlots; ++slot) {
        const int index = carOn(c, slot);
        if (index == -1) continue;
        const data::cl_LfsPlayer& e = c.entry(index);
        if (e.rolling.state == RL_FORMATION_LAP && e.plid != 0 && e.race.driverStatus > DS_GARAGE) return;
    }
    c.session.startPhase = SP_NONE;
    c.BroadcastOrgaText(1, 12, 6000);
    c.debug("\nDEBUG: Racestart -> racestart over -> proceeding normal racing \n");
    const std::int64_t now = c.clock().now();
    for (int i = 0; i < c.usedEntries; ++i) {
        data::cl_LfsPlayer& e = c.entry(i);
        if (e.rolling.state != RL_COMPLETED) continue;
        e.rolling.state = RL_NONE;
        if (e.race.driverStatus <= DS_PITSTOP_DONE) continue;
        c.SetPace(e.plid, PM_CLEAR, 0);
        // A penalty earned on the formation lap comes a while into the race.
        if (e.pit.pendingPenalty != PK_NONE)
            e.pit.penaltyDue = now + c.random.between(kPenaltyDelayMin, kPenaltyDelayMax);
    }
}

}  // namespace

void TMX_MAIN::StartRace() {
    start.orderCount = 0;
    positions.raceOrder = PositionsState::emptyOrder();
    positions.trackOrder = PositionsState::emptyOrder();
    buildStartOrder(*this, false);
    start.gridOrderRequest = GR_IDLE;

    int kind = start.nextStart;
    if (kind != ST_NONE) {
        start.nextStart = ST_NONE;
    } else {
        kind = config.starttype;
        if (kind == ST_RANDOM) kind = random.between(1, 20) < 10 ? ST_GRAND_PRIX : ST_ROLLING;
    }
    if (kind != ST_GRAND_PRIX && kind != ST_ROLLING) kind = ST_GRAND_PRIX;

    if (kind == ST_GRAND_PRIX) beginGrandPrix(*this);
    else beginRollingStart(*this);
}

void TMX_MAIN::StartProcedureStep() {
    switch (session.startPhase) {
        case SP_START_PENDING:
            if (session.raceState == RS_RACE && !resync.flag && runRequest.load() != RUN_CONNECTING) StartRace();
            return;
        case SP_RESTART_PENDING: {
            // Once, not on every pass: a second "/restart" reaching LFS after
            // the first would restart the new race again.
            const std::int64_t now = clock_.now();
            if (now - start.stageStartTime > kRestartDelay &&
                (start.restartSentTime == 0 || now - start.restartSentTime >= kRestartRetry)) {
                link->SendMessage("/restart");
                start.restartSentTime = now;
            }
            return;
        }
        case SP_ROLLING_FIRST: formationLapStage(*this); return;
        case SP_HOLD_SPEED: holdSpeedStage(*this); return;
        case SP_SPEED_UP: speedUpStage(*this); return;
        case SP_ROLLING_LAST: lastCarStage(*this); return;
        default: return;
    }
}

// A player who joins while the field still stands on the grid is given a
// place at its end; once it has moved off he starts from the pits like
// everybody else who comes late, and joins the field when he is out on track.
bool TMX_MAIN::RollingStartTakesLateCars() const { return start.gridOrderRequest == GR_IDLE; }

bool TMX_MAIN::Crossed(int index, int node) const {
    if (index < 0 || index >= usedEntries || session.nodeCount <= 0) return false;
    const data::cl_LfsPlayer& e = entry(index);
    const DriverPosition& p = e.position;
    if (!p.currentValid(e.plid) || p.previous.Node == 0) return false;
    if (!(e.race.driverStatus > DS_GARAGE || e.race.driverStatus == DS_EARLY)) return false;
    return forwardNodes(p.previous.Node, node, session.nodeCount) <= 4 &&
           forwardNodes(node, p.current.Node, session.nodeCount) <= 4;
}

void TMX_MAIN::SpectateFromStart(int index, int tmxmLine, int privateLine, bool save) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    e.race.previousDriverStatus = DS_RACING;
    e.race.driverStatus = DS_SPECTATING;
    if (save && master) e.SaveCombination(*master);
    BroadcastSystemText(0, tmxmLine, 8000, e.playerName.c_str());
    SetPace(e.plid, PM_CLEAR, 0);
    hostCommand(*this, "/spec ", e.playerName.c_str());
    for (const char* text : {" ", LanguageLine(index, data::LB_TMXM, privateLine),
                             LanguageLine(index, data::LB_TMXM, 35), LanguageLine(index, data::LB_TMXM, 36)})
        sendPrivate(index, text);
    e.display.monitorState = 1;
    e.display.monitorTime = clock_.now();
}

}  // namespace tmx
