// Pace instructions of a rolling start: one line at the bottom of a driver's
// screen telling him what to do (follow, overtake, let pass, close up, speed
// up, hold the pace), kept until the next instruction replaces it.
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "info/chat_level.h"

namespace tmx {

namespace {

constexpr std::uint8_t kPaceClickId = 139;
constexpr std::uint8_t kPaceTop = 185;
constexpr std::uint8_t kPaceWidth = 100;
constexpr std::size_t kButtonTextMax = 239;

// Pace speed in miles per hour, as shown beside the km/h.
int mph(int kmh) { return static_cast<int>(kmh * 0.621); }

// The flag an instruction sets; nullptr for the clearing one.
std::uint8_t* flagOf(PaceInstruction& p, int mode) {
    switch (mode) {
        case PM_GRID_FOLLOW:
        case PM_FOLLOW: return &p.follow;
        case PM_LET_BY: return &p.letBy;
        case PM_OVERTAKE: return &p.overtake;
        case PM_LET_PASS: return &p.letPass;
        case PM_CLOSE_UP: return &p.closeUp;
        case PM_LEADER_PACE: return &p.leaderPace;
        case PM_LEADER_FAST:
        case PM_LEADER_SLOW: return &p.leaderWarning;
        case PM_SPEED_UP: return &p.speedUp;
        default: return nullptr;
    }
}

// The pace line an instruction shows; -1 for the blank one.
int paceLineOf(int mode) {
    switch (mode) {
        case PM_GRID_FOLLOW: return 9;
        case PM_FOLLOW: return 0;
        case PM_LET_BY: return 2;
        case PM_OVERTAKE: return 1;
        case PM_LET_PASS: return 3;
        case PM_CLOSE_UP: return 4;
        case PM_LEADER_PACE: return 6;
        case PM_LEADER_FAST: return 7;
        case PM_LEADER_SLOW: return 8;
        case PM_SPEED_UP: return 5;
        default: return -1;
    }
}

}  // namespace

void TMX_MAIN::SetPace(int plid, int mode, int target) {
    const int index = plid > 0 ? FindIndex(-1, plid) : -1;
    if (index == -1) {
        debug("\nDEBUG: Error -> Pacetext -> got wrong pid!\n");
        return;
    }
    int targetIndex = -1;
    if (target > 0) {
        targetIndex = FindIndex(-1, target);
        if (targetIndex == -1) {
            debug("\nDEBUG: Error -> Pacetext -> got wrong targetpid!\n");
            return;
        }
    }
    data::cl_LfsPlayer& e = entry(index);
    PaceInstruction& p = e.rolling.pace;
    const std::int64_t now = clock_.now();
    p = PaceInstruction{};
    p.target = target > 0 ? target : 0;
    p.startTime = now;
    if (std::uint8_t* flag = flagOf(p, mode)) *flag = PF_GIVEN;

    const int paceLine = paceLineOf(mode);
    std::string text = "    ";
    if (paceLine >= 0) {
        const std::string line = LanguageLine(index, data::LB_PACE, paceLine);
        const char* targetName = targetIndex >= 0 ? entry(targetIndex).playerName.c_str() : "???";
        const std::string speed = std::to_string(config.rs_speed);
        const std::string speedMph = std::to_string(mph(config.rs_speed));
        switch (mode) {
            case PM_GRID_FOLLOW: {
                const std::string slotText = std::to_string(e.rolling.gridSlot);
                text = fillPlaceholders(line, {slotText.c_str(), targetIndex >= 0 ? targetName : nullptr});
                break;
            }
            case PM_LEADER_PACE:
            case PM_LEADER_FAST:
            case PM_LEADER_SLOW: text = fillPlaceholders(line, {speed.c_str(), speedMph.c_str()}); break;
            case PM_SPEED_UP: text = line; break;
            default: text = fillPlaceholders(line, {targetName}); break;
        }
    }

    // The host's own screen is not written to while LFS runs in multiplayer.
    if (e.isHost() && (server.lastState.Flags & insim::ISS_MULTI)) return;
    const char* shown = textAtChatLevel(e, text.c_str());
    if (!shown) return;
    insim::ButtonRequest b;
    b.clickId = kPaceClickId;
    b.groupId = BG_ORGA;
    b.alwaysVisible = 0;
    b.style = 1;
    b.left = static_cast<std::uint8_t>(config.orgamsg.left);
    b.top = kPaceTop;
    b.width = kPaceWidth;
    b.height = static_cast<std::uint8_t>(config.orgamsg.height);
    b.lifetime = 0;
    const std::string cut(shown, std::min(std::char_traits<char>::length(shown), kButtonTextMax));
    b.text.assign(cut);
    ShowToDriverAndWatcher(index, b);
}

}  // namespace tmx
