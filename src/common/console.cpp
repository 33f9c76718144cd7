#include "common/console.h"

#include <cstdio>
#include <vector>

namespace tmx {

void Console::out(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    vwrite(Stream::Out, fmt, args);
    va_end(args);
}

void Console::err(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    vwrite(Stream::Err, fmt, args);
    va_end(args);
}

void Console::screen(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    vwrite(Stream::Screen, fmt, args);
    va_end(args);
}

void Console::note(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    vwrite(Stream::Log, fmt, args);
    va_end(args);
}

void Console::vwrite(Stream stream, const char* fmt, std::va_list args) {
    char small[512];
    std::va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        write(stream, std::string_view(small, static_cast<std::size_t>(n)));
        return;
    }
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, args);
    write(stream, std::string_view(big.data(), static_cast<std::size_t>(n)));
}

void StandardConsole::write(Stream stream, std::string_view text) {
    if (stream == Stream::Log) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* f = stream == Stream::Err ? stderr : stdout;
    if (stream == Stream::Err) std::fflush(stdout);  // keep the two streams in order
    std::fwrite(text.data(), 1, text.size(), f);
    std::fflush(f);
}

std::string CaptureConsole::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return all_;
}

std::string CaptureConsole::notes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notes_;
}

std::string CaptureConsole::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

void CaptureConsole::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    all_.clear();
    errors_.clear();
    notes_.clear();
}

void CaptureConsole::write(Stream stream, std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream == Stream::Log) {
        notes_.append(text);
        return;
    }
    all_.append(text);
    if (stream == Stream::Err) errors_.append(text);
}

Console& standardConsole() {
    static StandardConsole console;
    return console;
}

}  // namespace tmx
