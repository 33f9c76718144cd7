// cl_LfsPlayer: one entry of a controller's connection and player table, and
// the player record that is loaded from and saved to the central database.
// Race control, driver information and the city game add their own fields to
// it as they are built; each field starts at its reset value.
#pragma once

#include <array>
#include <cstdint>

#include "common/fixed_string.h"
#include "data/player_database.h"
#include "info/driver_display.h"
#include "insim/packets.h"
#include "race/driver_conduct.h"
#include "race/driver_flags.h"
#include "race/driver_pit.h"
#include "race/driver_position.h"
#include "race/driver_race.h"
#include "race/driver_rolling.h"
#include "race/driver_skill.h"

namespace tmx {
class cl_MasterControl;
}

namespace tmx::data {

struct cl_Language;

constexpr const char* kHostName = "host";

class cl_LfsPlayer {
public:
    // The field initialisers are the reset values.
    cl_LfsPlayer() = default;
    virtual ~cl_LfsPlayer() = default;
    cl_LfsPlayer(const cl_LfsPlayer&) = default;
    cl_LfsPlayer& operator=(const cl_LfsPlayer&) = default;

    // Every field to its reset value; now is stored in the city-game timer.
    void Reset(std::int64_t now);
    // Per-race data cleared when a player joins the race.
    void ResetRaceData();

    // Database (the master holds the lock while fields are copied).
    // Load: -1, 0 (host or AI: nothing done) or the find-or-create result.
    int LoadFromDatabase(cl_MasterControl& master);
    int SaveToDatabase(cl_MasterControl& master);
    int LoadCombination(cl_MasterControl& master, const char* track);
    int SaveCombination(cl_MasterControl& master);

    bool isHost() const { return playerName == kHostName; }

    // ---- Database record -------------------------------------------------
    PlayerEntry* databaseEntry = nullptr;
    // This record counts among the connections that keep databaseEntry online
    // (and so safe from cleaning); given back when the entry is freed.
    bool holdsEntry = false;
    const cl_Language* language = nullptr;
    FixedString<4> languageCode{"ori"};
    std::uint8_t teamColour = 3;
    std::uint8_t teamPosition = 170;
    std::uint8_t chatLevel = 2;
    std::int32_t skillPoints = 0;
    std::uint32_t skillLaps = 0;
    CombinationRecord* combination = nullptr;
    std::int32_t combinationLaps = 0;
    std::array<std::int32_t, 5> currentLap{};
    std::array<std::int32_t, 5> bestSectors{};
    std::array<std::int32_t, 5> personalBest{};

    // ---- Connection and player ---------------------------------------------
    std::uint8_t ucid = 0;
    std::uint8_t plid = 0;
    FixedString<25> playerName;
    FixedString<25> userName;
    FixedString<5> car;
    std::uint8_t handicapMass = 0;
    std::uint8_t handicapRestriction = 0;
    std::uint8_t admin = 0;
    std::uint8_t ai = 0;
    insim::IS_NCN lastNcn;
    insim::IS_NPL lastNpl;
    std::int64_t connectTime = 0;
    std::int64_t leaveTime = 0;

    // ---- Race control and driver information, one struct per subsystem ---------
    DriverRace race;          // status and qualifying rules
    DriverPosition position;  // car reports and places
    DriverPit pit;            // penalties and pit windows
    DriverRolling rolling;    // grid place and pace instruction of a rolling start
    DriverSkill skill;        // skill points of the race and the summary
    DriverFlags flags;        // yellow and blue flags
    DriverConduct conduct;    // place changes, stopped, wrong way, attitude
    DriverDisplay display;    // status bar, event monitor, tracking
    std::int32_t lapCounter = 0;  // laps of the lap display in this session

    // ---- City game -----------------------------------------------------------------
    std::int64_t cityTimer = 0;
};

}  // namespace tmx::data
