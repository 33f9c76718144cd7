// The program's command line. With no option the program runs as it always
// did: it reads its files from the current directory, writes no log, gives a
// lost server up, and waits for a key at the end.
#pragma once

#include <string>

namespace tmx {

constexpr int kReconnectSecondsDefault = 30;
constexpr int kReconnectSecondsMax = 3600;

struct CommandLine {
    bool help = false;
    bool version = false;
    bool check = false;      // --check: read and explain every file, connect to nothing
    bool noKey = false;      // --no-key: end without waiting for a key (services)
    bool reconnect = false;  // --reconnect: keep trying a lost or unreachable server
    int reconnectSeconds = kReconnectSecondsDefault;  // --reconnect-every SECONDS
    std::string dir;         // --dir DIR: the working directory ("" = the current one)
    std::string logFile;     // --log FILE ("" = no log)
    std::string error;       // not empty: the command line is wrong, and why
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// What --help prints.
std::string commandLineHelp();

}  // namespace tmx
