// Chat commands: lines beginning with "#", "." or "!" typed in the LFS chat.
#pragma once

#include <vector>

#include "insim/packets.h"

namespace tmx {
class TMX_MAIN;
}

namespace tmx::commands {

// The command words the program knows, with the "." prefix ("#top" is ".top").
std::vector<const char*> chatCommandWords();

// Handles a chat line the server reported; always 0.
int HandleChatMessage(TMX_MAIN& controller, const insim::IS_MSO& mso);

}  // namespace tmx::commands
