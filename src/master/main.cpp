// Program entry: the command line, welcome lines, the master's run, closing
// lines.
#include <memory>

#include "common/console.h"
#include "common/log_console.h"
#include "master/command_line.h"
#include "master/config_check.h"
#include "master/master_control.h"
#include "master/version.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/stop_signals.h"

int main(int argc, char** argv) {
    tmx::Console& screen = tmx::standardConsole();
    const tmx::CommandLine options = tmx::parseCommandLine(argc, argv);
    if (!options.error.empty()) {
        screen.err("tmx: %s\n\n", options.error.c_str());
        screen.err("%s", tmx::commandLineHelp().c_str());
        return 2;
    }
    if (options.help) {
        screen.text(tmx::commandLineHelp());
        return 0;
    }
    if (options.version) {
        screen.out("%s %s\n", tmx::kProductShortName, tmx::kProductVersion);
        return 0;
    }

    // The log is opened before the directory changes: a relative name is
    // taken from where the program was started.
    std::unique_ptr<tmx::LogConsole> log;
    if (!options.logFile.empty()) {
        log = std::make_unique<tmx::LogConsole>(
            screen, [] { return tmx::platform::localStampText(tmx::platform::systemClock().now()); });
        if (!log->open(options.logFile)) {
            screen.err("tmx: cannot open the log file \"%s\"\n", options.logFile.c_str());
            return 2;
        }
    }
    tmx::Console& console = log ? static_cast<tmx::Console&>(*log) : screen;
    // The check reads the folder where it is and names it in what it says.
    if (options.check) return tmx::CheckConfiguration(options.dir, console);
    if (!options.dir.empty() && !tmx::platform::setWorkingDirectory(options.dir)) {
        screen.err("tmx: cannot use the directory \"%s\"\n", options.dir.c_str());
        return 2;
    }

    // Before any thread starts, so that only the watcher takes the signals.
    const bool stopHandlers = tmx::platform::installStopHandlers();

    console.out("\n\nWelcome to the LFS Trackmarshal (LFS_TMX)");
    console.out("%s", tmx::kProductVersion);
    console.out("\n");
    console.out("%s", tmx::kBannerLine);
    console.out("\n\n");
    if (!stopHandlers) console.note("Ctrl-C and stop signals cannot be caught: they end the program at once");
    {
        tmx::cl_MasterControl master(console);
        if (options.reconnect) master.reconnectSeconds = options.reconnectSeconds;
        if (options.noKey) master.readKey = nullptr;
        master.stopRequested = [] { return tmx::platform::stopRequested(); };
        master.Run();
        // The links are closed and the database is written: from here a stop
        // request ends the program at once, and a stop signal needs no key.
        tmx::platform::cleanStopDone();
        if (master.quitRequest.load() == tmx::QUIT_SIGNAL) master.readKey = nullptr;
        console.out("\n\nTerminating Trackmarshal (TMX)....");
        console.out("\nThanks for using  -  Bye\n\n");
    }  // the master is destroyed here and waits for a key press
    return 0;
}
