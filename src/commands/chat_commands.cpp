#include "commands/chat_commands.h"

#include "controller/tmx_main.h"

namespace tmx::commands {

int HandleChatMessage(TMX_MAIN& controller) {
    controller.link->TakePacket();
    return 0;
}

}  // namespace tmx::commands
