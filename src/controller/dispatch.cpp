// Packet dispatch and the handlers of the packets that describe the server as
// a whole: version, tiny notices, state, multiplayer start.
#include "commands/chat_commands.h"
#include "controller/packet_take.h"
#include "controller/tmx_main.h"
#include "master/master_control.h"

namespace tmx {

using namespace insim;

template <typename P>
int TMX_MAIN::deliver(int (TMX_MAIN::*handler)(const P&)) {
    P packet;
    // A packet shorter than its layout is taken off the link and not acted on.
    if (!takeInto(*link, packet)) return 0;
    return (this->*handler)(packet);
}

int TMX_MAIN::Dispatch(std::uint8_t type) {
    switch (type) {
        case ISP_VER: {
            // A reply too short to carry the version cannot prove version 4.
            IS_VER version;
            if (!takeInto(*link, version)) return -1;
            return onVersion(version);
        }
        case ISP_TINY:
            debug(" ISP_Tiny ");
            return deliver(&TMX_MAIN::onTiny);
        case ISP_STA: return deliver(&TMX_MAIN::onState);
        case ISP_ISM: return deliver(&TMX_MAIN::onServerStart);
        case ISP_NCN: return deliver(&TMX_MAIN::onNewConnection);
        case ISP_CNL: return deliver(&TMX_MAIN::onConnectionLeaves);
        case ISP_CPR: return deliver(&TMX_MAIN::onRename);
        case ISP_NPL: return deliver(&TMX_MAIN::onNewPlayer);
        case ISP_PLP: return deliver(&TMX_MAIN::onPlayerPits);
        case ISP_PLL: return deliver(&TMX_MAIN::onPlayerLeaves);
        case ISP_TOC: return deliver(&TMX_MAIN::onTakeOver);
        case ISP_CRS: return deliver(&TMX_MAIN::onCarReset);
        case ISP_MSO: return deliver(&TMX_MAIN::onChatMessage);
        case ISP_RST: return deliver(&TMX_MAIN::onRaceStart);
        case ISP_REO: return deliver(&TMX_MAIN::onGridOrder);
        case ISP_FIN: return deliver(&TMX_MAIN::onFinish);
        case ISP_LAP: return deliver(&TMX_MAIN::onLap);
        case ISP_SPX: return deliver(&TMX_MAIN::onSplit);
        case ISP_PLA: return deliver(&TMX_MAIN::onPitLane);
        case ISP_PIT: return deliver(&TMX_MAIN::onPitStop);
        case ISP_PSF: return deliver(&TMX_MAIN::onPitStopDone);
        case ISP_PEN: return deliver(&TMX_MAIN::onPenalty);
        case ISP_MCI: return deliver(&TMX_MAIN::onCarPositions);
        case ISP_FLG: return deliver(&TMX_MAIN::onFlag);
        default: break;
    }
    // Every other packet is of no use to the controller: taken off the link,
    // named in the debug output.
    link->TakePacket();
    if (!debugOn()) return 0;
    if (type == ISP_NONE || !packetTypeName(type)) {
        console_.out("\ngot an unknown packet!");
    } else if (type == ISP_SMALL) {
        console_.out(" ISP_Small ");
    } else {
        console_.out(" ISP_%s ", packetTypeName(type));
    }
    return 0;
}

int TMX_MAIN::onChatMessage(const IS_MSO& mso) { return commands::HandleChatMessage(*this, mso); }

int TMX_MAIN::onVersion(const IS_VER& version) {
    server.lastVersion = version;
    debug("IS_VER");
    if (server.lastVersion.InSimVer != kInsimVersion) {
        runRequest = RUN_STOP;
        return -1;
    }
    return 0;
}

void TMX_MAIN::ResetDisplayFields(int index) {
    data::cl_LfsPlayer& e = entry(index);
    e.display.qualifyingButton = false;
    e.display.statusBarDrawn = false;
    e.display.displayFlag = false;
    e.display.monitorState = 0;
    e.display.monitorTime = clock_.now();
    e.display.watchTarget = data::kNoEntry;
    e.display.watchedBy = data::kNoEntry;
}

void TMX_MAIN::RemoveAllButHost() {
    refused.clear();  // everyone but the host is gone, or is reported anew
    for (int i = usedEntries - 1; i >= 1; --i) {
        if (i >= usedEntries) continue;
        data::cl_LfsPlayer& e = entry(i);
        const int ucid = e.ucid;
        if (e.plid != 0) RemovePlayer(ucid, e.plid);
        // An extra (AI) entry is freed with its player; the host's connection stays.
        if (i < usedEntries && ucid != 0) RemoveConnection(ucid);
    }
    if (usedEntries > 0 && entry(0).plid != 0) RemovePlayer(entry(0).ucid, entry(0).plid);
}

int TMX_MAIN::onTiny(const IS_TINY& tiny) {
    debug("IS_TINY :  Typ: %d", tiny.SubT);
    if (tiny.SubT == TINY_MPE) {
        debug("  -->  Mulitplayer ends");
        link->ClearAll();
        for (int i = 0; i < usedEntries; ++i) ResetDisplayFields(i);
        RemoveAllButHost();
        server.multiplayerEnded = true;
    } else if (tiny.SubT == TINY_REN) {
        debug("  -->  Setupscreen");
        link->ClearAll();
        for (int i = 0; i < usedEntries; ++i) ResetDisplayFields(i);
        server.setupScreen = true;
    }
    return 0;
}

int TMX_MAIN::onState(const IS_STA& sta) {
    server.lastState = sta;
    resync.expectedPlayers = sta.NumP;
    resync.expectedConnections = sta.NumConns;
    debug("IS_STA");
    const ServerKind previousKind = server.serverKind;
    server.weather = sta.Weather;
    server.wind = sta.Wind;
    server.multiplayerEnded = false;
    debug(" FLAG: %d,", static_cast<int>(sta.Flags) - ISS_VISIBLE);

    stateServerKind(sta);
    if (runRequest.load() == RUN_CONNECTING) {
        server.currentTrack = sta.Track;
        return 0;
    }
    if (sta.NumConns < 2 || sta.NumP == 0) {
        OpenTrackAndPitLane();
        CheckCarSet();
        std::int32_t active = ACT_ACTIVE;
        activity.compare_exchange_strong(active, ACT_IDLE);
    }

    stateRaceState(sta);
    stateTrackChange(sta);
    if (server.serverKind == SK_MULTI_REPLAY) {
        for (int i = 0; i < usedEntries; ++i) entry(i).language = serverLanguage;
    }

    stateTableCounts(sta, previousKind);
    return 0;
}

// The entry screen empties the table; the flags tell the kind of server.
void TMX_MAIN::stateServerKind(const IS_STA& sta) {
    if (sta.Flags & ISS_FRONT_END) {
        debug("-EntryScreen");
        link->ClearAll();
        for (int i = 0; i < usedEntries; ++i) ResetDisplayFields(i);
        RemoveAllButHost();
        server.multiplayerEnded = true;
    }

    const bool game = sta.Flags & ISS_GAME;
    const bool multi = sta.Flags & ISS_MULTI;
    if (game) {
        debug(" -Game/Mpr");
        server.multiplayer = false;
    }
    if (sta.Flags & ISS_REPLAY) {
        debug(" -SprReplay");
        server.serverKind = SK_SINGLE_REPLAY;
        server.multiplayer = false;
    }
    if (multi) {
        debug(" -Multi");
        server.multiplayer = true;
    }
    if (game && !multi) server.serverKind = SK_SINGLE;
    if (multi && !game) server.serverKind = SK_DEDICATED;
    if (game && multi) server.serverKind = SK_HOST_DRIVES;
    if (server.serverKind == SK_SINGLE && sta.NumConns > 1) {
        server.serverKind = SK_MULTI_REPLAY;
        server.multiplayer = false;
    }

    if (debugOn()) {
        console_.out("\nDEBUG: STA: ->ViewPLID %2d,NumP %2d, NumC %2d, Wea %2d, Win %2d, TRK ",
                     sta.ViewPLID, sta.NumP, sta.NumConns, sta.Weather, sta.Wind);
        console_.out("%s", server.currentTrack.c_str());
        console_.out("\nDEBUG: STA: ->Dbase   NumP %2d, NumC %2d, Indexes %2d (incl. Host)", players,
                     connections, usedEntries);
        switch (server.serverKind) {
            case SK_SINGLE: console_.out("\nSinglePlayer"); break;
            case SK_HOST_DRIVES: console_.out("\nServer with player"); break;
            case SK_DEDICATED: console_.out("\nDediServer"); break;
            case SK_MULTI_REPLAY: console_.out("\nMultiPlayer-Replay\t"); break;
            case SK_SINGLE_REPLAY: console_.out("\nSingleplayer-Replay"); break;
            default: break;
        }
    }
}

// A session the controller did not see start (its IS_RST was missed): every
// driver waits as if he had joined before the controller was ready.
void TMX_MAIN::stateRaceState(const IS_STA& sta) {
    RaceState state = session.raceState;
    switch (sta.RaceInProg) {
        case 0: state = RS_NONE; break;
        case 1: state = sta.RaceLaps == 0 ? RS_PRACTICE : RS_RACE; break;
        case 2: state = RS_QUALIFYING; break;
        default: break;  // not sent by InSim 4: the race state stays as it is
    }
    if (state == RS_RACE && session.raceState == RS_RACE_FINISHED) state = RS_RACE_FINISHED;
    if (state == RS_QUALIFYING && session.raceState == RS_QUALIFYING_CLOSED) state = RS_QUALIFYING_CLOSED;
    if (state != session.raceState && session.raceState != RS_CITY) {
        debug("\nDEBUG: STA  ->Racestate has changed without notification");
        session.raceState = state;
        for (int i = 0; i < usedEntries; ++i) {
            entry(i).race.previousDriverStatus = entry(i).race.driverStatus;
            entry(i).race.driverStatus = DS_EARLY;
        }
    }
}

// Every driver's combination record follows a change of track.
void TMX_MAIN::stateTrackChange(const IS_STA& sta) {
    if (sta.Track != server.currentTrack) {
        debug("\nDEBUG: STA: -> Track has changed -> Reloading Comborecords");
        for (int i = 0; i < usedEntries; ++i) {
            if (entry(i).plid != 0 && master) entry(i).SaveCombination(*master);
        }
        server.currentTrack = sta.Track;
        session.highestSplit = 0;  // the new track's last split is learned anew
        for (int i = 0; i < usedEntries; ++i) {
            if (entry(i).plid != 0 && master) entry(i).LoadCombination(*master, server.currentTrack.c_str());
        }
        CheckCarSet();
    }
}

// Counts that differ from the table (or a multiplayer game that ended) start
// a resynchronisation.
void TMX_MAIN::stateTableCounts(const IS_STA& sta, ServerKind previousKind) {
    if (sta.NumConns != reportedConnections() || (previousKind != SK_SINGLE && server.multiplayerEnded)) {
        server.serverKind = SK_SINGLE;
        debug("\nDEBUG: Databasemismatch (Connections)!!!!!!!! Trying to Renew");
        for (int i = usedEntries - 1; i >= 0; --i) {
            if (i >= usedEntries) continue;
            data::cl_LfsPlayer& e = entry(i);
            if (e.plid != 0) RemovePlayer(e.ucid, e.plid);
            if (i < usedEntries) RemoveConnection(entry(i).ucid);
        }
        // Every connection is reported again, and the table refuses anew
        // whichever of them no longer fits.
        refused.clear();
        RequestConnections();
    }
}

int TMX_MAIN::onServerStart(const IS_ISM& ism) {
    debug("IS_ISM -> ReqI: %d", ism.ReqI);
    console_.out(ism.Host ? "   host" : "   guest");
    return 0;
}

void TMX_MAIN::RequestConnections() {
    sendTiny(TINY_NCN);
    resync.phase = RP_CONNECTIONS;
    debug("\n\nDEBUG: sent a tiny  (Request all Connections)\n\n");
}

void TMX_MAIN::RequestPlayers() {
    sendTiny(TINY_NPL);
    resync.phase = RP_PLAYERS;
    debug("\n\nDEBUG: sent a tiny  (Request all Connections)\n\n");
}

}  // namespace tmx
