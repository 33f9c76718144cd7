// Skill points and the skill value: the flash of every change, lap points,
// and the summary a driver gets after he left the race.
#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "controller/tmx_main.h"

namespace tmx {

namespace {
// Points per lap driven, 0 to 10; nothing before the fifth lap.
int skillValue(std::int64_t points, std::uint32_t laps) {
    if (laps <= 4 || points <= 0) return 0;
    const std::int64_t value = points / laps;
    return value > 10 ? 10 : static_cast<int>(value);
}

// Totals come from the database file and from admins; a sum never wraps
// round into the opposite sign, it stops at the ends of the range.
std::int32_t saturatedSum(std::int64_t a, std::int64_t b) {
    const std::int64_t sum = a + b;
    if (sum > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

// The "safe" line shown with each reason of a change; -1 for a reason
// without a line of its own.
int reasonLine(int reason) {
    static constexpr std::array<int, 19> lines = {1, 2, 3, 4, 5, 6, 7, 8, 9, 17,
                                                  10, 11, 12, 13, 0, 14, 15, 16, 18};
    if (reason < 0 || reason >= static_cast<int>(lines.size())) return -1;
    return lines[static_cast<std::size_t>(reason)];
}

const char* ratingLine(int skill) {
    switch (skill) {
        case 0: return "^1That's very bad. You need more training";
        case 1: return "^1That's bad. You need more training";
        case 2:
        case 3: return "^1That's a poor skill";
        case 4:
        case 5: return "^3That's a low skill";
        case 6:
        case 7: return "^3That's a average skill";
        case 8: return "^2That's a good skill";
        case 9: return "^2That's a very good skill";
        default: return "^2That's a perfect skill.";
    }
}

bool multiplayerServer(ServerKind kind) { return kind == SK_HOST_DRIVES || kind == SK_DEDICATED; }
}  // namespace

void TMX_MAIN::StartSkill(int ucid, int plid) {
    const int index = FindIndex(ucid, plid);
    if (index == -1 || entry(index).ai) return;
    entry(index).skill.basePoints = entry(index).skillPoints;
    entry(index).skill.racePoints = 0;
}

void TMX_MAIN::CommitSkill(int ucid, int plid) {
    const int index = FindIndex(ucid, plid);
    if (index == -1 || entry(index).ai) return;
    data::cl_LfsPlayer& e = entry(index);
    e.skillPoints = saturatedSum(e.skill.basePoints, e.skill.racePoints);
    e.skill.basePoints = 0;
    e.skill.racePoints = 0;
}

int TMX_MAIN::StoredSkill(int ucid, int plid) const {
    const int index = FindIndex(ucid, plid);
    if (index == -1 || entry(index).ai) return 0;
    return skillValue(entry(index).skillPoints, entry(index).skillLaps);
}

int TMX_MAIN::CurrentSkill(int ucid, int plid) const {
    const int index = FindIndex(ucid, plid);
    if (index == -1 || entry(index).ai) return 0;
    const data::cl_LfsPlayer& e = entry(index);
    return skillValue(static_cast<std::int64_t>(e.skill.basePoints) + e.skill.racePoints, e.skillLaps);
}

void TMX_MAIN::ChangeSkillPoints(int index, int points, int reason) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (isCity() || !config.skillsystem || e.ai) return;
    if (!multiplayerServer(server.serverKind)) return;
    // A yellow confirmed or cut short after the chequered flag is nobody's fault.
    if ((points == -7 || points == -1) &&
        (session.raceState == RS_RACE_FINISHED || session.raceState == RS_QUALIFYING_CLOSED))
        return;
    // Until a rolling start is through, only its own pace rule counts.
    if (session.raceState == RS_RACE && session.startPhase < SP_ROLLING_LAST && reason != 13) return;
    e.skill.racePoints = saturatedSum(e.skill.racePoints, points);

    std::string text = points >= 0 ? "^3SP: +" : "^3SP: ";
    text += std::to_string(points);
    const int line = reasonLine(reason);
    if (line >= 0) text += LanguageLine(index, data::LB_SAFE, line);

    insim::ButtonRequest b;
    b.clickId = BG_SKILL;
    b.groupId = BG_SKILL;
    b.alwaysVisible = 1;
    b.style = 17;
    b.left = 0;
    b.top = 194;
    b.width = 48;
    b.height = 6;
    b.lifetime = 6000;
    b.text.assign(text);
    ShowToDriverAndWatcher(index, b);
}

void TMX_MAIN::LapSkillPoints(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus != DS_ON_TRACK && e.race.driverStatus != DS_RACING) return;
    const int reported = e.flags.yellowsReported;
    if (reported == 0 && e.flags.yellowsConfirmed == 0)
        ChangeSkillPoints(index, 15, 8);
    else
        ChangeSkillPoints(index, 8 - reported, 7);
    e.flags.yellowsReported = 0;
    e.flags.yellowsConfirmed = 0;
}

void TMX_MAIN::SkillSummary(int index) {
    if (index < 0 || index >= usedEntries) return;
    const data::cl_LfsPlayer& e = entry(index);
    if (isCity() || !config.skillsystem) return;
    if (!multiplayerServer(server.serverKind)) {
        if (!e.ai && server.serverKind != SK_MULTI_REPLAY)
            link->SendMessage("^7TMX: skill-calculating only in multiplayer");
        return;
    }
    if (e.race.driverStatus == DS_NONE) return;

    const auto say = [&](const std::string& text) { link->SendPrivate(text.c_str(), e.ucid, 0); };
    say("^7");
    say("^7SKILLSYSTEM");
    say("^7You earned: " + std::to_string(e.skill.summaryPoints) + " skillpoints");
    say("^7Your total points now: " + std::to_string(e.skillPoints));
    if (e.skillLaps < 5) {
        say("^7Your skill is 0. Drive more laps.");
    } else {
        const int skill = skillValue(e.skillPoints, e.skillLaps);
        say("^7Your skill is : " + std::to_string(skill));
        say(ratingLine(skill));
    }
    if (session.pitLaneClosed) {
        say("^7------------------------------- ");
        say(LanguageLine(index, data::LB_TMXM, 3));
    }
}

void TMX_MAIN::SkillSummaryTick() {
    const std::int64_t now = clock_.now();
    for (int i = 0; i < usedEntries; ++i) {
        DriverSkill& s = entry(i).skill;
        if (s.summaryTime == 0 || now - s.summaryTime <= 1) continue;
        SkillSummary(i);
        s.summaryTime = 0;
    }
}

}  // namespace tmx
