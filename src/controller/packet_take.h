// Taking the ready packet off the link into a handler's own record.
#pragma once

#include "insim/insim_handling.h"
#include "insim/packets.h"

namespace tmx {

// Takes the packet (always) and decodes it; false when it is too short for its
// layout or of another type: such a packet is not acted on.
template <typename P>
bool takeInto(insim::cl_InsimHandling& link, P& packet) {
    insim::RawPacket raw;
    link.TakePacket(raw);
    return insim::decode(raw.data(), raw.size, packet);
}

}  // namespace tmx
