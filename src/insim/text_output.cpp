// The chat senders of the InSim link: messages and host commands to everybody,
// long messages, and private messages to one connection.
#include <string_view>

#include "insim/insim_handling.h"

namespace tmx::insim {

namespace {

// Characters that fit into each text field with its terminator.
constexpr std::size_t kMessageChars = 63;      // IS_MST, IS_MTC
constexpr std::size_t kLongMessageChars = 95;  // IS_MSX

}  // namespace

int cl_InsimHandling::SendMessage(const char* text) {
    if (!text) return -1;
    IS_MST packet;
    packet.Msg.assign(std::string_view(text), kMessageChars);
    if (packet.Msg.empty()) return -1;
    const RawPacket bytes = encode(packet);
    return SendRaw(bytes.data(), static_cast<int>(bytes.size));
}

int cl_InsimHandling::SendLongMessage(const char* text) {
    if (!text) return -1;
    IS_MSX packet;
    packet.Msg.assign(std::string_view(text), kLongMessageChars);
    if (packet.Msg.empty()) return -1;
    const RawPacket bytes = encode(packet);
    return SendRaw(bytes.data(), static_cast<int>(bytes.size));
}

int cl_InsimHandling::SendPrivate(const char* text, std::uint8_t ucid, std::uint8_t plid) {
    // Outside a multiplayer game (single player, replay) there is nobody to
    // address privately: the text goes to everybody.
    if (multiplayer_ == 0) return SendMessage(text);
    if (!text) return -1;
    IS_MTC packet;
    packet.UCID = ucid;
    packet.PLID = plid;
    packet.Msg.assign(std::string_view(text), kMessageChars);
    if (packet.Msg.empty()) return -1;
    const RawPacket bytes = encode(packet);
    return SendRaw(bytes.data(), static_cast<int>(bytes.size));
}

}  // namespace tmx::insim
