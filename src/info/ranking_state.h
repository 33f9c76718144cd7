// The server ranking of a controller: the fastest personal bests on the
// current track with the cars in use, and the table of those cars.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/fixed_string.h"
#include "data/player_database.h"

namespace tmx {
class Console;
}

namespace tmx::info {

constexpr int kRankingPlaces = 50;  // entries a list keeps
constexpr int kRankingSlots = 61;   // room to shift one entry past the last place
constexpr int kNotListed = 60;      // "no place" while a position is worked out
constexpr int kCartableSlots = 99;
constexpr const char* kFallbackCar = "FOX";

// A place of the list: the player's entry and the combination whose best lap
// earned it. Both belong to the database; the list owns nothing.
struct RankEntry {
    const data::PlayerEntry* player = nullptr;
    const data::CombinationRecord* combination = nullptr;
};

// A ranking list, fastest first. Its references are valid only for the
// database generation it was built at: once the database has been cleaned or
// reloaded, every accessor answers as for an empty list until it is cleared
// and built anew, so a stale entry can never be followed. Every call that
// passes the database must be made under the database lock.
class RankingList {
public:
    // Empties the list and ties it to the database as it is now.
    void clear(const data::PlayerDatabase& db);
    bool current(const data::PlayerDatabase& db) const { return generation_ == db.generation(); }
    int count(const data::PlayerDatabase& db) const { return current(db) ? count_ : 0; }
    // Place i (0-based), null outside the list or once stale.
    const RankEntry* at(int i, const data::PlayerDatabase& db) const;
    // The place of the user name (0-based), -1 when he is not listed.
    int Find(const data::PlayerDatabase& db, std::string_view userName) const;

    // Places the combination's best lap of the player (or only looks the
    // player up): his 0-based place, or -1. debug, when given, receives the
    // trace of the decision.
    int MakeEntry(const data::PlayerDatabase& db, const data::PlayerEntry& player,
                  const data::CombinationRecord& combination, bool lookUpOnly, Console* debug);

    // The best lap of the last place when the list is full, else 0: a time
    // that is not faster cannot change a list built only from set times.
    std::int32_t fullListCutoff() const;

private:
    std::array<RankEntry, kRankingSlots> entries_{};
    std::int32_t count_ = 0;
    std::uint64_t generation_ = 0;  // never equal to a database's
};

// The cars driven on the server: a name per slot, filled from slot 0 without
// gaps, with 0 = no longer in use, 1 = in use, 2 = newly added.
struct Cartable {
    std::array<FixedString<10>, kCartableSlots> cars{};
    std::array<std::uint8_t, kCartableSlots> state{};

    // Slots in use (before the first empty one).
    int used() const;
    // Slot of the car (exact), -1 when it is not in the table.
    int find(std::string_view car) const;
};

struct RankingState {
    RankingList list;  // the controller's ranking for its current track
    Cartable cartable;
};

// Fills list with every combination of the database on track (compared
// without regard to case) that has a best lap, for car (likewise) or, when car
// is null, for any car of the cartable. The caller holds the database lock.
// Returns the count.
int CreateRanking(const data::PlayerDatabase& db, RankingList& list, const char* track, const char* car,
                  const Cartable& cartable, Console* debug);

}  // namespace tmx::info
