// The central player database in memory: one entry per LFS user name ever
// seen, each with its car/track combination records, in insertion order.
// The file operations are members of the master (they hold its lock).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <list>

#include "common/fixed_string.h"

namespace tmx::data {

constexpr std::int32_t kDatabaseVersion = 2;
constexpr std::size_t kEntryBytes = 96;
constexpr std::size_t kCombinationBytes = 64;
constexpr const char* kDatabaseFile = "tmx_db.rdb";

// One car/track combination of a player (64 bytes on disk).
struct CombinationRecord {
    std::array<std::int32_t, 5> personalBest{};  // lap time, then its four sector times
    std::array<std::int32_t, 5> bestSectors{};
    std::int32_t laps = 0;
    FixedString<5> car;
    FixedString<7> track;
};

// One player (96 bytes on disk, followed by its combinations).
struct PlayerEntry {
    std::uint8_t online = 0;
    std::int64_t lastSeen = 0;
    FixedString<25> userName;
    FixedString<25> playerName;
    std::uint8_t teamColour = 3;
    std::uint8_t teamPosition = 170;
    std::uint8_t chatLevel = 2;
    FixedString<4> language{"ori"};
    std::int32_t skillPoints = 0;
    std::uint32_t skillLaps = 0;
    // A deque keeps every record at its address when new ones are appended,
    // so a connected player's link to his current combination stays valid.
    std::deque<CombinationRecord> combinations;
};

struct PlayerDatabase {
    // A list keeps every entry at its address while others come and go.
    std::list<PlayerEntry> entries;
    std::int32_t count() const { return static_cast<std::int32_t>(entries.size()); }
};

// Byte layouts of the file records.
void encodeEntry(const PlayerEntry& entry, std::uint8_t* out);
void decodeEntry(const std::uint8_t* in, PlayerEntry& entry);
void encodeCombination(const CombinationRecord& record, std::uint8_t* out);
void decodeCombination(const std::uint8_t* in, CombinationRecord& record);

}  // namespace tmx::data
