// Building a server ranking from the central database at 100,000 players with
// 1,000,000 combination records, the way a controller does it under the
// database lock: for the cars in use on the current track, and for one car
// asked for with #top. The whole build must stay under 20 ms.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "data/player_database.h"
#include "info/ranking_state.h"

namespace {

using tmx::data::CombinationRecord;
using tmx::data::PlayerDatabase;
using tmx::data::PlayerEntry;

constexpr int kPlayers = 100'000;
constexpr int kCombosPerPlayer = 10;
const char* const kCars[] = {"XFG", "XRG", "XRT", "RB4", "FXO", "LX4", "LX6", "FZR", "UF1", "MRT"};
const char* const kTracks[] = {"BL1", "BL1R", "SO1", "FE2", "AS3", "KY2R", "WE1", "AU1"};

// Every player has driven ten combinations, most of them with a best lap.
const PlayerDatabase& database() {
    static PlayerDatabase* db = [] {
        auto* d = new PlayerDatabase;
        std::mt19937 rng(12);
        for (int p = 0; p < kPlayers; ++p) {
            PlayerEntry e;
            e.userName = ("driver" + std::to_string(p)).c_str();
            e.playerName = ("^7Driver " + std::to_string(p)).c_str();
            e.skillLaps = 10;
            PlayerEntry& added = d->append(std::move(e));
            added.combinations.reserve(kCombosPerPlayer);
            for (int k = 0; k < kCombosPerPlayer; ++k) {
                CombinationRecord& r = added.combinations.emplace_back();
                r.car = kCars[rng() % 10];
                r.track = kTracks[rng() % 8];
                r.laps = 1 + static_cast<std::int32_t>(rng() % 50);
                r.personalBest[0] = rng() % 10 == 0 ? 0 : 60000 + static_cast<std::int32_t>(rng() % 40000);
            }
        }
        return d;
    }();
    return *db;
}

void BM_CreateRankingForTheCarsInUse(benchmark::State& state) {
    const PlayerDatabase& db = database();
    tmx::info::Cartable cars;
    cars.cars[0] = "XRT";
    cars.cars[1] = "FZR";
    cars.cars[2] = "rb4";
    tmx::info::RankingList list;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tmx::info::CreateRanking(db, list, "bl1", nullptr, cars, nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["records"] = kPlayers * kCombosPerPlayer;
}
BENCHMARK(BM_CreateRankingForTheCarsInUse)->Unit(benchmark::kMillisecond);

void BM_CreateRankingForOneCar(benchmark::State& state) {
    const PlayerDatabase& db = database();
    tmx::info::RankingList list;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tmx::info::CreateRanking(db, list, "SO1", "fxo", tmx::info::Cartable{}, nullptr));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CreateRankingForOneCar)->Unit(benchmark::kMillisecond);

}  // namespace
