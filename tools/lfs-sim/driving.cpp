// The driving half of ServerModel: where the cars are, how they move in one
// update, and what LFS reports about it (see driving.h).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "lfs-sim/model.h"

namespace tmx::sim {

using namespace tmx::insim;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxRadiusM = 30000;  // X and Y stay inside their 32-bit fields
constexpr int kMinUpdateMs = 50;       // the shortest IS_MCI interval of InSim 4
constexpr double kMaxKmh = 700;        // about the most the Speed field holds

// IS_FIN / IS_RES Confirm bits.
constexpr std::uint8_t kConfMentioned = 1, kConfConfirmed = 2, kConfPenaltyDt = 4,
                       kConfPenaltySg = 8, kConfPenalty30 = 16, kConfPenalty45 = 32;
// IS_PIT work bits: the stop of a stop-go, and refuelling (what a planned stop does).
constexpr std::uint32_t kWorkStop = 1u << 1;
constexpr std::uint32_t kWorkRefuel = 1u << 17;
constexpr std::uint8_t kTyreUnchanged = 255;

bool isDriveThrough(std::uint8_t pen) {
    return pen == PENALTY_DT || pen == PENALTY_DT_VALID;
}
bool isStopGo(std::uint8_t pen) {
    return pen == PENALTY_SG || pen == PENALTY_SG_VALID;
}

double positiveMod(double x, double m) {
    double r = std::fmod(x, m);
    return r < 0 ? r + m : r;
}

std::uint16_t angleRaw(double radians) {
    const double turns = positiveMod(radians / (2 * kPi), 1.0);
    return static_cast<std::uint16_t>(std::lround(turns * 65536.0) & 0xFFFF);
}

std::uint16_t speedRaw(double metresPerSecond) {
    return static_cast<std::uint16_t>(
        std::min(65535.0, std::round(std::fabs(metresPerSecond) * 327.68)));
}

std::int16_t angVelRaw(double radiansPerSecond) {
    const double v = std::round(radiansPerSecond / (2 * kPi) * 16384.0);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

std::int32_t metresRaw(double metres) {
    return static_cast<std::int32_t>(std::clamp(std::round(metres * 65536.0), -2147483648.0,
                                                2147483647.0));
}

void putU16(RawPacket& p, std::size_t at, unsigned v) {
    p.bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
    p.bytes[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void putU32(RawPacket& p, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p.bytes[at + i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}
void putText(RawPacket& p, std::size_t at, std::size_t field, std::string_view text, bool mayFill) {
    const std::size_t n = std::min(text.size(), mayFill ? field : field - 1);
    std::memcpy(p.bytes.data() + at, text.data(), n);
}

std::uint32_t msBetween(std::int64_t from, std::int64_t to) {
    return to > from ? static_cast<std::uint32_t>(to - from) : 0;
}

// How a car with this penalty enters the pit lane.
std::uint8_t entryFact(std::uint8_t penalty, int plannedStopMs) {
    if (isDriveThrough(penalty)) return PITLANE_DT;
    if (isStopGo(penalty)) return PITLANE_SG;
    return plannedStopMs > 0 ? PITLANE_ENTER : PITLANE_NO_PURPOSE;
}

// A motion given for a while is over: the car drives on at its pace.
void endExpiredMotion(CarState& c, std::int64_t nowMs) {
    if (c.motionUntilMs < 0 || c.motionUntilMs > nowMs) return;
    c.motion = Motion::Driving;
    c.motionKmh = -1;
    c.angleDeg = 0;
    c.motionUntilMs = -1;
    c.spinAngle = 0;
}

// The penalty served in the pit lane is gone: IS_PEN to none.
RawPacket penaltyServed(Player& p) {
    IS_PEN pen;
    pen.PLID = p.plid;
    pen.OldPen = p.penalty;
    pen.NewPen = PENALTY_NONE;
    pen.Reason = PENR_UNKNOWN;
    p.penalty = PENALTY_NONE;
    return encode(pen);
}

}  // namespace

// The track as the cars see it: node count, the marks of one lap (finish
// line first, then the splits in driving order) and the pit lane.
struct ServerModel::Path {
    int nodes = 400;
    int finish = 0;
    double nodeM = 5;
    double radiusM = 300;
    struct Mark {
        int offset;  // nodes after the finish line
        int split;   // 0: the finish line itself
    };
    std::array<Mark, 4> marks{};
    int markCount = 0;
    double entry = 25, box = 10, exit = 15;  // pit lane, in nodes from the finish line

    double nodeAt(double progress) const { return positiveMod(finish + progress, nodes); }
    double angleAt(double progress) const { return 2 * kPi * nodeAt(progress) / nodes; }
};

// An event of one update, at the time within it that it happened.
struct ServerModel::TimedPacket {
    double atMs;
    RawPacket packet;
    bool finisher;  // the last packet of a finish: IS_STA NumFinished counts it from here
};

ServerModel::Path ServerModel::trackPath() const {
    Path path;
    path.nodes = std::max<int>(1, session_.numNodes);
    path.finish = session_.finish % path.nodes;
    path.nodeM = settings_.nodeLengthM > 0 ? settings_.nodeLengthM : 5.0;
    path.radiusM = std::min(path.nodes * path.nodeM / (2 * kPi), kMaxRadiusM);
    path.marks[path.markCount++] = {0, 0};
    const std::array<std::uint16_t, 3> splits = {session_.split1, session_.split2, session_.split3};
    for (int j = 0; j < 3; ++j) {
        const int node = splits[j];
        if (node == 0 || node == path.finish || node >= path.nodes) continue;
        path.marks[path.markCount++] = {(node - path.finish + path.nodes) % path.nodes, j + 1};
    }
    std::sort(path.marks.begin(), path.marks.begin() + path.markCount,
              [](const Path::Mark& a, const Path::Mark& b) { return a.offset < b.offset; });
    // Short tracks squeeze the pit lane; the box always lies between entry and line.
    const double quarter = std::max(2.0, path.nodes / 4.0);
    path.entry = std::clamp<double>(settings_.pitEntryNodes, 2, quarter);
    path.box = std::clamp<double>(settings_.pitBoxNodes, 1, path.entry - 1);
    path.exit = std::clamp<double>(settings_.pitExitNodes, 1, quarter);
    return path;
}

// ---- Switches ----------------------------------------------------------------

void ServerModel::setDriving(bool on) {
    if (on && !drivingActive()) movedUntilMs_ = nowMs_;  // no catching up on idle time
    driving_ = on;
}

void ServerModel::setCarReports(bool on, int intervalMs) {
    carReports_ = on && intervalMs > 0;
    if (intervalMs > 0) updateMs_ = std::max(intervalMs, kMinUpdateMs);
}

// ---- Placing cars ------------------------------------------------------------

void ServerModel::placeInBox(Player& p) {
    const Path path = trackPath();
    CarState& c = p.carState;
    const double line = static_cast<double>(c.lapsDone) * path.nodes;
    c.progress = line - path.box;
    c.boxAt = c.progress;
    c.exitAt = line + path.exit;
    c.pit = PitPhase::Box;
    c.lateralM = settings_.pitLaneOffsetM;
    c.motion = Motion::Driving;
    c.motionKmh = -1;
    c.angleDeg = 0;
    c.motionUntilMs = -1;
    c.spinAngle = 0;
    c.stopPending = false;
    c.servingDt = c.servingSg = false;
    c.launch = false;
    c.waitUntilMs = 0;
    c.planLap = -1;
    c.planStopMs = 0;
}

// A new session: a race lines the cars up on the grid in the order of the
// IS_REO, practice and qualifying put them in their pit boxes. Cars with a
// pace drive off once the start delay is over.
void ServerModel::placeCarsForSession() {
    const Path path = trackPath();
    const bool race = session_.kind == SessionKind::Race;
    raceWon_ = false;
    finishers_ = 0;
    finishersReported_ = 0;
    const std::int64_t green = nowMs_ + std::max(0, settings_.startDelayMs);
    clockStartMs_ = race ? green : nowMs_;
    const double spacing = std::max(0.2, settings_.gridSpacingM / path.nodeM);
    int slot = 0;
    gridOrder_.clear();
    std::vector<std::uint8_t> inGarage;
    for (auto& p : players_) {
        // What the driver means to do outlives the session; where he is does not.
        const CarState was = p.carState;
        p.carState = CarState{};
        CarState& c = p.carState;
        c.paceKmh = was.paceKmh;
        c.follow = was.follow;
        c.followGapM = was.followGapM;
        const double pace = c.paceKmh;
        placeInBox(p);
        if (p.inPits) {  // in the garage: not on the grid
            inGarage.push_back(p.plid);
            continue;
        }
        gridOrder_.push_back(p.plid);
        c.gridSlot = slot;
        if (race) {
            c.pit = PitPhase::Track;
            c.progress = -(0.5 + slot) * spacing;
            c.lateralM = slot % 2 == 0 ? 2.5 : -2.5;
            c.timing = true;  // lap 1 runs from the green light
            c.lapStartMs = green;
        }
        c.waitUntilMs = green;
        c.launch = pace > 0;
        ++slot;
    }
    gridOrder_.insert(gridOrder_.end(), inGarage.begin(), inGarage.end());
}

// ---- Driving calls -------------------------------------------------------------

Player* ServerModel::carOnTrack(int plid, Outcome& why) {
    Player* p = player(plid);
    if (!p) {
        why = Outcome::failure("no player " + std::to_string(plid));
        return nullptr;
    }
    if (p->inPits) {
        why = Outcome::failure("player " + std::to_string(plid) + " is in the garage");
        return nullptr;
    }
    return p;
}

Outcome ServerModel::driveCar(int plid, double paceKmh) {
    Outcome why;
    Player* p = carOnTrack(plid, why);
    if (!p) return why;
    if (!(paceKmh >= 0 && paceKmh <= kMaxKmh)) return Outcome::failure("pace out of range");
    CarMotion drive;
    drive.kind = Motion::Driving;
    p->carState.paceKmh = paceKmh;
    return setCarMotion(plid, drive);
}

Outcome ServerModel::setCarMotion(int plid, const CarMotion& motion) {
    Outcome why;
    Player* p = carOnTrack(plid, why);
    if (!p) return why;
    if (motion.kmh > kMaxKmh) return Outcome::failure("speed out of range");
    CarState& c = p->carState;
    c.motion = motion.kind;
    c.motionKmh = motion.kmh;
    c.angleDeg = motion.angleDeg;
    c.motionUntilMs = motion.forMs > 0 ? nowMs_ + motion.forMs : -1;
    if (motion.kind != Motion::Spinning) c.spinAngle = 0;
    if (c.pit == PitPhase::Box && motion.kind == Motion::Driving && c.paceKmh > 0) {
        if (c.waitUntilMs > nowMs_) {
            c.launch = true;  // leaves with the others
        } else {
            c.pit = PitPhase::Lane;  // drives out of its box
        }
    }
    setDriving(true);
    return Outcome::success(plid);
}

Outcome ServerModel::followCar(int plid, bool on, double gapM) {
    Outcome why;
    Player* p = carOnTrack(plid, why);
    if (!p) return why;
    constexpr double kMaxGapM = 1000;
    if (on && !(gapM > 0 && gapM <= kMaxGapM)) return Outcome::failure("gap out of range");
    CarState& c = p->carState;
    c.follow = on;
    if (on) c.followGapM = gapM;
    c.followLimit = -1;
    setDriving(true);
    return Outcome::success(plid);
}

Outcome ServerModel::planPitStop(int plid, int lap, int stopMs) {
    Outcome why;
    Player* p = carOnTrack(plid, why);
    if (!p) return why;
    if (lap < 0 || stopMs < 0) return Outcome::failure("lap and stop time must not be negative");
    p->carState.planLap = lap;
    p->carState.planStopMs = stopMs;
    setDriving(true);
    return Outcome::success(plid);
}

// LFS has no fact for "moved to the pit lane": it reports the car as having
// entered it. A car already in the pit lane is only put back in its box.
Outcome ServerModel::sendToPitLane(int plid, Outbox& out) {
    Outcome why;
    Player* p = carOnTrack(plid, why);
    if (!p) return why;
    const bool wasOnTrack = p->carState.pit == PitPhase::Track;
    placeInBox(*p);
    if (wasOnTrack) {
        IS_PLA pla;
        pla.PLID = p->plid;
        pla.Fact = PITLANE_ENTER;
        emit(encode(pla), out);
    }
    return Outcome::success(plid);
}

Outcome ServerModel::startRace(const RaceSpec& race, Outbox& out) {
    if (race.laps < 1 || race.laps > 1000) return Outcome::failure("a race has 1 to 1000 laps");
    if (race.cars > static_cast<int>(kMaxPlayers))
        return Outcome::failure("a race holds at most 32 cars");
    if (!(race.paceKmh > 0 && race.paceKmh <= kMaxKmh) || race.spreadKmh < 0)
        return Outcome::failure("pace out of range");
    int onTrack = static_cast<int>(
        std::count_if(players_.begin(), players_.end(), [](const Player& p) { return !p.inPits; }));
    // Connections without a car get one first, then new drivers join.
    std::vector<std::uint8_t> carless;
    for (const auto& c : connections_)
        if (c.ucid != kHostUcid && !playerOf(c.ucid)) carless.push_back(c.ucid);
    for (std::size_t i = 0; onTrack < race.cars && i < carless.size(); ++i, ++onTrack) {
        PlayerSpec wanted;
        wanted.ucid = carless[i];
        Outcome o = addPlayer(wanted, out);
        if (!o) return o;
    }
    for (int n = 1; onTrack < race.cars; ++n) {
        const std::string uname = "driver" + std::to_string(n);
        if (findConnectionByUser(uname)) continue;
        Outcome joined = addConnection(-1, uname, "Driver " + std::to_string(n), false, out);
        if (!joined) return joined;
        PlayerSpec wanted;
        wanted.ucid = joined.id;
        Outcome o = addPlayer(wanted, out);
        if (!o) return o;
        ++onTrack;
    }
    int i = 0;
    for (auto& p : players_) {
        if (p.inPits) continue;
        p.carState.paceKmh = std::max(1.0, race.paceKmh - race.spreadKmh * i);
        p.carState.follow = race.follow && i > 0;  // the pole car sets the pace
        p.carState.followGapM = kFollowGapM;
        p.carState.followLimit = -1;
        ++i;
    }
    setDriving(true);
    SessionSpec wanted;
    wanted.kind = SessionKind::Race;
    wanted.laps = race.laps;
    return startSession(wanted, out);
}

// ---- Updates -------------------------------------------------------------------

int ServerModel::updateCars(std::int64_t nowMs, Outbox& out, int maxUpdates) {
    if (!drivingActive()) {
        movedUntilMs_ = std::max(movedUntilMs_, nowMs);
        return 0;
    }
    int ran = 0;
    while (ran < maxUpdates && movedUntilMs_ + updateMs_ <= nowMs) {
        const std::int64_t from = movedUntilMs_;
        const std::int64_t to = from + updateMs_;
        nowMs_ = to;
        runUpdate(from, to, out);
        movedUntilMs_ = to;
        ++ran;
    }
    return ran;
}

// Signed speed along the track in nodes per millisecond (negative: backwards).
double ServerModel::nodesPerMs(const CarState& c) const {
    if (c.pit == PitPhase::Stop || c.pit == PitPhase::Box) return 0;
    const double own = c.motionKmh >= 0 ? c.motionKmh : c.paceKmh;
    double kmh = 0;
    switch (c.motion) {
        case Motion::Driving:
        case Motion::Spinning:
        case Motion::Sliding:
            kmh = own;
            break;
        case Motion::Stopped:
            kmh = 0;
            break;
        case Motion::Reversing:
            kmh = -(c.motionKmh >= 0 ? c.motionKmh : settings_.reverseKmh);
            break;
        case Motion::WrongWay:
            kmh = -own;
            break;
    }
    if (c.pit == PitPhase::Lane && kmh > settings_.pitSpeedKmh) kmh = settings_.pitSpeedKmh;
    const double nodeM = settings_.nodeLengthM > 0 ? settings_.nodeLengthM : 5.0;
    const double v = kmh / 3.6 / nodeM / 1000.0;
    // A follower goes no faster than the car ahead lets it in this update.
    if (c.follow && c.followLimit >= 0 && c.motion == Motion::Driving &&
        c.pit == PitPhase::Track)
        return std::min(v, c.followLimit);
    return v;
}

// For every car that follows now (Driving on the racing line), the index of
// the car ahead of it: the nearest car on the racing line at most half a lap
// ahead on the circle, whatever lap either is on; -1 for none.
std::vector<int> ServerModel::carsAhead(const Path& path) const {
    const double n = path.nodes;
    std::vector<int> ahead(players_.size(), -1);
    auto onLine = [](const Player& p) { return !p.inPits && p.carState.pit == PitPhase::Track; };
    for (std::size_t i = 0; i < players_.size(); ++i) {
        const CarState& c = players_[i].carState;
        if (!onLine(players_[i]) || !c.follow || c.motion != Motion::Driving) continue;
        double nearest = n / 2;
        for (std::size_t j = 0; j < players_.size(); ++j) {
            if (j == i || !onLine(players_[j])) continue;
            const double gap = positiveMod(players_[j].carState.progress - c.progress, n);
            if (gap > 0 && gap <= nearest) {
                if (gap == nearest && ahead[i] >= 0) continue;  // a tie: the earlier joiner
                nearest = gap;
                ahead[i] = static_cast<int>(j);
            }
        }
    }
    return ahead;
}

// How fast the follower may go in this update: up to its gap behind the car
// ahead (which has moved already, from aheadFrom), so it closes up to the gap
// and then drives at the speed of that car. One that finds itself closer (a
// car pulled in in front of it) drops back, followDropKmh slower than the car
// ahead, until the gap is there again. It never goes backwards.
void ServerModel::limitFollower(Player& p, const Player& ahead, double aheadFrom,
                                const Path& path, std::int64_t fromMs, std::int64_t toMs) {
    CarState& c = p.carState;
    c.followLimit = -1;
    const double start = std::max<double>(fromMs, c.waitUntilMs);
    if (start >= toMs) return;  // it does not move in this update
    const double ms = toMs - start;
    const double aheadMoved = ahead.carState.progress - aheadFrom;
    const double distance = positiveMod(aheadFrom - c.progress, path.nodes) + aheadMoved;
    const double closeUp = distance - c.followGapM / path.nodeM;
    const double dropBack = aheadMoved - settings_.followDropKmh / 3.6 / path.nodeM / 1000.0 * ms;
    c.followLimit = std::max(0.0, std::max(closeUp, dropBack)) / ms;
}

void ServerModel::runUpdate(std::int64_t fromMs, std::int64_t toMs, Outbox& out) {
    const Path path = trackPath();
    std::vector<TimedPacket> events;
    for (auto& p : players_)
        if (!p.inPits) endExpiredMotion(p.carState, fromMs);
    // A follower moves after the car it follows, so it sees where that car is
    // now; in a ring of followers the earliest joiner goes first.
    const std::vector<int> ahead = carsAhead(path);
    std::vector<double> from(players_.size());
    for (std::size_t i = 0; i < players_.size(); ++i) from[i] = players_[i].carState.progress;
    std::vector<bool> moved(players_.size(), false);
    auto move = [&](std::size_t i) {
        moved[i] = true;
        Player& p = players_[i];
        p.carState.followLimit = -1;
        if (p.inPits) return;
        if (ahead[i] >= 0) {
            const auto j = static_cast<std::size_t>(ahead[i]);
            limitFollower(p, players_[j], from[j], path, fromMs, toMs);
        }
        moveCar(p, path, fromMs, toMs, events);
    };
    for (std::size_t left = players_.size(); left > 0;) {
        const std::size_t before = left;
        for (std::size_t i = 0; i < players_.size(); ++i) {
            if (moved[i] || (ahead[i] >= 0 && !moved[static_cast<std::size_t>(ahead[i])])) continue;
            move(i);
            --left;
        }
        if (left == before) {
            move(static_cast<std::size_t>(std::find(moved.begin(), moved.end(), false) -
                                          moved.begin()));
            --left;
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedPacket& a, const TimedPacket& b) { return a.atMs < b.atMs; });
    for (const auto& e : events) {
        if (e.finisher) ++finishersReported_;
        emit(e.packet, out);
    }
    rankCars();
    raiseFlags(path, out);
    if (carReports_) reportCars(path, out);
}

// Moves one car from fromMs to toMs. Within the update it stops at every pit
// lane point it reaches (entry, box, exit), so what happens there happens at
// the right moment and the rest of the update goes on from there.
void ServerModel::moveCar(Player& p, const Path& path, std::int64_t fromMs, std::int64_t toMs,
                          std::vector<TimedPacket>& events) {
    CarState& c = p.carState;
    double t = static_cast<double>(fromMs);
    if (c.waitUntilMs > fromMs) {
        if (c.waitUntilMs > toMs) return;  // the lights are still red
        t = static_cast<double>(c.waitUntilMs);
    }
    if (c.launch) {
        c.launch = false;
        if (c.pit == PitPhase::Box) c.pit = PitPhase::Lane;
    }
    if (c.motion == Motion::Spinning) {
        const double rate = c.angleDeg > 0 ? c.angleDeg : settings_.spinDegPerSec;
        c.spinAngle = positiveMod(c.spinAngle + rate * kPi / 180 * (toMs - t) / 1000.0, 2 * kPi);
    }
    auto event = [&](double at, const RawPacket& packet) { events.push_back({at, packet, false}); };
    const double n = path.nodes;
    for (int guard = 0; t < toMs && guard < 16; ++guard) {
        if (c.pit == PitPhase::Stop) {
            if (c.stopEndMs > toMs) break;
            t = std::max(t, static_cast<double>(c.stopEndMs));
            IS_PSF psf;
            psf.PLID = p.plid;
            psf.STime = static_cast<std::uint32_t>(c.stopMs);
            event(t, encode(psf));
            if (c.servingSg && isStopGo(p.penalty)) event(t, penaltyServed(p));
            c.servingSg = false;
            c.pit = PitPhase::Lane;
            continue;
        }
        const double v = nodesPerMs(c);
        if (v == 0) break;
        const double end = c.progress + v * (toMs - t);
        enum class Point { None, Entry, Box, Exit } point = Point::None;
        double at = end;
        if (v > 0 && c.pit == PitPhase::Track && c.planLap >= 0) {
            double line = (std::floor(c.progress / n) + 1) * n;
            if (line - path.entry <= c.progress) line += n;
            const int lap = static_cast<int>(std::lround(line / n));  // the lap this line completes
            const double entry = line - path.entry;
            if (entry > 0 && entry <= end && (c.planLap == 0 || c.planLap <= lap)) {
                point = Point::Entry;
                at = entry;
            }
        } else if (v > 0 && c.pit == PitPhase::Lane) {
            if (c.stopPending && c.boxAt > c.progress && c.boxAt <= end) {
                point = Point::Box;
                at = c.boxAt;
            } else if (c.exitAt > c.progress && c.exitAt <= end) {
                point = Point::Exit;
                at = c.exitAt;
            }
        }
        passMarks(p, path, c.progress, at, t, v, events);
        if (point == Point::None) {
            c.progress = end;
            break;
        }
        t += (at - c.progress) / v;
        c.progress = at;
        if (point == Point::Entry) {
            const bool dt = isDriveThrough(p.penalty), sg = isStopGo(p.penalty);
            IS_PLA pla;
            pla.PLID = p.plid;
            pla.Fact = entryFact(p.penalty, c.planStopMs);
            const double line = at + path.entry;
            c.boxAt = line - path.box;
            c.exitAt = line + path.exit;
            c.servingDt = dt;
            c.servingSg = sg;
            c.stopPending = c.planStopMs > 0 || sg;
            c.stopMs = std::max(c.planStopMs, sg ? settings_.stopGoMs : 0);
            c.stopWork = (c.planStopMs > 0 ? kWorkRefuel : 0) | (sg ? kWorkStop : 0);
            c.planLap = -1;
            c.planStopMs = 0;
            c.pit = PitPhase::Lane;
            c.lateralM = settings_.pitLaneOffsetM;
            event(t, encode(pla));
        } else if (point == Point::Box) {
            c.pit = PitPhase::Stop;
            c.stopPending = false;
            ++c.numStops;
            c.stopEndMs = std::llround(t) + c.stopMs;
            IS_PIT pit;
            pit.PLID = p.plid;
            pit.LapsDone = static_cast<std::uint16_t>(c.lapsDone);
            pit.Penalty = p.penalty;
            pit.NumStops = static_cast<std::uint8_t>(c.numStops);
            pit.Tyres.fill(kTyreUnchanged);
            pit.Work = c.stopWork;
            event(t, encode(pit));
        } else {
            c.pit = PitPhase::Track;
            c.lateralM = 0;
            c.stopPending = false;
            IS_PLA pla;
            pla.PLID = p.plid;
            pla.Fact = PITLANE_EXIT;
            event(t, encode(pla));
            if (c.servingDt && isDriveThrough(p.penalty)) event(t, penaltyServed(p));
            c.servingDt = c.servingSg = false;
        }
    }
}

// The finish line and split marks the car passes going forward from `from`
// to `to` (leaving `from` at startMs, `speed` nodes per ms): laps, splits, finish.
void ServerModel::passMarks(Player& p, const Path& path, double from, double to, double startMs,
                            double speed, std::vector<TimedPacket>& events) {
    if (speed <= 0 || to <= from) return;
    CarState& c = p.carState;
    const double n = path.nodes;
    const auto firstLap = static_cast<long long>(std::floor(from / n));
    const auto lastLap = static_cast<long long>(std::floor(to / n));
    for (long long k = firstLap; k <= lastLap; ++k) {
        for (int m = 0; m < path.markCount; ++m) {
            const double mark = k * n + path.marks[m].offset;
            if (mark <= from || mark > to) continue;
            const std::int64_t at = std::llround(startMs + (mark - from) / speed);
            if (c.finished) continue;
            const int split = path.marks[m].split;
            if (split != 0) {
                // Splits of the lap being timed, each once.
                if (!c.timing || k != c.lapsDone || (c.splitMask & (1u << split))) continue;
                c.splitMask |= 1u << split;
                IS_SPX spx;
                spx.PLID = p.plid;
                spx.STime = msBetween(c.lapStartMs, at);
                spx.ETime = msBetween(clockStartMs_, at);
                spx.Split = static_cast<std::uint8_t>(split);
                spx.Penalty = p.penalty;
                spx.NumStops = static_cast<std::uint8_t>(c.numStops);
                events.push_back({static_cast<double>(at), encode(spx), false});
                continue;
            }
            if (!c.timing) {
                // The first crossing after leaving the pits starts the timed laps.
                if (k >= c.lapsDone) {
                    c.timing = true;
                    c.lapStartMs = at;
                }
                continue;
            }
            if (k <= c.lapsDone) continue;  // ground it has covered before
            IS_LAP lap;
            lap.PLID = p.plid;
            lap.LTime = msBetween(c.lapStartMs, at);
            lap.ETime = msBetween(clockStartMs_, at);
            lap.LapsDone = static_cast<std::uint16_t>(std::min<long long>(k, 65535));
            lap.Penalty = p.penalty;
            lap.NumStops = static_cast<std::uint8_t>(c.numStops);
            c.lapsDone = static_cast<int>(k);
            c.splitMask = 0;
            c.lapStartMs = at;
            if (c.bestLapMs == 0 || lap.LTime < c.bestLapMs) c.bestLapMs = lap.LTime;
            events.push_back({static_cast<double>(at), encode(lap), false});
            // The winner finishes on the last lap; every other car at its next crossing.
            if (session_.kind == SessionKind::Race && (k >= session_.raceLaps || raceWon_))
                carFinishes(p, static_cast<double>(at), events);
        }
    }
}

void ServerModel::carFinishes(Player& p, double atMs, std::vector<TimedPacket>& events) {
    CarState& c = p.carState;
    c.finished = true;
    c.finishOrder = ++finishers_;
    raceWon_ = true;
    std::uint8_t confirm = kConfMentioned | kConfConfirmed;
    std::uint32_t penaltyMs = 0;
    if (isDriveThrough(p.penalty)) confirm |= kConfPenaltyDt;
    if (isStopGo(p.penalty)) confirm |= kConfPenaltySg;
    if (p.penalty == PENALTY_30) confirm |= kConfPenalty30, penaltyMs = 30000;
    if (p.penalty == PENALTY_45) confirm |= kConfPenalty45, penaltyMs = 45000;
    IS_FIN fin;
    fin.PLID = p.plid;
    fin.TTime = msBetween(clockStartMs_, std::llround(atMs)) + penaltyMs;
    fin.BTime = c.bestLapMs;
    fin.NumStops = static_cast<std::uint8_t>(c.numStops);
    fin.Confirm = confirm;
    fin.LapsDone = static_cast<std::uint16_t>(c.lapsDone);
    events.push_back({atMs, encode(fin), false});

    // IS_RES, the confirmed result (84 bytes; the codec has no encoder for it).
    RawPacket res;
    res.size = 84;
    res.bytes[0] = 84;
    res.bytes[1] = ISP_RES;
    res.bytes[3] = p.plid;
    const Connection* owner = findConnection(p.ucid);
    if (owner) putText(res, 4, 24, owner->uname.view(), false);
    putText(res, 28, 24, p.pname.view(), false);
    putText(res, 52, 8, p.plate.view(), true);
    putText(res, 60, 4, p.car.view(), false);
    putU32(res, 64, fin.TTime);
    putU32(res, 68, fin.BTime);
    res.bytes[73] = fin.NumStops;
    res.bytes[74] = confirm;
    putU16(res, 76, fin.LapsDone);
    res.bytes[80] = static_cast<std::uint8_t>(c.finishOrder - 1);
    res.bytes[81] = static_cast<std::uint8_t>(finishers_);
    putU16(res, 82, penaltyMs / 1000);
    events.push_back({atMs, res, true});
}

// Race: finishers in finishing order, then by distance covered. Practice and
// qualifying: by best lap, cars without a timed lap after them by distance.
void ServerModel::rankCars() {
    std::vector<CarState*> cars;
    cars.reserve(players_.size());
    for (auto& p : players_)
        if (!p.inPits) cars.push_back(&p.carState);
    const bool race = session_.kind == SessionKind::Race;
    std::stable_sort(cars.begin(), cars.end(), [race](const CarState* a, const CarState* b) {
        if (race) {
            if (a->finished != b->finished) return a->finished;
            if (a->finished) return a->finishOrder < b->finishOrder;
        } else if ((a->bestLapMs > 0) != (b->bestLapMs > 0)) {
            return a->bestLapMs > 0;
        } else if (a->bestLapMs > 0 && a->bestLapMs != b->bestLapMs) {
            return a->bestLapMs < b->bestLapMs;
        }
        return a->progress > b->progress;
    });
    for (std::size_t i = 0; i < cars.size(); ++i)
        cars[i]->position = static_cast<std::uint8_t>(i + 1);
}

// Yellow: a car on the racing line slower than the limit once the lights are
// green. Blue (races only): a car on the racing line with a car at least half
// a lap ahead in the race close behind it on the track.
void ServerModel::raiseFlags(const Path& path, Outbox& out) {
    const double n = path.nodes;
    const double toKmh = path.nodeM * 3600.0;  // nodes per ms -> km/h
    const bool race = session_.kind == SessionKind::Race;
    for (auto& p : players_) {
        if (p.inPits) continue;
        CarState& c = p.carState;
        const bool racing = c.pit == PitPhase::Track && c.waitUntilMs <= nowMs_;
        const bool yellow =
            racing && std::fabs(nodesPerMs(c)) * toKmh < settings_.yellowBelowKmh;
        std::uint8_t blueFor = 0;
        if (race && racing && !c.finished) {
            double nearest = settings_.blueNodes + 1.0;
            for (const auto& q : players_) {
                const CarState& o = q.carState;
                if (&q == &p || q.inPits || o.pit != PitPhase::Track || o.finished) continue;
                const double gap = positiveMod(c.progress - o.progress, n);
                if (gap > 0 && gap <= settings_.blueNodes && gap < nearest &&
                    o.progress - c.progress > n / 2) {
                    nearest = gap;
                    blueFor = q.plid;
                }
            }
        }
        auto flag = [&](std::uint8_t which, bool on, std::uint8_t behind) {
            IS_FLG flg;
            flg.PLID = p.plid;
            flg.OffOn = on ? 1 : 0;
            flg.Flag = which;
            flg.CarBehind = behind;
            out.push_back(encode(flg));
        };
        if (yellow != c.yellow) flag(FLG_YELLOW, yellow, 0);
        c.yellow = yellow;
        if (blueFor != c.blueFor) {
            if (c.blueFor != 0) flag(FLG_BLUE, false, c.blueFor);
            if (blueFor != 0) flag(FLG_BLUE, true, blueFor);
            c.blueFor = blueFor;
        }
    }
}

// One IS_MCI per 8 cars on track, in join order; the set's first and last
// records carry CCI_FIRST and CCI_LAST.
void ServerModel::reportCars(const Path& path, Outbox& out) const {
    const auto total = static_cast<std::size_t>(
        std::count_if(players_.begin(), players_.end(), [](const Player& p) { return !p.inPits; }));
    if (total == 0) return;
    IS_MCI mci;
    std::size_t index = 0;
    for (const auto& p : players_) {
        if (p.inPits) continue;
        const CarState& c = p.carState;
        CompCar& cc = mci.Info[mci.NumC++];
        const double node = path.nodeAt(c.progress);
        cc.Node = static_cast<std::uint16_t>(std::min<double>(std::floor(node), path.nodes - 1));
        cc.Lap = static_cast<std::uint16_t>(std::min(c.lapsDone + 1, 65535));
        cc.PLID = p.plid;
        cc.Position = c.position;
        cc.Info = static_cast<std::uint8_t>((c.yellow ? CCI_YELLOW : 0) | (c.blueFor ? CCI_BLUE : 0) |
                                            (index == 0 ? CCI_FIRST : 0) |
                                            (index + 1 == total ? CCI_LAST : 0));
        const double theta = path.angleAt(c.progress);
        const double radius = std::max(1.0, path.radiusM + c.lateralM);
        cc.X = metresRaw(radius * std::cos(theta));
        cc.Y = metresRaw(radius * std::sin(theta));
        cc.Z = 0;
        const double mps = (c.waitUntilMs > nowMs_ ? 0 : nodesPerMs(c)) * path.nodeM * 1000.0;
        cc.Speed = speedRaw(mps);
        // Going round anticlockwise, the direction of travel is the position angle.
        double heading = theta;
        if (c.motion == Motion::WrongWay) heading += kPi;
        if (c.motion == Motion::Sliding)
            heading += (c.angleDeg != 0 ? c.angleDeg : settings_.slideDeg) * kPi / 180;
        if (c.motion == Motion::Spinning) heading += c.spinAngle;
        const double direction = mps > 0 ? theta : mps < 0 ? theta + kPi : heading;
        cc.Direction = angleRaw(direction);
        cc.Heading = angleRaw(heading);
        double yaw = mps / radius;  // rad/s, anticlockwise positive
        if (c.motion == Motion::Spinning)
            yaw = (c.angleDeg > 0 ? c.angleDeg : settings_.spinDegPerSec) * kPi / 180;
        cc.AngVel = angVelRaw(yaw);
        ++index;
        if (mci.NumC == IS_MCI::kMaxCars) {
            out.push_back(encode(mci));
            mci = IS_MCI{};
        }
    }
    if (mci.NumC > 0) out.push_back(encode(mci));
}

}  // namespace tmx::sim
