#include "controller/tmx_main.h"

#include <cstdarg>
#include <string>

#include "common/log_console.h"
#include "data/config_reader.h"
#include "data/languages.h"
#include "master/master_control.h"
#include "master/version.h"

namespace tmx {

using namespace insim;

TMX_MAIN::TMX_MAIN(Console& console, platform::Clock& clock) : console_(console), clock_(clock) {}

TMX_MAIN::~TMX_MAIN() {
    console_.out("\nServer %d: Destruction started", slot);
    console_.out("\nclosing insim");
    if (link) link->Close();
}

void TMX_MAIN::debug(const char* fmt, ...) {
    if (!debugOn()) return;
    std::va_list args;
    va_start(args, fmt);
    console_.outv(fmt, args);
    va_end(args);
}

void TMX_MAIN::sendTiny(std::uint8_t subType) {
    IS_TINY tiny;
    tiny.ReqI = 1;
    tiny.SubT = subType;
    RawPacket raw = encode(tiny);
    link->SendRaw(raw.data(), static_cast<int>(raw.size));
}

void TMX_MAIN::Run() {
    setLogSlot(slot);  // this thread's log lines carry the slot
    monitor.eventVersion = 1;
    minimumSkill = data::decimalValue(minimumSkillText.c_str());
    console_.out("\nTMX: Server started");
    if (master) serverLanguage = master->languages.language(0);
    {
        const std::string name = data::serverConfigName(slot);
        data::readServerConfig(master ? master->path(name) : name, name, slot, config, console_);
    }

    if (Connect() == -1) {
        // A server that speaks another InSim version is not tried again.
        if (reconnectSeconds <= 0 || runRequest.load() == RUN_STOP) {
            console_.out("\ncan't connect LFS\nTerminating");
            activity = ACT_STOPPED;
            return;
        }
        if (!connectAgainLater()) {
            stopWhileWaiting();
            return;
        }
    }

    random.seed(static_cast<std::uint32_t>(clock_.now()));
    console_.out("\n     Init completed.  Controller %d started.", slot);
    if (cityGame == 0) {
        console_.out("\n     Started TMX-Mode");
        BuildRankings();
        session.startPhase = SP_NONE;
    } else {
        console_.out("\n     Started CityrunMode");
        session.raceState = RS_CITY;
        session.previousRaceState = RS_CITY;
        // Every driver starts the city game from the pit lane.
        for (int i = 1; i < usedEntries; ++i) {
            std::string command = "/pitlane ";
            command += entry(i).playerName.c_str();
            link->SendMessage(command.c_str());
            if (entry(i).plid != 0) {
                CityCarCheck(i);
                ResetCityJob(i);
            }
        }
    }

    debug("\n\nDEBUG server %d listening:", slot);
    runRequest = RUN_RUNNING;
    // A kill-all posted while the handshake ran must not be overwritten.
    std::int32_t created = ACT_CREATED;
    activity.compare_exchange_strong(created, ACT_ACTIVE);

    while (Pass()) {
    }
}

bool TMX_MAIN::Pass() {
    if (runRequest.load() != RUN_RUNNING) {
        stopByRequest();
        return false;
    }
    if (activity.load() == ACT_KILL) {
        kill();
        return false;
    }

    if (link->Poll() == -1) {
        console_.out("\nLost connection to LFS  -  trying to reconnect   ");
        console_.note("Server %d: lost the link to LFS at %s port %s%s", slot, host.c_str(), port.c_str(),
                      link->ClosedByServer() ? " (LFS closed it)" : "");
        link->Close();
        const bool connected = Connect() == 0;
        if (!connected && reconnectSeconds > 0 && runRequest.load() != RUN_STOP) {
            console_.out("-failed");
            // The drivers are saved now: nobody knows how long the server
            // stays away, and the table is built anew from the next login.
            ClearAll();
            if (!connectAgainLater()) {
                stopWhileWaiting();
                return false;
            }
        } else if (!connected) {
            console_.out("-failed\nTerminating....");
            // The error is posted before the thread reports itself stopped, so
            // the master never mistakes this server for one that simply died.
            runRequest = RUN_ERROR;
            ClearAll();
            console_.out("\nServer %d: All connections cleared", slot);
            activity = ACT_STOPPED;
            return false;
        }
        console_.out("-success");
        runRequest = RUN_RUNNING;
        link->Poll();
    }

    if (link->GetState() == LINK_PACKET_READY) {
        const std::uint8_t type = link->PacketType();
        const bool chatty = debugOn() && type != ISP_MCI;
        if (chatty) console_.out("(%d)\nDEBUG: got packet -> ", link->PacketLength());
        resyncStep(type);

        if (!isCity()) {
            for (int i = 0; i < usedEntries; ++i) {
                const auto& e = entry(i);
                if ((e.race.driverStatus == DS_CONNECTED || e.race.driverStatus == DS_SPECTATING) &&
                    !e.display.statusBarDrawn)
                    DrawStatusBar(i);
            }
        }
        if (chatty && runRequest.load() == RUN_RUNNING)
            console_.out("\n\nDEBUG server %d listening:", slot);
        if (type == ISP_MCI && resync.phase == RP_NONE) {
            RaceTick();
            EventMonitorStep();
        }
        if (session.startPhase == SP_START_PENDING) {
            if (!resync.flag) {
                StartProcedureStep();
            } else {
                // The session packet of a resync announces no new start.
                session.startPhase = SP_NONE;
                resync.flag = false;
                OpenTrack();
                OpenPitLane();
                RefreshAllStatusBars();
            }
        } else if (session.startPhase == SP_RESTART_PENDING ||
                   (session.startPhase >= SP_ROLLING_FIRST && session.startPhase <= SP_ROLLING_LAST)) {
            StartProcedureStep();
        }
    } else {
        if (debugOn() && activity.load() == ACT_IDLE) console_.out(".");
        EventMonitorStep();
    }

    if (session.raceState != session.previousRaceState) {
        if (debugOn()) {
            console_.out("\nDEBUG: Racestate has changed to %d", session.raceState);
            console_.out("\n\nDEBUG server %d listening:", slot);
        }
        session.previousRaceState = session.raceState;
    }
    SecondTick();
    if (isCity()) CityTick();
    return true;
}

void TMX_MAIN::resyncStep(std::uint8_t type) {
    const bool chatty = debugOn() && type != ISP_MCI;
    if (resync.phase == RP_CONNECTIONS && type == ISP_NCN) {
        Dispatch(type);
        if (reportedConnections() >= resync.expectedConnections) {
            if (resync.expectedPlayers > 0) {
                RequestPlayers();
            } else {
                resync.phase = RP_NONE;
                debug("\nDEBUG: request IS_STA -> waiting -> ");
                sendTiny(TINY_SST);
            }
        }
        return;
    }
    if (resync.phase == RP_PLAYERS && type == ISP_NPL) {
        Dispatch(type);
        if (reportedPlayers() >= resync.expectedPlayers) {
            resync.phase = RP_NONE;
            debug("\nDEBUG: request IS_STA");
            sendTiny(TINY_SST);
            debug("\nDEBUG: request IS_RST");
            sendTiny(TINY_RST);
            resync.flag = true;
        }
        return;
    }
    Dispatch(type);
    if (chatty)
        console_.out("\nDEBUG: DataBase = Idx: %d, Cn: %d, Pl: %d", usedEntries, connections, players);
}

void TMX_MAIN::stopByRequest() {
    const std::int32_t request = runRequest.load();
    if (request == RUN_ERROR) console_.out("\n\nTMX: ...is closing. An error occured");
    if (request == RUN_STOP) console_.out("\n\nServer %d: TMX is killed by admin", slot);
    link->Close();
    console_.out("\nServer %d: Insim disconnected", slot);
    ClearAll();
    console_.out("\nServer %d: All connections cleared", slot);
    // Reported last: once the master sees 0 it may write the database, so
    // the players saved while clearing the table must already be in it.
    activity = ACT_STOPPED;
}

void TMX_MAIN::kill() {
    link->SendMessage("^1TMX is killed by admin");
    clock_.sleepMs(1000);
    console_.out("\n\nServer %d: TMX is killed by admin", slot);
    runRequest = RUN_STOP;
    ClearAll();
    console_.out("\nServer %d: All connections cleared", slot);
    link->Close();
    console_.out("\nServer %d: Insim disconnected\n\n", slot);
    activity = ACT_STOPPED;
}

bool TMX_MAIN::connectAgainLater() {
    // Waiting is being idle: the master may write the database meanwhile.
    for (std::int32_t from : {ACT_CREATED, ACT_ACTIVE}) activity.compare_exchange_strong(from, ACT_IDLE);
    for (;;) {
        console_.note("Server %d: trying %s port %s again in %d s", slot, host.c_str(), port.c_str(),
                      reconnectSeconds);
        // Short steps, so that a kill-all or a stop signal is seen at once.
        for (int waited = 0; waited < reconnectSeconds * 1000; waited += kReconnectStepMs) {
            if (activity.load() == ACT_KILL || runRequest.load() == RUN_STOP) return false;
            clock_.sleepMs(kReconnectStepMs);
        }
        if (activity.load() == ACT_KILL || runRequest.load() == RUN_STOP) return false;
        console_.out("\nServer %d: trying to reconnect", slot);
        if (Connect() == 0) {
            console_.note("Server %d: connected again to %s port %s", slot, host.c_str(), port.c_str());
            std::int32_t idle = ACT_IDLE;
            activity.compare_exchange_strong(idle, ACT_ACTIVE);
            return true;
        }
    }
}

void TMX_MAIN::stopWhileWaiting() {
    console_.out("\nServer %d: stopped while waiting to reconnect", slot);
    runRequest = RUN_STOP;
    ClearAll();
    activity = ACT_STOPPED;
}

void TMX_MAIN::ClearAll() {
    refused.clear();
    for (int i = usedEntries - 1; i >= 0; --i) {
        if (i >= usedEntries) continue;  // an earlier removal took more than one entry
        RemoveConnection(entry(i).ucid);
    }
}

bool TMX_MAIN::awaitPacket(std::uint8_t type, int& tries, const char* failure) {
    for (;;) {
        if (tries >= kHandshakeTries || link->Poll() == -1) {
            debug("%s", failure);
            return false;
        }
        ++tries;
        if (link->GetState() != LINK_PACKET_READY) {
            debug(".");
            continue;
        }
        const std::uint8_t got = link->PacketType();
        if (got == type) return true;
        Dispatch(got);
        debug("X");
    }
}

bool TMX_MAIN::awaitListReply(std::uint8_t type, const char* gotText, const char* failure) {
    int emptyPolls = 0;
    for (;;) {
        if (link->Poll() == -1 || link->GetState() != LINK_PACKET_READY) {
            if (++emptyPolls > kListReplyPolls) {
                debug("%s", failure);
                return false;
            }
            continue;
        }
        const std::uint8_t got = link->PacketType();
        if (got == type) {
            debug("%s", gotText);
            Dispatch(got);
            return true;
        }
        Dispatch(got);
        debug("x");
    }
}

int TMX_MAIN::Connect() {
    runRequest = RUN_CONNECTING;
    if (link->Connect(host.c_str(), data::decimalValue(port.c_str()), adminPassword.c_str()) == -1) {
        console_.out("Can't connect LFS\nTerminating....\n");
        console_.note("Server %d: cannot connect to %s port %s: %s", slot, host.c_str(), port.c_str(),
                      link->ConnectFailure().c_str());
        return -1;
    }
    if (handshake() == -1) {
        if (runRequest.load() == RUN_STOP) {
            console_.note("Server %d: LFS at %s port %s speaks InSim version %d; this program needs version %d",
                          slot, host.c_str(), port.c_str(), server.lastVersion.InSimVer, kInsimVersion);
        } else if (link->ClosedByServer()) {
            console_.note("Server %d: LFS at %s port %s closed the link right after the login: check the admin "
                          "password (passw) and the InSim port of the LFS host",
                          slot, host.c_str(), port.c_str());
        } else {
            console_.note("Server %d: LFS at %s port %s did not answer the InSim login", slot, host.c_str(),
                          port.c_str());
        }
        // LFS keeps an InSim connection open until its client closes it and
        // would go on sending keep-alives nobody answers; a controller that
        // gives up must leave the server as it found it.
        link->Close();
        return -1;
    }
    return 0;
}

int TMX_MAIN::handshake() {
    int tries = 0;
    debug("\nDEBUG: request IS_VER -> waiting -> ");
    if (!awaitPacket(ISP_VER, tries, "no IS_VER!\nTerminating....\n")) return -1;
    debug("got ");
    if (Dispatch(ISP_VER) == -1) {
        console_.out("\nwrong insimversion. need version %d\nTerminating....\n", kInsimVersion);
        return -1;
    }
    debug(" -> ok \n");

    debug("\nDEBUG: request IS_STA -> waiting -> ");
    sendTiny(TINY_SST);
    if (!awaitPacket(ISP_STA, tries, "no IS_STA!\nTerminating....\n")) return -1;
    debug("got ");
    if (Dispatch(ISP_STA) == -1) return -1;
    debug(" -> ok \n");

    debug("\n\nDEBUG: Sent TINY_NCN  (request all connections)");
    sendTiny(TINY_NCN);
    // The table's counts are not reset here: after a lost link the entries stay
    // (and the replies for them are reported as mismatches), so the counts must
    // keep describing the table.
    for (int received = 0; received < resync.expectedConnections;) {
        debug("\nDEBUG: Waiting for NCN  -> ");
        if (!awaitListReply(ISP_NCN, " got a IS_NCN", "no IS_NCN!\nTerminating....\n")) return -1;
        ++received;
        debug("   (%d from %d connects)", received, resync.expectedConnections);
    }

    if (debugOn()) {
        if (resync.expectedPlayers > 0)
            console_.out("\n\nDEBUG: Sent TINY_NPL  (request all players)");
        else
            console_.out("\n\nDEBUG: no players to request.");
    }
    sendTiny(TINY_NPL);
    for (int received = 0; received < resync.expectedPlayers;) {
        debug("\nDEBUG: Waiting for NPL  ");
        if (!awaitListReply(ISP_NPL, " got a IS_NPL", "no IS_NPL!\nTerminating....\n")) return -1;
        ++received;
        debug("   (%d from %d connects)", received, resync.expectedPlayers);
    }

    greet();

    session.raceState = RS_NONE;
    debug("\nDEBUG: request IS_STA");
    sendTiny(TINY_SST);
    debug("\nDEBUG: request IS_RST");
    sendTiny(TINY_RST);
    resync.flag = true;
    return 0;
}

void TMX_MAIN::greet() {
    link->SendPrivate("^7TMX is online - Init completed", 0, 0);
    link->SendMessage(" ");
    link->SendLongMessage("^7The LFS-Trackmarshal  (^1TMX^7) is controlling this server!");
    link->SendLongMessage(kBannerLine);
    link->SendMessage(" ");
    link->SendMessage("^3enter #lang to find your language");
    link->SendMessage("^7enter #help for commands");
    link->SendMessage("^7enter #info for sessioninfos");
    link->SendMessage("^7enter #chatlevel to reduce textoutput");
    link->SendMessage("^7(Don't switch off insimbuttons [see manual])");
}

}  // namespace tmx
