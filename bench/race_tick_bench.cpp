// The race tick of a full grid: 32 cars whose reports of one update come in
// four IS_MCI packets, each packet handed to the car-report handler and then
// to the race tick as the controller loop does (no network). The target is
// below 20 microseconds per update, with nothing allocated.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/console.h"
#include "controller/tmx_main.h"
#include "insim/insim_handling.h"
#include "platform/clock.h"

// Every allocation of the process, so the benchmark can show that the tick makes none.
namespace {
std::atomic<std::size_t> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The replacement new takes its memory from malloc, so free is the right release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using namespace tmx;
using namespace tmx::insim;

constexpr int kCars = 32;
constexpr int kNodes = 400;
constexpr int kUpdates = 800;  // four laps of the leader: every car passes the line zones

// The reports of every update, made before timing: cars of different pace on
// a 400-node track, placed by the distance they covered.
std::vector<std::array<IS_MCI, 4>> makeUpdates() {
    std::vector<std::array<IS_MCI, 4>> updates(kUpdates);
    std::array<double, kCars> covered{};
    for (int k = 0; k < kCars; ++k) covered[k] = -3.0 * k;  // the grid
    for (auto& update : updates) {
        std::array<int, kCars> byDistance{};
        for (int k = 0; k < kCars; ++k) {
            covered[k] += 2.2 - 0.02 * k + ((k * 7) % 5) * 0.01;
            byDistance[k] = k;
        }
        std::sort(byDistance.begin(), byDistance.end(), [&](int a, int b) { return covered[a] > covered[b]; });
        std::array<int, kCars> position{};
        for (int p = 0; p < kCars; ++p) position[byDistance[p]] = p + 1;
        for (int k = 0; k < kCars; ++k) {
            IS_MCI& packet = update[k / 8];
            packet.NumC = 8;
            CompCar& car = packet.Info[k % 8];
            const int node = static_cast<int>(covered[k] + 10 * kNodes) % kNodes;
            car.PLID = static_cast<std::uint8_t>(k + 1);
            car.Position = static_cast<std::uint8_t>(position[k]);
            car.Node = static_cast<std::uint16_t>(node);
            car.Lap = static_cast<std::uint16_t>(covered[k] > 0 ? covered[k] / kNodes + 1 : 1);
            car.Speed = static_cast<std::uint16_t>(11000 + 40 * k);
            car.Direction = car.Heading = static_cast<std::uint16_t>(node * 164);
        }
    }
    return updates;
}

// A controller in a running race with 32 drivers on track; its link is not
// connected, so whatever the tick sends goes nowhere.
struct Race {
    NullConsole console;
    cl_InsimHandling link{console, platform::systemClock()};
    TMX_MAIN c{console, platform::systemClock()};

    Race() {
        c.link = &link;
        c.debugState = DBG_OFF;
        c.runRequest = RUN_RUNNING;
        c.session.raceState = RS_RACE;
        c.session.startPhase = SP_NONE;
        c.session.nodeCount = kNodes;
        c.session.finishNode = 0;
        c.server.lastState.RaceLaps = 50;
        c.entry(0).playerName = data::kHostName;
        for (int k = 1; k <= kCars; ++k) {
            data::cl_LfsPlayer& e = c.entry(k);
            e.ucid = static_cast<std::uint8_t>(k);
            e.plid = static_cast<std::uint8_t>(k);
            e.playerName = "Driver";
            e.race.driverStatus = DS_RACING;
            e.race.sessionLaps = 3;
            e.position.reportReceived = 0;
        }
        c.usedEntries = kCars + 1;
        c.connections = kCars + 1;
        c.players = kCars;
    }
};

void BM_RaceTick32Cars(benchmark::State& state) {
    const auto updates = makeUpdates();
    Race race;
    TMX_MAIN& c = race.c;
    std::size_t next = 0;
    // One lap to settle: every car has a report before and a pit-board state.
    for (int i = 0; i < 200; ++i) {
        for (const IS_MCI& packet : updates[next]) {
            c.onCarPositions(packet);
            c.RaceTick();
        }
        next = (next + 1) % updates.size();
    }
    const std::size_t allocationsBefore = allocations.load();
    std::int64_t ticks = 0;
    for (auto _ : state) {
        for (const IS_MCI& packet : updates[next]) {
            c.onCarPositions(packet);
            c.RaceTick();
        }
        ticks += c.positions.newPositions;
        c.positions.newPositions = 0;
        next = (next + 1) % updates.size();
    }
    benchmark::DoNotOptimize(ticks);
    state.counters["complete_ticks"] = benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kAvgIterations);
    state.counters["allocs_per_update"] = benchmark::Counter(
        static_cast<double>(allocations.load() - allocationsBefore), benchmark::Counter::kAvgIterations);
    state.counters["positioned"] = c.positions.positionedCars;
}
BENCHMARK(BM_RaceTick32Cars)->Unit(benchmark::kMicrosecond);

}  // namespace
