#include "common/log_console.h"

#include <chrono>

namespace tmx {

namespace {
thread_local int tlsLogSlot = kLogMaster;
}

void setLogSlot(int slot) { tlsLogSlot = slot; }
int logSlot() { return tlsLogSlot; }

LogConsole::LogConsole(Console& screen, std::function<std::string()> stamp)
    : screen_(screen), stamp_(std::move(stamp)) {}

LogConsole::~LogConsole() {
    flush();
    if (file_) std::fclose(file_);
}

bool LogConsole::open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

void LogConsole::flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [thread, line] : pending_) finishLine(line);
    pending_.clear();
}

void LogConsole::finishLine(Pending& line) {
    // Blanks around a message are the screen's layout, not the log's.
    const std::size_t first = line.text.find_first_not_of(' ');
    if (first != std::string::npos && file_) {
        const std::size_t last = line.text.find_last_not_of(' ');
        const std::string_view body(line.text.data() + first, last - first + 1);
        const std::string who = line.slot == kLogMaster ? "[master]" : "[slot " + std::to_string(line.slot) + "]";
        std::fprintf(file_, "%s %s %.*s\n", line.stamp.c_str(), who.c_str(), static_cast<int>(body.size()),
                     body.data());
        std::fflush(file_);
    }
    line.text.clear();
}

void LogConsole::writeOld() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (now - it->second.since >= std::chrono::milliseconds(kPendingMs)) {
            finishLine(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

void LogConsole::write(Stream stream, std::string_view text) {
    if (stream != Stream::Log) screen_.write(stream, text);
    if (stream == Stream::Screen) return;

    std::lock_guard<std::mutex> lock(mutex_);
    writeOld();
    Pending& line = pending_[std::this_thread::get_id()];
    // A note is a whole line of its own, never the end of a message.
    if (stream == Stream::Log) finishLine(line);
    for (const char c : text) {
        // A note is one line, whatever its (player-typed) text holds.
        if ((c == '\n' || c == '\r') && stream != Stream::Log) {
            finishLine(line);
            continue;
        }
        if (line.text.empty()) {
            line.stamp = stamp_ ? stamp_() : std::string();
            line.slot = logSlot();
            line.since = std::chrono::steady_clock::now();
        }
        if (c == '\t') {
            line.text += ' ';
        } else if (static_cast<unsigned char>(c) >= 0x20) {
            line.text += c;
        }
    }
    if (stream == Stream::Log) finishLine(line);
    if (line.text.empty()) pending_.erase(std::this_thread::get_id());
}

}  // namespace tmx
