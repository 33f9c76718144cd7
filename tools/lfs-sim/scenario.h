// Scenarios: small text files of timed steps that drive the simulated server.
//
//   # the first client logs in, then Alice joins and drives
//   await client timeout=20
//   at 1.5 join ucid=1 uname=alice pname="^1Alice"
//   after 0.5 drive ucid=1 car=XRT
//   chat ucid=1 text="#help"
//   end 2
//
// One step per line: an optional time ("at T": T seconds after the scenario
// started; "after T": T seconds after the previous step finished; none: right
// after the previous step), a verb, then words and key=value arguments. Values
// with blanks go in double quotes (\" and \\ inside). '#' at the start of a
// word begins a comment. Times are seconds with decimals, or with a unit
// suffix: 1.5, 1.5s, 250ms. Every verb is one entry of a table in
// scenario.cpp (its arguments, their types and ranges, and what it does), so a
// new verb is one more entry. See docs/LFS-SIM.md for the full list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/console.h"
#include "lfs-sim/lfs_sim.h"
#include "platform/clock.h"

namespace tmx::sim {

struct ScenarioStep {
    enum class Timing { Next, At, After };

    int line = 0;
    Timing timing = Timing::Next;
    std::int64_t timeMs = 0;
    std::string verb;
    std::vector<std::string> words;                         // positional arguments
    std::vector<std::pair<std::string, std::string>> args;  // key=value, in line order
    std::string source;                                     // the line as written

    // The value of key, or nullptr.
    const std::string* arg(std::string_view key) const;
};

struct Scenario {
    std::vector<ScenarioStep> steps;
};

struct ScenarioError {
    int line = 0;
    std::string message;
    std::string text() const { return "line " + std::to_string(line) + ": " + message; }
};

// Parses a whole scenario; false with the first bad line's number and reason.
bool parseScenario(std::string_view text, Scenario& out, ScenarioError& error);
// Parses one line. true and hasStep false for a blank or comment line.
bool parseScenarioLine(std::string_view line, int lineNumber, ScenarioStep& out, bool& hasStep,
                       ScenarioError& error);
// Reads and parses a file; a file that cannot be read is reported as line 0.
bool loadScenarioFile(const std::string& path, Scenario& out, ScenarioError& error);

// A time as the scenario format writes it (1.5, 2s, 250ms), in milliseconds.
bool parseDuration(std::string_view text, std::int64_t& ms);

// One usage line per verb, for --help.
std::vector<std::string> scenarioVerbUsage();

struct StepResult {
    bool ok = true;
    std::string error;
};

struct RunResult {
    bool ok = true;
    bool ended = false;  // an `end` step was reached
    int failedLine = 0;
    std::string error;  // "line N: ..." when a step failed
    std::size_t stepsRun = 0;
};

class ScenarioRunner {
public:
    // Times of timed steps and pauses come from clock (inject a ManualClock in
    // tests); awaits wait for real events with a real-time safety limit.
    ScenarioRunner(LfsSim& sim, platform::Clock& clock, Console* log = nullptr);

    // Runs every step at its time; stops at the first failing step, or after
    // `end` and its grace time.
    RunResult run(const Scenario& scenario);
    // Runs one step now, ignoring its time (an `end` only marks the end).
    StepResult execute(const ScenarioStep& step);

    bool ended() const { return ctx_.ended; }
    std::int64_t graceMs() const { return ctx_.graceMs; }

    // Internal state the verbs work on.
    struct Context {
        LfsSim& sim;
        platform::Clock& clock;
        std::size_t awaitCursor;  // awaited packets are looked for from here on
        bool ended;
        std::int64_t graceMs;
        Console* log;  // where the steps and the narration are printed, or nullptr
    };

private:
    Context ctx_;
};

}  // namespace tmx::sim
