// The central player database at 100,000 players with 1,000,000 combination
// records: reading and writing the file (set against plain sequential reads
// and writes of the same number of bytes in the same run), cleaning, and
// finding or creating a player's entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/console.h"
#include "data/lfs_player.h"
#include "data/player_database.h"
#include "master/master_control.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

using tmx::cl_MasterControl;
using tmx::data::CombinationRecord;
using tmx::data::PlayerEntry;

constexpr int kPlayers = 100'000;
constexpr int kCombosPerPlayer = 10;
constexpr std::size_t kIoBlock = 1 << 18;  // the block size the database uses
const char* const kCars[] = {"XFG", "XRG", "XRT", "RB4", "FXO", "LX4", "LX6", "FZR", "UF1", "MRT"};
const char* const kTracks[] = {"BL1", "BL1R", "SO1", "FE2", "AS3", "KY2R", "WE1", "AU1"};

// A folder of its own, removed at the end of the run.
class BenchFolder {
public:
    BenchFolder() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("tmx-bench-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~BenchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string userName(int i) {
    char name[25];
    std::snprintf(name, sizeof name, "driver%06d", i);
    return name;
}

std::unique_ptr<cl_MasterControl> makeMaster(const std::string& dir) {
    static tmx::NullConsole console;
    auto master = std::make_unique<cl_MasterControl>(console, tmx::platform::systemClock());
    master->workDir = dir;
    master->readKey = [] { return 0; };
    return master;
}

// Every player has laps; with removable set, every tenth player has none and
// every tenth record of the others has a lap counter of 0.
void generate(cl_MasterControl& master, bool removable) {
    std::mt19937 rng(7);
    for (int i = 0; i < kPlayers; ++i) {
        PlayerEntry e;
        e.userName = userName(i).c_str();
        e.playerName = ("^" + std::to_string(i % 8) + "Driver " + std::to_string(i)).c_str();
        e.lastSeen = 1'700'000'000 + i;
        e.skillLaps = removable && i % 10 == 0 ? 0 : 1 + rng() % 500;
        e.skillPoints = static_cast<std::int32_t>(rng() % 5000);
        e.combinations.reserve(kCombosPerPlayer);
        for (int c = 0; c < kCombosPerPlayer; ++c) {
            CombinationRecord& r = e.combinations.emplace_back();
            r.car = kCars[static_cast<std::size_t>(c)];
            r.track = kTracks[rng() % std::size(kTracks)];
            r.laps = removable && c % 10 == 3 ? 0 : static_cast<std::int32_t>(1 + rng() % 100);
            for (auto& t : r.personalBest) t = static_cast<std::int32_t>(20000 + rng() % 70000);
            for (auto& t : r.bestSectors) t = static_cast<std::int32_t>(20000 + rng() % 20000);
        }
        master.database.append(std::move(e));
    }
}

// The database file, written once for the whole run.
struct Files {
    Files() {
        auto master = makeMaster(folder.path());
        generate(*master, false);
        master->WriteDatabase(tmx::data::kDatabaseFile);
        bytes = std::filesystem::file_size(folder.file(tmx::data::kDatabaseFile));
    }
    std::string database() const { return folder.file(tmx::data::kDatabaseFile); }
    BenchFolder folder;
    std::uintmax_t bytes = 0;
};

Files& files() {
    static Files f;
    return f;
}

// ---- Read ---------------------------------------------------------------------

void BM_PlainSequentialRead(benchmark::State& state) {
    std::vector<std::uint8_t> buf(kIoBlock);
    for (auto _ : state) {
        tmx::platform::File f;
        f.openRead(files().database());
        std::size_t total = 0;
        for (int n; (n = f.read(buf.data(), static_cast<int>(buf.size()))) > 0;) total += static_cast<std::size_t>(n);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}
BENCHMARK(BM_PlainSequentialRead)->Unit(benchmark::kMillisecond);

// The same bytes read into fresh memory of their size (the database in
// memory needs about as much).
void BM_PlainSequentialReadIntoMemory(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[]> mem(new std::uint8_t[files().bytes]);
        tmx::platform::File f;
        f.openRead(files().database());
        std::size_t total = 0;
        for (int n; (n = f.read(mem.get() + total, static_cast<int>(std::min<std::size_t>(kIoBlock, files().bytes - total)))) > 0;)
            total += static_cast<std::size_t>(n);
        benchmark::DoNotOptimize(mem.get());
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}
BENCHMARK(BM_PlainSequentialReadIntoMemory)->Unit(benchmark::kMillisecond);

void BM_ReadDatabase(benchmark::State& state) {
    const std::string dir = files().folder.path();
    for (auto _ : state) {
        state.PauseTiming();
        auto master = makeMaster(dir);
        state.ResumeTiming();
        if (master->ReadDatabase(tmx::data::kDatabaseFile) != 0 || master->database.count() != kPlayers)
            state.SkipWithError("read failed");
        state.PauseTiming();
        master.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}
BENCHMARK(BM_ReadDatabase)->Unit(benchmark::kMillisecond);

// ---- Write --------------------------------------------------------------------------

void plainWrite(benchmark::State& state, bool flushToDisk) {
    std::vector<std::uint8_t> buf(kIoBlock, 0x5A);
    const std::string target = files().folder.file("plain.bin");
    for (auto _ : state) {
        tmx::platform::File f;
        f.openWrite(target);
        for (std::uintmax_t done = 0; done < files().bytes;) {
            const int n = static_cast<int>(std::min<std::uintmax_t>(kIoBlock, files().bytes - done));
            f.write(buf.data(), n);
            done += static_cast<std::uintmax_t>(n);
        }
        if (flushToDisk) f.flushToDisk();
        f.close();
    }
    tmx::platform::removeFile(target);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}

void BM_PlainSequentialWrite(benchmark::State& state) { plainWrite(state, false); }
BENCHMARK(BM_PlainSequentialWrite)->Unit(benchmark::kMillisecond);

// As the database write does: the bytes are on the disk before it returns.
void BM_PlainSequentialWriteToDisk(benchmark::State& state) { plainWrite(state, true); }
BENCHMARK(BM_PlainSequentialWriteToDisk)->Unit(benchmark::kMillisecond);

// The file work a database write must do, with no database work in it: copy
// the old file to the backup, write the bytes beside it, flush them to the
// disk and put the new file in place.
void BM_PlainBackupWriteReplace(benchmark::State& state) {
    BenchFolder own;
    std::vector<std::uint8_t> buf(kIoBlock, 0x5A);
    const std::string target = own.file("db"), temp = own.file("db.new"), backup = own.file("db.bak");
    auto writeAll = [&](const std::string& name, bool flush) {
        tmx::platform::File f;
        f.openWrite(name);
        for (std::uintmax_t done = 0; done < files().bytes;) {
            const int n = static_cast<int>(std::min<std::uintmax_t>(kIoBlock, files().bytes - done));
            f.write(buf.data(), n);
            done += static_cast<std::uintmax_t>(n);
        }
        if (flush) f.flushToDisk();
    };
    writeAll(target, false);
    std::vector<std::uint8_t> copyBuf(kIoBlock);
    for (auto _ : state) {
        {
            tmx::platform::File in, out;
            in.openRead(target);
            out.openWrite(backup);
            for (int n; (n = in.read(copyBuf.data(), static_cast<int>(copyBuf.size()))) > 0;) out.write(copyBuf.data(), n);
        }
        writeAll(temp, true);
        tmx::platform::replaceFile(temp, target);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}
BENCHMARK(BM_PlainBackupWriteReplace)->Unit(benchmark::kMillisecond);

// The whole write: backup copy, the new file beside the old one, flushed to
// the disk, then put in its place.
void BM_WriteDatabase(benchmark::State& state) {
    BenchFolder own;
    auto master = makeMaster(own.path());
    generate(*master, false);
    master->WriteDatabase(tmx::data::kDatabaseFile);  // so that every timed write makes its backup
    for (auto _ : state) {
        if (master->WriteDatabase(tmx::data::kDatabaseFile) != 0) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * files().bytes));
}
BENCHMARK(BM_WriteDatabase)->Unit(benchmark::kMillisecond);

// ---- Clean ---------------------------------------------------------------------------

// The usual case: nothing to remove.
void BM_CleanNothingToRemove(benchmark::State& state) {
    auto master = makeMaster(files().folder.path());
    generate(*master, false);
    for (auto _ : state) master->CleanDatabase();
    if (master->database.count() != kPlayers) state.SkipWithError("clean removed entries");
}
BENCHMARK(BM_CleanNothingToRemove)->Unit(benchmark::kMillisecond);

// Every tenth player and every tenth record of the others go.
void BM_CleanRemoving(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto master = makeMaster(files().folder.path());
        generate(*master, true);
        state.ResumeTiming();
        master->CleanDatabase();
        state.PauseTiming();
        if (master->database.count() != kPlayers - kPlayers / 10) state.SkipWithError("wrong clean");
        master.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CleanRemoving)->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- Find or create ----------------------------------------------------------------------

void BM_FindExistingPlayer(benchmark::State& state) {
    auto master = makeMaster(files().folder.path());
    master->ReadDatabase(tmx::data::kDatabaseFile);
    std::vector<std::string> names;
    std::mt19937 rng(3);
    for (int i = 0; i < 4096; ++i) names.push_back(userName(static_cast<int>(rng() % kPlayers)));
    tmx::data::cl_LfsPlayer player;
    player.userName = names[0].c_str();
    master->FindOrCreateEntry(&player, false);  // the first lookup after a read indexes the list
    std::size_t i = 0;
    for (auto _ : state) {
        player.userName = names[i++ & 4095].c_str();
        if (master->FindOrCreateEntry(&player, false) != 2) state.SkipWithError("not found");
    }
}
BENCHMARK(BM_FindExistingPlayer)->Unit(benchmark::kMicrosecond);

void BM_CreateNewPlayer(benchmark::State& state) {
    auto master = makeMaster(files().folder.path());
    master->ReadDatabase(tmx::data::kDatabaseFile);
    tmx::data::cl_LfsPlayer player;
    player.userName = "driver000000";
    master->FindOrCreateEntry(&player, false);
    std::vector<std::string> fresh;
    for (int i = 0; i < 20'000; ++i) fresh.push_back("newcomer" + std::to_string(i));
    std::size_t i = 0;
    for (auto _ : state) {
        player.userName = fresh[i++].c_str();
        if (master->FindOrCreateEntry(&player, false) != 3) state.SkipWithError("not created");
    }
}
BENCHMARK(BM_CreateNewPlayer)->Unit(benchmark::kMicrosecond)->Iterations(20'000);

}  // namespace
