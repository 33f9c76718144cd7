#include "master/command_line.h"

#include <string_view>

namespace tmx {

namespace {

// A whole decimal number in [min, max]; false for anything else.
bool readNumber(std::string_view text, int min, int max, int& value) {
    if (text.empty() || text.size() > 9) return false;
    int result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + (c - '0');
    }
    if (result < min || result > max) return false;
    value = result;
    return true;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc && line.error.empty(); ++i) {
        const std::string_view option = argv[i] ? argv[i] : "";
        // The options that take a value read it from the next word.
        auto value = [&](std::string& into) {
            if (i + 1 >= argc || !argv[i + 1] || argv[i + 1][0] == '\0') {
                line.error = std::string(option) + " needs a value";
                return;
            }
            into = argv[++i];
        };
        if (option == "--help" || option == "-h" || option == "/?") {
            line.help = true;
        } else if (option == "--version") {
            line.version = true;
        } else if (option == "--check") {
            line.check = true;
        } else if (option == "--no-key") {
            line.noKey = true;
        } else if (option == "--reconnect") {
            line.reconnect = true;
        } else if (option == "--reconnect-every") {
            std::string seconds;
            value(seconds);
            if (line.error.empty() &&
                !readNumber(seconds, 1, kReconnectSecondsMax, line.reconnectSeconds)) {
                line.error = "--reconnect-every takes whole seconds from 1 to " +
                             std::to_string(kReconnectSecondsMax) + ", not \"" + seconds + "\"";
            }
            line.reconnect = line.error.empty();
        } else if (option == "--dir") {
            value(line.dir);
        } else if (option == "--log") {
            value(line.logFile);
        } else {
            line.error = "unknown option \"" + std::string(option) + "\"";
        }
    }
    return line;
}

std::string commandLineHelp() {
    return "Usage: tmx [options]\n"
           "\n"
           "Without options tmx reads its files from the current directory, controls the\n"
           "servers listed in tmx_server.cfg, and waits for a key once it has ended.\n"
           "\n"
           "  --help                 this text\n"
           "  --version              the version, then end\n"
           "  --check                read every file tmx would read, connect to nothing,\n"
           "                         explain each problem; exit status 0 when all is well\n"
           "  --dir DIR              read and write the files in DIR\n"
           "  --no-key               end without waiting for a key (for services)\n"
           "  --log FILE             also write a log: one line per event with date, time\n"
           "                         and slot (appended; a relative FILE is taken from\n"
           "                         where tmx was started, not from --dir)\n"
           "  --reconnect            try a lost or unreachable server again every 30 s\n"
           "                         instead of giving it up\n"
           "  --reconnect-every S    the same, every S seconds (1 to 3600)\n"
           "\n"
           "Ctrl-C or SIGTERM stops tmx cleanly, as the chat command #KILLALL does: every\n"
           "server is told, the links are closed and the database is written. A second\n"
           "one ends tmx at once.\n";
}

}  // namespace tmx
