// Console output shared by the master, the controllers and the links.
//
// Every write is one locked, flushed unit, so lines from several controller
// threads never interleave inside a line, and texts without a line feed (the
// spinner, the status line) reach a terminal, a pipe or a log file at once.
// The format must always be a literal: names and chat typed by players are
// passed as "%s" arguments, never as the format.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>

#if defined(__GNUC__) || defined(__clang__)
#define TMX_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#else
#define TMX_PRINTF(fmtIndex, argIndex)
#endif

namespace tmx {

class Console {
public:
    // Out and Err reach the screen and the log; Screen only the screen (the
    // spinner, the status line that redraws itself); Log only the log (what
    // the console never showed: joins, leaves, who typed an admin command).
    enum class Stream { Out, Err, Screen, Log };

    virtual ~Console() = default;

    // printf-style text to standard output.
    void out(const char* fmt, ...) TMX_PRINTF(2, 3);
    // printf-style text to the error stream.
    void err(const char* fmt, ...) TMX_PRINTF(2, 3);
    // printf-style text to standard output, from a caller's own arguments.
    void outv(const char* fmt, std::va_list args) TMX_PRINTF(2, 0) { vwrite(Stream::Out, fmt, args); }
    // Text written as it is (no format interpretation).
    void text(std::string_view s) { write(Stream::Out, s); }
    // printf-style text for the screen only, never for a log.
    void screen(const char* fmt, ...) TMX_PRINTF(2, 3);
    // printf-style text for the log only; the screen never shows it.
    void note(const char* fmt, ...) TMX_PRINTF(2, 3);

protected:
    friend class LogConsole;
    virtual void write(Stream stream, std::string_view text) = 0;

private:
    void vwrite(Stream stream, const char* fmt, std::va_list args) TMX_PRINTF(3, 0);
};

// Writes to the process's stdout/stderr and flushes after every write.
class StandardConsole final : public Console {
protected:
    void write(Stream stream, std::string_view text) override;

private:
    std::mutex mutex_;
};

// Keeps everything written, for tests and tools.
class CaptureConsole final : public Console {
public:
    std::string output() const;  // what the screen shows, in order
    std::string errors() const;  // error stream only
    std::string notes() const;   // what only a log would get
    void clear();

protected:
    void write(Stream stream, std::string_view text) override;

private:
    mutable std::mutex mutex_;
    std::string all_;
    std::string errors_;
    std::string notes_;
};

// Discards everything (quiet tools and benchmarks).
class NullConsole final : public Console {
protected:
    void write(Stream, std::string_view) override {}
};

// The process-wide standard console.
Console& standardConsole();

}  // namespace tmx
