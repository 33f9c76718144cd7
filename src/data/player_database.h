// The central player database in memory: one entry per LFS user name ever
// seen, each with its car/track combination records, in insertion order.
// The file operations are members of the master (they hold its lock).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>
#include <memory>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "common/fixed_string.h"

namespace tmx {
class cl_MasterControl;
}

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

// The combination records of one player, in insertion order. Records live in
// blocks that never move, so appending never changes the address of a record
// that a connected player's record links to. Only removeIf (cleaning, which
// never touches an online player) moves records.
class CombinationList {
    struct Block {
        std::unique_ptr<CombinationRecord[]> items;
        std::uint32_t size = 0;
        std::uint32_t capacity = 0;
    };

public:
    template <bool Const>
    class Iterator {
        using List = std::conditional_t<Const, const CombinationList, CombinationList>;

    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = CombinationRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const CombinationRecord*, CombinationRecord*>;
        using reference = std::conditional_t<Const, const CombinationRecord&, CombinationRecord&>;

        Iterator() = default;
        Iterator(List* list, std::size_t block, std::uint32_t index)
            : list_(list), block_(block), index_(index) {}
        reference operator*() const { return list_->block(block_).items[index_]; }
        pointer operator->() const { return &**this; }
        Iterator& operator++() {
            if (++index_ == list_->block(block_).size) {
                ++block_;
                index_ = 0;
            }
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const Iterator& o) const { return block_ == o.block_ && index_ == o.index_; }
        bool operator!=(const Iterator& o) const { return !(*this == o); }

    private:
        List* list_ = nullptr;
        std::size_t block_ = 0;
        std::uint32_t index_ = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    CombinationList() = default;
    CombinationList(const CombinationList& other);
    CombinationList& operator=(const CombinationList& other);
    CombinationList(CombinationList&&) noexcept = default;
    CombinationList& operator=(CombinationList&&) noexcept = default;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Room for n records in one block; only while the list is empty.
    void reserve(std::size_t n);
    // Appends a blank record and returns it.
    CombinationRecord& emplace_back();
    void push_back(const CombinationRecord& record) { emplace_back() = record; }
    CombinationRecord& back();
    const CombinationRecord& back() const;
    CombinationRecord& operator[](std::size_t i);
    const CombinationRecord& operator[](std::size_t i) const;
    void clear();
    // Removes every record for which pred is true, keeping the order of the
    // others; returns the number removed.
    template <class Pred>
    std::size_t removeIf(Pred pred);

    iterator begin() { return iterator(this, 0, 0); }
    iterator end() { return iterator(this, usedBlocks(), 0); }
    const_iterator begin() const { return const_iterator(this, 0, 0); }
    const_iterator end() const { return const_iterator(this, usedBlocks(), 0); }

private:
    // Blocks in use form a prefix: all full but the last, none empty. Slots
    // past a block's size hold blank records.
    std::size_t usedBlocks() const { return first_.size == 0 ? 0 : 1 + more_.size(); }
    Block& block(std::size_t i) { return i == 0 ? first_ : more_[i - 1]; }
    const Block& block(std::size_t i) const { return i == 0 ? first_ : more_[i - 1]; }
    static Block makeBlock(std::size_t capacity);

    Block first_;
    std::vector<Block> more_;
    std::size_t size_ = 0;
};

template <class Pred>
std::size_t CombinationList::removeIf(Pred pred) {
    const std::size_t blocks = usedBlocks();
    std::size_t writeBlock = 0;
    std::uint32_t writeIndex = 0;
    std::size_t kept = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        Block& src = block(b);
        for (std::uint32_t i = 0; i < src.size; ++i) {
            if (pred(static_cast<const CombinationRecord&>(src.items[i]))) continue;
            if (writeIndex == block(writeBlock).capacity) {
                ++writeBlock;
                writeIndex = 0;
            }
            if (writeBlock != b || writeIndex != i) block(writeBlock).items[writeIndex] = src.items[i];
            ++writeIndex;
            ++kept;
        }
    }
    const std::size_t removed = size_ - kept;
    if (removed == 0) return 0;
    size_ = kept;
    if (kept == 0) {
        first_ = Block{};
        more_.clear();
        return removed;
    }
    for (std::size_t b = 0; b < writeBlock; ++b) block(b).size = block(b).capacity;
    Block& last = block(writeBlock);
    // Slots past the end stay blank, so that appending needs no clearing.
    for (std::uint32_t i = writeIndex; i < last.size; ++i) last.items[i] = CombinationRecord{};
    last.size = writeIndex;
    more_.resize(writeBlock);  // blocks after the last one written are no longer used
    return removed;
}

// One player (96 bytes on disk, followed by its combinations).
struct PlayerEntry {
    // Connections that hold this entry now. The same user name may be online
    // on two servers at once; the entry stays online (and safe from cleaning)
    // until the last of them has left. The file stores "count > 0" in its
    // one-byte online field.
    std::int32_t onlineCount = 0;
    bool isOnline() const { return onlineCount > 0; }
    std::int64_t lastSeen = 0;
    FixedString<25> userName;
    FixedString<25> playerName;
    std::uint8_t teamColour = 3;
    std::uint8_t teamPosition = 170;
    std::uint8_t chatLevel = 2;
    FixedString<4> language{"ori"};
    std::int32_t skillPoints = 0;
    std::uint32_t skillLaps = 0;
    CombinationList combinations;
};

// The entry list. A list keeps every entry at its address while others come
// and go. A hash index over the user names answers lookups; it is rebuilt
// from the list whenever it may be out of step, so a lookup always gives what
// a walk of the list would: the first entry in list order with that name.
// Change the list through these members; after changing `entries` directly
// (or an entry's user name), call invalidateIndex().
class PlayerDatabase {
public:
    using Entries = std::list<PlayerEntry>;

    PlayerDatabase() = default;
    PlayerDatabase(const PlayerDatabase&) = delete;
    PlayerDatabase& operator=(const PlayerDatabase&) = delete;

    std::int32_t count() const { return static_cast<std::int32_t>(entries.size()); }
    bool empty() const { return entries.empty(); }

    // First entry whose user name equals userName exactly, or null.
    PlayerEntry* find(std::string_view userName);
    // Appends an entry. An earlier entry of the same name keeps answering
    // lookups, as it would for a walk of the list.
    PlayerEntry& append(PlayerEntry entry);
    Entries::iterator erase(Entries::iterator it);
    void clear();
    void invalidateIndex();

    // Counts the changes that may free or move entries and combination
    // records: every clean, every (re)load, every erase or clear. Whatever
    // keeps references into the database (the controllers' rankings) notes
    // the generation it saw and drops the references once it has moved on.
    // Read and bumped under the database lock.
    std::uint64_t generation() const { return generation_; }
    void bumpGeneration() { ++generation_; }

    Entries entries;

private:
    void rebuildIndex();
    void indexEntry(PlayerEntry& entry);

    std::unordered_map<std::string_view, PlayerEntry*> index_;
    std::size_t indexedSize_ = 0;
    bool indexValid_ = false;
    bool duplicates_ = false;  // some user name occurs more than once in the list
    std::uint64_t generation_ = 1;  // 0 is left for "never seen"
};

// Byte layouts of the file records.
void encodeEntry(const PlayerEntry& entry, std::uint8_t* out);
void decodeEntry(const std::uint8_t* in, PlayerEntry& entry);
void encodeCombination(const CombinationRecord& record, std::uint8_t* out);
void decodeCombination(const std::uint8_t* in, CombinationRecord& record);

// Total skill points that give `skill` over `laps` (skill = points / laps),
// held at the largest value the field can store.
std::int32_t skillPointsFor(std::int32_t skill, std::uint32_t laps);

}  // namespace tmx::data
