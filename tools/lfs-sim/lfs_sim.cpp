#include "lfs-sim/lfs_sim.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

#include "lfs-sim/describe.h"

namespace tmx::sim {

using namespace tmx::insim;

namespace {

// Real-time granularity of the server thread: how long one wait for a client,
// for data or for a listener change may last before timers are looked at.
constexpr int kPollMs = 10;
constexpr std::size_t kReceiveChunk = 4096;

}  // namespace

// ---- Records -----------------------------------------------------------------

bool ReceivedPacket::is(std::uint8_t packetType, int tinySubType) const {
    if (type() != packetType) return false;
    return tinySubType < 0 || subType() == tinySubType;
}

std::string ReceivedPacket::describe() const {
    return describePacket(bytes.data(), bytes.size());
}

const ReceivedPacket* SimState::findPacket(std::uint8_t type, int tinySubType,
                                           std::size_t from) const {
    for (std::size_t i = from; i < received.size(); ++i)
        if (received[i].is(type, tinySubType)) return &received[i];
    return nullptr;
}

std::size_t SimState::countPackets(std::uint8_t type, int tinySubType) const {
    return static_cast<std::size_t>(
        std::count_if(received.begin(), received.end(),
                      [&](const ReceivedPacket& p) { return p.is(type, tinySubType); }));
}

std::vector<std::uint8_t> SimState::sentBytes(int client) const {
    std::vector<std::uint8_t> all;
    for (const auto& w : sent)
        if (client == 0 || w.client == client)
            all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    return all;
}

// ---- Life ----------------------------------------------------------------------

LfsSim::LfsSim(SimOptions options, platform::Clock& clock, Console* log)
    : options_(std::move(options)),
      clock_(clock),
      log_(log),
      startMs_(clock.nowMs()),
      state_{ServerModel(options_.stateFlags), {}, {}, {}, {}} {}

LfsSim::~LfsSim() {
    stop();
}

std::int64_t LfsSim::elapsedMs() const {
    return clock_.nowMs() - startMs_;
}

bool LfsSim::start() {
    if (running_) return true;
    if (!platform::socketsStartup()) return false;
    if (!listener_.listen(options_.port)) {
        platform::socketsCleanup();
        return false;
    }
    port_ = listener_.port();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
        wantListening_ = options_.listen;
        state_.link.listening = true;
        applyListeningLocked();
    }
    if (!thread_.start([this] { run(); })) {
        listener_.close();
        platform::socketsCleanup();
        return false;
    }
    running_ = true;
    return true;
}

void LfsSim::stop() {
    if (!running_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
        changed_.notify_all();
    }
    thread_.join();
    running_ = false;
    platform::socketsCleanup();
}

void LfsSim::run() {
    std::vector<std::uint8_t> chunk(kReceiveChunk);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopRequested_) break;
            applyListeningLocked();
            runTimersLocked();
            if (!client_.isOpen() && !listener_.isOpen()) {
                // Nothing to serve: sleep until asked to listen or to stop.
                changed_.wait_for(lock, std::chrono::milliseconds(kPollMs * 5),
                                  [&] { return stopRequested_ || wantListening_; });
                continue;
            }
        }
        // The server thread is the only writer of client_ and listener_, so it
        // may use them here without the lock; other threads touch client_ only
        // under the lock and never close it.
        if (!client_.isOpen()) {
            platform::TcpSocket accepted = listener_.accept(kPollMs);
            if (accepted.isOpen()) {
                std::lock_guard<std::mutex> lock(mutex_);
                acceptLocked(std::move(accepted));
            }
            continue;
        }
        const auto wait = client_.waitReadable(kPollMs);
        if (wait == platform::TcpSocket::Wait::Timeout) continue;
        if (wait == platform::TcpSocket::Wait::Readable) {
            const int n = client_.receive(chunk.data(), static_cast<int>(chunk.size()));
            std::lock_guard<std::mutex> lock(mutex_);
            if (n > 0) {
                receiveLocked(chunk.data(), static_cast<std::size_t>(n));
            } else {
                closeClientLocked(dropRequested_ ? "the simulator dropped the link"
                                  : n == 0       ? "the client closed the connection"
                                                 : "receive failed");
            }
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            closeClientLocked("socket error");
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (client_.isOpen()) closeClientLocked("the simulator stopped");
    listener_.close();
    state_.link.listening = false;
    changed_.notify_all();
}

void LfsSim::applyListeningLocked() {
    if (dropRequested_ && client_.isOpen()) closeClientLocked("the simulator dropped the link");
    dropRequested_ = false;
    if (wantListening_ == listener_.isOpen()) {
        state_.link.listening = listener_.isOpen();
        return;
    }
    if (wantListening_) {
        if (!listener_.listen(port_)) {
            noteLocked("cannot listen on 127.0.0.1:" + std::to_string(port_));
            wantListening_ = false;
        } else {
            noteLocked("listening on 127.0.0.1:" + std::to_string(port_));
        }
    } else {
        listener_.close();
        noteLocked("stopped listening");
    }
    state_.link.listening = listener_.isOpen();
    changed_.notify_all();
}

void LfsSim::acceptLocked(platform::TcpSocket socket) {
    client_ = std::move(socket);
    client_.setNoDelay(true);
    rx_.clear();
    auto& link = state_.link;
    link.clientConnected = true;
    link.insimReady = false;
    link.currentClient = ++link.clientsAccepted;
    noteLocked("client " + std::to_string(link.currentClient) + " connected");
    changed_.notify_all();
}

void LfsSim::closeClientLocked(const std::string& why) {
    if (!client_.isOpen()) return;
    client_.close();
    dropRequested_ = false;
    rx_.clear();
    delayed_.clear();
    keepAlivePending_ = false;
    auto& link = state_.link;
    noteLocked("client " + std::to_string(link.currentClient) + " gone: " + why);
    link.clientConnected = false;
    link.insimReady = false;
    link.currentClient = 0;
    changed_.notify_all();
}

void LfsSim::noteLocked(const std::string& text) {
    state_.notes.push_back(text);
    if (log_) log_->out("%8.3f -- %s\n", static_cast<double>(elapsedMs()) / 1000.0, text.c_str());
}

// ---- Receiving -----------------------------------------------------------------

void LfsSim::receiveLocked(const std::uint8_t* data, std::size_t length) {
    rx_.insert(rx_.end(), data, data + length);
    std::size_t used = 0;
    while (client_.isOpen() && rx_.size() - used >= 1) {
        const std::size_t size = rx_[used];
        if (size < 4) {
            // Every InSim packet has at least its 4-byte header: the stream
            // can no longer be framed, so the connection ends as a protocol error.
            ++state_.link.malformedPackets;
            if (!state_.link.insimReady) ++state_.link.clientsRejected;
            closeClientLocked("unframeable data (size byte " + std::to_string(size) + ")");
            return;
        }
        if (rx_.size() - used < size) break;
        // Handled from a copy: a handler may close the client, which empties rx_.
        std::array<std::uint8_t, 256> packet{};
        std::copy_n(rx_.begin() + static_cast<std::ptrdiff_t>(used), size, packet.begin());
        used += size;
        handlePacketLocked(packet.data(), size);
    }
    if (!client_.isOpen()) return;  // closeClientLocked emptied rx_
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(used));
}

void LfsSim::handlePacketLocked(const std::uint8_t* data, std::size_t length) {
    ReceivedPacket packet;
    packet.timeMs = elapsedMs();
    packet.client = state_.link.currentClient;
    packet.bytes.assign(data, data + length);
    if (log_ && options_.logPackets)
        log_->out("%8.3f <- %s\n", static_cast<double>(packet.timeMs) / 1000.0,
                  packet.describe().c_str());
    state_.received.push_back(std::move(packet));
    changed_.notify_all();

    if (!state_.link.insimReady) {
        handleInitLocked(data, length);
        return;
    }
    runCarsLocked();  // the cars are where they are now before the packet acts
    state_.model.setNow(elapsedMs());
    Outbox out;
    auto malformed = [&] {
        ++state_.link.malformedPackets;
        noteLocked("malformed " + packetTypeName(data[1]) + " (" + std::to_string(length) +
                   " bytes) ignored");
    };
    switch (data[1]) {
        case ISP_TINY: {
            IS_TINY tiny;
            if (!decode(data, length, tiny)) return malformed();
            handleTinyLocked(tiny);
            return;
        }
        case ISP_MST: {
            IS_MST mst;
            if (!decode(data, length, mst)) return malformed();
            Outcome r = state_.model.hostMessage(mst.Msg.view(), out);
            if (!r && !mst.Msg.empty() && mst.Msg.view().front() == '/')
                noteLocked("host command \"" + printable(mst.Msg.view()) +
                           "\" not carried out: " + r.error);
            break;
        }
        case ISP_MSX: {
            IS_MSX msx;
            if (!decode(data, length, msx)) return malformed();
            state_.model.longMessage(msx.Msg.view());
            break;
        }
        case ISP_MTC: {
            IS_MTC mtc;
            if (!decode(data, length, mtc)) return malformed();
            state_.model.privateMessage(mtc.UCID, mtc.PLID, mtc.Msg.view());
            break;
        }
        case ISP_BTN: {
            IS_BTN btn;
            if (!decode(data, length, btn)) return malformed();
            Outcome r = state_.model.button(btn);
            if (!r) noteLocked(r.error);
            break;
        }
        case ISP_BFN: {
            IS_BFN bfn;
            if (!decode(data, length, bfn)) return malformed();
            Outcome r = state_.model.buttonFunction(bfn);
            if (!r) noteLocked(r.error);
            break;
        }
        case ISP_ISI:
            noteLocked("a second IS_ISI is ignored");
            break;
        default:
            break;  // recorded only
    }
    sendOutboxLocked(out);
}

void LfsSim::handleInitLocked(const std::uint8_t* data, std::size_t length) {
    auto& link = state_.link;
    IS_ISI isi;
    if (length != IS_ISI::kSize || data[1] != ISP_ISI || !decode(data, length, isi)) {
        ++link.clientsRejected;
        closeClientLocked("the first packet was " + packetTypeName(data[1]) + " (" +
                          std::to_string(length) + " bytes), not IS_ISI");
        return;
    }
    if (!options_.adminPassword.empty() && isi.Admin != options_.adminPassword) {
        ++link.clientsRejected;
        closeClientLocked("wrong admin password");
        return;
    }
    link.insimReady = true;
    link.isi = isi;
    state_.model.setClientInit(isi.Flags, isi.Prefix);
    state_.model.setCarReports((isi.Flags & ISF_MCI) != 0, isi.Interval);
    // LFS removes an InSim program's buttons when it goes; the simulator keeps
    // them for inspection until the next program has logged in.
    state_.model.clearAllScreens();
    keepAlivePending_ = false;
    nextKeepAliveMs_ = elapsedMs() + options_.keepAliveMs;
    noteLocked("InSim client \"" + printable(isi.IName.view()) + "\" logged in");
    changed_.notify_all();
    if (isi.ReqI != 0) requestLocked(Reply::Version, isi.ReqI);
}

void LfsSim::handleTinyLocked(const IS_TINY& tiny) {
    Outbox out;
    if (tiny.SubT == TINY_NONE) {
        if (tiny.ReqI != 0) return;
        if (keepAlivePending_) {
            keepAlivePending_ = false;
            ++state_.link.keepAliveAnswers;
            changed_.notify_all();
        }
        return;
    }
    if (tiny.SubT == TINY_CLOSE) {
        closeClientLocked("the client sent TINY_CLOSE");
        return;
    }
    if (tiny.ReqI == 0) {
        // LFS answers requests only when they carry a request number.
        noteLocked(tinyName(tiny.SubT) + " with ReqI 0 left unanswered");
        return;
    }
    switch (tiny.SubT) {
        case TINY_VER:
            requestLocked(Reply::Version, tiny.ReqI);
            return;
        case TINY_SST:
            requestLocked(Reply::State, tiny.ReqI);
            return;
        case TINY_NCN:
            state_.model.replyConnections(tiny.ReqI, out);
            break;
        case TINY_NPL:
            state_.model.replyPlayers(tiny.ReqI, out);
            break;
        case TINY_RST:
            state_.model.replySession(tiny.ReqI, out);
            break;
        case TINY_REO:
            state_.model.replyOrder(tiny.ReqI, out);
            break;
        case TINY_PING: {
            IS_TINY reply;
            reply.ReqI = tiny.ReqI;
            reply.SubT = TINY_REPLY;
            out.push_back(encode(reply));
            break;
        }
        case TINY_ISM: {
            IS_ISM ism;
            ism.ReqI = tiny.ReqI;
            const bool multi = (state_.model.stateFlags() & ISS_MULTI) != 0;
            ism.Host = multi ? 1 : 0;
            if (multi) ism.HName.assign(options_.hostName);
            out.push_back(encode(ism));
            break;
        }
        default:
            break;
    }
    sendOutboxLocked(out);
}

void LfsSim::requestLocked(Reply what, std::uint8_t reqI) {
    auto& link = state_.link;
    const ReplyPolicy& policy =
        what == Reply::Version ? options_.versionReply : options_.stateReply;
    const int count = what == Reply::Version ? ++link.versionRequests : ++link.stateRequests;
    const char* name = what == Reply::Version ? "TINY_VER" : "TINY_SST";
    if (!policy.answer || count <= policy.ignoreFirst) {
        noteLocked(std::string(name) + " request " + std::to_string(count) + " left unanswered");
        return;
    }
    if (policy.delayMs > 0) {
        delayed_.push_back({elapsedMs() + policy.delayMs, what, reqI, link.currentClient});
        return;
    }
    sendReplyLocked(what, reqI);
}

void LfsSim::sendReplyLocked(Reply what, std::uint8_t reqI) {
    if (what == Reply::Version) {
        IS_VER ver;
        ver.ReqI = reqI;
        ver.Version.assign(options_.lfsVersion);
        ver.Product.assign(options_.product);
        ver.InSimVer = static_cast<std::uint16_t>(options_.insimVersion);
        const RawPacket p = encode(ver);
        sendLocked(p.data(), p.size);
    } else {
        const RawPacket p = encode(state_.model.state(reqI));
        state_.model.markStateReported();
        sendLocked(p.data(), p.size);
    }
}

void LfsSim::runTimersLocked() {
    runCarsLocked();  // LFS races on with or without an InSim client
    if (!state_.link.insimReady) return;
    const std::int64_t now = elapsedMs();
    for (std::size_t i = 0; i < delayed_.size();) {
        if (delayed_[i].dueMs <= now) {
            const DelayedReply due = delayed_[i];
            delayed_.erase(delayed_.begin() + static_cast<std::ptrdiff_t>(i));
            if (due.client == state_.link.currentClient) sendReplyLocked(due.what, due.reqI);
        } else {
            ++i;
        }
    }
    if (options_.keepAliveMs > 0 && now >= nextKeepAliveMs_) {
        if (keepAlivePending_) {
            ++state_.link.keepAlivesMissed;
            noteLocked("the keep-alive got no TINY_NONE answer before the next one");
        }
        IS_TINY ping;  // TINY_NONE, ReqI 0
        const RawPacket p = encode(ping);
        sendLocked(p.data(), p.size);
        ++state_.link.keepAlivesSent;
        keepAlivePending_ = true;
        nextKeepAliveMs_ = now + options_.keepAliveMs;
        changed_.notify_all();
    }
}

// ---- Sending ---------------------------------------------------------------------

bool LfsSim::clientSendableLocked() const {
    return client_.isOpen() && !dropRequested_;
}

bool LfsSim::sendLocked(const std::uint8_t* data, std::size_t length) {
    if (!clientSendableLocked() || length == 0) return false;
    const bool ok = client_.sendAll(data, static_cast<int>(length));
    if (options_.recordWrites) {
        SentWrite write;
        write.timeMs = elapsedMs();
        write.client = state_.link.currentClient;
        write.bytes.assign(data, data + length);
        state_.sent.push_back(std::move(write));
    }
    if (!ok) noteLocked("a write to the client failed");
    changed_.notify_all();
    return ok;
}

void LfsSim::sendOutboxLocked(const Outbox& out) {
    if (!state_.link.insimReady) return;  // LFS talks only to a logged-in InSim client
    for (const auto& p : out) sendLocked(p.data(), p.size);
}

// Each due car update goes out as one write: its events, flags and car reports.
int LfsSim::runCarsLocked() {
    const std::int64_t now = elapsedMs();
    Outbox out;
    std::vector<std::uint8_t> bytes;
    int ran = 0;
    while (state_.model.updateCars(now, out, 1) == 1) {
        ++ran;
        if (state_.link.insimReady && !out.empty()) {
            bytes.clear();
            for (const auto& p : out) bytes.insert(bytes.end(), p.data(), p.data() + p.size);
            sendLocked(bytes.data(), bytes.size());
        }
        out.clear();
    }
    if (ran > 0) changed_.notify_all();
    return ran;
}

// ---- Observation -----------------------------------------------------------------

SimState LfsSim::snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool LfsSim::waitFor(const Predicate& pred, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return pred(state_); });
}

std::optional<ReceivedPacket> LfsSim::waitForPacket(std::uint8_t type, int tinySubType,
                                                    int timeoutMs, std::size_t fromIndex) const {
    std::optional<ReceivedPacket> found;
    waitFor(
        [&](const SimState& s) {
            const ReceivedPacket* p = s.findPacket(type, tinySubType, fromIndex);
            if (p) found = *p;
            return p != nullptr;
        },
        timeoutMs);
    return found;
}

bool LfsSim::waitForClient(int timeoutMs) const {
    return waitFor([](const SimState& s) { return s.link.insimReady; }, timeoutMs);
}

bool LfsSim::waitForDisconnect(int timeoutMs) const {
    return waitFor([](const SimState& s) { return !s.link.clientConnected; }, timeoutMs);
}

std::size_t LfsSim::receivedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.received.size();
}

std::vector<Button> LfsSim::screen(int ucid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.model.screen(ucid);
}

// ---- Model changes ---------------------------------------------------------------

Outcome LfsSim::apply(const std::function<Outcome(ServerModel&, Outbox&)>& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    runCarsLocked();  // a change acts on the cars where they are now
    state_.model.setNow(elapsedMs());
    Outbox out;
    Outcome result = change(state_.model, out);
    sendOutboxLocked(out);
    changed_.notify_all();
    return result;
}

Outcome LfsSim::join(int ucid, std::string_view uname, std::string_view pname, bool admin) {
    return apply([&](ServerModel& m, Outbox& out) {
        return m.addConnection(ucid, uname, pname, admin, out);
    });
}

Outcome LfsSim::leave(int ucid, std::uint8_t reason) {
    return apply(
        [&](ServerModel& m, Outbox& out) { return m.removeConnection(ucid, reason, out); });
}

Outcome LfsSim::rename(int ucid, std::string_view pname) {
    return apply(
        [&](ServerModel& m, Outbox& out) { return m.renameConnection(ucid, pname, nullptr, out); });
}

Outcome LfsSim::setAdmin(int ucid, bool admin) {
    return apply([&](ServerModel& m, Outbox&) { return m.setAdmin(ucid, admin); });
}

Outcome LfsSim::joinTrack(const PlayerSpec& wanted) {
    return apply([&](ServerModel& m, Outbox& out) { return m.addPlayer(wanted, out); });
}

Outcome LfsSim::toPits(int plid) {
    return apply([&](ServerModel& m, Outbox& out) { return m.playerToPits(plid, out); });
}

Outcome LfsSim::leavePits(int plid) {
    return apply([&](ServerModel& m, Outbox& out) { return m.playerLeavesPits(plid, out); });
}

Outcome LfsSim::spectate(int plid) {
    return apply([&](ServerModel& m, Outbox& out) { return m.playerLeaves(plid, out); });
}

Outcome LfsSim::takeOver(int plid, int newUcid) {
    return apply([&](ServerModel& m, Outbox& out) { return m.takeOver(plid, newUcid, out); });
}

Outcome LfsSim::carReset(int plid) {
    return apply([&](ServerModel& m, Outbox& out) { return m.carReset(plid, out); });
}

Outcome LfsSim::chat(int ucid, std::string_view text) {
    return apply([&](ServerModel& m, Outbox& out) { return m.typeChat(ucid, text, out); });
}

Outcome LfsSim::startSession(const SessionSpec& wanted) {
    return apply([&](ServerModel& m, Outbox& out) { return m.startSession(wanted, out); });
}

Outcome LfsSim::endSession() {
    return apply([](ServerModel& m, Outbox& out) { return m.endSession(out); });
}

Outcome LfsSim::multiplayerEnds() {
    return apply([](ServerModel& m, Outbox& out) { return m.multiplayerEnds(out); });
}

Outcome LfsSim::backToSetup() {
    return apply([](ServerModel& m, Outbox& out) { return m.backToSetup(out); });
}

Outcome LfsSim::entryScreen() {
    return apply([](ServerModel& m, Outbox& out) { return m.entryScreen(out); });
}

Outcome LfsSim::setStateFlags(std::uint16_t flags) {
    return apply([&](ServerModel& m, Outbox& out) { return m.setStateFlags(flags, out); });
}

// ---- Driving ---------------------------------------------------------------------

void LfsSim::setDriving(bool on) {
    apply([on](ServerModel& m, Outbox&) {
        m.setDriving(on);
        return Outcome::success();
    });
}

void LfsSim::setDrivingSettings(const DrivingSettings& settings) {
    apply([&](ServerModel& m, Outbox&) {
        m.setDrivingSettings(settings);
        return Outcome::success();
    });
}

Outcome LfsSim::startRace(const RaceSpec& race) {
    return apply([&](ServerModel& m, Outbox& out) { return m.startRace(race, out); });
}

Outcome LfsSim::drive(int plid, double paceKmh) {
    return apply([&](ServerModel& m, Outbox&) { return m.driveCar(plid, paceKmh); });
}

Outcome LfsSim::setCarMotion(int plid, const CarMotion& motion) {
    return apply([&](ServerModel& m, Outbox&) { return m.setCarMotion(plid, motion); });
}

Outcome LfsSim::followCar(int plid, bool on, double gapM) {
    return apply([&](ServerModel& m, Outbox&) { return m.followCar(plid, on, gapM); });
}

Outcome LfsSim::stopCar(int plid) {
    return setCarMotion(plid, CarMotion{Motion::Stopped});
}

Outcome LfsSim::reverseCar(int plid, double kmh) {
    return setCarMotion(plid, CarMotion{Motion::Reversing, kmh});
}

Outcome LfsSim::spinCar(int plid, double degPerSec) {
    return setCarMotion(plid, CarMotion{Motion::Spinning, -1, degPerSec});
}

Outcome LfsSim::slideCar(int plid, double angleDeg) {
    return setCarMotion(plid, CarMotion{Motion::Sliding, -1, angleDeg});
}

Outcome LfsSim::wrongWay(int plid, double kmh) {
    return setCarMotion(plid, CarMotion{Motion::WrongWay, kmh});
}

Outcome LfsSim::pitNextLap(int plid, int stopMs) {
    return pitOnLap(plid, 0, stopMs);
}

Outcome LfsSim::pitOnLap(int plid, int lap, int stopMs) {
    return apply([&](ServerModel& m, Outbox&) { return m.planPitStop(plid, lap, stopMs); });
}

int LfsSim::updateCars() {
    std::lock_guard<std::mutex> lock(mutex_);
    return runCarsLocked();
}

int LfsSim::advance(int ms) {
    clock_.sleepMs(ms);
    return updateCars();
}

// ---- Link behaviour --------------------------------------------------------------

void LfsSim::setVersionReply(const ReplyPolicy& policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.versionReply = policy;
    state_.link.versionRequests = 0;
}

void LfsSim::setStateReply(const ReplyPolicy& policy) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.stateReply = policy;
    state_.link.stateRequests = 0;
}

void LfsSim::setKeepAliveMs(int ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.keepAliveMs = ms < 0 ? 0 : ms;
    nextKeepAliveMs_ = elapsedMs() + options_.keepAliveMs;
}

bool LfsSim::sendRaw(const void* data, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    return sendLocked(static_cast<const std::uint8_t*>(data), length);
}

bool LfsSim::sendPacket(const RawPacket& packet) {
    return sendRaw(packet.data(), packet.size);
}

bool LfsSim::sendBurst(const std::vector<RawPacket>& packets) {
    std::vector<std::uint8_t> all;
    for (const auto& p : packets) all.insert(all.end(), p.data(), p.data() + p.size);
    return sendRaw(all.data(), all.size());
}

bool LfsSim::sendSplit(const RawPacket& packet, std::size_t firstPart, int pauseMs) {
    if (firstPart == 0 || firstPart >= packet.size) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sendLocked(packet.data(), firstPart)) return false;
    clock_.sleepMs(pauseMs);
    return sendLocked(packet.data() + firstPart, packet.size - firstPart);
}

bool LfsSim::sendWithSizeByte(const RawPacket& packet, std::uint8_t sizeByte) {
    if (packet.size == 0) return false;
    RawPacket changed = packet;
    changed.bytes[0] = sizeByte;
    return sendRaw(changed.data(), changed.size);
}

bool LfsSim::sendTruncated(const RawPacket& packet, std::size_t keepBytes) {
    return sendRaw(packet.data(), std::min(keepBytes, packet.size));
}

bool LfsSim::dropClient(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!client_.isOpen()) return true;
    dropRequested_ = true;
    client_.shutdown();  // wakes the server thread, which closes the socket
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return !state_.link.clientConnected; });
}

bool LfsSim::setListening(bool on, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    wantListening_ = on;
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return state_.link.listening == on || wantListening_ != on;
    }) && state_.link.listening == on;
}

}  // namespace tmx::sim
