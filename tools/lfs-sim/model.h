// The game state of the simulated LFS server: connections, players, the
// session, the state flags, each connection's screen of InSim buttons, the
// chat the server shows, and the cars on track (driving.h, driving.cpp).
//
// The model has no sockets and no threads. Every change appends to an Outbox
// the packets a real LFS server sends to its InSim client for that change, in
// the order LFS sends them; whenever a field of IS_STA changed, an IS_STA
// follows right after the packet that caused it. LfsSim (lfs_sim.h) owns one
// model, guards it with its lock and sends what lands in the outbox.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_string.h"
#include "insim/packets.h"
#include "lfs-sim/driving.h"

namespace tmx::sim {

using Outbox = std::vector<insim::RawPacket>;

// Result of a model change: ok, or the reason nothing was done.
struct Outcome {
    bool ok = true;
    int id = -1;  // the UCID or PLID that was given out, where one was
    std::string error;

    static Outcome success(int id = -1) { return Outcome{true, id, {}}; }
    static Outcome failure(std::string why) { return Outcome{false, -1, std::move(why)}; }
    explicit operator bool() const { return ok; }
};

constexpr std::uint8_t kHostUcid = 0;
constexpr std::uint8_t kAllUcids = 255;  // UCID 255 in IS_BTN / IS_BFN: every connection
constexpr std::size_t kMaxPlayers = 32;  // an InSim 4 race holds at most 32 cars
constexpr std::uint8_t kMaxClickId = 239;
constexpr std::uint16_t kPitsFlag = 256;  // PIF_INPITS in IS_NPL Flags

using Name = FixedString<24>;  // 24-byte packet field: 23 characters and the terminator
using Plate = FixedString<9>;  // may fill all 8 bytes
using CarName = FixedString<5>;
using TrackName = FixedString<7>;

struct Connection {
    std::uint8_t ucid = 0;
    Name uname;  // LFS user name (empty for the host)
    Name pname;  // nickname, colour codes included
    bool admin = false;
};

struct Player {
    std::uint8_t plid = 0;
    std::uint8_t ucid = 0;
    std::uint8_t ptype = 0;  // PTYPE_* bits: 1 female, 2 AI, 4 remote
    Name pname;
    Plate plate;
    CarName car;
    FixedString<16> skin;
    bool inPits = false;  // in the garage (IS_PLP), still in the race
    std::uint8_t penalty = insim::PENALTY_NONE;
    CarState carState;  // the car on track (driving.h)

    bool isAi() const { return (ptype & insim::PTYPE_AI) != 0; }
};

enum class SessionKind { None, Practice, Qualifying, Race };

const char* sessionKindName(SessionKind kind);

struct Session {
    SessionKind kind = SessionKind::None;
    int raceLaps = 0;  // race length in laps (0 = practice); kept between sessions
    int qualMins = 0;  // qualifying length; kept between sessions
    TrackName track = "BL1";
    std::uint8_t weather = 0;
    std::uint8_t wind = 0;
    std::uint16_t hostFlags = 1 | 2 | 32;  // HOSTF_CAN_VOTE | CAN_SELECT | MID_RACE
    std::uint16_t numNodes = 400;
    std::uint16_t finish = 0;
    // Split nodes; 0 or the finish node: no such split.
    std::uint16_t split1 = 130;
    std::uint16_t split2 = 260;
    std::uint16_t split3 = 0;

    bool running() const { return kind != SessionKind::None; }
};

// What a session start asks for; fields left at -1 / empty keep the model's value.
struct SessionSpec {
    SessionKind kind = SessionKind::Race;
    int laps = -1;
    int qualMins = -1;
    std::string track;
    int weather = -1;
    int wind = -1;
    int hostFlags = -1;
    int numNodes = -1;
    int finish = -1;
    int split1 = -1;
    int split2 = -1;
    int split3 = -1;
};

// A race with cars that drive: the `race` verb and LfsSim::startRace.
struct RaceSpec {
    int laps = 5;
    int cars = -1;         // cars wanted on track (-1: the ones there are); missing ones join
    double paceKmh = 120;  // pace of the first car
    double spreadKmh = 2;  // each further car is this much slower
    bool follow = false;   // every car but the pole follows the car ahead, 8 m behind (else none)
};

// A player joining the track; -1 / empty means "as LFS would choose".
struct PlayerSpec {
    int ucid = kHostUcid;
    int plid = -1;   // -1: the next free PLID
    int ptype = -1;  // -1: remote bit for a guest, plus the AI bit when ai is set
    bool ai = false;
    std::string pname;  // empty: the connection's nickname ("AI n" for an AI)
    std::string car = "XRT";
    std::string plate;
    std::string skin;
};

// One button on a connection's screen.
struct Button {
    std::uint8_t ucid = 0;
    std::uint8_t clickId = 0;
    std::uint8_t reqI = 0;
    std::uint8_t inst = 0;
    std::uint8_t style = 0;
    std::uint8_t typeIn = 0;
    std::uint8_t left = 0, top = 0, width = 0, height = 0;
    FixedString<241> text;
};

// A line of chat the server shows (or a host command it was given).
struct ChatLine {
    enum class Kind {
        Typed,    // typed by a connection (sent to InSim as IS_MSO)
        ToAll,    // IS_MST without '/' or IS_MSX from the InSim client
        Private,  // IS_MTC to one connection / player
        Command,  // IS_MST beginning with '/'
    };
    Kind kind = Kind::ToAll;
    std::int64_t timeMs = 0;
    std::uint8_t ucid = 0;  // Typed: the sender; Private: the target
    std::uint8_t plid = 0;  // Private: the target player (0 = none)
    std::string text;
    bool acted = false;  // Command: the simulator carried it out
};

// Encodes a race length for the RaceLaps byte: 0 practice, 1-99 laps,
// 100-1000 laps in steps of 10.
std::uint8_t encodeRaceLaps(int laps);

// Removes the colour codes ^0 to ^9 (other ^ escapes stay).
std::string stripColours(std::string_view text);

class ServerModel {
public:
    explicit ServerModel(std::uint16_t stateFlags = insim::ISS_GAME | insim::ISS_MULTI);

    // The time stamp put on chat lines (ms since the simulator started).
    void setNow(std::int64_t ms) { nowMs_ = ms; }
    // What the InSim client asked for in its IS_ISI: ISF_MSO_COLS and the prefix.
    void setClientInit(std::uint16_t isiFlags, std::uint8_t prefix);

    // ---- State ----------------------------------------------------------
    const std::vector<Connection>& connections() const { return connections_; }  // by UCID
    const std::vector<Player>& players() const { return players_; }              // in join order
    const Session& session() const { return session_; }
    std::uint16_t stateFlags() const { return stateFlags_; }
    const std::vector<ChatLine>& chat() const { return chat_; }

    const Connection* findConnection(int ucid) const;
    const Connection* findConnectionByUser(std::string_view uname) const;
    const Player* findPlayer(int plid) const;
    // By nickname: exact first, then ignoring colour codes on both sides.
    const Player* findPlayerByName(std::string_view pname) const;
    // The connection's own (first non-AI, else first) player.
    const Player* playerOf(int ucid) const;

    // Buttons a connection sees now, in the order they were first drawn.
    std::vector<Button> screen(int ucid) const;
    const std::map<std::uint8_t, std::vector<Button>>& screens() const { return screens_; }

    // ---- Replies to requests (ReqI echoed) -------------------------------
    insim::IS_STA state(std::uint8_t reqI) const;
    void replyConnections(std::uint8_t reqI, Outbox& out) const;  // TINY_NCN
    void replyPlayers(std::uint8_t reqI, Outbox& out) const;      // TINY_NPL
    void replySession(std::uint8_t reqI, Outbox& out) const;      // TINY_RST
    void replyOrder(std::uint8_t reqI, Outbox& out) const;        // TINY_REO
    // The client now knows this IS_STA (a TINY_SST reply went out).
    void markStateReported();

    // ---- Changes ----------------------------------------------------------
    // ucid -1: the lowest free one.
    Outcome addConnection(int ucid, std::string_view uname, std::string_view pname, bool admin,
                          Outbox& out);
    // The connection's players leave first (IS_PLL each), then IS_CNL.
    Outcome removeConnection(int ucid, std::uint8_t reason, Outbox& out);
    // plate nullptr: unchanged.
    Outcome renameConnection(int ucid, std::string_view pname, const char* plate, Outbox& out);
    // LFS announces no admin change; a later TINY_NCN reports it.
    Outcome setAdmin(int ucid, bool admin);

    Outcome addPlayer(const PlayerSpec& wanted, Outbox& out);  // IS_NPL
    Outcome playerToPits(int plid, Outbox& out);             // IS_PLP
    Outcome playerLeavesPits(int plid, Outbox& out);         // IS_NPL, same PLID
    Outcome playerLeaves(int plid, Outbox& out);             // IS_PLL
    Outcome takeOver(int plid, int newUcid, Outbox& out);    // IS_TOC
    Outcome carReset(int plid, Outbox& out);                 // IS_CRS
    Outcome setPenalty(int plid, std::uint8_t penalty, std::uint8_t reason, Outbox& out);  // IS_PEN
    Outcome typeChat(int ucid, std::string_view text, Outbox& out);                        // IS_MSO

    Outcome startSession(const SessionSpec& wanted, Outbox& out);  // IS_REO, IS_RST
    Outcome endSession(Outbox& out);                             // RaceInProg 0
    Outcome restartRace(Outbox& out);                            // /restart
    Outcome multiplayerEnds(Outbox& out);                        // TINY_MPE
    Outcome backToSetup(Outbox& out);                            // TINY_REN
    Outcome entryScreen(Outbox& out);
    Outcome setStateFlags(std::uint16_t flags, Outbox& out);

    // ---- Driving (driving.cpp) ---------------------------------------------
    // Cars move and report only while driving is on and a session runs; every
    // driving call below switches it on. Updates run one report interval
    // apart, counted from when the cars last moved.
    void setDriving(bool on);
    bool driving() const { return driving_; }
    // What the InSim client asked for: IS_MCI packets (ISF_MCI) and their
    // interval (also the update interval; at least 50 ms).
    void setCarReports(bool on, int intervalMs);
    int updateIntervalMs() const { return updateMs_; }
    void setDrivingSettings(const DrivingSettings& settings) { settings_ = settings; }
    const DrivingSettings& drivingSettings() const { return settings_; }
    // Runs the updates due at or before nowMs (at most maxUpdates); returns how many ran.
    int updateCars(std::int64_t nowMs, Outbox& out, int maxUpdates = 1 << 30);
    // The car drives at paceKmh (out of its pit box when it stands there).
    Outcome driveCar(int plid, double paceKmh);
    Outcome setCarMotion(int plid, const CarMotion& motion);
    // While it drives on the racing line the car keeps at least gapM behind
    // the car ahead on the track (on = false: it drives at its pace again).
    Outcome followCar(int plid, bool on, double gapM = kFollowGapM);
    // Into the pit lane on that lap (0: the next time it passes the entry);
    // stopMs 0 drives through (serving a drive-through or stop-go penalty).
    Outcome planPitStop(int plid, int lap, int stopMs);
    // The car is moved to its pit box (/pitlane): IS_PLA enter when it was on track.
    Outcome sendToPitLane(int plid, Outbox& out);
    // Fills the grid, gives the cars their paces and starts the race.
    Outcome startRace(const RaceSpec& race, Outbox& out);

    // ---- Packets from the InSim client -------------------------------------
    // IS_MST: a host command when it begins with '/', else chat to everybody.
    Outcome hostMessage(std::string_view text, Outbox& out);
    void longMessage(std::string_view text);                                           // IS_MSX
    void privateMessage(std::uint8_t ucid, std::uint8_t plid, std::string_view text);  // IS_MTC
    Outcome button(const insim::IS_BTN& btn);
    Outcome buttonFunction(const insim::IS_BFN& bfn);
    void clearAllScreens() { screens_.clear(); }

private:
    Connection* connection(int ucid);
    Player* player(int plid);
    int freePlid() const;
    int freeUcid() const;
    // Appends a packet, then an IS_STA when one of its fields changed.
    void emit(const insim::RawPacket& packet, Outbox& out);
    void reportStateIfChanged(Outbox& out);
    insim::IS_NCN ncnFor(const Connection& c, std::uint8_t reqI) const;
    insim::IS_NPL nplFor(const Player& p, std::uint8_t reqI) const;
    insim::IS_RST rstFor(std::uint8_t reqI) const;
    insim::IS_REO reoFor(std::uint8_t reqI) const;
    void removePlayerAt(std::size_t index, Outbox& out);
    void dropAllGuests();  // leaves only the host, no packets (LFS left multiplayer)
    void recordChat(ChatLine::Kind kind, std::uint8_t ucid, std::uint8_t plid,
                    std::string_view text, bool acted);
    Outcome placeButton(std::uint8_t ucid, const insim::IS_BTN& btn);

    // Driving internals (driving.cpp).
    struct Path;
    struct TimedPacket;
    Path trackPath() const;
    bool drivingActive() const { return driving_ && session_.running(); }
    Player* carOnTrack(int plid, Outcome& why);
    void placeInBox(Player& p);
    void placeCarsForSession();
    void runUpdate(std::int64_t fromMs, std::int64_t toMs, Outbox& out);
    std::vector<int> carsAhead(const Path& path) const;
    void limitFollower(Player& p, const Player& ahead, double aheadFrom, const Path& path,
                       std::int64_t fromMs, std::int64_t toMs);
    void moveCar(Player& p, const Path& path, std::int64_t fromMs, std::int64_t toMs,
                 std::vector<TimedPacket>& events);
    void passMarks(Player& p, const Path& path, double from, double to, double startMs,
                   double speed, std::vector<TimedPacket>& events);
    void carFinishes(Player& p, double atMs, std::vector<TimedPacket>& events);
    void rankCars();
    void raiseFlags(const Path& path, Outbox& out);
    void reportCars(const Path& path, Outbox& out) const;
    double nodesPerMs(const CarState& car) const;

    std::vector<Connection> connections_;
    std::vector<Player> players_;
    Session session_;
    std::uint16_t stateFlags_;
    std::map<std::uint8_t, std::vector<Button>> screens_;
    std::vector<ChatLine> chat_;
    insim::RawPacket reportedState_;  // the IS_STA the client last got (ReqI 0)
    int lastPlid_ = 0;
    std::vector<std::uint8_t> gridOrder_;  // PLIDs in the start order of the session
    bool msoColours_ = false;
    std::uint8_t prefix_ = 0;
    std::int64_t nowMs_ = 0;

    // Driving.
    DrivingSettings settings_;
    bool driving_ = false;
    bool carReports_ = true;
    int updateMs_ = 250;
    std::int64_t movedUntilMs_ = 0;  // cars have moved up to this time
    std::int64_t clockStartMs_ = 0;  // ETime 0: the green light, or the session start
    bool raceWon_ = false;
    int finishers_ = 0;          // cars that finished (IS_FIN given)
    int finishersReported_ = 0;  // of those, the ones IS_STA NumFinished counts already
};

}  // namespace tmx::sim
