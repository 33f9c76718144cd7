// What every chat command handler works with: the controller, the sender's
// table entry and the words of the line, plus the reply, help and admin-check
// helpers that all commands share.
#pragma once

#include <initializer_list>
#include <string>

#include "commands/chat_parser.h"
#include "data/lfs_player.h"

namespace tmx {
class TMX_MAIN;
}

namespace tmx::commands {

inline constexpr const char* kAdminRightsNeeded = "^7ERROR, not possible. Adminrights needed!!";
inline constexpr const char* kNotAvailableYet = "^7Sorry, this command is not available yet.";

class CommandContext {
public:
    CommandContext(TMX_MAIN& controller, int senderIndex, const ChatTokens& words)
        : c(controller), sender(senderIndex), tokens(words) {}

    TMX_MAIN& c;
    const int sender;  // table index of the connection that typed the line
    const ChatTokens& tokens;

    data::cl_LfsPlayer& player() const;
    bool isAdmin() const { return player().admin != 0; }

    // An argument is present when its token exists and is not empty.
    bool hasArg(int i) const;
    // The argument's text, "" when it is absent.
    const char* arg(int i) const;
    bool argIs(int i, const char* text) const;

    // True when the first argument asks for help ("?" or "help").
    bool helpAsked() const;
    // When help was asked: a further blank line, then the lines; returns
    // whether it was asked (the caller then stops).
    bool help(std::initializer_list<const char*> lines) const;
    // When the sender has no admin rights: the refusal, and false.
    bool admin(const char* refusal = kAdminRightsNeeded) const;

    // A private message to the sender.
    void reply(const char* text) const;
    void reply(const std::string& text) const { reply(text.c_str()); }
    // A message to everybody (IS_MST).
    void toAll(const char* text) const;
    // An announcement to everybody (IS_MSX).
    void announce(const char* text) const;
};

}  // namespace tmx::commands
