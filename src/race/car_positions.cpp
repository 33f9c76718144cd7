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

// Every driver on track has reported in this update; a driver in the garage
// counts as reported.
bool allReported(const TMX_MAIN& c) {
    int reported = 0;
    for (int i = 0; i < c.usedEntries; ++i) {
        const data::cl_LfsPlayer& e = c.entry(i);
        if (e.position.reportReceived == 1 || e.race.driverStatus == DS_GARAGE) ++reported;
    }
    return reported >= c.players;
}

using ReportedThisTick = std::array<bool, kTableSize>;

// The race order from the reported positions, with the place changes judged
// and the last position kept; which entries had a report in this tick.
ReportedThisTick placeCars(TMX_MAIN& c) {
    ReportedThisTick hadReport{};
    PositionsState& s = c.positions;
    s.positionedCars = 0;
    for (int i = 0; i < c.usedEntries; ++i) {
        data::cl_LfsPlayer& e = c.entry(i);
        DriverPosition& p = e.position;
        hadReport[static_cast<std::size_t>(i)] = p.reportReceived == 1 && e.plid != 0;
        p.reportReceived = 0;
        if (!hadReport[static_cast<std::size_t>(i)]) {
            e.conduct.state = CS_NORMAL;
            e.conduct.attitude = AT_NORMAL;
            p.lastPosition = 0;
            continue;
        }
        if (e.race.driverStatus < DS_PITLANE) {
            e.conduct.state = CS_NORMAL;
            p.lastPosition = 0;
            continue;
        }
        const int position = usablePosition(p.current.Position);
        if (position > 0) s.raceOrder[static_cast<std::size_t>(position)] = e.plid;
        c.ConductPlaces(i, position, p.lastPosition);
        p.lastPosition = static_cast<std::uint8_t>(position);
        if (position > 0) ++s.positionedCars;
    }
    return hadReport;
}

// Closes the gaps of the race order, keeping its order; the number of cars.
int compactRaceOrder(PositionsState& s) {
    int count = 0;
    for (int i = 1; i < kOrderSlots; ++i)
        if (s.raceOrder[static_cast<std::size_t>(i)] > 0)
            s.raceOrder[static_cast<std::size_t>(++count)] = s.raceOrder[static_cast<std::size_t>(i)];
    for (int i = count + 1; i < kOrderSlots; ++i) s.raceOrder[static_cast<std::size_t>(i)] = -1;
    s.positionedCars = static_cast<std::uint8_t>(count);
    return count;
}

// The order on track: by node, highest first, then turned round so that the
// race leader comes first. False (and the tick ends) when a player id no
// longer resolves to a driver.
bool sortTrackOrder(TMX_MAIN& c, const PlayerLookup& lookup, int count) {
    PositionsState& s = c.positions;
    PositionsState::Order sorted = s.raceOrder;
    auto node = [&](int index) { return static_cast<int>(c.entry(index).position.current.Node); };
    for (int i = 1; i < count; ++i) {
        int a = lookup.of(sorted[static_cast<std::size_t>(i)]);
        if (a == -1) {
            c.debug("\nERROR:  calc vis.ranking, got wrong pid from tmp Ph1, database error!\n");
            return false;
        }
        for (int j = i + 1; j <= count; ++j) {
            const int b = lookup.of(sorted[static_cast<std::size_t>(j)]);
            if (b == -1) {
                c.debug("\nERROR:  calc vis.ranking, got wrong pid Ph2, database error!\n");
                return false;
            }
            if (node(b) > node(a)) {
                std::swap(sorted[static_cast<std::size_t>(i)], sorted[static_cast<std::size_t>(j)]);
                a = lookup.of(sorted[static_cast<std::size_t>(i)]);
                if (a == -1) {
                    c.debug("\nERROR:  calc vis.ranking, got wrong pid Ph3, database error!\n");
                    return false;
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
            c.debug("\nERROR:  sort vis.ranking, got wrong pid, database error!\n");
            return false;
        }
        s.trackOrder[static_cast<std::size_t>(rank)] = plid;
        c.entry(index).position.trackRank = static_cast<std::uint8_t>(rank);
    }
    return true;
}

std::uint8_t slotOf(const PositionsState::Order& order, int slot) {
    return static_cast<std::uint8_t>(order[static_cast<std::size_t>(slot)]);
}

// The cars behind and ahead at slot i of both orders, as rings: the first
// car's car ahead is the last, the last car's car behind is the first.
void linkNeighbours(const PositionsState& s, int i, int count, DriverPosition& ra, DriverPosition& tb) {
    if (i > 1 && i < count) {
        ra.raceBehind = slotOf(s.raceOrder, i + 1);
        ra.raceAhead = slotOf(s.raceOrder, i - 1);
        tb.trackBehind = slotOf(s.trackOrder, i + 1);
        tb.trackAhead = slotOf(s.trackOrder, i - 1);
    }
    if (i == 1) {
        ra.raceBehind = slotOf(s.raceOrder, 2);
        ra.raceAhead = slotOf(s.raceOrder, count);
        tb.trackBehind = slotOf(s.trackOrder, 2);
        tb.trackAhead = slotOf(s.trackOrder, count);
    }
    if (i == count) {
        ra.raceBehind = slotOf(s.raceOrder, 1);
        tb.trackBehind = slotOf(s.trackOrder, 1);
        // Slot 0 holds no car: a lone car keeps itself ahead from the rule above.
        if (i > 1) {
            ra.raceAhead = slotOf(s.raceOrder, i - 1);
            tb.trackAhead = slotOf(s.trackOrder, i - 1);
        }
    }
}

// The two zones around the finish line: the pit board is drawn in the first
// and its lap closed in the second.
struct FinishZones {
    int boardStart, boardEnd, clearStart, clearEnd;
    FinishZones(int finish, int nodes) {
        boardStart = finish - 20;
        if (boardStart < 0) boardStart += nodes;
        boardEnd = boardStart + 10;
        if (boardEnd > nodes) boardEnd -= nodes;
        clearStart = finish + 20;
        if (clearStart > nodes) clearStart -= nodes;
        clearEnd = clearStart + 10;
        if (clearEnd > nodes) clearEnd -= nodes;
    }
};

// The pit board: drawn (or skipped) once per lap before the line, its lap
// closed after it.
void pitBoardStep(TMX_MAIN& c, int a, const FinishZones& z) {
    data::cl_LfsPlayer& e = c.entry(a);
    DriverPosition& p = e.position;
    const int carNode = p.current.Node;
    if (e.race.driverStatus == DS_RACING && inZone(carNode, z.boardStart, z.boardEnd) &&
        p.pitBoard == PB_NOT_SHOWN) {
        const int odds = c.config.pitbrnd;
        if (odds != 0 && (odds == 1 || c.random.between(1, odds) == 1))
            c.ShowPitBoard(a);
        else
            p.pitBoard = PB_SKIPPED;
    }
    if (inZone(carNode, z.clearStart, z.clearEnd) && p.pitBoard != PB_NOT_SHOWN) {
        p.pitBoard = PB_NOT_SHOWN;
        if (c.session.raceState == RS_RACE && !c.config.pitbmsg.isOff()) {
            // An AI's board was never drawn: its connection is the host's.
            if (!e.ai) c.link->Delete(e.ucid, kPitBoardClickId);
            if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < c.usedEntries)
                c.link->Delete(c.entry(e.display.watchedBy).ucid, kPitBoardClickId);
        }
    }
}

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
    if (!allReported(*this)) return;  // the rest of this update is still on its way

    PositionsState& s = positions;
    s.newPositions = 1;
    s.raceOrder = PositionsState::emptyOrder();
    s.trackOrder = PositionsState::emptyOrder();
    if (isCity()) return;

    const ReportedThisTick hadReport = placeCars(*this);
    s.movingGridCars = 0;
    for (int i = 0; i < usedEntries; ++i) {
        CheckConduct(i);
        // Every car with a report, whatever its place: a car in the pits has none.
        if (hadReport[static_cast<std::size_t>(i)]) ClosedPitLaneExitCheck(i);
    }

    if (s.positionFreeze > 0 && ++s.positionFreeze > 5) s.positionFreeze = 0;

    if (s.positionedCars == 0) return;
    const int count = compactRaceOrder(s);

    PlayerLookup lookup;
    lookup.fill(*this);
    if (!sortTrackOrder(*this, lookup, count)) return;

    const FinishZones zones(session.finishNode, session.nodeCount);
    for (int i = 1; i < kOrderSlots; ++i) {
        const int a = lookup.of(s.raceOrder[static_cast<std::size_t>(i)]);
        const int b = lookup.of(s.trackOrder[static_cast<std::size_t>(i)]);
        if (a == -1 || b == -1) {
            if (a == -1 && b != -1) debug("\nDEBUG: posstats, data mismatch, pnr1 illegal, idx:%d\n", i);
            else if (a != -1 && b == -1) debug("\nDEBUG: posstats, data mismatch, pnr2 illegal, idx:%d\n", i);
            continue;
        }
        linkNeighbours(s, i, count, entry(a).position, entry(b).position);
        pitBoardStep(*this, a, zones);
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
