// TMX_MAIN: the controller of one LFS server. It runs on its own thread,
// connects and performs the InSim handshake, keeps the table of the server's
// connections and players, then loops over one received packet at a time until
// it is killed, told to stop, or loses its server.
//
// The class owns all per-server state; the behaviour of each subsystem lives
// in that subsystem's folder as member functions (race control in src/race,
// driver information in src/info, the city game in src/city, the player
// language binding in src/data).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/fixed_string.h"
#include "common/random.h"
#include "controller/refused_ids.h"
#include "controller/resync_state.h"
#include "controller/server_facts.h"
#include "data/languages.h"
#include "data/lfs_player.h"
#include "data/player_database.h"
#include "data/server_config.h"
#include "insim/insim_handling.h"
#include "insim/packets.h"
#include "info/event_monitor_state.h"
#include "info/ranking_state.h"
#include "master/control_fields.h"
#include "race/driver_race.h"
#include "race/flag_state.h"
#include "race/positions_state.h"
#include "race/session_state.h"
#include "race/start_state.h"
#include "platform/clock.h"

namespace tmx {

class cl_MasterControl;


constexpr int kTableSize = 50;
// Tries the handshake gives IS_VER and IS_STA together, and empty polls
// allowed per connection / player reply.
constexpr int kHandshakeTries = 9;
constexpr int kListReplyPolls = 5;
// The step in which a controller waiting to reconnect looks for a stop.
constexpr int kReconnectStepMs = 250;

// Button groups.
enum ButtonGroup : std::uint8_t {
    BG_EVENT_MONITOR = 90, BG_STATUS_BAR = 100, BG_TEAM = 110, BG_ORGA = 130, BG_SYSTEM = 140,
    BG_SECTOR = 150, BG_LAP = 160, BG_PIT_BOARD = 170, BG_SKILL = 180, BG_INFO = 190,
    BG_RADIO = 210, BG_WINDOW = 220,
};

class TMX_MAIN {
public:
    TMX_MAIN(Console& console = standardConsole(), platform::Clock& clock = platform::systemClock());
    virtual ~TMX_MAIN();
    TMX_MAIN(const TMX_MAIN&) = delete;
    TMX_MAIN& operator=(const TMX_MAIN&) = delete;

    // ---- Lifecycle and main loop -------------------------------------------
    // The thread body: returns when the controller has stopped (activity 0).
    void Run();
    // Connect and handshake: 0 or -1 (the link is closed again on -1).
    int Connect();
    // One pass of the main loop; false once the controller has stopped.
    bool Pass();
    // Removes every table entry, from the last used index down to index 0.
    void ClearAll();

    // ---- Dispatch and server state -------------------------------------------
    // Takes the ready packet, decodes it into its record (refusing one shorter
    // than its layout) and hands it to its handler; the handler's result.
    int Dispatch(std::uint8_t type);
    int onVersion(const insim::IS_VER& version);
    int onTiny(const insim::IS_TINY& tiny);
    int onState(const insim::IS_STA& sta);
    int onServerStart(const insim::IS_ISM& ism);
    int onChatMessage(const insim::IS_MSO& mso);
    void RequestConnections();
    void RequestPlayers();
    void ResetDisplayFields(int index);
    // Removes every entry but the host's, then the host's player.
    void RemoveAllButHost();

    // ---- Connection and player table ------------------------------------------
    int FindIndex(int ucid, int plid) const;
    // The driver a lap, split or pit packet names: -1 when the packet is not
    // acted on (handshake, a player the full table refused; result 0) or the
    // table is out of step with the server (result -1, the controller stops).
    int ReportedDriver(int plid, const char* packetName, int& result);
    int onNewConnection(const insim::IS_NCN& ncn);
    int onNewPlayer(const insim::IS_NPL& npl);
    int onPlayerPits(const insim::IS_PLP& plp);
    int onPlayerLeaves(const insim::IS_PLL& pll);
    int onConnectionLeaves(const insim::IS_CNL& cnl);
    int onRename(const insim::IS_CPR& cpr);
    int onTakeOver(const insim::IS_TOC& toc);
    int onCarReset(const insim::IS_CRS& crs);
    int RemovePlayer(int ucid, int plid);
    int RemoveConnection(int ucid);

    // ---- Player language (data) --------------------------------------------------
    int LoadPlayerLanguage(int ucid, int plid);
    // The text of a language line for entry index (the server language for -1).
    const char* LanguageLine(int index, data::LanguageBlockId block, int line) const;

    // ---- Message channels, status bar, event monitor, rankings, tracking (info) --
    // One channel line to entry index: 0 when the channel is off or the line is
    // filtered out, -1 for an index outside the table, else the button result.
    int SystemLine(int index, int line, const char* text, std::int64_t lifetimeMs);
    int OrgaLine(int index, int line, const char* text, std::int64_t lifetimeMs);
    int TeamLine(int index, int line, const char* text, std::int64_t lifetimeMs);
    int InfoLine(int index, int line, const char* text, std::int64_t lifetimeMs);
    // A line of the entry's own language ("tmxm" / "orga" block), with the
    // first "%%" replaced by substitute when one is given.
    int SystemLineText(int index, int line, int tmxmLine, std::int64_t lifetimeMs,
                       const char* substitute = nullptr);
    int OrgaLineText(int index, int line, int orgaLine, std::int64_t lifetimeMs,
                     const char* substitute = nullptr);
    // The same line to every entry, each in its own language.
    void BroadcastSystem(int line, const char* text, std::int64_t lifetimeMs);
    void BroadcastSystemText(int line, int tmxmLine, std::int64_t lifetimeMs,
                             const char* first = nullptr, const char* second = nullptr);
    void BroadcastOrga(int line, const char* text, std::int64_t lifetimeMs);
    void BroadcastOrgaText(int line, int orgaLine, std::int64_t lifetimeMs,
                           const char* first = nullptr);
    // A button to entry index (not to an AI car) and the same button to the
    // admin watching him; the result of the last draw, -1 when none.
    int ShowToDriverAndWatcher(int index, insim::ButtonRequest& request);
    // Team settings of a driver (#tcolor, #tmsg, #chatlevel) with their confirmation.
    void ChangeTeamColour(int index);
    void ChangeTeamPosition(int index);
    void ChangeChatLevel(int index);
    void ClearTeamChannel(int index);
    void DrawPitWindowButton(int index);
    void DrawStartWindowButton(int index);
    void DrawStatusBar(int index);
    void ClearStatusBar(int index);
    void RefreshAllStatusBars();
    void ClearEventMonitor(int index);
    void EventMonitorStep();
    void BuildRankings();
    void CheckCarSet();
    void EndWatching(int index);
    // The event monitor: drawn for one entry now (its display state must be
    // 2), switched on at an entry's own request, switched off for everybody,
    // and the event list emptied (a race restart).
    void DrawEventMonitor(int index);
    void EventMonitorOn(int index);
    void ClearAllEventMonitors();
    void ClearEvents();
    // Tracking: the admin at tracker sees target's messages and the host's
    // camera follows target's car; the tracking slot of each driver is single.
    void TrackDriver(int tracker, int target);
    void StopTracking(int tracker);

    // ---- Event monitor, rankings, lap display (info) -----------------------------------
    // Raises an event of the monitor list (type, a value such as a time, the
    // driver's name).
    void RaiseEvent(int type, std::int64_t value, const char* name);
    // Drops the oldest event once it has been shown long enough.
    void AgeEvents();
    // The driver's place in the server ranking of his combination, -1 unranked.
    int ServerRank(int index) const;
    // Ranks the driver's combination record in the server ranking (or only
    // looks it up): his 0-based place, 0 without a record, -1 when he cannot
    // be ranked (info/rankings.cpp).
    int RankDriver(int ucid, int plid, bool lookUpOnly);
    // The controller's ranking list, first built anew for the current track
    // when the database was cleaned or reloaded since it was last built. The
    // caller holds the database lock and has a master. (RankDriver,
    // ServerRank and the views below take the lock themselves.)
    info::RankingList& CurrentRanking(Console* debugSink) const;
    // The chat lines of the ranking views: #top (no car and no track: the
    // controller's list; otherwise built for the car, or the cars in use, on
    // the track, by default the current one) and #near for entry index.
    std::vector<std::string> TopLines(const char* car, const char* track);
    std::vector<std::string> NearLines(int index);
    // The pit board near the finish line.
    void ShowPitBoard(int index);
    // A split and a completed lap of the driver: the lap display's result
    // code (info/lap_display.cpp).
    int ProcessSplit(int index, int sector, bool suppressEvent);
    int ProcessLap(int index);
    // The split and lap times of a report into the driver's current lap block.
    void StoreSplitTimes(int index, const insim::IS_SPX& spx);
    void StoreLapTimes(int index, const insim::IS_LAP& lap);
    // The team line that tells the driver what a split or lap result code means.
    void ShowResultMessage(int index, int code);

    // ---- Race control: the loop's ticks (race/second_tick.cpp) --------------------------
    // Once per loop pass, in this order: skill summaries, session rules,
    // flags, pending penalties, the event list's ageing, monitor display timers.
    void SecondTick();
    // The per-race fields a driver starts with when he joins the race.
    void SetJoinValues(int index);

    // ---- Session tracking (race/session.cpp, race/laps.cpp) -----------------------------
    int onRaceStart(const insim::IS_RST& rst);
    int onGridOrder(const insim::IS_REO& reo);
    int onFinish(const insim::IS_FIN& fin);
    int onLap(const insim::IS_LAP& lap);
    int onSplit(const insim::IS_SPX& spx);
    void OpenTrack();
    void OpenPitLane();
    // Opens the pit lane, and the track unless a qualifying start window holds it.
    void OpenTrackAndPitLane();
    void CheckQualifyingEnd();
    // Marks the driver done under the qualifying rules (event 13 the first time).
    void MarkQualifyingDone(int index);
    // The lap and try limits at a pit exit onto an open track: true when the
    // exit was refused.
    bool ApplyQualifyingExitLimits(int index);
    // A pit exit refused under the qualifying rules (the system line, skill points).
    void RefuseQualifyingExit(int index, int tmxmLine, int points, int reason);
    // The qualifying lap limit at a completed lap.
    void QualifyingLapLimit(int index);
    void SessionTick();
    void MonitorDisplayTimers();

    // ---- Race start (race/race_start.cpp, race/rolling_checks.cpp, race/pace_instructions.cpp)
    // The start choice of a race (start phase 0): grand prix or rolling start.
    void StartRace();
    // What the start phase asks for on this loop pass: the start choice, the
    // restart after an aborted start, or a stage of the rolling start.
    void StartProcedureStep();
    // A player joining while the field still stands on the grid takes part.
    bool RollingStartTakesLateCars() const;
    // True when the driver's last two car reports lie either side of node.
    bool Crossed(int index, int node) const;
    // Shows the pace instruction mode (PaceMode) to driver plid; target is the
    // player id the instruction names, 0 for none.
    void SetPace(int plid, int mode, int target);
    // The checks of the car on grid place slot during the formation lap.
    void CheckCar(int slot);
    // Sends a driver who broke the rolling-start rules to spectate: the
    // system line to all, the private lines, his record saved when asked.
    void SpectateFromStart(int index, int tmxmLine, int privateLine, bool save);

    // ---- Pit lane and penalties (race/pit_lane.cpp, race/penalties.cpp) ------------------
    int onPitLane(const insim::IS_PLA& pla);
    int onPitStop(const insim::IS_PIT& pit);
    int onPitStopDone(const insim::IS_PSF& psf);
    int onPenalty(const insim::IS_PEN& pen);
    void QueuePenalty(int index, int kind);
    void GivePenalty(int index);
    void PenaltyTick();
    // Every penalty of the driver: pending, queued and the LFS one.
    void ClearPenalties(int index);
    void PitWindowsAtLap(int index, const insim::IS_LAP& lap);
    void AutoPitLaneAtLap(int index, const insim::IS_LAP& lap);
    void AutoPitLaneAtSplit(int index, const insim::IS_SPX& spx);
    // A driver in the pits moving while the pit lane is closed.
    void ClosedPitLaneExitCheck(int index);

    // ---- Skill system (race/skill.cpp) -----------------------------------------------------
    void StartSkill(int ucid, int plid);
    void CommitSkill(int ucid, int plid);
    void ChangeSkillPoints(int index, int points, int reason);
    int StoredSkill(int ucid, int plid) const;
    int CurrentSkill(int ucid, int plid) const;
    void LapSkillPoints(int index);
    void SkillSummary(int index);
    void SkillSummaryTick();

    // ---- Car positions and the race tick (race/car_positions.cpp) -------------------------
    int onCarPositions(const insim::IS_MCI& mci);
    void RaceTick();
    // Both stored car reports invalid, nothing received.
    void ResetCarReports(int index);
    void StartPositionFreeze();

    // ---- Flags and conduct (race/flags.cpp, race/conduct.cpp) ------------------------------
    int onFlag(const insim::IS_FLG& flg);
    // Confirms and ends yellows, reports blue flags, counts the yellows of
    // each sector and calls for the safety car.
    void FlagTick();
    // The driver's flags back to none (he has left the track).
    void ClearFlags(int index);
    // The race tick's conduct steps: places gained and lost, the checks and
    // timers of one driver, the release of the start grid.
    void ConductPlaces(int index, int position, int lastPosition);
    void CheckConduct(int index);
    void ReleaseGrid(int index);

    // ---- City game (city) --------------------------------------------------------
    void CityTick();
    void CityCarCheck(int index);
    void ResetCityJob(int index);
    void PlaceInCity(int index);
    void CityCharge(int index, int amount, int reason);
    void CityGarageCosts(int index);

    bool debugOn() const { return debugState.load() == DBG_ON; }
    // A console line shown only while this server is the one in debug mode.
    void debug(const char* fmt, ...) TMX_PRINTF(2, 3);
    bool isCity() const { return session.raceState == RS_CITY; }
    data::cl_LfsPlayer& entry(int index) { return table[static_cast<std::size_t>(index)]; }
    const data::cl_LfsPlayer& entry(int index) const { return table[static_cast<std::size_t>(index)]; }
    Console& console() { return console_; }
    platform::Clock& clock() { return clock_; }

    // ---- Wiring, set by the master -------------------------------------------------
    insim::cl_InsimHandling* link = nullptr;
    cl_MasterControl* master = nullptr;
    std::int32_t slot = 0;

    // ---- Control fields polled by the master ------------------------------------------
    std::atomic<std::int32_t> activity{ACT_CREATED};
    std::atomic<std::int32_t> runRequest{RUN_CONNECTING};
    std::atomic<std::int32_t> debugState{DBG_ON};

    // ---- Server settings copied by the master from tmx_server.cfg ---------------------
    FixedString<20> host{"127.0.0.1"};
    FixedString<8> port{"29999"};
    FixedString<64> adminPassword;
    FixedString<10> minimumSkillText{"0"};
    FixedString<64> skillKickText{"^7Sorry, your skill is to low"};
    std::int32_t cityGame = 0;
    std::int32_t minimumSkill = 0;
    // Seconds between two tries at a lost or unreachable server; 0 = give it
    // up at once (the master then counts it as dead).
    std::int32_t reconnectSeconds = 0;

    // ---- The rules of server_N.cfg -------------------------------------------------------
    data::ServerConfig config;

    // ---- State, one struct per subsystem -------------------------------------------------
    ServerFacts server;          // what the server reports about itself
    ResyncState resync;          // table resynchronisation
    SessionState session;        // session, start phase, track and pit lane
    EventMonitorState monitor;   // the event list as the monitors show it
    PositionsState positions;    // race order and track order
    StartState start;            // start order and stages of a rolling start
    FlagState flagState;         // confirmed yellows per sector
    // Ranking list and cartable; the list is rebuilt on demand (also from
    // const look-ups) once the database has moved to a new generation.
    mutable info::RankingState ranking;
    const data::cl_Language* serverLanguage = nullptr;

    // Random draws: seeded from the clock at start, scripted by tests.
    Random random;

    // ---- The table ----------------------------------------------------------------------------
    std::array<data::cl_LfsPlayer, kTableSize> table;
    std::int32_t usedEntries = 0;
    std::int32_t connections = 0;
    std::int32_t players = 0;
    // The host's database link: never loaded from or saved to the database.
    data::PlayerEntry hostDummyEntry;
    // What the full table could not take; LFS counts them all the same.
    RefusedIds refused;
    int reportedConnections() const { return connections + refused.connectionCount(); }
    int reportedPlayers() const { return players + refused.playerCount(); }

private:
    template <typename P>
    int deliver(int (TMX_MAIN::*handler)(const P&));
    // The steps of the state handler.
    void stateServerKind(const insim::IS_STA& sta);
    void stateRaceState(const insim::IS_STA& sta);
    void stateTrackChange(const insim::IS_STA& sta);
    void stateTableCounts(const insim::IS_STA& sta, ServerKind previousKind);
    void stopByRequest();
    void kill();
    // Tries the server again every reconnectSeconds until it answers (true)
    // or the controller is told to stop meanwhile (false).
    bool connectAgainLater();
    void stopWhileWaiting();
    // The handshake on a connected link: version, state, connection and
    // player lists, greeting. 0 or -1; the caller closes the link on -1.
    int handshake();
    bool awaitPacket(std::uint8_t type, int& tries, const char* failure);
    bool awaitListReply(std::uint8_t type, const char* gotText, const char* failure);
    void sendTiny(std::uint8_t subType);
    void greet();
    void resyncStep(std::uint8_t type);
    void becomeActiveIfIdle();
    // The steps of a new connection.
    void sendRunningNotice(int index);
    bool kickForSkill(int index);
    void welcome(int index, bool returning);
    void returnFromGarage(int index, const insim::IS_NPL& npl);
    int takePlayerEntry(int connection, const insim::IS_NPL& npl, bool isAi);
    void playerReady(int index);
    void freeEntry(int index);
    void sendPrivate(int index, const char* text);

    Console& console_;
    platform::Clock& clock_;
};

}  // namespace tmx
