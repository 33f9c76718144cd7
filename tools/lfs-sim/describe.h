// Names of InSim packet types and sub-types, and one-line readable
// descriptions of received packets (for the lfs-sim program and test output).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tmx::sim {

// "IS_MST", "IS_TINY", ...; "ISP_<n>" for a number without a v4 packet.
std::string packetTypeName(std::uint8_t type);
// "TINY_NCN", ...; "TINY_<n>" for an unknown sub-type.
std::string tinyName(std::uint8_t subType);

// A packet kind named the way the scenario format names it: "IS_MST" (a type)
// or "TINY_NCN" (an IS_TINY with that sub-type). false for an unknown name.
struct PacketKind {
    std::uint8_t type = 0;
    int subType = -1;  // -1: any
};
bool packetKindFromName(std::string_view name, PacketKind& kind);

// One line: type name and the interesting fields, texts in double quotes with
// control bytes shown as '?'. The admin password of an IS_ISI is never shown.
//   IS_MST "/wanted Bob"
//   IS_BTN ucid=3 id=140 inst=0 style=32 L=0 T=20 W=80 H=6 "text"
//   IS_TINY TINY_NONE reqi=0
std::string describePacket(const std::uint8_t* data, std::size_t length);

// Text made safe for one console line: bytes below 32 and 127 become '?'.
std::string printable(std::string_view text);

}  // namespace tmx::sim
