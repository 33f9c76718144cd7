// One InSim button as a caller asks for it and as the link keeps it listed.
//
// A button is identified by its connection (UCID) and click id; the group id
// lets a caller remove a whole set of buttons of one connection at once. The
// callers choose ids, groups, places and texts; the link's button manager
// (cl_InsimHandling::Show and friends, buttons.cpp) does the bookkeeping and
// sends every IS_BTN and IS_BFN.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/fixed_string.h"

namespace tmx::insim {

// Longest text a button keeps; a longer text is cut.
constexpr std::size_t kButtonTextMax = 238;
using ButtonText = FixedString<kButtonTextMax + 1>;

// Request and record share one layout: the caller fills a request, the
// manager stores a copy with the handle, lifetime and time written set.
struct ButtonRequest {
    std::int32_t handle = 0;          // set by the manager (>= 1)
    std::uint8_t ucid = 0;
    std::uint8_t clickId = 0;
    std::uint8_t groupId = 0;
    std::uint8_t alwaysVisible = 0;   // non-zero: drawn with INST_ALWAYS_ON
    std::uint8_t style = 0;           // BStyle bits
    std::uint8_t left = 0, top = 0, width = 0, height = 0;
    std::int64_t lifetime = 0;        // request: milliseconds, 0 = no expiry; record: whole seconds
    std::int64_t timeWritten = 0;     // record: seconds since 1970 of the last draw or update
    ButtonText text;
};

using ButtonRecord = ButtonRequest;

}  // namespace tmx::insim
