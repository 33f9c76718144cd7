// Reading the two configuration file formats: the byte-by-byte line reader and
// the configuration line splitter with its quoting and token rules.
#pragma once

#include <array>
#include <cstdint>

#include "common/fixed_string.h"
#include "platform/files.h"

namespace tmx::data {

constexpr std::size_t kConfigLineMax = 255;  // characters a line keeps
// The most a configuration file may hold. Real ones are a few KiB; the cap
// keeps a runaway file (or one that grows while being read) from tying up the
// reading thread.
constexpr std::uint64_t kConfigFileMax = 512 * 1024;

using ConfigLine = FixedString<kConfigLineMax + 1>;

// Counts lines the way a text editor shows them (CR LF, a lone LF or a lone CR
// ends one) beside a reader that ends lines at CR only, so a finding can name
// the line the admin sees, and remembers where the first LF without a CR
// stands: the readers drop such an LF and join the lines around it.
class EditorLines {
public:
    void feed(int byte) {
        if (byte == '\n') {
            if (!afterCr_) {
                if (firstLoneLf_ == 0) firstLoneLf_ = line_;
                ++line_;
            }
        } else if (byte == '\r') {
            ++line_;
        }
        afterCr_ = byte == '\r';
    }
    // The editor line the next byte stands on (from 1).
    int line() const { return line_; }
    // The editor line ended by the first LF without a CR before it; 0 = none.
    int firstLoneLf() const { return firstLoneLf_; }

private:
    int line_ = 1;
    int firstLoneLf_ = 0;
    bool afterCr_ = false;
};

// Reads one line at a time from an open file: CR ends a line, LF is dropped
// wherever it stands, NUL ends a line, the end of the file ends the line read
// so far. Tabs become spaces and the first "//" cuts the line. Characters
// beyond 255 are dropped (the line is cut, never overrun). No more than
// maxBytes are read: a longer file ends there, and exceeded() tells so.
class ConfigLineReader {
public:
    explicit ConfigLineReader(platform::File& file, std::uint64_t maxBytes = kConfigFileMax)
        : file_(file), left_(maxBytes) {}
    // False when the file is exhausted and nothing was read for this line.
    bool next(ConfigLine& line);
    // True when the file held more than maxBytes (the rest was not read).
    bool exceeded() const { return exceeded_; }
    // The editor line on which the line last returned by next() began.
    int editorLine() const { return lineStart_; }

private:
    int nextByte();
    platform::File& file_;
    std::array<std::uint8_t, 4096> chunk_{};
    int chunkLen_ = 0;
    int chunkPos_ = 0;
    std::uint64_t left_;  // bytes that may still be read
    bool eof_ = false;
    bool exceeded_ = false;
    EditorLines editorLines_;
    int lineStart_ = 1;
};

// Tokens of one configuration line. Buffers hold 256 characters; a token
// "reaches its maximum" at maxLength characters.
template <std::size_t MaxTokens>
struct ConfigTokens {
    int count = 0;
    std::array<FixedString<256>, MaxTokens> token;
};

// Splits a line into at most maxTokens tokens of fewer than maxLength
// characters. A token that reaches maxLength ends the splitting: its buffer
// holds the text cut there, but it is not counted. Returns the token count,
// -1 when an argument is missing.
int splitConfigLine(const char* line, FixedString<256>* tokens, std::size_t maxTokens,
                    std::size_t maxLength);

template <std::size_t MaxTokens>
int splitConfigLine(const char* line, ConfigTokens<MaxTokens>& out, std::size_t maxLength) {
    out.count = splitConfigLine(line, out.token.data(), MaxTokens, maxLength);
    return out.count;
}

// Decimal value of a text: leading blanks skipped, an optional sign, then
// digits up to the first other character; no digits gives 0. Values beyond the
// 32-bit range saturate.
std::int32_t decimalValue(const char* text);

}  // namespace tmx::data
