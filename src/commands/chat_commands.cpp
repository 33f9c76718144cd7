// Recognising chat commands: a line typed in LFS whose text starts with ".",
// "#" or "!" is split into words, answered with a blank line that sets it off
// from earlier chat, and handed to the handler of its command word.
#include "commands/chat_commands.h"

#include <array>
#include <string>
#include <string_view>

#include "commands/chat_parser.h"
#include "commands/command_handlers.h"
#include "controller/tmx_main.h"

namespace tmx::commands {

namespace {

constexpr std::size_t kMsgChars = 128;  // the text field of IS_MSO

struct Command {
    const char* word;  // compared after the prefix was replaced by "."
    void (*run)(const CommandContext&);
    bool adminOnly = false;  // the log tells who typed it (each handler refuses others itself)
};

// Compared exactly and case-sensitively, in this order.
constexpr std::array<Command, 31> kCommands{{
    {".setdebug", SetDebug, true},
    {".loadconfig", LoadConfig, true},
    {".setstart", SetStart, true},
    {".nextstart", NextStart, true},
    {".setspeed", SetSpeed, true},
    {".watch", Watch, true},
    {".nowatch", NoWatch, true},
    {".setskill", SetSkill, true},
    {".QUIT", Quit, true},
    {".KILLALL", KillAll, true},
    {".trackclosed", TrackClosed, true},
    {".trackopen", TrackOpen, true},
    {".pitclosed", PitClosed, true},
    {".pitopen", PitOpen, true},
    {".top", Top},
    {".near", Near},
    {".info", Info},
    {".tcolor", TeamColour},
    {".chatlevel", ChatLevel},
    {".emon", EventMonitor},
    {".language", Language},
    {".lang", Language},
    {".tmsg", TeamPosition},
    {".skill", Skill},
    {".track", Track},
    {".tr", Track},
    {".cars", Cars},
    {".buy", Buy},
    {".map", Map},
    {".help", Help},
    {".?", Help},
}};

bool isPrefix(char ch) { return ch == '.' || ch == '#' || ch == '!'; }

// AI cars share their owner's connection id; a line typed on that connection
// belongs to the owner's own (human) entry, which comes after the AI's.
int humanEntry(const TMX_MAIN& c, int index) {
    if (!c.entry(index).ai) return index;
    const std::uint8_t ucid = c.entry(index).ucid;
    for (int i = index + 1; i < c.usedEntries; ++i)
        if (c.entry(i).ucid == ucid && !c.entry(i).ai) return i;
    return index;
}

}  // namespace

// ---- Shared helpers -------------------------------------------------------------

data::cl_LfsPlayer& CommandContext::player() const { return c.entry(sender); }

bool CommandContext::hasArg(int i) const {
    return i >= 1 && i < tokens.count && i < kMaxChatTokens &&
           !tokens.token[static_cast<std::size_t>(i)].empty();
}

const char* CommandContext::arg(int i) const {
    return hasArg(i) ? tokens.token[static_cast<std::size_t>(i)].c_str() : "";
}

bool CommandContext::argIs(int i, const char* text) const {
    return hasArg(i) && tokens.token[static_cast<std::size_t>(i)] == text;
}

bool CommandContext::helpAsked() const { return argIs(1, "?") || argIs(1, "help"); }

bool CommandContext::help(std::initializer_list<const char*> lines) const {
    if (!helpAsked()) return false;
    reply(" ");
    for (const char* line : lines) reply(line);
    return true;
}

bool CommandContext::admin(const char* refusal) const {
    if (isAdmin()) return true;
    reply(refusal);
    return false;
}

void CommandContext::reply(const char* text) const { c.link->SendPrivate(text, player().ucid, 0); }

void CommandContext::toAll(const char* text) const { c.link->SendMessage(text); }

void CommandContext::announce(const char* text) const { c.link->SendLongMessage(text); }

// ---- The command list ------------------------------------------------------------

void Help(const CommandContext& ctx) {
    ctx.reply(" ");
    ctx.reply("^7Trackmarshal ");
    ctx.reply("^7Visit the Trackmarshal web site for more information");
    ctx.reply("^7------------------------------------------");
    ctx.reply("^7Enter <#command ?> for more help.");
    if (ctx.player().admin == 1) {
        ctx.reply("^2Admincommands:");
        ctx.reply("^7setstart,nextstart,setspeed,trackopen,trackclosed,pitopen,");
        ctx.reply("^7pitclosed,watch,nowatch,setskill,setdebug,loadconfig");
        ctx.reply("^7QUIT, KILLALL");
    }
    ctx.reply("^2UserCommands:");
    ctx.reply("^7language,info,chatlevel,top,near,");
    ctx.reply("^7emon,track,tr,skill,tmsg,tcolor");
    if (ctx.c.session.raceState == RS_CITY) {
        ctx.reply("^2CityrunMode:");
        ctx.reply("^7cars, map, buy");
    }
}

// ---- Recognition -------------------------------------------------------------------

std::vector<const char*> chatCommandWords() {
    std::vector<const char*> words;
    for (const Command& command : kCommands) words.push_back(command.word);
    return words;
}

int HandleChatMessage(TMX_MAIN& controller, const insim::IS_MSO& mso) {
    if (controller.debugOn())
        controller.console().out("IS_MSO (message from host) -> \n%s", mso.Msg.c_str());
    if (controller.runRequest.load() == RUN_CONNECTING) return 0;

    int sender = controller.FindIndex(mso.UCID, -1);
    if (sender == -1) return 0;
    sender = humanEntry(controller, sender);

    // The typed text starts after the name LFS puts in front of it. The offset
    // comes from the server and may point anywhere, also past the text.
    const std::string_view message = mso.Msg.view();
    const std::size_t start = mso.TextStart;
    if (start >= message.size() || start >= kMsgChars) return 0;
    if (!isPrefix(message[start])) return 0;

    // Every prefix becomes ".", so "#help", "!help" and ".help" are one command.
    std::string line(message.substr(start, kMsgChars - start));
    line[0] = '.';
    ChatTokens tokens;
    splitChatLine(line.c_str(), &tokens);

    const CommandContext ctx(controller, sender, tokens);
    ctx.reply(" ");
    for (const Command& command : kCommands) {
        if (tokens.token[0] == command.word) {
            if (command.adminOnly) {
                const auto& who = controller.entry(sender);
                controller.console().note("Server %d: %s (%s) typed \"%s\"%s", controller.slot,
                                          who.userName.c_str(), who.playerName.c_str(),
                                          std::string(message.substr(start)).c_str(),
                                          ctx.isAdmin() ? "" : " (not an admin: refused)");
            }
            command.run(ctx);
            return 0;
        }
    }
    ctx.reply("^7ERROR, command unknown.  Try '#help'.");
    return 0;
}

}  // namespace tmx::commands
