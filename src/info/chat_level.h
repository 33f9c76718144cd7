// A text may carry the chat level it needs: "#" and a digit at its start.
// Drivers who chose a lower level (#chatlevel) do not see it.
#pragma once

#include "data/lfs_player.h"

namespace tmx {

// The chat level a driver reads at: a larger stored value counts as full.
inline int effectiveChatLevel(const data::cl_LfsPlayer& e) { return e.chatLevel > 2 ? 2 : e.chatLevel; }

// nullptr when the driver's chat level is below the text's, else the text
// without its two level characters.
inline const char* textAtChatLevel(const data::cl_LfsPlayer& e, const char* text) {
    if (text[0] == '#' && text[1] >= '0' && text[1] <= '9') {
        int level = text[1] - '0';
        if (level > 2) level = 2;
        if (effectiveChatLevel(e) < level) return nullptr;
        return text + 2;
    }
    return text;
}

}  // namespace tmx
