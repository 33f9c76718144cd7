// Lap, sector and gap times as drivers read them: minutes, seconds with two
// digits and milliseconds with three, separated by colons ("1:23:456").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/fixed_string.h"

namespace tmx {

// Room for the longest 64-bit value with sign and separators.
using TimeText = FixedString<32>;

// The absolute value of ms; 83456 gives "1:23:456".
inline TimeText FormatTime(std::int64_t ms) {
    // Computed as unsigned so that even the most negative value has a size.
    const std::uint64_t v = ms < 0 ? 0 - static_cast<std::uint64_t>(ms) : static_cast<std::uint64_t>(ms);
    char text[40];
    std::snprintf(text, sizeof text, "%llu:%02u:%03u", static_cast<unsigned long long>(v / 60000),
                  static_cast<unsigned>(v / 1000 % 60), static_cast<unsigned>(v % 1000));
    return TimeText(text);
}

// The same with its sign: "+" for 0 and above, "-" below.
inline TimeText FormatSignedTime(std::int64_t ms) {
    std::string joined(ms < 0 ? "-" : "+");
    joined += FormatTime(ms).c_str();
    return TimeText(joined.c_str());
}

}  // namespace tmx
