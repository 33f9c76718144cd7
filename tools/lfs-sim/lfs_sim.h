// The simulated Live for Speed server: an InSim 4 host on 127.0.0.1 that
// accepts one InSim client at a time, answers the requests a race-control
// program makes, reports every change of its game model the way LFS does, and
// emulates what each connection sees on screen from IS_BTN / IS_BFN.
//
// Everything it receives is recorded with its time and raw bytes. Every
// accessor is thread-safe; waitFor() blocks on a condition variable until the
// recorded state satisfies a predicate, so tests never sleep and hope.
//
// Threads: one server thread accepts and serves the client (reading, answering
// requests, keep-alives, delayed replies). Model changes and the robustness
// helpers run on the caller's thread. One lock guards the model, the records
// and every write to the socket, so packets always go out in model order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/console.h"
#include "insim/packets.h"
#include "lfs-sim/model.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace tmx::sim {

// How the server answers one kind of request (TINY_VER, TINY_SST). The count
// runs over the simulator's whole life (so a test can leave the first client
// unanswered and answer its reconnect); setting a policy restarts it.
struct ReplyPolicy {
    bool answer = true;   // false: never answer
    int ignoreFirst = 0;  // this many requests go unanswered before the first answer
    int delayMs = 0;      // answer this long after the request (simulator clock)
};

struct SimOptions {
    std::uint16_t port = 0;     // 0: any free port (see LfsSim::port())
    std::string adminPassword;  // empty: any IS_ISI password is accepted
    int insimVersion = insim::kInsimVersion;
    std::string lfsVersion = "0.5Z";
    std::string product = "S2";
    std::string hostName = "LFS Sim";
    int keepAliveMs = 30000;  // TINY_NONE interval; 0 = no keep-alives
    ReplyPolicy versionReply;
    ReplyPolicy stateReply;
    bool listen = true;  // false: start without accepting connections
    std::uint16_t stateFlags = insim::ISS_GAME | insim::ISS_MULTI;
    bool logPackets = true;  // one log line per received packet (when a log console is given)
    bool recordWrites = true;  // false: SimState::sent stays empty (long runs with driving cars)
};

struct ReceivedPacket {
    std::int64_t timeMs = 0;  // since the simulator started
    int client = 0;           // 1 for the first accepted client, 2 for the next ...
    std::vector<std::uint8_t> bytes;

    std::uint8_t type() const { return bytes.size() > 1 ? bytes[1] : 0; }
    std::uint8_t reqI() const { return bytes.size() > 2 ? bytes[2] : 0; }
    std::uint8_t subType() const { return bytes.size() > 3 ? bytes[3] : 0; }  // IS_TINY SubT
    bool is(std::uint8_t packetType, int tinySubType = -1) const;
    std::string describe() const;
};

// One write the simulator made to its client.
struct SentWrite {
    std::int64_t timeMs = 0;
    int client = 0;
    std::vector<std::uint8_t> bytes;
};

struct LinkStatus {
    bool listening = false;
    bool clientConnected = false;  // a TCP client is being served
    bool insimReady = false;       // its IS_ISI was accepted
    int currentClient = 0;         // number of the client being served (0: none)
    int clientsAccepted = 0;       // TCP clients accepted so far
    int clientsRejected = 0;       // closed at once: no IS_ISI first, wrong password, bad size
    insim::IS_ISI isi;             // the IS_ISI of the current (or last) InSim client
    int versionRequests = 0;       // since the version policy was set
    int stateRequests = 0;         // since the state policy was set
    int keepAlivesSent = 0;
    int keepAliveAnswers = 0;  // TINY_NONE answers to an outstanding keep-alive
    int keepAlivesMissed = 0;  // keep-alives still unanswered when the next was due
    int malformedPackets = 0;  // received packets too short for their type
};

struct SimState {
    ServerModel model;
    LinkStatus link;
    std::vector<ReceivedPacket> received;
    std::vector<SentWrite> sent;
    std::vector<std::string> notes;  // what the simulator noticed, in order

    // The first received packet of that kind at index >= from, or nullptr.
    const ReceivedPacket* findPacket(std::uint8_t type, int tinySubType = -1,
                                     std::size_t from = 0) const;
    std::size_t countPackets(std::uint8_t type, int tinySubType = -1) const;
    // All sent bytes to one client, concatenated (0: every client).
    std::vector<std::uint8_t> sentBytes(int client = 0) const;
};

class LfsSim {
public:
    using Predicate = std::function<bool(const SimState&)>;

    explicit LfsSim(SimOptions options = {}, platform::Clock& clock = platform::systemClock(),
                    Console* log = nullptr);
    ~LfsSim();
    LfsSim(const LfsSim&) = delete;
    LfsSim& operator=(const LfsSim&) = delete;

    // Binds 127.0.0.1:port (even with listen = false, so port() is known) and
    // starts the server thread. false if the port cannot be bound.
    bool start();
    // Closes the client and the listener and joins the server thread.
    void stop();
    std::uint16_t port() const { return port_; }
    std::int64_t elapsedMs() const;  // simulator clock, since construction

    // ---- Observation ---------------------------------------------------------
    SimState snapshot() const;
    // Blocks until pred(state) holds (true) or timeoutMs of real time passed (false).
    bool waitFor(const Predicate& pred, int timeoutMs) const;
    // The first received packet of that kind at index >= fromIndex.
    std::optional<ReceivedPacket> waitForPacket(std::uint8_t type, int tinySubType, int timeoutMs,
                                                std::size_t fromIndex = 0) const;
    // Until an InSim client (IS_ISI accepted) is connected.
    bool waitForClient(int timeoutMs) const;
    // Until no client is connected.
    bool waitForDisconnect(int timeoutMs) const;
    std::size_t receivedCount() const;
    std::vector<Button> screen(int ucid) const;

    // ---- Model changes: what LFS sends for them goes to the InSim client -----
    Outcome apply(const std::function<Outcome(ServerModel&, Outbox&)>& change);
    Outcome join(int ucid, std::string_view uname, std::string_view pname, bool admin = false);
    Outcome leave(int ucid, std::uint8_t reason = insim::LEAVR_DISCO);
    Outcome rename(int ucid, std::string_view pname);
    Outcome setAdmin(int ucid, bool admin);
    Outcome joinTrack(const PlayerSpec& wanted);
    Outcome toPits(int plid);
    Outcome leavePits(int plid);
    Outcome spectate(int plid);
    Outcome takeOver(int plid, int newUcid);
    Outcome carReset(int plid);
    Outcome chat(int ucid, std::string_view text);
    Outcome startSession(const SessionSpec& wanted);
    Outcome endSession();
    Outcome multiplayerEnds();
    Outcome backToSetup();
    Outcome entryScreen();
    Outcome setStateFlags(std::uint16_t flags);

    // ---- Driving (driving.h): cars move by the simulator clock ----------------
    // Every call but setDriving(false) and setDrivingSettings switches the car
    // updates on. Updates run on the server thread as time passes (at most
    // 10 ms late) and before every model change and received packet;
    // updateCars() runs the due ones at once, so with a ManualClock
    // `clock.advance(250); sim.updateCars();` gives exactly one update.
    void setDriving(bool on);
    void setDrivingSettings(const DrivingSettings& settings);
    Outcome startRace(const RaceSpec& race);  // grid filled, paces given, IS_REO + IS_RST
    Outcome drive(int plid, double paceKmh);
    Outcome stopCar(int plid);
    Outcome reverseCar(int plid, double kmh = -1);
    Outcome spinCar(int plid, double degPerSec = 0);
    Outcome slideCar(int plid, double angleDeg = 0);
    Outcome wrongWay(int plid, double kmh = -1);
    Outcome setCarMotion(int plid, const CarMotion& motion);
    // Keeps at least gapM behind the car ahead on the track (on = false: stops following).
    Outcome followCar(int plid, bool on, double gapM = kFollowGapM);
    Outcome pitNextLap(int plid, int stopMs = 10000);  // stopMs 0: drive through
    Outcome pitOnLap(int plid, int lap, int stopMs = 10000);
    int updateCars();  // how many updates this call ran (the server thread may have run some)
    // Sleeps ms on the simulator clock (a ManualClock jumps at once), then updateCars().
    int advance(int ms);

    // ---- Link behaviour --------------------------------------------------------
    void setVersionReply(const ReplyPolicy& policy);
    void setStateReply(const ReplyPolicy& policy);
    void setKeepAliveMs(int ms);  // 0 = off; the next keep-alive is due ms from now

    // ---- Robustness helpers (need a TCP client; false when none or the write failed)
    bool sendRaw(const void* data, std::size_t length);
    bool sendPacket(const insim::RawPacket& packet);
    // Many packets in one write.
    bool sendBurst(const std::vector<insim::RawPacket>& packets);
    // One packet in two writes, the first firstPart bytes long, pauseMs apart
    // (simulator clock); nothing else is written in between.
    bool sendSplit(const insim::RawPacket& packet, std::size_t firstPart, int pauseMs);
    // The packet with its size byte replaced (0 for an empty size).
    bool sendWithSizeByte(const insim::RawPacket& packet, std::uint8_t sizeByte);
    // Only the first keepBytes bytes of the packet.
    bool sendTruncated(const insim::RawPacket& packet, std::size_t keepBytes);
    // Closes the client's connection (as LFS does when it ends the InSim
    // session); true once the server thread has closed it.
    bool dropClient(int timeoutMs = 2000);
    // Stops or resumes accepting connections on the same port (a connected
    // client stays); true once the listener is in the asked state.
    bool setListening(bool on, int timeoutMs = 2000);

private:
    enum class Reply { Version, State };
    struct DelayedReply {
        std::int64_t dueMs;
        Reply what;
        std::uint8_t reqI;
        int client;
    };

    void run();
    void applyListeningLocked();
    void acceptLocked(platform::TcpSocket socket);
    void closeClientLocked(const std::string& why);
    void receiveLocked(const std::uint8_t* data, std::size_t length);
    void handlePacketLocked(const std::uint8_t* data, std::size_t length);
    void handleInitLocked(const std::uint8_t* data, std::size_t length);
    void handleTinyLocked(const insim::IS_TINY& tiny);
    void requestLocked(Reply what, std::uint8_t reqI);
    void sendReplyLocked(Reply what, std::uint8_t reqI);
    void runTimersLocked();
    bool sendLocked(const std::uint8_t* data, std::size_t length);
    void sendOutboxLocked(const Outbox& out);
    void noteLocked(const std::string& text);
    int runCarsLocked();
    bool clientSendableLocked() const;

    SimOptions options_;
    platform::Clock& clock_;
    Console* log_;
    const std::int64_t startMs_;
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SimState state_;
    bool stopRequested_ = false;
    bool wantListening_ = false;
    bool dropRequested_ = false;
    bool keepAlivePending_ = false;
    std::int64_t nextKeepAliveMs_ = 0;
    std::vector<DelayedReply> delayed_;

    // Written only by the server thread (and by start/stop when it is not running).
    platform::TcpListener listener_;
    platform::TcpSocket client_;
    std::vector<std::uint8_t> rx_;
    platform::Thread thread_;
    bool running_ = false;
};

}  // namespace tmx::sim
