// Chat commands: lines beginning with "#", "." or "!" typed in the LFS chat.
#pragma once

namespace tmx {
class TMX_MAIN;
}

namespace tmx::commands {

// Handles the IS_MSO waiting on the controller's link (takes it); always 0.
int HandleChatMessage(TMX_MAIN& controller);

}  // namespace tmx::commands
