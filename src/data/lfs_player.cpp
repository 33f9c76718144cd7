#include "data/lfs_player.h"

#include "master/master_control.h"

namespace tmx::data {

void cl_LfsPlayer::Reset(std::int64_t now) {
    // A blank record carries every reset value, also of fields added later.
    *this = cl_LfsPlayer();
    cityTimer = now;
}

void cl_LfsPlayer::ResetRaceData() {
    currentLap = {};
    bestSectors = {};
    personalBest = {};
    combinationLaps = 0;
    combination = nullptr;
    lapCounter = 0;
    race.sessionLaps = 0;
    race.splitsPassed = 0;
    conduct = DriverConduct{};
    position.ResetRaceData();
    // The pending penalty stays: it is served after the join.
    pit.lfsPenalty = 0;
    pit.penaltyQueue = {};
    pit.queueLength = 0;
    pit.pitWindowUsed = {};
}

namespace {

bool debugging(const cl_MasterControl& master) { return master.debugSlot.load() != kNoDebugSlot; }

}  // namespace

int cl_LfsPlayer::LoadFromDatabase(cl_MasterControl& master) {
    if (isHost() || ai) return 0;
    if (debugging(master))
        master.console.out("\nDEBUG: Load player from central database: %s , %s\n", playerName.c_str(),
                           userName.c_str());
    // The entry is marked online in the same locked step that finds or makes
    // it, so no cleaning can remove it before this connection holds it.
    const int result = master.FindOrCreateEntry(this, true);
    if (result == -1 || !databaseEntry) return -1;

    DatabaseLock lock(master, nullptr);
    const PlayerEntry& entry = *databaseEntry;
    teamColour = entry.teamColour;
    teamPosition = entry.teamPosition;
    skillLaps = entry.skillLaps;
    skillPoints = entry.skillPoints;
    chatLevel = entry.chatLevel > 2 ? 2 : entry.chatLevel;
    languageCode.assign(entry.language.view(), 3);
    return result;
}

int cl_LfsPlayer::SaveToDatabase(cl_MasterControl& master) {
    if (!databaseEntry) return -1;
    if (ai || isHost()) return 0;
    if (debugging(master))
        master.console.out("\nDEBUG: Save player in central database: %s , %s\n", playerName.c_str(),
                           userName.c_str());
    {
        DatabaseLock lock(master, nullptr);
        PlayerEntry& entry = *databaseEntry;
        entry.teamColour = teamColour;
        entry.teamPosition = teamPosition;
        entry.skillLaps = skillLaps;
        entry.skillPoints = skillPoints;
        entry.chatLevel = chatLevel;
        entry.language.assign(languageCode.view(), 3);
        if (entry.userName != userName) {
            entry.userName = userName;
            master.database.invalidateIndex();  // the entry is now known by another name
        }
        entry.playerName = playerName;
        master.MarkDatabaseChanged();  // under the lock, like the change itself
    }
    return 0;
}

int cl_LfsPlayer::LoadCombination(cl_MasterControl& master, const char* track) {
    if (!databaseEntry) return -1;
    if (isHost() || ai) return 0;
    const FixedString<7> trackName(track ? track : "");
    const bool debug = debugging(master);

    CombinationRecord* record = nullptr;
    {
        DatabaseLock lock(master, nullptr);
        combination = nullptr;
        for (CombinationRecord& r : databaseEntry->combinations) {
            if (r.car == car && r.track == trackName) {
                record = &r;
                break;
            }
        }
    }
    if (!record) {
        if (debug)
            master.console.out("\nDEBUG: Create combo in central database for %s , %s\n",
                               playerName.c_str(), userName.c_str());
        record = master.CreateCombination(this);
        if (!record) {
            master.console.out("\nError: couldn't create a combo in central database. \n");
            return -1;
        }
        DatabaseLock lock(master, nullptr);
        record->car = car;
        record->track = trackName;
    }
    if (debug)
        master.console.out("\nDEBUG: Load combo from central database for %s , %s\n", playerName.c_str(),
                           userName.c_str());
    DatabaseLock lock(master, nullptr);
    combination = record;
    combinationLaps = record->laps;
    personalBest = record->personalBest;
    bestSectors = record->bestSectors;
    return 0;
}

int cl_LfsPlayer::SaveCombination(cl_MasterControl& master) {
    if (ai || isHost()) return 0;
    if (debugging(master))
        master.console.out("\nDEBUG: Save combo in central databse for %s , %s\n", playerName.c_str(),
                           userName.c_str());
    if (!databaseEntry || !combination) return -1;
    {
        DatabaseLock lock(master, nullptr);
        combination->laps = combinationLaps;
        combination->bestSectors = bestSectors;
        combination->personalBest = personalBest;
        master.MarkDatabaseChanged();
    }
    return 0;
}

}  // namespace tmx::data
