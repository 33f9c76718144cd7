// Skill points and the skill value.
#include "controller/tmx_main.h"

namespace tmx {

namespace {
// Points per lap driven, 0 to 10; nothing before the fifth lap.
int skillValue(std::int64_t points, std::uint32_t laps) {
    if (laps <= 4 || points <= 0) return 0;
    const std::int64_t value = points / laps;
    return value > 10 ? 10 : static_cast<int>(value);
}
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
    e.skillPoints = e.skill.basePoints + e.skill.racePoints;
    e.skill.basePoints = 0;
    e.skill.racePoints = 0;
}

int TMX_MAIN::StoredSkill(int ucid, int plid) const {
    const int index = FindIndex(ucid, plid);
    if (index == -1 || entry(index).ai) return 0;
    return skillValue(entry(index).skillPoints, entry(index).skillLaps);
}

void TMX_MAIN::ChangeSkillPoints(int index, int points, int reason) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (isCity() || !config.skillsystem || e.ai) return;
    if (server.serverKind != SK_HOST_DRIVES && server.serverKind != SK_DEDICATED) return;
    if ((points == -7 || points == -1) &&
        (session.raceState == RS_RACE_FINISHED || session.raceState == RS_QUALIFYING_CLOSED))
        return;
    if (session.raceState == RS_RACE && session.startPhase < 6 && reason != 13) return;
    e.skill.racePoints += points;
}

int TMX_MAIN::CurrentSkill(int, int) const { return 0; }
void TMX_MAIN::LapSkillPoints(int) {}
void TMX_MAIN::SkillSummary(int) {}
void TMX_MAIN::SkillSummaryTick() {}

}  // namespace tmx
