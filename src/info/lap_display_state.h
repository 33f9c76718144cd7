// What the lap display keeps per driver beside the lap blocks of his record,
// and the short names the pit board shows.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tmx {

struct DriverLapTimes {
    // Split time (from the start of the lap) of the last split passed; the
    // next sector ends there. 0 at the start of a lap.
    std::int32_t lastSplitTime = 0;
    // Total elapsed time at the last split: the pit board compares cars by it.
    std::uint32_t splitElapsed = 0;
};

namespace lapdisplay {

inline bool isAlnum(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) != 0; }

// Drops every "^" together with the character after it, in place.
inline void StripColourCodes(char* text) {
    if (!text) return;
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in == '^') {
            if (in[1] == '\0') break;
            ++in;
            continue;
        }
        *out++ = *in;
    }
    *out = '\0';
}

// The pit board's name for a driver, in place: the colour code of the last
// colour segment and three letters or digits of it; a name too short for
// that gives three of its letters and digits, the 4th to 6th when it has
// more than five (the first ones are often a team tag).
inline void ShortName(char* name, std::size_t capacity) {
    if (!name || capacity == 0) return;
    char result[8] = {};
    std::size_t n = 0;
    const char* segment = std::strrchr(name, '^');
    if (!segment) segment = name;
    const char* rest = segment;
    if (segment[0] == '^' && segment[1] >= '0' && segment[1] <= '9') {
        result[n++] = segment[0];
        result[n++] = segment[1];
        rest = segment + 2;
    }
    const std::size_t limit = n + 3;
    for (const char* p = rest; *p != '\0' && n < limit; ++p)
        if (isAlnum(*p)) result[n++] = *p;
    result[n] = '\0';

    // Counted as if a colour code were always there: a name without one is
    // always shortened from all its letters and digits.
    if (n < 5) {
        StripColourCodes(name);
        char letters[32] = {};
        std::size_t count = 0;
        for (const char* p = name; *p != '\0' && count + 1 < sizeof letters; ++p)
            if (isAlnum(*p)) letters[count++] = *p;
        const std::size_t from = count > 5 ? 3 : 0;
        n = 0;
        for (std::size_t i = from; i < count && n < 3; ++i) result[n++] = letters[i];
        result[n] = '\0';
    }
    std::strncpy(name, result, capacity - 1);
    name[capacity - 1] = '\0';
}

}  // namespace lapdisplay
}  // namespace tmx
