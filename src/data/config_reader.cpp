#include "data/config_reader.h"

#include <cstring>
#include <limits>

namespace tmx::data {

int ConfigLineReader::nextByte() {
    if (chunkPos_ >= chunkLen_) {
        if (eof_) return -1;
        // One byte beyond the cap is asked for, to tell a file of exactly the
        // cap from a longer one.
        const std::size_t want = left_ < chunk_.size() ? static_cast<std::size_t>(left_) + 1 : chunk_.size();
        int n = file_.read(chunk_.data(), static_cast<int>(want));
        if (n <= 0) {
            eof_ = true;
            return -1;
        }
        if (static_cast<std::uint64_t>(n) > left_) {
            exceeded_ = true;
            eof_ = true;
            n = static_cast<int>(left_);
            if (n == 0) return -1;
        }
        left_ -= static_cast<std::uint64_t>(n);
        chunkLen_ = n;
        chunkPos_ = 0;
    }
    return chunk_[static_cast<std::size_t>(chunkPos_++)];
}

bool ConfigLineReader::next(ConfigLine& line) {
    std::array<char, kConfigLineMax + 1> buf{};
    std::size_t len = 0;
    bool any = false;
    bool started = false;  // the line's first byte other than a dropped LF was seen
    lineStart_ = editorLines_.line();
    for (;;) {
        int c = nextByte();
        if (c < 0) break;
        if (!started && c != '\n') {
            lineStart_ = editorLines_.line();
            started = true;
        }
        editorLines_.feed(c);
        any = true;
        if (c == '\r' || c == '\0') break;
        if (c == '\n') continue;
        if (len < kConfigLineMax) buf[len++] = static_cast<char>(c == '\t' ? ' ' : c);
    }
    if (!any) return false;
    buf[len] = '\0';
    if (const char* comment = std::strstr(buf.data(), "//")) {
        buf[static_cast<std::size_t>(comment - buf.data())] = '\0';
    }
    line.assign(buf.data());
    return true;
}

namespace {
bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';'; }
}  // namespace

int splitConfigLine(const char* line, FixedString<256>* tokens, std::size_t maxTokens,
                    std::size_t maxLength) {
    if (!line || !tokens || maxTokens == 0) return -1;
    if (maxLength > 255) maxLength = 255;
    for (std::size_t i = 0; i < maxTokens; ++i) tokens[i].clear();

    std::array<char, 256> cur{};
    std::size_t len = 0;
    std::size_t index = 0;
    int count = 0;
    bool quoted = false;
    bool justEnded = false;  // the last character ended a token: further separators belong to its run

    auto endToken = [&]() {
        cur[len] = '\0';
        tokens[index].assign(cur.data());
        ++count;
        ++index;
        len = 0;
        quoted = false;
    };

    for (const char* p = line; *p; ++p) {
        char c = *p;
        if (c == '"') {
            quoted = !quoted;
            justEnded = false;
            continue;
        }
        if (!quoted && isSeparator(c)) {
            if (justEnded) continue;
            endToken();
            justEnded = true;
            if (index >= maxTokens) return count;
            continue;
        }
        justEnded = false;
        cur[len++] = c;
        if (len >= maxLength) {
            // The token keeps its text cut here, but it is not counted.
            cur[len] = '\0';
            tokens[index].assign(cur.data());
            return count;
        }
    }
    if (index < maxTokens) endToken();
    return count;
}

std::int32_t decimalValue(const char* text) {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') ++text;
    bool negative = false;
    if (*text == '-' || *text == '+') {
        negative = *text == '-';
        ++text;
    }
    std::int64_t value = 0;
    constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    while (*text >= '0' && *text <= '9') {
        if (value < kLimit) value = value * 10 + (*text - '0');
        ++text;
    }
    if (value > kLimit) value = kLimit;
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

}  // namespace tmx::data
