// Runs the real tmx program (or another built tool) through the shell, in the
// foreground or in the background, for the end-to-end tests of its command
// line. Output goes to a file that the test reads.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace tmx::testing {

// A path or argument quoted for the shell.
inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The built program of this build folder ("tmx", "lfs-sim").
inline std::string builtProgram(const std::string& name) { return std::string(TMX_BINARY_DIR) + "/" + name; }

struct ProgramResult {
    int exitCode = -1;  // -1: did not end normally (signal, or killed by the time-out)
    std::string output;  // standard output and error, interleaved
};

// Runs program with args (already quoted) in workDir and waits for its end;
// a program still running after timeoutSeconds is killed.
inline ProgramResult runProgram(const std::string& program, const std::string& args, const std::string& workDir,
                                const std::string& outputFile, int timeoutSeconds = 60) {
    const std::string command = "cd " + shellQuote(workDir) + " && timeout -s KILL " +
                                std::to_string(timeoutSeconds) + " " + shellQuote(program) + " " + args +
                                " < /dev/null > " + shellQuote(outputFile) + " 2>&1";
    const int status = std::system(command.c_str());
    ProgramResult result;
    // The shell's wait status: the exit code sits in the second byte when
    // the low seven bits (the signal) are zero.
    if (status != -1 && (status & 0x7f) == 0) result.exitCode = (status >> 8) & 0xff;
    if (result.exitCode == 137) result.exitCode = -1;  // killed by the time-out
    result.output = readWholeFile(outputFile);
    return result;
}

// A program started in the background; the test signals it and waits.
class BackgroundProgram {
public:
    BackgroundProgram(const std::string& program, const std::string& args, const std::string& workDir,
                      const std::string& filesPrefix, int timeoutSeconds = 90)
        : pidFile_(filesPrefix + ".pid"), rcFile_(filesPrefix + ".rc"), outFile_(filesPrefix + ".out") {
        std::filesystem::remove(pidFile_);
        std::filesystem::remove(rcFile_);
        // --foreground: timeout passes a signal on to the program alone, not
        // a second time to the whole process group.
        const std::string inner = "cd " + shellQuote(workDir) + " && { timeout --foreground -s KILL " +
                                  std::to_string(timeoutSeconds) + " " + shellQuote(program) + " " + args +
                                  " < /dev/null > " + shellQuote(outFile_) + " 2>&1 & echo $! > " +
                                  shellQuote(pidFile_) + "; wait $!; echo $? > " + shellQuote(rcFile_) + "; }";
        const std::string command = "sh -c " + shellQuote(inner) + " &";
        started_ = std::system(command.c_str()) == 0;
    }
    ~BackgroundProgram() {
        if (started_ && !ended()) signal("KILL");
    }
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    bool started() const { return started_; }
    // Sends a signal by name ("TERM", "INT", "KILL") to the program itself.
    // The program's pid is that of "timeout", which passes the signal on.
    bool signal(const std::string& name) {
        if (!waitFor([&] { return !readWholeFile(pidFile_).empty(); }, 10000)) return false;
        const std::string command = "kill -" + name + " " + readWholeFile(pidFile_).substr(0, 12) + " 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }
    bool ended() const { return !readWholeFile(rcFile_).empty(); }
    // The exit code once ended within timeoutMs; -1 otherwise.
    int wait(int timeoutMs) {
        if (!waitFor([&] { return ended(); }, timeoutMs)) return -1;
        return std::atoi(readWholeFile(rcFile_).c_str());
    }
    std::string output() const { return readWholeFile(outFile_); }
    // Polls until output() contains text; false after timeoutMs.
    bool waitForOutput(const std::string& text, int timeoutMs) {
        return waitFor([&] { return output().find(text) != std::string::npos; }, timeoutMs);
    }

private:
    template <typename Condition>
    static bool waitFor(Condition condition, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    std::string pidFile_, rcFile_, outFile_;
    bool started_ = false;
};

}  // namespace tmx::testing
