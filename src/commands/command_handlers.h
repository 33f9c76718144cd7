// The handlers of the chat commands, one per command word.
#pragma once

#include "commands/command_context.h"

namespace tmx::commands {

// Admin commands.
void SetDebug(const CommandContext& ctx);
void LoadConfig(const CommandContext& ctx);
void SetStart(const CommandContext& ctx);
void NextStart(const CommandContext& ctx);
void SetSpeed(const CommandContext& ctx);
void Watch(const CommandContext& ctx);
void NoWatch(const CommandContext& ctx);
void SetSkill(const CommandContext& ctx);
void Quit(const CommandContext& ctx);
void KillAll(const CommandContext& ctx);
void TrackClosed(const CommandContext& ctx);
void TrackOpen(const CommandContext& ctx);
void PitClosed(const CommandContext& ctx);
void PitOpen(const CommandContext& ctx);

// User commands.
void Top(const CommandContext& ctx);
void Near(const CommandContext& ctx);
void Info(const CommandContext& ctx);
void TeamColour(const CommandContext& ctx);
void ChatLevel(const CommandContext& ctx);
void EventMonitor(const CommandContext& ctx);
void Language(const CommandContext& ctx);
void TeamPosition(const CommandContext& ctx);
void Skill(const CommandContext& ctx);
void Track(const CommandContext& ctx);
void Cars(const CommandContext& ctx);
void Buy(const CommandContext& ctx);
void Map(const CommandContext& ctx);

// The command list ("#help").
void Help(const CommandContext& ctx);

}  // namespace tmx::commands
