// The connection and player table: lookups, joins, leaves, renames, take-overs
// and car resets. A handler that finds the table out of step with the server
// stops the controller rather than guess.
#include <string>

#include "controller/tmx_main.h"
#include "master/master_control.h"

namespace tmx {

using namespace insim;

namespace {

const char* leaveReason(std::uint8_t reason) {
    switch (reason) {
        case LEAVR_DISCO: return "Disconnect";
        case LEAVR_TIMEOUT: return "Timeout";
        case LEAVR_LOSTCONN: return "lost connection";
        case LEAVR_KICKED: return "Kicked";
        case LEAVR_BANNED: return "banned";
        case LEAVR_SECURITY: return "cheat protection";
        default: return "unknown cause";
    }
}
}  // namespace

int TMX_MAIN::FindIndex(int ucid, int plid) const {
    if (ucid < 0 && plid < 0) return -1;
    // PLID 0 means "no player": it never identifies a player on its own.
    if (ucid < 0 && plid == 0) return -1;
    for (int i = 0; i < usedEntries; ++i) {
        const data::cl_LfsPlayer& e = entry(i);
        if (ucid >= 0 && e.ucid != ucid) continue;
        if (plid >= 0 && e.plid != plid) continue;
        return i;
    }
    return -1;
}

int TMX_MAIN::ReportedDriver(int plid, const char* packetName, int& result) {
    result = 0;
    if (runRequest.load() == RUN_CONNECTING) return -1;
    if (refused.player(static_cast<std::uint8_t>(plid))) return -1;
    const int index = FindIndex(-1, plid);
    if (index == -1) {
        console_.out("\nTMX: %s -> unknown player - database mismatch\nTerminating ....\n", packetName);
        runRequest = RUN_ERROR;
        result = -1;
    }
    return index;
}

void TMX_MAIN::sendPrivate(int index, const char* text) {
    link->SendPrivate(text, entry(index).ucid, 0);
}

void TMX_MAIN::becomeActiveIfIdle() {
    std::int32_t idle = ACT_IDLE;
    activity.compare_exchange_strong(idle, ACT_ACTIVE);
}

// Removes the entry at index and closes the gap. Later entries keep their
// order, so a connection's own entry always stays before its extra (AI)
// entries; watch links that point behind the gap follow their entries.
void TMX_MAIN::freeEntry(int index) {
    // The entry's hold on its database entry goes with it: the last
    // connection to leave lets a cleaning free the database entry.
    if (master) master->ReleaseEntry(entry(index));
    for (int i = index; i + 1 < usedEntries; ++i) entry(i) = entry(i + 1);
    const int last = usedEntries - 1;
    entry(last).Reset(clock_.now());
    entry(last).ucid = data::kNoEntry;
    entry(last).plid = data::kNoEntry;
    --usedEntries;
    for (int i = 0; i < usedEntries; ++i) {
        for (std::uint8_t* link : {&entry(i).display.watchTarget, &entry(i).display.watchedBy}) {
            if (*link == data::kNoEntry) continue;
            if (*link == index) *link = data::kNoEntry;
            else if (*link > index) --*link;
        }
    }
}

// What a new connection is told in chat once the controller runs.
void TMX_MAIN::sendRunningNotice(int index) {
    if (!isCity()) {
        sendPrivate(index, "^2LFS Trackmarshal is running");
        sendPrivate(index, "^2--------------------------------");
        sendPrivate(index, "^3enter #lang to find your language");
        sendPrivate(index, "^7enter #help for commands");
        sendPrivate(index, "^7enter #info for sessioninfos");
        sendPrivate(index, "^7enter #chatlevel to reduce textoutput");
        sendPrivate(index, "^7(Don't switch off insimbuttons [see manual])");
        if (session.pitLaneClosed) sendPrivate(index, LanguageLine(index, data::LB_TMXM, 3));
    } else {
        sendPrivate(index, "^2LFS Cityrun is running");
        sendPrivate(index, "^7(Powered by TMX)");
        sendPrivate(index, "^7enter #help for commands");
        sendPrivate(index, "^7(Don't switch off insimbuttons [see manual])");
    }
}

// A driver whose stored skill is below the server's minimum is told so and
// kicked, unless he is an admin; true when he was kicked.
bool TMX_MAIN::kickForSkill(int index) {
    if (isCity() || !config.skillsystem) return false;
    const data::cl_LfsPlayer& e = entry(index);
    const int skill = StoredSkill(e.ucid, e.plid);
    if (skill < minimumSkill) {
        sendPrivate(index, skillKickText.c_str());
        const std::string told = "^7TMX: ^1Your skill: " + std::to_string(skill) +
                                 ", needed skill: " + std::to_string(minimumSkill);
        sendPrivate(index, told.c_str());
        if (!e.admin) {
            const std::string kick = std::string("/kick ") + e.userName.c_str();
            link->SendMessage(kick.c_str());
            return true;
        }
        sendPrivate(index, "^7TMX: Your luck. You are an admin. puuh.");
    }
    return false;
}

// The welcome on the system channel: by name for a returning driver.
void TMX_MAIN::welcome(int index, bool returning) {
    const data::cl_LfsPlayer& e = entry(index);
    if (returning)
        SystemLineText(index, 5, 0, 15000, e.playerName.c_str());
    else
        SystemLine(index, 5, "Welcome here! Please have a look on active settings!", 15000);
    SystemLine(index, 6, "^7Enter ^3#info^7 to get active serversettings", 15000);
    SystemLine(index, 7,
               returning ? "Find news and help in the forum of this server's community"
                         : "^7Find news and help in the ^3forum^7 of this server's community",
               15000);
}

int TMX_MAIN::onNewConnection(const IS_NCN& ncn) {
    if (FindIndex(ncn.UCID, -1) != -1) {
        console_.out("\nTMX: IS_NCL -> DatabaseMismatch - UCID known\nTerminating.......");
        runRequest = RUN_ERROR;
        return -1;
    }
    if (usedEntries >= kTableSize) {
        // LFS allows fewer connections than the table holds; never grow past it.
        console_.out("\nTMX: IS_NCN -> table full, connection %d not taken", ncn.UCID);
        refused.refuseConnection(ncn.UCID);
        return 0;
    }
    refused.connectionLeft(ncn.UCID);  // reported again with room for it: taken now

    const int index = usedEntries;
    data::cl_LfsPlayer& e = entry(index);
    e.Reset(clock_.now());
    e.playerName.assign(ncn.PName.view());
    e.userName.assign(ncn.UName.view());
    e.ucid = ncn.UCID;
    e.plid = 0;
    e.race.previousDriverStatus = DS_NONE;
    e.race.driverStatus = DS_CONNECTED;
    e.lastNcn = ncn;
    e.admin = ncn.Admin;
    e.ai = 0;

    if (debugOn()) {
        if (runRequest.load() != RUN_CONNECTING) console_.out("IS_NCN");
        console_.out("\nDEBUG: UCID:%d,PLID: %d, Admin:%d", e.ucid, e.plid, e.admin);
        console_.out("\n       UName :%s", e.userName.c_str());
        console_.out(" , PName :%s", e.playerName.c_str());
        console_.out("\n       Connections:%d, Index:%d", connections + 1, usedEntries + 1);
    }
    ++connections;
    ++usedEntries;
    if (runRequest.load() != RUN_CONNECTING && !e.isHost())
        console_.note("Server %d: %s (%s) joined", slot, e.userName.c_str(), e.playerName.c_str());

    int databaseResult = 0;
    if (!e.isHost()) {
        if (master) databaseResult = e.LoadFromDatabase(*master);
        if (databaseResult == 5) debug("\nNCN: playerdata is in use (DB)!!??\n");
    } else {
        e.databaseEntry = &hostDummyEntry;
        hostDummyEntry.onlineCount = 1;
        e.display.monitorState = 0;
    }

    if (LoadPlayerLanguage(e.ucid, e.plid) == -1 && server.serverKind != SK_MULTI_REPLAY &&
        resync.phase != RP_CONNECTIONS) {
        sendPrivate(index, " ");
        sendPrivate(index, "MCP: coudlnt find your language. Set to 'ori'");
    }
    if (index == 0 && runRequest.load() == RUN_CONNECTING) serverLanguage = e.language;

    const bool running = runRequest.load() != RUN_CONNECTING;
    if (running && resync.phase == RP_NONE) sendRunningNotice(index);

    if (kickForSkill(index)) return 0;

    if (running) {
        PlaceInCity(index);
        e.connectTime = clock_.now();
    }

    if (resync.phase == RP_NONE) welcome(index, databaseResult == 2);

    if (!isCity()) {
        e.display.monitorState = 1;
        e.display.monitorTime = clock_.now();
    }
    if (!server.multiplayerEnded && session.raceState != RS_NONE && !isCity()) DrawStatusBar(index);
    if (usedEntries > 1 && players >= 1) becomeActiveIfIdle();
    return 0;
}

// The entry a joining player gets: his connection's own when it has no
// player yet (and he is no AI), else a new entry copied from it. Returns its index.
int TMX_MAIN::takePlayerEntry(int connection, const IS_NPL& npl, bool isAi) {
    int index = connection;
if (entry(connection).plid == 0 && !isAi) {
    data::cl_LfsPlayer& e = entry(connection);
    e.race.previousDriverStatus = e.race.driverStatus;
    e.race.driverStatus = DS_PITS;
    e.plid = npl.PLID;
    e.playerName.assign(npl.PName.view());
    e.car.assign(npl.CName.view());
    ++players;
    e.ResetRaceData();
    debug("\nDEBUG: NPL -> added first player for connection");
} else {
    index = usedEntries;
    data::cl_LfsPlayer& e = entry(index);
    e = entry(connection);
    // The copy keeps its own hold, so the database entry stays while
    // either of them is in the table.
    e.holdsEntry = false;
    if (entry(connection).holdsEntry && master) master->HoldEntry(e);
    e.playerName.assign(npl.PName.view());
    e.car.assign(npl.CName.view());
    e.race.previousDriverStatus = DS_CONNECTED;
    e.race.driverStatus = DS_PITS;
    e.plid = npl.PLID;
    ++usedEntries;
    ++players;
    e.ResetRaceData();
    debug("\nDEBUG: NPL -> added a new index (no empty connection)");
}
    return index;
}

// A known player takes his car again after the garage.
void TMX_MAIN::returnFromGarage(int known, const IS_NPL& npl) {
    data::cl_LfsPlayer& e = entry(known);
    link->DeleteGroup(BG_INFO, e.ucid);
    ResetCityJob(known);
    debug("\nDEBUG: NPL ->%s left the carsetup", e.userName.c_str());
    e.race.previousDriverStatus = DS_GARAGE;
    e.race.driverStatus = DS_PITS;
    e.car.assign(npl.CName.view());
    if (isCity()) CityCarCheck(known);
    e.ResetRaceData();
    SetJoinValues(known);
    if (master) e.LoadCombination(*master, server.currentTrack.c_str());
    CheckCarSet();
    e.position.reportReceived = 0;
    if (usedEntries > 0 && players > 0) becomeActiveIfIdle();
    if (session.raceState == RS_RACE && session.startPhase == SP_ROLLING_FIRST && RollingStartTakesLateCars()) {
        e.race.previousDriverStatus = DS_PITS;
        e.race.driverStatus = DS_ON_TRACK;
    }
    DrawStatusBar(known);
    e.display.monitorState = 1;
    e.display.monitorTime = clock_.now();
}

// A player who joined once the controller runs: his combination record, his
// place in a rolling start that takes late cars.
void TMX_MAIN::playerReady(int index) {
    data::cl_LfsPlayer& e = entry(index);
    if (isCity()) {
        CityCarCheck(index);
        ResetCityJob(index);
        DrawStatusBar(index);
    }
    if (master) e.LoadCombination(*master, server.currentTrack.c_str());
    e.position.reportReceived = 0;
    if (session.raceState == RS_RACE && session.startPhase == SP_ROLLING_FIRST && RollingStartTakesLateCars()) {
        e.race.previousDriverStatus = DS_PITS;
        e.race.driverStatus = DS_ON_TRACK;
    }
    if (debugOn()) {
        if (e.race.previousDriverStatus == DS_SPECTATING)
            console_.out("\nDEBUG: %s from spectate to track", e.playerName.c_str());
        else if (e.race.previousDriverStatus == DS_CONNECTED)
            console_.out("\nDEBUG: %s New on track", e.playerName.c_str());
    }
    if (usedEntries > 0 && players > 0) becomeActiveIfIdle();
    CheckCarSet();
}

int TMX_MAIN::onNewPlayer(const IS_NPL& npl) {
    const bool handshake = runRequest.load() == RUN_CONNECTING;
    if (debugOn()) {
        if (!handshake) console_.out("IS_NPL");
        console_.out("\nDEBUG: NPL -> PLID:%d, UCID:%d, NumP:%d, Type:%d", npl.PLID, npl.UCID, npl.NumP,
                     npl.PType);
    }

    // Player id 0 means "no player": such a join cannot be told apart from a
    // connection without a car, so it is not acted on.
    if (npl.PLID == 0) return 0;
    // The player of a connection the table could not take, or a player it
    // could not take itself (also when he comes back from the garage).
    if (refused.connection(npl.UCID) || refused.player(npl.PLID)) {
        refused.refusePlayer(npl.PLID, npl.UCID);
        return 0;
    }

    const int known = FindIndex(npl.UCID, npl.PLID);
    if (known != -1) {
        returnFromGarage(known, npl);
        return 0;
    }

    const int connection = FindIndex(npl.UCID, -1);
    if (connection == -1) {
        console_.out("\nTMX: IS_NPL -> DatabaseMismatch - unknown UCID\nTerminating.......");
        runRequest = RUN_ERROR;
        return -1;
    }
    // An AI player always gets an entry of its own, so that it can never take
    // over (and rename) its owner's entry, the host's above all. Whether that
    // entry can be had is settled before anything is changed.
    const bool isAi = (npl.PType & PTYPE_AI) != 0;
    if ((entry(connection).plid != 0 || isAi) && usedEntries >= kTableSize) {
        console_.out("\nTMX: IS_NPL -> table full, player %d not taken", npl.PLID);
        refused.refusePlayer(npl.PLID, npl.UCID);
        return 0;
    }
    ClearStatusBar(connection);
    ClearEventMonitor(connection);
    link->DeleteAll(npl.UCID);
    if (entry(connection).display.watchTarget != data::kNoEntry) EndWatching(connection);
    if (entry(connection).race.driverStatus == DS_EARLY) {
        entry(connection).race.previousDriverStatus = DS_BEFORE_READY;
        entry(connection).race.driverStatus = DS_SPECTATING;
    }

    const int index = takePlayerEntry(connection, npl, isAi);
    data::cl_LfsPlayer& p = entry(index);
    p.lastNpl = npl;
    p.handicapMass = npl.H_Mass;
    p.handicapRestriction = npl.H_TRes;
    p.ai = 0;
    SetJoinValues(index);
    StartSkill(p.ucid, p.plid);

    if (isAi) {
        BroadcastSystemText(1, 4, 5000);
        debug("\nDEBUG: NPL -> an AI is joining the race");
        p.race.previousDriverStatus = DS_SPECTATING;
        p.race.driverStatus = DS_PITS;
        p.ai = 1;
        if (handshake) {
            p.race.previousDriverStatus = DS_BEFORE_READY;
            p.race.driverStatus = DS_EARLY;
        }
    } else if (handshake) {
        if (master) p.LoadCombination(*master, server.currentTrack.c_str());
        p.race.previousDriverStatus = DS_BEFORE_READY;
        p.race.driverStatus = DS_EARLY;
        SystemLineText(index, 1, 1, 5000);
        CheckCarSet();
        if (isCity()) {
            CityCarCheck(index);
            ResetCityJob(index);
        }
        return 0;
    }

    playerReady(index);
    return 0;
}

int TMX_MAIN::onPlayerPits(const IS_PLP& plp) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    if (refused.player(plp.PLID)) return 0;
    const int index = FindIndex(-1, plp.PLID);
    if (index == -1) {
        console_.out("\nTMX: PLP -> unknown player - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    data::cl_LfsPlayer& e = entry(index);
    debug(" ISP_PLP -> PIdx: %d, PId: %d", index, e.plid);
    if (e.race.driverStatus == DS_EARLY) {
        e.race.previousDriverStatus = DS_ON_TRACK;
        e.race.driverStatus = DS_RACING;
    }
    debug("\nClearButtons -");
    ClearEventMonitor(index);
    link->DeleteAll(e.ucid);
    debug("Done,   ");
    e.position.reportReceived = -1;
    if (e.race.driverStatus == DS_ON_TRACK || e.race.driverStatus == DS_RACING) {
        if (!(session.raceState == RS_QUALIFYING && e.race.qualifyingDone)) ChangeSkillPoints(index, -2, 17);
        if (isCity()) CityCharge(index, 200, 11);
    } else if (e.race.driverStatus >= DS_PITLANE && e.race.driverStatus <= DS_PITSTOP_DONE) {
        ChangeSkillPoints(index, 10, 9);
    }
    debug("Change PlStatus,   ");
    e.race.previousDriverStatus = e.race.driverStatus;
    e.race.driverStatus = DS_GARAGE;
    if (players == 1) OpenTrackAndPitLane();
    if (!isCity()) DrawStatusBar(index);
    if (master) e.SaveCombination(*master);
    if (session.pitLaneClosed) sendPrivate(index, LanguageLine(index, data::LB_TMXM, 3));
    StartPositionFreeze();
    if (isCity()) CityGarageCosts(index);
    CheckQualifyingEnd();
    return 0;
}

int TMX_MAIN::onPlayerLeaves(const IS_PLL& pll) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    if (refused.player(pll.PLID)) {
        refused.playerLeft(pll.PLID);
        return 0;
    }
    const int index = FindIndex(-1, pll.PLID);
    if (index == -1) {
        console_.out("\nTMX: PLL -> unknown player - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    data::cl_LfsPlayer& e = entry(index);
    debug(" ISP_PLL -> PIdx: %d, PId: %d", index, e.plid);
    if (e.race.driverStatus == DS_EARLY) {
        e.race.previousDriverStatus = DS_ON_TRACK;
        e.race.driverStatus = DS_RACING;
    }
    if (isCity() && e.race.driverStatus > DS_PITSTOP_DONE) CityCharge(index, 200, 11);
    if (e.race.driverStatus == DS_GARAGE) {
        e.race.previousDriverStatus = DS_ON_TRACK;
        e.race.driverStatus = DS_RACING;
    }
    if (isCity()) CityGarageCosts(index);
    e.race.previousDriverStatus = e.race.driverStatus;
    e.race.driverStatus = DS_SPECTATING;
    e.pit.pendingPenalty = 0;
    if (master) e.SaveCombination(*master);
    ClearEventMonitor(index);
    const int ucid = e.ucid;
    if (isCity()) link->DeleteGroup(BG_INFO, ucid);
    CheckQualifyingEnd();
    RemovePlayer(ucid, pll.PLID);
    CheckQualifyingEnd();
    const int connection = FindIndex(ucid, -1);
    if (connection != -1) {
        if (!isCity()) DrawStatusBar(connection);
        entry(connection).display.monitorState = 1;
        entry(connection).display.monitorTime = clock_.now();
    }
    StartPositionFreeze();
    return 0;
}

int TMX_MAIN::onConnectionLeaves(const IS_CNL& cnl) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    const bool wasRefused = refused.connection(cnl.UCID);
    refused.connectionLeft(cnl.UCID);  // and any of its players the table could not take
    if (wasRefused) return 0;
    const int index = FindIndex(cnl.UCID, -1);
    if (index == -1) {
        console_.out("\nTMX: CNL -> unknown connection - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    debug(" ISP_CNL ->UId:%d, Idx:%d, ", cnl.UCID, index);
    if (master) entry(index).SaveCombination(*master);
    EndWatching(index);
    StartPositionFreeze();
    debug("%s", leaveReason(cnl.Reason));
    console_.note("Server %d: %s (%s) left: %s", slot, entry(index).userName.c_str(),
                  entry(index).playerName.c_str(), leaveReason(cnl.Reason));
    RemoveConnection(cnl.UCID);
    CheckQualifyingEnd();
    return 0;
}

int TMX_MAIN::onRename(const IS_CPR& cpr) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    debug(" ISP_CPR ->");
    if (refused.connection(cpr.UCID)) return 0;
    const int index = FindIndex(cpr.UCID, -1);
    if (index == -1) {
        console_.out("\nTMX: CPR -> unknown connection - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    entry(index).playerName.assign(cpr.PName.view());
    return 0;
}

int TMX_MAIN::onTakeOver(const IS_TOC& toc) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    debug(" ISP_TOC ->");
    // The table is not changed by a take-over; one that involves what the
    // table could not take has nothing to check against.
    if (refused.player(toc.PLID) || refused.connection(toc.OldUCID) || refused.connection(toc.NewUCID))
        return 0;
    if (FindIndex(-1, toc.PLID) == -1) {
        console_.out("\nTMX: TOC -> unknown player - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    if (FindIndex(toc.NewUCID, -1) == -1) {
        console_.out("\nTMX: TOC -> unknown new connection -> database mismatch");
        return -1;
    }
    if (FindIndex(toc.OldUCID, -1) == -1) {
        console_.out("\nTMX: TOC -> unknown old connection -> database mismatch");
        return -1;
    }
    if (FindIndex(toc.OldUCID, toc.PLID) == -1) {
        console_.out("\nTMX: TOC -> playerid and oldconnection-id dont match -> database mismatch");
        return -1;
    }
    return 0;
}

int TMX_MAIN::onCarReset(const IS_CRS& crs) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    if (refused.player(crs.PLID)) return 0;
    const int index = FindIndex(-1, crs.PLID);
    if (index == -1) {
        console_.out("\nTMX: CRS -> unknown player - database mismatch\nTerminating ....\n");
        runRequest = RUN_ERROR;
        return -1;
    }
    if (entry(index).race.driverStatus > DS_GARAGE) {
        ChangeSkillPoints(index, -5, 2);
        TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 19), 5000);
    }
    return 0;
}

int TMX_MAIN::RemovePlayer(int ucid, int plid) {
    int index = FindIndex(ucid, plid);
    if (index == -1) {
        if (debugOn())
            console_.out("\nDEBUG:  RemovePlayer(uid,pid) -> DB-Error -> Pl not found (uid %d,pid %d)",
                         ucid, plid);
        return -1;
    }
    data::cl_LfsPlayer& e = entry(index);
    debug("\nDEBUG: Moved player from active to passive :%s", e.playerName.c_str());
    e.skill.summaryTime = clock_.now();
    if (server.serverKind != SK_MULTI_REPLAY) {
        e.skill.summaryPoints = e.skill.racePoints;
        e.skill.summaryBase = e.skill.basePoints;
        CommitSkill(ucid, plid);
    }
    if (!e.isHost() && !e.ai && server.serverKind != SK_MULTI_REPLAY && master) {
        e.SaveCombination(*master);
        e.SaveToDatabase(*master);
        e.position.reportReceived = -1;
    }

    DrawStatusBar(index);
    ClearFlags(index);
    ClearEventMonitor(index);
    if (!e.ai) link->DeleteAll(e.ucid);
    if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < usedEntries) {
        const std::uint8_t watcherUcid = entry(e.display.watchedBy).ucid;
        for (std::uint8_t group : {BG_TEAM, BG_ORGA, BG_SYSTEM, BG_PIT_BOARD})
            link->DeleteGroup(group, watcherUcid);
        EndWatching(e.display.watchedBy);
    }
    e.plid = 0;
    --players;

    // An extra entry (an AI player) goes with its player; a connection's own
    // entry stays as the connection.
    if (FindIndex(ucid, -1) != index) freeEntry(index);
    if (players == 0) OpenTrackAndPitLane();

    if (FindIndex(ucid, plid) != -1) {
        console_.out("\nTMX:   I have a DB-problem. A player exists twice !? uid:%d,pid:%d\n", ucid, plid);
        return -1;
    }
    return 0;
}

int TMX_MAIN::RemoveConnection(int ucid) {
    if (FindIndex(ucid, -1) == -1) {
        debug("\nDEBUG: RemoveConnection ->  Error DB");
        return -1;
    }
    for (int index = FindIndex(ucid, -1); index != -1; index = FindIndex(ucid, -1)) {
        debug("\nDEBUG: Removing connection :%s", entry(index).playerName.c_str());
        EndWatching(index);
        if (entry(index).plid != 0) {
            entry(index).race.driverStatus = DS_NONE;
            RemovePlayer(ucid, entry(index).plid);
            index = FindIndex(ucid, -1);
            if (index == -1) break;
        }
        link->ForgetAll(static_cast<std::uint8_t>(ucid));
        // A driver who never took a car still keeps what he set (language,
        // team colour and position, chat level) for his next visit.
        if (!entry(index).isHost() && !entry(index).ai && server.serverKind != SK_MULTI_REPLAY && master)
            entry(index).SaveToDatabase(*master);
        if (entry(index).databaseEntry == &hostDummyEntry) hostDummyEntry.onlineCount = 0;
        freeEntry(index);
    }
    --connections;
    CheckCarSet();
    return 0;
}

}  // namespace tmx
