// TMX_MAIN: the controller of one LFS server. It runs on its own thread,
// connects and performs the InSim handshake, then loops over one received
// packet at a time until it is killed, told to stop, or loses its server.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/console.h"
#include "common/fixed_string.h"
#include "insim/insim_handling.h"
#include "insim/packets.h"
#include "master/control_fields.h"
#include "platform/clock.h"

namespace tmx {

class cl_MasterControl;
namespace data {
struct cl_Language;
}

// Race states.
enum RaceState : std::int32_t {
    RS_NONE = 0, RS_PRACTICE = 1, RS_QUALIFYING = 2, RS_RACE = 3, RS_RACE_FINISHED = 4,
    RS_QUALIFYING_CLOSED = 5, RS_CITY = 6,
};

// Start phases.
enum StartPhase : std::int32_t { SP_START_PENDING = 0, SP_RESTART_PENDING = 1, SP_NONE = 7 };

// Tries the handshake gives IS_VER and IS_STA together, and polls per
// connection / player reply.
constexpr int kHandshakeTries = 9;
constexpr int kListReplyPolls = 5;

class TMX_MAIN {
public:
    TMX_MAIN(Console& console = standardConsole(), platform::Clock& clock = platform::systemClock());
    virtual ~TMX_MAIN();
    TMX_MAIN(const TMX_MAIN&) = delete;
    TMX_MAIN& operator=(const TMX_MAIN&) = delete;

    // The thread body: returns when the controller has stopped (activity 0).
    void Run();
    // Connect and handshake: 0 or -1.
    int Connect();
    // One pass of the main loop; false once the controller has stopped.
    bool Pass();
    // Removes every table entry (connections and players).
    void ClearAll();

    // Hands the ready packet of the link to its handler.
    int Dispatch(std::uint8_t type);
    int onVersion();
    int onState();

    bool debugOn() const { return debugState.load() == DBG_ON; }

    // Wiring, set by the master.
    insim::cl_InsimHandling* link = nullptr;
    cl_MasterControl* master = nullptr;
    std::int32_t slot = 0;

    // Control fields polled by the master.
    std::atomic<std::int32_t> activity{ACT_CREATED};
    std::atomic<std::int32_t> runRequest{RUN_CONNECTING};
    std::atomic<std::int32_t> debugState{DBG_ON};

    // Server settings copied by the master from tmx_server.cfg.
    FixedString<20> host{"127.0.0.1"};
    FixedString<8> port{"29999"};
    FixedString<64> adminPassword;
    FixedString<10> minimumSkillText{"0"};
    FixedString<64> skillKickText{"^7Sorry, your skill is to low"};
    std::int32_t cityGame = 0;
    std::int32_t minimumSkill = 0;

    // Session and loop state.
    std::int32_t raceState = RS_NONE;
    std::int32_t previousRaceState = RS_NONE;
    const data::cl_Language* serverLanguage = nullptr;
    std::int32_t resyncPhase = 0;
    std::int32_t startPhase = SP_NONE;
    std::uint8_t resyncFlag = 0;
    std::int32_t eventVersion = 1;
    std::uint8_t multiplayerEnded = 1;
    std::uint8_t setupScreen = 1;

    // Table counts: used entries, connections, players.
    std::int32_t usedEntries = 0;
    std::int32_t connections = 0;
    std::int32_t players = 0;

    // The last IS_VER and IS_STA, with the STA's expected counts.
    insim::IS_VER lastVersion;
    insim::IS_STA lastState;
    std::int32_t expectedPlayers = 0;
    std::int32_t expectedConnections = 0;
    FixedString<7> currentTrack;

private:
    void stopByRequest();
    void kill();
    // Polls for a packet of the wanted type within the shared try budget.
    bool awaitPacket(std::uint8_t type, int& tries, const char* failure);
    bool awaitListReply(std::uint8_t type, const char* gotText, const char* failure);
    void sendTiny(std::uint8_t subType);
    void greet();

    Console& console_;
    platform::Clock& clock_;
};

}  // namespace tmx
