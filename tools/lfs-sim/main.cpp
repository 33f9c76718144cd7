// lfs-sim: a simulated Live for Speed server for trying a Trackmarshal
// configuration without LFS. Listens on 127.0.0.1 only.
//
//   lfs-sim [--port N] [--password PW] [--insim-version N] [--keepalive SECONDS]
//           [--scenario FILE] [--quiet] [--show-screen]
//
// With a scenario it runs the scenario and exits when it ends; without one it
// reads scenario lines from standard input and carries each out at once,
// until standard input closes.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

#include "common/console.h"
#include "lfs-sim/describe.h"
#include "lfs-sim/lfs_sim.h"
#include "lfs-sim/scenario.h"
#include "platform/clock.h"

namespace {

using namespace tmx;
using namespace tmx::sim;

constexpr std::uint16_t kDefaultPort = 29999;

void usage(Console& console) {
    console.out(
        "%s",
        "usage: lfs-sim [--port N] [--password PW] [--insim-version N] [--keepalive SECONDS]\n"
        "               [--scenario FILE] [--quiet] [--show-screen]\n"
        "\n"
        "  --port N           InSim port on 127.0.0.1 (default 29999; 0 = any free port)\n"
        "  --password PW      admin password the IS_ISI must carry (default: none)\n"
        "  --insim-version N  InSim version reported in IS_VER (default 4)\n"
        "  --keepalive S      seconds between TINY_NONE keep-alives (default 30; 0 = off)\n"
        "  --scenario FILE    run the steps of FILE, exit when it ends\n"
        "  --quiet            no line per received packet\n"
        "  --show-screen      print every connection's buttons at the end\n"
        "\n"
        "Without --scenario, scenario lines typed on standard input run at once.\n"
        "Scenario verbs:\n");
    for (const auto& line : scenarioVerbUsage()) console.out("  %s\n", line.c_str());
}

bool parseNumber(std::string_view text, long max, long& value) {
    if (text.empty() || text.size() > 6) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}

void showScreens(Console& console, const SimState& state) {
    console.out("\nEmulated screens:\n");
    for (const auto& c : state.model.connections()) {
        std::vector<Button> buttons = state.model.screen(c.ucid);
        std::sort(buttons.begin(), buttons.end(),
                  [](const Button& a, const Button& b) { return a.clickId < b.clickId; });
        console.out("ucid %u \"%s\": %zu button%s\n", static_cast<unsigned>(c.ucid),
                    printable(c.pname.view()).c_str(), buttons.size(),
                    buttons.size() == 1 ? "" : "s");
        for (const auto& b : buttons) {
            console.out("  id=%-3u L=%-3u T=%-3u W=%-3u H=%-3u style=%-3u inst=%-3u \"%s\"\n",
                        static_cast<unsigned>(b.clickId), static_cast<unsigned>(b.left),
                        static_cast<unsigned>(b.top), static_cast<unsigned>(b.width),
                        static_cast<unsigned>(b.height), static_cast<unsigned>(b.style),
                        static_cast<unsigned>(b.inst), printable(b.text.view()).c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Console& console = standardConsole();
    SimOptions options;
    options.port = kDefaultPort;
    std::string scenarioPath;
    bool showScreen = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        const std::string_view value =
            hasValue ? std::string_view(argv[i + 1]) : std::string_view();
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            usage(console);
            return 0;
        } else if (arg == "--quiet") {
            options.logPackets = false;
        } else if (arg == "--show-screen") {
            showScreen = true;
        } else if (arg == "--port" && hasValue && parseNumber(value, 65535, number)) {
            options.port = static_cast<std::uint16_t>(number);
            ++i;
        } else if (arg == "--password" && hasValue) {
            options.adminPassword = std::string(value);
            ++i;
        } else if (arg == "--insim-version" && hasValue && parseNumber(value, 65535, number)) {
            options.insimVersion = static_cast<int>(number);
            ++i;
        } else if (arg == "--keepalive" && hasValue) {
            std::int64_t ms = 0;
            if (!parseDuration(value, ms)) {
                console.err("lfs-sim: --keepalive needs seconds, not \"%s\"\n", argv[i + 1]);
                return 2;
            }
            options.keepAliveMs = static_cast<int>(ms);
            ++i;
        } else if (arg == "--scenario" && hasValue) {
            scenarioPath = std::string(value);
            ++i;
        } else {
            console.err("lfs-sim: bad argument \"%s\" (see --help)\n", argv[i]);
            return 2;
        }
    }

    Scenario scenario;
    if (!scenarioPath.empty()) {
        ScenarioError error;
        if (!loadScenarioFile(scenarioPath, scenario, error)) {
            console.err("lfs-sim: %s: %s\n", scenarioPath.c_str(), error.text().c_str());
            return 2;
        }
    }

    LfsSim sim(options, platform::systemClock(), &console);
    if (!sim.start()) {
        console.err("lfs-sim: cannot listen on 127.0.0.1:%u\n",
                    static_cast<unsigned>(options.port));
        return 1;
    }
    console.out("lfs-sim: simulated LFS server on 127.0.0.1:%u, InSim version %d%s\n",
                static_cast<unsigned>(sim.port()), options.insimVersion,
                options.adminPassword.empty() ? "" : ", admin password set");

    ScenarioRunner runner(sim, platform::systemClock(), &console);
    int exitCode = 0;
    if (!scenarioPath.empty()) {
        const RunResult result = runner.run(scenario);
        if (!result.ok) {
            console.err("lfs-sim: %s: %s\n", scenarioPath.c_str(), result.error.c_str());
            exitCode = 1;
        } else {
            console.out("lfs-sim: scenario %s\n", result.ended ? "ended" : "finished");
        }
    } else {
        std::string line;
        int lineNumber = 0;
        while (!runner.ended() && std::getline(std::cin, line)) {
            ScenarioStep step;
            bool hasStep = false;
            ScenarioError error;
            if (!parseScenarioLine(line, ++lineNumber, step, hasStep, error)) {
                console.err("lfs-sim: %s\n", error.text().c_str());
                continue;
            }
            if (!hasStep) continue;
            const StepResult r = runner.execute(step);
            if (!r.ok) console.err("lfs-sim: line %d: %s\n", lineNumber, r.error.c_str());
        }
        if (runner.ended() && runner.graceMs() > 0)
            platform::systemClock().sleepMs(static_cast<int>(runner.graceMs()));
    }

    if (showScreen) showScreens(console, sim.snapshot());
    sim.stop();
    return exitCode;
}
