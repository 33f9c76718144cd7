// tmx-load: measures how much CPU Trackmarshal uses under a full house.
//
// It starts eight simulated LFS servers in this process (lfs_sim_lib on the
// system clock, each on a free port of 127.0.0.1), writes a working directory
// whose tmx_server.cfg points one slot at each of them, and starts tmx there
// as a child process. Once tmx has logged in everywhere, every server gets 32
// guest drivers and a long race in which all cars drive at different paces, so
// that each server sends IS_MCI (four packets every 250 ms), IS_SPX and IS_LAP
// the whole time. After a warm-up, the CPU time of the tmx process (user +
// system, all threads) is read from /proc at the start and at the end of the
// measuring window and printed as a percentage of one core, together with what
// each server sent. An admin connection then types #KILLALL and tmx ends.
//
//   tmx-load [--tmx PATH] [--seconds N] [--warmup N] [--max-percent P]
//            [--servers N] [--cars N] [--lap-metres M] [--source DIR] [--keep]
//
// Exit code: 0 done, 1 the CPU use was above --max-percent, 2 the run failed
// (bad arguments, tmx did not log in, lost a link or did not end cleanly).
//
// Linux only: tmx is started with fork/exec and its CPU time comes from
// /proc/<pid>/stat. Like the simulator, it listens on 127.0.0.1 only.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "insim/packets.h"
#include "lfs-sim/lfs_sim.h"

#ifndef TMX_SOURCE_DIR
#define TMX_SOURCE_DIR "."
#endif

namespace {

namespace fs = std::filesystem;
using namespace tmx;
using Steady = std::chrono::steady_clock;

constexpr int kMaxServers = 8;
constexpr int kMaxCars = 32;
constexpr int kTrackNodes = 400;        // the simulator's default node count
constexpr int kRaceLaps = 1000;         // the longest race InSim can announce
constexpr int kLoginTimeoutS = 30;      // tmx logs in within this (all servers)
constexpr int kEndTimeoutS = 60;        // tmx ends within this after #KILLALL
constexpr int kProgressEveryS = 10;     // a progress line this often while measuring
constexpr const char* kPassword = "load";

struct Options {
    std::string tmx = "build/tmx";
    std::string source = TMX_SOURCE_DIR;
    int seconds = 30;
    int warmup = 10;
    double maxPercent = -1;  // below 0: no limit
    int servers = kMaxServers;
    int cars = kMaxCars;
    int lapMetres = 1000;
    bool keep = false;
};

void usage() {
    std::printf(
        "usage: tmx-load [--tmx PATH] [--seconds N] [--warmup N] [--max-percent P]\n"
        "                [--servers N] [--cars N] [--lap-metres M] [--source DIR] [--keep]\n"
        "\n"
        "  --tmx PATH        the program to measure (default build/tmx)\n"
        "  --seconds N       length of the measuring window (default 30, 1-3600)\n"
        "  --warmup N        seconds from the race start to the window (default 10, 6-600)\n"
        "  --max-percent P   exit 1 when tmx used more than P %% of one core\n"
        "  --servers N       simulated servers (default 8, 1-8)\n"
        "  --cars N          cars on each server (default 32, 1-32)\n"
        "  --lap-metres M    lap length (default 1000, 200-10000)\n"
        "  --source DIR      where languages/ and examples/ are (default the source tree)\n"
        "  --keep            keep the working directory (it is kept anyway when the run fails)\n");
}

bool parseInt(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6) return false;
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = static_cast<int>(v);
    return true;
}

bool parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string value = hasValue ? argv[i + 1] : "";
        bool ok = hasValue;
        if (arg == "--help" || arg == "-h") {
            usage();
            std::exit(0);
        } else if (arg == "--keep") {
            o.keep = true;
            continue;
        } else if (arg == "--tmx") {
            o.tmx = value;
        } else if (arg == "--source") {
            o.source = value;
        } else if (arg == "--seconds") {
            ok = ok && parseInt(value, 1, 3600, o.seconds);
        } else if (arg == "--warmup") {
            ok = ok && parseInt(value, 6, 600, o.warmup);
        } else if (arg == "--servers") {
            ok = ok && parseInt(value, 1, kMaxServers, o.servers);
        } else if (arg == "--cars") {
            ok = ok && parseInt(value, 1, kMaxCars, o.cars);
        } else if (arg == "--lap-metres") {
            ok = ok && parseInt(value, 200, 10000, o.lapMetres);
        } else if (arg == "--max-percent") {
            char* end = nullptr;
            o.maxPercent = hasValue ? std::strtod(value.c_str(), &end) : -1;
            ok = ok && end && *end == '\0' && o.maxPercent >= 0 && o.maxPercent <= 10000;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "tmx-load: bad argument \"%s\" (see --help)\n", argv[i]);
            return false;
        }
        ++i;
    }
    return true;
}

// ---- The tmx process ----------------------------------------------------------

// utime + stime of the process (all its threads), in clock ticks.
bool cpuTicks(pid_t pid, long long& ticks) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return false;
    // The command name in parentheses may hold blanks: count fields after it.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream fields(line.substr(close + 1));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state (field 3) .. cmajflt (field 13)
    long long utime = 0, stime = 0;
    if (!(fields >> utime >> stime)) return false;
    ticks = utime + stime;
    return true;
}

class TmxProcess {
public:
    // Starts the program in dir with standard input from /dev/null (it waits
    // for a key at its end) and its output in logPath.
    bool start(const std::string& program, const std::string& dir, const std::string& logPath) {
        const pid_t parent = getpid();
        // Everything the child needs is ready before fork: the child of a
        // threaded process may only make plain system calls.
        const char* args[] = {program.c_str(), nullptr};
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // tmx does not outlive the tool
            if (getppid() != parent) _exit(126);
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || chdir(dir.c_str()) != 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            execv(program.c_str(), const_cast<char* const*>(args));
            _exit(127);
        }
        return true;
    }

    pid_t pid() const { return pid_; }
    bool running() {
        poll();
        return pid_ > 0 && !ended_;
    }
    bool endedCleanly() const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    std::string howItEnded() const {
        if (!ended_) return "still running";
        if (WIFEXITED(status_)) return "exit code " + std::to_string(WEXITSTATUS(status_));
        if (WIFSIGNALED(status_)) return "killed by signal " + std::to_string(WTERMSIG(status_));
        return "ended";
    }

    bool waitForEnd(int timeoutMs) {
        const auto deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
        while (running() && Steady::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !running();
    }

    // Ends it by force when it is still running (SIGTERM, then SIGKILL).
    void stop() {
        if (!running()) return;
        kill(pid_, SIGTERM);
        if (waitForEnd(5000)) return;
        kill(pid_, SIGKILL);
        waitForEnd(5000);
    }

    ~TmxProcess() { stop(); }

private:
    void poll() {
        if (pid_ <= 0 || ended_) return;
        if (waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    }

    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

// ---- The working directory -----------------------------------------------------

bool writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// languages/, server_N.cfg and tmx_server.cfg (CR LF line ends, as tmx reads them).
bool prepareDirectory(const fs::path& dir, const fs::path& source,
                      const std::vector<std::uint16_t>& ports) {
    std::error_code error;
    fs::create_directory(dir / "languages", error);
    if (error) return false;
    for (const auto& entry : fs::directory_iterator(source / "languages", error)) {
        if (entry.path().extension() != ".lng") continue;
        fs::copy_file(entry.path(), dir / "languages" / entry.path().filename(), error);
        if (error) return false;
    }
    if (error) return false;
    std::string list = "// tmx-load: one simulated server per slot\r\n";
    for (std::size_t slot = 0; slot < ports.size(); ++slot) {
        const std::string cfg = "server_" + std::to_string(slot) + ".cfg";
        fs::copy_file(source / "examples" / "server_0.cfg", dir / cfg, error);
        if (error) return false;
        list += std::to_string(slot) + ":\r\nip 127.0.0.1\r\nport " + std::to_string(ports[slot]) +
                "\r\npassw " + kPassword + "\r\nskill 0\r\nmode 0\r\n";
    }
    list += "end\r\n";
    return writeFile(dir / "tmx_server.cfg", list);
}

void printTail(const fs::path& path, std::size_t lines) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> all;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        all.push_back(line);
    }
    const std::size_t from = all.size() > lines ? all.size() - lines : 0;
    std::fprintf(stderr, "---- last lines of %s\n", path.c_str());
    for (std::size_t i = from; i < all.size(); ++i) std::fprintf(stderr, "%s\n", all[i].c_str());
    std::fprintf(stderr, "----\n");
}

// ---- What a simulated server sent in the window ---------------------------------

struct Counts {
    long updates = 0;     // car updates (one write each, with its IS_MCI)
    long carReports = 0;  // cars reported in IS_MCI
    long mci = 0;
    long splits = 0;
    long laps = 0;
    long flags = 0;
    long fromTmx = 0;  // packets tmx sent to the server

    void add(const Counts& c) {
        updates += c.updates;
        carReports += c.carReports;
        mci += c.mci;
        splits += c.splits;
        laps += c.laps;
        flags += c.flags;
        fromTmx += c.fromTmx;
    }
};

Counts countWindow(const sim::SimState& state, std::int64_t fromMs, std::int64_t toMs) {
    Counts c;
    for (const auto& write : state.sent) {
        if (write.timeMs < fromMs || write.timeMs >= toMs) continue;
        bool hasMci = false;
        const auto& b = write.bytes;
        for (std::size_t at = 0; at + 4 <= b.size() && b[at] != 0; at += b[at]) {
            switch (b[at + 1]) {
                case insim::ISP_MCI:
                    hasMci = true;
                    ++c.mci;
                    c.carReports += b[at + 3];
                    break;
                case insim::ISP_SPX: ++c.splits; break;
                case insim::ISP_LAP: ++c.laps; break;
                case insim::ISP_FLG: ++c.flags; break;
                default: break;
            }
        }
        if (hasMci) ++c.updates;
    }
    for (const auto& p : state.received)
        if (p.timeMs >= fromMs && p.timeMs < toMs) ++c.fromTmx;
    return c;
}

void printCounts(const char* label, const Counts& c) {
    std::printf("  %-7s %8ld %12ld %8ld %8ld %7ld %7ld %11ld\n", label, c.updates, c.carReports,
                c.mci, c.splits, c.laps, c.flags, c.fromTmx);
}

// ---- The run ---------------------------------------------------------------------

class LoadRun {
public:
    explicit LoadRun(const Options& o) : o_(o) {}

    ~LoadRun() {
        tmx_.stop();
        for (auto& s : sims_) s->stop();
        if (dir_.empty()) return;
        if (o_.keep || !succeeded_) {
            std::printf("tmx-load: working directory kept: %s\n", dir_.c_str());
        } else {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    // 0, 1 or 2 as the exit code says.
    int run() {
        if (!setUp() || !login() || !startRaces() || !measure() || !finish()) return 2;
        succeeded_ = true;
        if (o_.maxPercent >= 0 && percent_ > o_.maxPercent) {
            std::printf("tmx-load: FAIL, %.3f %% of one core is above the limit of %.3f %%\n",
                        percent_, o_.maxPercent);
            return 1;
        }
        if (o_.maxPercent >= 0)
            std::printf("tmx-load: ok, %.3f %% of one core is within the limit of %.3f %%\n",
                        percent_, o_.maxPercent);
        return 0;
    }

private:
    bool fail(const char* what) {
        std::fprintf(stderr, "tmx-load: %s\n", what);
        return false;
    }

    bool failWithLog(const std::string& what) {
        std::fprintf(stderr, "tmx-load: %s (tmx: %s)\n", what.c_str(), tmx_.howItEnded().c_str());
        printTail(dir_ / "tmx.log", 25);
        return false;
    }

    bool setUp() {
        std::error_code error;
        const fs::path program = fs::absolute(o_.tmx, error);
        if (error || access(program.c_str(), X_OK) != 0)
            return fail(("cannot run " + o_.tmx + " (give the program with --tmx)").c_str());
        program_ = program.string();
        const fs::path source(o_.source);
        if (!fs::exists(source / "languages" / "__MASTER.lng") ||
            !fs::exists(source / "examples" / "server_0.cfg"))
            return fail(("no languages/ or examples/server_0.cfg in " + o_.source +
                         " (give the source tree with --source)").c_str());

        std::string pattern = (fs::temp_directory_path(error) / "tmx-load-XXXXXX").string();
        if (error || !mkdtemp(pattern.data())) return fail("cannot create a working directory");
        dir_ = pattern;

        std::vector<std::uint16_t> ports;
        for (int i = 0; i < o_.servers; ++i) {
            sim::SimOptions options;
            options.port = 0;  // a free port each; tmx_server.cfg names them
            options.adminPassword = kPassword;
            options.logPackets = false;
            options.hostName = "Load " + std::to_string(i);
            sims_.push_back(std::make_unique<sim::LfsSim>(options));
            if (!sims_.back()->start()) return fail("a simulated server could not listen");
            ports.push_back(sims_.back()->port());
        }
        if (!prepareDirectory(dir_, source, ports))
            return fail("cannot fill the working directory");

        std::printf("tmx-load: %d simulated servers on 127.0.0.1, ports", o_.servers);
        for (auto p : ports) std::printf(" %u", static_cast<unsigned>(p));
        std::printf("\ntmx-load: working directory %s\n", dir_.c_str());

        if (!tmx_.start(program_, dir_.string(), (dir_ / "tmx.log").string()))
            return fail("cannot start tmx");
        std::printf("tmx-load: started %s (pid %d), output in tmx.log\n", program_.c_str(),
                    static_cast<int>(tmx_.pid()));
        return true;
    }

    // Until every server has seen tmx's last handshake request (TINY_RST).
    bool login() {
        const auto started = Steady::now();
        const auto deadline = started + std::chrono::seconds(kLoginTimeoutS);
        for (int i = 0; i < o_.servers; ++i) {
            while (!sims_[i]->waitForPacket(insim::ISP_TINY, insim::TINY_RST, 200)) {
                if (!tmx_.running()) return failWithLog("tmx ended before it had logged in");
                if (Steady::now() > deadline)
                    return failWithLog("tmx did not log in to server " + std::to_string(i) +
                                       " within " + std::to_string(kLoginTimeoutS) + " s");
            }
        }
        std::printf("tmx-load: tmx logged in to all %d servers in %.1f s\n", o_.servers,
                    seconds(Steady::now() - started));
        return true;
    }

    // 32 guests on each server, then a race in which every car has its own pace:
    // server 0's fastest car 170 km/h, each further server's 3 km/h slower, the
    // slowest car of a server at 55 % of its fastest.
    bool startRaces() {
        sim::DrivingSettings driving;
        driving.nodeLengthM = static_cast<double>(o_.lapMetres) / kTrackNodes;
        for (int s = 0; s < o_.servers; ++s) {
            sim::LfsSim& sim = *sims_[s];
            sim.setDrivingSettings(driving);
            for (int car = 1; car <= o_.cars; ++car) {
                const std::string uname = "load" + std::to_string(s) + "d" + std::to_string(car);
                const std::string pname = "^" + std::to_string(car % 8) + "Driver " +
                                          std::to_string(s) + "." + std::to_string(car);
                const sim::Outcome joined = sim.join(car, uname, pname);
                if (!joined) return fail(("join: " + joined.error).c_str());
            }
            sim::RaceSpec race;
            race.laps = kRaceLaps;
            race.cars = o_.cars;
            race.paceKmh = 170.0 - 3.0 * s;
            race.spreadKmh = o_.cars > 1 ? race.paceKmh * 0.45 / (o_.cars - 1) : 0;
            const sim::Outcome started = sim.startRace(race);
            if (!started) return fail(("race: " + started.error).c_str());
        }
        raceStart_ = Steady::now();
        const double lapLo = o_.lapMetres * 3.6 / 170.0;
        const double lapHi = o_.lapMetres * 3.6 / ((170.0 - 3.0 * (o_.servers - 1)) * 0.55);
        std::printf(
            "tmx-load: %d drivers joined each server; races of %d laps of %d m started, "
            "lap times %.0f to %.0f s\n",
            o_.cars, kRaceLaps, o_.lapMetres, lapLo, lapHi);
        return true;
    }

    bool allLinked() {
        for (int s = 0; s < o_.servers; ++s) {
            const sim::SimState st = sims_[s]->snapshot();
            if (!st.link.insimReady || st.link.clientsAccepted != 1) {
                failWithLog("tmx lost its link to server " + std::to_string(s));
                return false;
            }
        }
        return true;
    }

    bool measure() {
        std::printf("tmx-load: warming up until %d s after the race start\n", o_.warmup);
        const auto windowStart = raceStart_ + std::chrono::seconds(o_.warmup);
        while (Steady::now() < windowStart) {
            if (!tmx_.running()) return failWithLog("tmx ended during the warm-up");
            std::this_thread::sleep_until(std::min(windowStart, Steady::now() + std::chrono::milliseconds(200)));
        }
        if (!allLinked()) return false;

        const long ticksPerSecond = sysconf(_SC_CLK_TCK);
        std::vector<std::int64_t> fromMs;
        for (auto& s : sims_) fromMs.push_back(s->elapsedMs());
        long long ticks0 = 0;
        if (!cpuTicks(tmx_.pid(), ticks0)) return fail("cannot read /proc/<pid>/stat of tmx");
        const auto t0 = Steady::now();
        std::printf("tmx-load: measuring for %d s\n", o_.seconds);
        std::fflush(stdout);

        long long lastTicks = ticks0;
        auto last = t0;
        const auto end = t0 + std::chrono::seconds(o_.seconds);
        while (Steady::now() < end) {
            const auto next = std::min(end, last + std::chrono::seconds(kProgressEveryS));
            while (Steady::now() < next) {
                if (!tmx_.running()) return failWithLog("tmx ended while being measured");
                std::this_thread::sleep_until(std::min(next, Steady::now() + std::chrono::milliseconds(200)));
            }
            long long ticks = 0;
            if (!cpuTicks(tmx_.pid(), ticks)) return fail("cannot read /proc/<pid>/stat of tmx");
            const auto now = Steady::now();
            if (now < end) {
                std::printf("  %5.0f s: %.3f %% of one core in the last %.0f s\n",
                            seconds(now - t0),
                            percentOf(ticks - lastTicks, ticksPerSecond, now - last),
                            seconds(now - last));
                std::fflush(stdout);
            }
            lastTicks = ticks;
            last = now;
        }
        long long ticks1 = 0;
        if (!cpuTicks(tmx_.pid(), ticks1)) return fail("cannot read /proc/<pid>/stat of tmx");
        const auto t1 = Steady::now();
        if (!allLinked()) return false;

        percent_ = percentOf(ticks1 - ticks0, ticksPerSecond, t1 - t0);
        std::printf("\nWhat each simulated server sent in the window (tmx pkts: what tmx sent it):\n");
        std::printf("  %-7s %8s %12s %8s %8s %7s %7s %11s\n", "server", "updates", "car reports",
                    "IS_MCI", "IS_SPX", "IS_LAP", "IS_FLG", "tmx pkts");
        Counts total;
        for (int s = 0; s < o_.servers; ++s) {
            const Counts c = countWindow(sims_[s]->snapshot(), fromMs[s], fromMs[s] + ms(t1 - t0));
            total.add(c);
            printCounts(std::to_string(s).c_str(), c);
        }
        printCounts("total", total);
        const double window = seconds(t1 - t0);
        std::printf("  per second: %.0f car reports, %.1f IS_MCI, %.1f splits, %.1f laps\n",
                    total.carReports / window, total.mci / window, total.splits / window,
                    total.laps / window);
        std::printf(
            "\ntmx CPU: %.2f s (user + system) in %.1f s = %.3f %% of one core"
            " (%ld ticks per second)\n",
            static_cast<double>(ticks1 - ticks0) / ticksPerSecond, window, percent_,
            ticksPerSecond);
        std::fflush(stdout);
        return true;
    }

    // An admin joins server 0 and ends tmx with #KILLALL.
    bool finish() {
        const int admin = o_.cars + 1;
        if (!sims_[0]->join(admin, "loadadmin", "^3Load Admin", true) ||
            !sims_[0]->chat(admin, "#KILLALL"))
            return fail("the admin could not type #KILLALL");
        if (!tmx_.waitForEnd(kEndTimeoutS * 1000))
            return failWithLog("tmx did not end within " + std::to_string(kEndTimeoutS) +
                               " s of #KILLALL");
        if (!tmx_.endedCleanly()) return failWithLog("tmx did not end cleanly");
        std::printf("tmx-load: #KILLALL typed on server 0, tmx ended (%s)\n",
                    tmx_.howItEnded().c_str());
        return true;
    }

    static double seconds(Steady::duration d) { return std::chrono::duration<double>(d).count(); }
    static std::int64_t ms(Steady::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    }
    static double percentOf(long long ticks, long ticksPerSecond, Steady::duration d) {
        const double wall = seconds(d);
        return wall > 0 ? 100.0 * static_cast<double>(ticks) / ticksPerSecond / wall : 0;
    }

    const Options& o_;
    std::string program_;
    fs::path dir_;
    std::vector<std::unique_ptr<sim::LfsSim>> sims_;
    TmxProcess tmx_;
    Steady::time_point raceStart_;
    double percent_ = 0;
    bool succeeded_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    Options options;
    if (!parseArgs(argc, argv, options)) return 2;
    LoadRun run(options);
    return run.run();
}
