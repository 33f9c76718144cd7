// The console with a log file beside it: everything still goes to the screen
// as before, and the log gets one line per message, stamped with the date,
// the time and the slot of the thread that wrote it.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/console.h"

namespace tmx {

// The slot whose messages this thread writes (a controller's thread sets
// its own); kLogMaster for the master and every other thread.
constexpr int kLogMaster = -1;
void setLogSlot(int slot);
int logSlot();

class LogConsole final : public Console {
public:
    // stamp gives the date and time put in front of every line.
    LogConsole(Console& screen, std::function<std::string()> stamp);
    ~LogConsole() override;  // writes what is still pending
    LogConsole(const LogConsole&) = delete;
    LogConsole& operator=(const LogConsole&) = delete;

    // Opens (appends to) the log file; false when it cannot be opened.
    bool open(const std::string& path);
    // Writes every pending line, however young.
    void flush();

    // A message is written as one line once the next line starts (messages
    // begin with their line feed); one that waited longer than this is
    // written at the next message from any thread.
    static constexpr int kPendingMs = 1000;

protected:
    void write(Stream stream, std::string_view text) override;

private:
    struct Pending {
        std::string text;
        std::string stamp;
        int slot = kLogMaster;
        std::chrono::steady_clock::time_point since;
    };
    void finishLine(Pending& line);
    void writeOld();

    Console& screen_;
    std::function<std::string()> stamp_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::map<std::thread::id, Pending> pending_;
};

}  // namespace tmx
