// Car positions and speeds from IS_MCI, and the race tick that runs once the
// reports of every car of one update are in.
#include <array>
#include <utility>

#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

namespace {

// Raw speed (32768 = 100 m/s) to whole km/h.
int kmh(std::uint16_t raw) { return static_cast<int>(raw * 0.0109); }

// A race position LFS reports that has a slot in the orders (0 = none).
int usablePosition(std::uint8_t position) { return position < kOrderSlots ? position : 0; }

// Table index of every player id seen in this tick, -1 for none; the first
// entry with the id wins, as in FindIndex.
struct PlayerLookup {
    std::array<std::int8_t, 256> index;
    void fill(const TMX_MAIN& c) {
        index.fill(-1);
        for (int i = c.usedEntries - 1; i >= 0; --i)
            if (c.entry(i).plid != 0) index[c.entry(i).plid] = static_cast<std::int8_t>(i);
    }
    int of(std::int32_t plid) const { return plid > 0 && plid < 256 ? index[static_cast<std::size_t>(plid)] : -1; }
};

constexpr std::uint8_t kPitBoardClickId = 170;  // the first line of the pit board

// A node between start and end, compared as plain numbers.
bool inZone(int node, int start, int end) { return start <= node && node <= end; }

}  // namespace

int TMX_MAIN::onCarPositions(const IS_MCI& mci) {
    if (runRequest.load() == RUN_CONNECTING || mci.NumC == 0) return 0;
    const int cars = mci.NumC < IS_MCI::kMaxCars ? mci.NumC : static_cast<int>(IS_MCI::kMaxCars);
    for (int k = 0; k < cars; ++k) {
        const CompCar& car = mci.Info[static_cast<std::size_t>(k)];
        // Player id 0 belongs to no car: it would find a connection without one.
        if (car.PLID == 0) continue;
        const int index = FindIndex(-1, car.PLID);
        if (index == -1) continue;
        data::cl_LfsPlayer& e = entry(index);
        DriverPosition& p = e.position;
        p.previous = p.current;
        p.current = car;
        p.reportReceived = 1;

        if (p.lapStartPosition == 0) {
            const int raceLaps = server.lastState.RaceLaps;
            if (car.Position == 1 && session.raceState == RS_RACE && session.startPhase == SP_NONE &&
                !session.lastLapAnnounced && raceLaps >= 1 && raceLaps <= 99 && raceLaps - e.race.lastLapsDone == 1) {
                session.lastLapAnnounced = true;
                BroadcastSystemText(0, 43, 10000);
            }
            p.lapStartPosition = car.Position;
        }
        if (p.splitStartPosition == 0) p.splitStartPosition = car.Position;

        // The event monitor stays on the screen until the car moves.
        if (e.display.monitorState > 0 && p.previous.Speed > 50 && !e.ai) e.display.monitorState = 0;

        if (isCity()) {
            p.speedKmh = kmh(car.Speed);
            if (p.speedKmh < 2 && e.race.driverStatus == DS_PITS) p.lastNode = p.currentNode = car.Node;
            if (car.Node != p.currentNode) {
                const int rise = car.Node - p.currentNode;
                p.lastNode = p.currentNode;
                p.currentNode = car.Node;
                ++p.nodeChanges;
                // A jump of 5 nodes or more is the step across the finish line.
                if (rise > 0) {
                    if (rise < 5) {
                        p.backwards = 0;
                    } else {
                        p.backwards = 1;
                        if (--p.crossings < 0) p.crossings = kCityLaps - 1;
                    }
                } else if (-rise < 5) {
                    p.backwards = 1;
                } else {
                    p.backwards = 0;
                    if (++p.crossings >= kCityLaps) p.crossings = 0;
                }
                if (e.race.driverStatus > DS_GARAGE) DrawStatusBar(index);
            }
        }
    }
    return 0;
}

void TMX_MAIN::RaceTick() {
    if (runRequest.load() == RUN_CONNECTING || session.raceState == RS_NONE) return;

    // The reports of one update may come in several packets: wait for all.
    int reported = 0;
    for (int i = 0; i < usedEntries; ++i) {
        const data::cl_LfsPlayer& e = entry(i);
        if (e.position.reportReceived == 1 || e.race.driverStatus == DS_GARAGE) ++reported;
    }
    if (reported < players) return;

    PositionsState& s = positions;
    s.newPositions = 1;
    s.raceOrder = PositionsState::emptyOrder();
    s.trackOrder = PositionsState::emptyOrder();
    if (isCity()) return;

    std::array<bool, kTableSize> hadReport{};
    s.positionedCars = 0;
    for (int i = 0; i < usedEntries; ++i) {
        data::cl_LfsPlayer& e = entry(i);
        DriverPosition& p = e.position;
        hadReport[static_cast<std::size_t>(i)] = p.reportReceived == 1 && e.plid != 0;
        p.reportReceived = 0;
        if (!hadReport[static_cast<std::size_t>(i)]) {
            e.race.conductState = 0;
            p.lastPosition = 0;
            continue;
        }
        if (e.race.driverStatus < DS_PITLANE) {
            e.race.conductState = 0;
            p.lastPosition = 0;
            continue;
        }
        const int position = usablePosition(p.current.Position);
        if (position > 0) s.raceOrder[static_cast<std::size_t>(position)] = e.plid;
        ConductPlaces(i, position, p.lastPosition);
        p.lastPosition = static_cast<std::uint8_t>(position);
        if (position > 0) ++s.positionedCars;
    }
    for (int i = 0; i < usedEntries; ++i) {
        CheckConduct(i);
        // Every car with a report, whatever its place: a car in the pits has none.
        if (hadReport[static_cast<std::size_t>(i)]) ClosedPitLaneExitCheck(i);
    }

    if (s.positionFreeze > 0 && ++s.positionFreeze > 5) s.positionFreeze = 0;

    if (s.positionedCars == 0) return;
    int count = 0;
    for (int i = 1; i < kOrderSlots; ++i)
        if (s.raceOrder[static_cast<std::size_t>(i)] > 0)
            s.raceOrder[static_cast<std::size_t>(++count)] = s.raceOrder[static_cast<std::size_t>(i)];
    for (int i = count + 1; i < kOrderSlots; ++i) s.raceOrder[static_cast<std::size_t>(i)] = -1;
    s.positionedCars = static_cast<std::uint8_t>(count);

    PlayerLookup lookup;
    lookup.fill(*this);
    const bool debugging = debugOn();

    // The order on track: by node, highest first, then turned round so that
    // the race leader comes first.
    PositionsState::Order sorted = s.raceOrder;
    auto node = [&](int index) { return static_cast<int>(entry(index).position.current.Node); };
    for (int i = 1; i < count; ++i) {
        int a = lookup.of(sorted[static_cast<std::size_t>(i)]);
        if (a == -1) {
            if (debugging) console_.out("\nERROR:  calc vis.ranking, got wrong pid from tmp Ph1, database error!\n");
            return;
        }
        for (int j = i + 1; j <= count; ++j) {
            const int b = lookup.of(sorted[static_cast<std::size_t>(j)]);
            if (b == -1) {
                if (debugging) console_.out("\nERROR:  calc vis.ranking, got wrong pid Ph2, database error!\n");
                return;
            }
            if (node(b) > node(a)) {
                std::swap(sorted[static_cast<std::size_t>(i)], sorted[static_cast<std::size_t>(j)]);
                a = lookup.of(sorted[static_cast<std::size_t>(i)]);
                if (a == -1) {
                    if (debugging) console_.out("\nERROR:  calc vis.ranking, got wrong pid Ph3, database error!\n");
                    return;
                }
            }
        }
    }
    int leaderAt = 1;
    for (int i = 1; i <= count; ++i)
        if (sorted[static_cast<std::size_t>(i)] == s.raceOrder[1]) {
            leaderAt = i;
            break;
        }
    s.trackOrder.fill(0);
    for (int rank = 1; rank <= count; ++rank) {
        const int from = (leaderAt - 1 + rank - 1) % count + 1;
        const std::int32_t plid = sorted[static_cast<std::size_t>(from)];
        const int index = lookup.of(plid);
        if (index == -1) {
            if (debugging) console_.out("\nERROR:  sort vis.ranking, got wrong pid, database error!\n");
            return;
        }
        s.trackOrder[static_cast<std::size_t>(rank)] = plid;
        entry(index).position.trackRank = static_cast<std::uint8_t>(rank);
    }

    // Neighbours in both orders, as rings; then what depends on the place
    // near the finish line.
    const int finish = session.finishNode;
    const int nodes = session.nodeCount;
    int boardStart = finish - 20;
    if (boardStart < 0) boardStart += nodes;
    int boardEnd = boardStart + 10;
    if (boardEnd > nodes) boardEnd -= nodes;
    int clearStart = finish + 20;
    if (clearStart > nodes) clearStart -= nodes;
    int clearEnd = clearStart + 10;
    if (clearEnd > nodes) clearEnd -= nodes;

    auto at = [](const PositionsState::Order& order, int slot) {
        return static_cast<std::uint8_t>(order[static_cast<std::size_t>(slot)]);
    };
    for (int i = 1; i < kOrderSlots; ++i) {
        const int a = lookup.of(s.raceOrder[static_cast<std::size_t>(i)]);
        const int b = lookup.of(s.trackOrder[static_cast<std::size_t>(i)]);
        if (a == -1 || b == -1) {
            if (debugging && a == -1 && b != -1)
                console_.out("\nDEBUG: posstats, data mismatch, pnr1 illegal, idx:%d\n", i);
            else if (debugging && a != -1 && b == -1)
                console_.out("\nDEBUG: posstats, data mismatch, pnr2 illegal, idx:%d\n", i);
            continue;
        }
        DriverPosition& ra = entry(a).position;
        DriverPosition& tb = entry(b).position;
        if (i > 1 && i < count) {
            ra.raceBehind = at(s.raceOrder, i + 1);
            ra.raceAhead = at(s.raceOrder, i - 1);
            tb.trackBehind = at(s.trackOrder, i + 1);
            tb.trackAhead = at(s.trackOrder, i - 1);
        }
        if (i == 1) {
            ra.raceBehind = at(s.raceOrder, 2);
            ra.raceAhead = at(s.raceOrder, count);
            tb.trackBehind = at(s.trackOrder, 2);
            tb.trackAhead = at(s.trackOrder, count);
        }
        if (i == count) {
            ra.raceBehind = at(s.raceOrder, 1);
            tb.trackBehind = at(s.trackOrder, 1);
            // Slot 0 holds no car: a lone car keeps itself ahead from the rule above.
            if (i > 1) {
                ra.raceAhead = at(s.raceOrder, i - 1);
                tb.trackAhead = at(s.trackOrder, i - 1);
            }
        }

        // The pit board: drawn (or skipped) once per lap before the line,
        // its lap closed after it.
        data::cl_LfsPlayer& e = entry(a);
        const int carNode = ra.current.Node;
        if (e.race.driverStatus == DS_RACING && inZone(carNode, boardStart, boardEnd) && ra.pitBoard == PB_NOT_SHOWN) {
            const int odds = config.pitbrnd;
            if (odds != 0 && (odds == 1 || random.between(1, odds) == 1))
                ShowPitBoard(a);
            else
                ra.pitBoard = PB_SKIPPED;
        }
        if (inZone(carNode, clearStart, clearEnd) && ra.pitBoard != PB_NOT_SHOWN) {
            ra.pitBoard = PB_NOT_SHOWN;
            if (session.raceState == RS_RACE && !config.pitbmsg.isOff()) {
                // An AI's board was never drawn: its connection is the host's.
                if (!e.ai) link->Delete(e.ucid, kPitBoardClickId);
                if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < usedEntries)
                    link->Delete(entry(e.display.watchedBy).ucid, kPitBoardClickId);
            }
        }
        ReleaseGrid(a);
    }
}

void TMX_MAIN::ResetCarReports(int index) {
    if (index < 0 || index >= usedEntries) return;
    DriverPosition& p = entry(index).position;
    // Whole records, not only their player ids: nothing of a report from an
    // earlier session may pass for a new one.
    p.current = CompCar{};
    p.previous = CompCar{};
    p.reportReceived = 0;
}

void TMX_MAIN::StartPositionFreeze() { positions.positionFreeze = 1; }

}  // namespace tmx
