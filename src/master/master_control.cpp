#include "master/master_control.h"

#include <new>

#include "master/version.h"
#include "platform/files.h"

namespace tmx {

namespace {
const char* const kSpinner[4] = {"\b\b\t-", "\b\b\t\\", "\b\b\t|", "\b\b\t/"};
}

cl_MasterControl::cl_MasterControl(Console& console_, platform::Clock& clock_)
    : languages(console_), console(console_), clock(clock_) {
    startThread = [this](int slot) { return startControllerThread(slot); };
    readKey = [] { return platform::readConsoleChar(); };
}

std::string cl_MasterControl::path(const std::string& name) const {
    return workDir.empty() ? name : platform::joinPath(workDir, name);
}

int cl_MasterControl::ReadGeneralConfig() {
    return data::readGeneralConfig(path(data::kGeneralConfigFile), servers, configuredServers,
                                   console);
}

bool cl_MasterControl::startControllerThread(int slot) {
    TMX_MAIN* controller = controllers[static_cast<std::size_t>(slot)].get();
    return threads_[static_cast<std::size_t>(slot)].start([controller] { controller->Run(); });
}

bool cl_MasterControl::takeStopRequest() {
    if (!stopRequested || !stopRequested()) return false;
    std::uint8_t none = QUIT_NONE;
    quitRequest.compare_exchange_strong(none, QUIT_SIGNAL);
    return true;
}

int cl_MasterControl::Run() {
    if (StartUp() == -1) return 0;
    while (quitRequest.load() == QUIT_NONE && !takeStopRequest()) SupervisionPass();
    EndRun();
    return 0;
}

int cl_MasterControl::StartUp() {
    console.out("\n\n\nMCP: Loading player database ");
    ReadDatabase(data::kDatabaseFile);

    if (languages.loadAll(path(platform::languageDirectory())) == -1) return -1;
    databaseChanged = 0;

    if (databaseLoaded.load() == 1 && database.count() >= 1) {
        console.out("\n\nMCP: Creating startbackup ");
        const std::string file = path(data::kDatabaseFile);
        console.out(CopyFile(file, file + ".startbak") == 0 ? "\nDone\n" : "\nFailed\n");
    }

    ReadGeneralConfig();
    console.out("\n\n     --------------------------------------\n\n");

    for (int slot = 0; slot < data::kMaxServers; ++slot) {
        const data::ServerEntry& entry = servers[static_cast<std::size_t>(slot)];
        if (entry.used != 1) continue;
        // Asked to stop while starting: the servers started so far are ended
        // cleanly, the others are not started at all.
        if (takeStopRequest()) break;
        // A slot whose objects cannot be made is skipped; the others still run.
        std::unique_ptr<TMX_MAIN> controller(new (std::nothrow) TMX_MAIN(console, clock));
        if (!controller) {
            console.out("\nERROR:  couldnt allocate memory for tmx-instance %d", slot);
            continue;
        }
        std::unique_ptr<insim::cl_InsimHandling> link(new (std::nothrow)
                                                          insim::cl_InsimHandling(console, clock));
        if (!link) {
            console.out("\nERROR:  couldnt allocate memory for insim-instance %d", slot);
            continue;
        }
        controller->slot = slot;
        controller->master = this;
        controller->link = link.get();
        controller->debugState = DBG_OFF;
        link->debug = 0;
        controller->cityGame = 0;
        controller->host = entry.ip;
        controller->port = entry.port;
        controller->adminPassword = entry.passw;
        controller->minimumSkillText = entry.skill;
        controller->skillKickText = entry.nstext;
        controller->cityGame = entry.mode;
        controller->reconnectSeconds = reconnectSeconds;
        links[static_cast<std::size_t>(slot)] = std::move(link);
        controllers[static_cast<std::size_t>(slot)] = std::move(controller);

        console.out("\n\nMCP: STARTING SERVER %d", slot);
        if (!startThread(slot)) {
            // Counted as dead by the supervision loop like a server that ended.
            console.out("\nERROR:  couldnt start the thread of server %d", slot);
            controllers[static_cast<std::size_t>(slot)]->activity = ACT_STOPPED;
        }
        clock.sleepMs(kStartPauseMs);
    }

    console.out("\n\nMCP: Init complete.  Processing now.\n");
    debugSlot = kNoDebugSlot;
    console.out("\nMCP: TmxStatus: STARTED (%s  ", clock.timeText().c_str());
    console.out("%s)\t", clock.dateText().c_str());
    return 0;
}

void cl_MasterControl::applyDebugSwitch(int slot) {
    TMX_MAIN& requester = *controllers[static_cast<std::size_t>(slot)];
    const std::int32_t request = requester.debugState.load();
    console.out("\n\nMCP: changing debugging\n");
    for (int other = 0; other < data::kMaxServers; ++other) {
        if (other == slot || !controllers[static_cast<std::size_t>(other)]) continue;
        controllers[static_cast<std::size_t>(other)]->debugState = DBG_OFF;
        if (links[static_cast<std::size_t>(other)]) links[static_cast<std::size_t>(other)]->debug = 0;
    }
    insim::cl_InsimHandling* link = links[static_cast<std::size_t>(slot)].get();
    if (request == DBG_REQUEST_ON) {
        requester.debugState = DBG_ON;
        if (link) link->debug = 1;
        console.out("\nMCP: Server %d is debugging now\n", slot);
        console.out("\n\nDEBUG server %d listening:", slot);
        debugSlot = static_cast<std::uint8_t>(slot);
    } else {
        switchDebugOff(slot);
    }
}

void cl_MasterControl::switchDebugOff(int slot) {
    controllers[static_cast<std::size_t>(slot)]->debugState = DBG_OFF;
    if (insim::cl_InsimHandling* link = links[static_cast<std::size_t>(slot)].get()) link->debug = 0;
    console.out("\nMCP: switched off debuggging");
    console.out("\n\nTMX is running..., no server in debugmode\n");
    debugSlot = kNoDebugSlot;
}

void cl_MasterControl::SupervisionPass() {
    int active = 0, dead = 0, idle = 0, running = 0;
    ++statusCounter;

    for (int slot = 0; slot < data::kMaxServers; ++slot) {
        TMX_MAIN* controller = controllers[static_cast<std::size_t>(slot)].get();
        if (!controller) continue;
        ++active;
        const std::int32_t activity = controller->activity.load();
        bool gone = false;
        if (activity == ACT_STOPPED) {
            if (controller->runRequest.load() == RUN_ERROR) {
                clock.sleepMs(1000);
                if (retryCounter == 0)
                    console.out("\nMCP:  an error occured -> trying to reconnect server %d",
                                controller->slot);
                // One counter serves every server; a second failing server that
                // finds it already past the limit is given up at once instead of
                // never.
                if (++retryCounter >= kRetryGiveUp) {
                    console.out("\nMCP: coudlnt reconnect\n");
                    controller->runRequest = RUN_STOP;
                    gone = true;
                }
            } else {
                ++dead;
                gone = true;
            }
        } else {
            ++running;
        }
        if (activity == ACT_IDLE) ++idle;
        if (controller->debugState.load() > DBG_ON) applyDebugSwitch(slot);
        // A server that is dead or given up prints nothing any more; keeping
        // its debug slot would keep the spinner and the status line away for
        // the rest of the run. One still counted as reconnecting keeps it.
        if (gone && debugSlot.load() == slot) switchDebugOff(slot);
    }

    if (statusCounter == kStatusEvery) {
        if (debugSlot.load() == kNoDebugSlot) {
            // The status line redraws itself in place: a log has no use for it.
            console.screen("\r%71s", "");
            console.screen("\rMCP: TmxStatus: OK   (%s  ", clock.timeText().c_str());
            console.screen("%s)\t", clock.dateText().c_str());
        }
        statusCounter = 0;
    }

    // The counts compare with the controllers that exist, which is every
    // configured server unless a slot could not be created.
    if (running == active) retryCounter = 0;
    if (active == 0 || dead == active) {
        quitRequest = QUIT_ALL_DIED;
        console.out("\n\nMCP: All servers died. Terminating TMX\n");
    }
    if (active > 0 && idle == active && databaseChanged.load()) {
        console.out("\n\nMCP: All servers idle.");
        CleanDatabase();
        // The write clears the flag itself, under the lock; clearing it here
        // could wipe a save that landed since.
        WriteDatabase(data::kDatabaseFile);
    }

    clock.sleepMs(kPassSleepMs);
    if (debugSlot.load() == kNoDebugSlot) {
        console.screen("%s", kSpinner[spinnerFrame]);
        spinnerFrame = (spinnerFrame + 1) % 4;
    }
}

void cl_MasterControl::EndRun() {
    const std::uint8_t quit = quitRequest.load();
    if (quit == QUIT_KILLALL || quit == QUIT_SIGNAL) {
        if (quit == QUIT_SIGNAL)
            console.out("\n\nMCP: Asked to stop (Ctrl-C or a stop signal). Terminating all tmx!\n");
        else
            console.out("\n\nMCP: Got a KILLALL. Terminating all tmx!\n");
        for (auto& controller : controllers) {
            if (!controller) continue;
            // Only a running controller is asked; a value it sets at the same
            // moment (idle / active) must not swallow the request.
            std::int32_t current = controller->activity.load();
            while (current != ACT_STOPPED &&
                   !controller->activity.compare_exchange_weak(current, ACT_KILL)) {
            }
        }
        for (;;) {
            bool allStopped = true;
            for (auto& controller : controllers) {
                if (controller && controller->activity.load() != ACT_STOPPED) allStopped = false;
            }
            if (allStopped) break;
            clock.sleepMs(10);
        }
    }
    console.out("\n\n\n");
    CleanDatabase();
    console.out("\n\nMCP: Writing database ");
    WriteDatabase(data::kDatabaseFile);
    console.out("\n\n");
    // The pause leaves the last lines on screen for a moment; whoever sent a
    // stop signal wants the program gone (and Windows closing a console window
    // allows only a few seconds).
    if (quit != QUIT_SIGNAL) clock.sleepMs(kEndPauseMs);
}

cl_MasterControl::~cl_MasterControl() {
    if (database.count() > 0) {
        console.out("\nMCP: Deleting PlayerDatabase from memory....");
        database.clear();
    }
    console.out(" -> OK\n");
    console.out("\nMCP: Deleting tmx-structures & insimstructures");
    for (int slot = 0; slot < data::kMaxServers; ++slot) {
        // A controller's thread has returned before its object goes.
        threads_[static_cast<std::size_t>(slot)].join();
        controllers[static_cast<std::size_t>(slot)].reset();
        links[static_cast<std::size_t>(slot)].reset();
    }
    if (languages.count() > 0) {
        console.out("\n\nMCP: Deleting languagedata");
        languages.clear();
        console.out(" -> OK\n");
    }
    console.out("\n\n...all is cleared...");
    console.out("\nTMX is ready for termination. Thx for using. Bye!\n\n");
    if (readKey) {
        console.out("\n\npress key");
        readKey();
    }
}

}  // namespace tmx
