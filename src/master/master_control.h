// The master control program: loads what the servers share, starts one
// controller thread per configured slot, supervises them through the control
// fields, writes the database when every server is idle, and ends the run.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/console.h"
#include "controller/tmx_main.h"
#include "data/general_config.h"
#include "data/languages.h"
#include "data/lfs_player.h"
#include "data/player_database.h"
#include "insim/insim_handling.h"
#include "master/control_fields.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace tmx {

constexpr int kRetryGiveUp = 20;      // supervision passes a failed server is given
constexpr int kStatusEvery = 60;      // passes between two status lines
constexpr int kPassSleepMs = 500;
constexpr int kStartPauseMs = 2000;   // between two server starts
constexpr int kEndPauseMs = 5000;

class cl_MasterControl {
public:
    cl_MasterControl(Console& console = standardConsole(),
                     platform::Clock& clock = platform::systemClock());
    // Frees everything and waits for a key press.
    virtual ~cl_MasterControl();
    cl_MasterControl(const cl_MasterControl&) = delete;
    cl_MasterControl& operator=(const cl_MasterControl&) = delete;

    // Start-up, supervision loop and end; returns 0. A stop request of the
    // operating system ends the loop as a kill-all does.
    int Run();

    // The three stages of Run, callable one by one.
    // StartUp returns -1 when the run must end at once (no language files).
    int StartUp();
    void SupervisionPass();
    void EndRun();

    // The kill-all request of an admin (from any controller thread).
    void RequestKillAll() { quitRequest = QUIT_KILLALL; }

    // tmx_server.cfg into the slot table; 0 or -1.
    int ReadGeneralConfig();

    // Database operations; each holds the database lock for its whole run.
    int ReadDatabase(const std::string& name);
    int WriteDatabase(const std::string& name);
    int CleanDatabase();
    int CopyFile(const std::string& source, const std::string& target);
    // The backup before a write: target ends up with source's content.
    int BackupFile(const std::string& source, const std::string& target);
    void MarkDatabaseChanged() { databaseChanged = 1; }
    // Finds the entry of the player's user name (first match, case-sensitive)
    // or appends a new one, and links the record to it: 2 found, 5 found but
    // already online, 3 created, -1 no record or no memory. With markOnline the
    // entry is marked online inside the same locked operation, so an idle clean
    // on another thread can never remove it in between.
    // Each hold is one connection: the record's holdsEntry tells that it has
    // one to give back with ReleaseEntry.
    int FindOrCreateEntry(data::cl_LfsPlayer* player, bool markOnline);
    // One more hold on the entry the record links to (a table entry copied
    // from a connection's entry).
    void HoldEntry(data::cl_LfsPlayer& player);
    // Gives the record's hold back and unlinks it from its entry and
    // combination: once no connection holds it, a cleaning may free the entry.
    void ReleaseEntry(data::cl_LfsPlayer& player);
    // The skill of a stored driver who is not connected, looked up, checked
    // and set in one locked step (no entry is created for an unknown name).
    enum class StoredSkill { Unknown, Online, NoLaps, Done };
    StoredSkill SetStoredSkill(std::string_view userName, std::int32_t skill);
    // Appends a zeroed combination record to the player's entry; null on error.
    data::CombinationRecord* CreateCombination(data::cl_LfsPlayer* player);

    // A path in the working directory.
    std::string path(const std::string& name) const;

    // Slots: links and controllers, null for a slot that was not started.
    std::array<std::unique_ptr<insim::cl_InsimHandling>, data::kMaxServers> links;
    std::array<std::unique_ptr<TMX_MAIN>, data::kMaxServers> controllers;
    int configuredServers = 0;
    std::atomic<std::uint8_t> quitRequest{QUIT_NONE};
    data::LanguageTable languages;
    data::PlayerDatabase database;
    std::atomic<std::uint8_t> debugSlot{kNoDebugSlot};
    data::ServerTable servers;

    // Database guard: a real lock; databaseBusy mirrors it for the messages.
    std::mutex databaseLock;
    std::atomic<std::uint8_t> databaseBusy{0};
    std::atomic<std::uint8_t> databaseChanged{0};
    std::atomic<std::uint8_t> databaseLoaded{0};

    // Folder the files are read from and written to ("" = working directory).
    std::string workDir;
    // Starts a slot's controller on its thread; tests replace it.
    std::function<bool(int slot)> startThread;
    // Reads the final key press; tests replace it. Empty: no key is waited for.
    std::function<int()> readKey;
    // Polled by the supervision: true once the operating system asked the
    // program to stop. Empty: never.
    std::function<bool()> stopRequested;
    // Given to every controller: seconds between two tries at a lost or
    // unreachable server; 0 gives such a server up.
    std::int32_t reconnectSeconds = 0;
    // Console and clock of this run (controllers and links get the same).
    Console& console;
    platform::Clock& clock;

    // Supervision state.
    int retryCounter = 0;
    int statusCounter = 0;
    int spinnerFrame = 0;

private:
    bool startControllerThread(int slot);
    // Turns a pending stop request into the quit request; true if there was one.
    bool takeStopRequest();
    void applyDebugSwitch(int slot);
    // Debug output of the slot off: its states 0, no server in debug mode.
    void switchDebugOff(int slot);

    std::array<platform::Thread, data::kMaxServers> threads_;
};

// Holds the database lock for one operation. When another operation holds it,
// busyMessage (may be null) is printed once before waiting.
class DatabaseLock {
public:
    DatabaseLock(cl_MasterControl& master, const char* busyMessage);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    cl_MasterControl& master_;
};

}  // namespace tmx
