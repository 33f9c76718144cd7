#include "data/player_database.h"

#include <algorithm>
#include <limits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "data/lfs_player.h"
#include "master/master_control.h"
#include "platform/files.h"

namespace tmx {
namespace data {

// ---- Combination list ------------------------------------------------------

namespace {
constexpr std::size_t kFirstBlock = 4;  // records in the first block of a growing list
}

CombinationList::Block CombinationList::makeBlock(std::size_t capacity) {
    Block b;
    b.items.reset(new CombinationRecord[capacity]);
    b.capacity = static_cast<std::uint32_t>(capacity);
    return b;
}

CombinationList::CombinationList(const CombinationList& other) {
    if (other.size_ == 0) return;
    first_ = makeBlock(other.size_);
    std::size_t i = 0;
    for (const CombinationRecord& r : other) first_.items[i++] = r;
    first_.size = static_cast<std::uint32_t>(other.size_);
    size_ = other.size_;
}

CombinationList& CombinationList::operator=(const CombinationList& other) {
    if (this != &other) {
        CombinationList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CombinationList::reserve(std::size_t n) {
    if (size_ != 0 || n <= first_.capacity) return;
    first_ = makeBlock(n);
    more_.clear();
}

CombinationRecord& CombinationList::emplace_back() {
    if (first_.capacity == 0) first_ = makeBlock(kFirstBlock);
    Block* last = more_.empty() ? &first_ : &more_.back();
    if (last->size == last->capacity) {
        // Grow by about the size so far; earlier blocks stay where they are.
        more_.push_back(makeBlock(std::max(kFirstBlock, size_)));
        last = &more_.back();
    }
    CombinationRecord& record = last->items[last->size];  // a blank slot
    ++last->size;
    ++size_;
    return record;
}

CombinationRecord& CombinationList::back() {
    Block& b = block(usedBlocks() - 1);
    return b.items[b.size - 1];
}

const CombinationRecord& CombinationList::back() const {
    const Block& b = block(usedBlocks() - 1);
    return b.items[b.size - 1];
}

CombinationRecord& CombinationList::operator[](std::size_t i) {
    return const_cast<CombinationRecord&>(static_cast<const CombinationList&>(*this)[i]);
}

const CombinationRecord& CombinationList::operator[](std::size_t i) const {
    std::size_t b = 0;
    while (i >= block(b).size) i -= block(b++).size;
    return block(b).items[i];
}

void CombinationList::clear() {
    first_ = Block{};
    more_.clear();
    size_ = 0;
}

// ---- Entry list and its index ------------------------------------------------

PlayerEntry* PlayerDatabase::find(std::string_view userName) {
    if (!indexValid_ || indexedSize_ != entries.size()) rebuildIndex();
    const auto it = index_.find(userName);
    return it == index_.end() ? nullptr : it->second;
}

void PlayerDatabase::rebuildIndex() {
    indexValid_ = false;
    index_.clear();
    index_.reserve(entries.size());
    duplicates_ = false;
    for (PlayerEntry& entry : entries) indexEntry(entry);
    indexedSize_ = entries.size();
    indexValid_ = true;
}

void PlayerDatabase::indexEntry(PlayerEntry& entry) {
    // The first entry of a name stays in the index: it is the one a walk finds.
    if (!index_.emplace(entry.userName.view(), &entry).second) duplicates_ = true;
}

PlayerEntry& PlayerDatabase::append(PlayerEntry entry) {
    const bool inStep = indexValid_ && indexedSize_ == entries.size();
    entries.push_back(std::move(entry));
    PlayerEntry& added = entries.back();
    if (!inStep) {
        indexValid_ = false;
        return added;
    }
    try {
        indexEntry(added);
        ++indexedSize_;
    } catch (const std::bad_alloc&) {
        indexValid_ = false;  // rebuilt at the next lookup
    }
    return added;
}

PlayerDatabase::Entries::iterator PlayerDatabase::erase(Entries::iterator it) {
    if (indexValid_ && indexedSize_ == entries.size()) {
        const auto found = index_.find(it->userName.view());
        if (found != index_.end() && found->second == &*it) {
            // With duplicates a later entry of the same name takes over: rebuild.
            if (duplicates_) {
                indexValid_ = false;
            } else {
                index_.erase(found);
            }
        }
        --indexedSize_;
    } else {
        indexValid_ = false;
    }
    bumpGeneration();
    return entries.erase(it);
}

void PlayerDatabase::clear() {
    index_.clear();
    indexValid_ = false;
    entries.clear();
    bumpGeneration();
}

void PlayerDatabase::invalidateIndex() { indexValid_ = false; }

// ---- File layouts -----------------------------------------------------------------

namespace {
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

void encodeEntry(const PlayerEntry& e, std::uint8_t* out) {
    std::memset(out, 0, kEntryBytes);
    out[12] = e.isOnline() ? 1 : 0;
    const auto seen = static_cast<std::uint64_t>(e.lastSeen);
    put32(out + 16, static_cast<std::uint32_t>(seen));
    put32(out + 20, static_cast<std::uint32_t>(seen >> 32));
    e.userName.copyToField(out + 24, 25);
    e.playerName.copyToField(out + 49, 25);
    out[74] = e.teamColour;
    out[75] = e.teamPosition;
    out[76] = e.chatLevel;
    e.language.copyToField(out + 77, 3, false);
    put32(out + 84, static_cast<std::uint32_t>(e.skillPoints));
    put32(out + 88, e.skillLaps);
}

void decodeEntry(const std::uint8_t* in, PlayerEntry& e) {
    e.onlineCount = in[12];
    e.lastSeen = static_cast<std::int64_t>(static_cast<std::uint64_t>(get32(in + 16)) |
                                           static_cast<std::uint64_t>(get32(in + 20)) << 32);
    e.userName.assignField(in + 24, 25);
    e.playerName.assignField(in + 49, 25);
    e.teamColour = in[74];
    e.teamPosition = in[75];
    e.chatLevel = in[76];
    e.language.assignField(in + 77, 3);
    e.skillPoints = static_cast<std::int32_t>(get32(in + 84));
    e.skillLaps = get32(in + 88);
}

void encodeCombination(const CombinationRecord& r, std::uint8_t* out) {
    std::memset(out, 0, kCombinationBytes);
    for (std::size_t i = 0; i < 5; ++i) {
        put32(out + 8 + 4 * i, static_cast<std::uint32_t>(r.personalBest[i]));
        put32(out + 28 + 4 * i, static_cast<std::uint32_t>(r.bestSectors[i]));
    }
    put32(out + 48, static_cast<std::uint32_t>(r.laps));
    r.car.copyToField(out + 52, 5);
    r.track.copyToField(out + 57, 7);
}

void decodeCombination(const std::uint8_t* in, CombinationRecord& r) {
    for (std::size_t i = 0; i < 5; ++i) {
        r.personalBest[i] = static_cast<std::int32_t>(get32(in + 8 + 4 * i));
        r.bestSectors[i] = static_cast<std::int32_t>(get32(in + 28 + 4 * i));
    }
    r.laps = static_cast<std::int32_t>(get32(in + 48));
    r.car.assignField(in + 52, 5);
    r.track.assignField(in + 57, 7);
}

}  // namespace data

using namespace data;

namespace {

constexpr std::size_t kIoBlock = 1 << 18;
// A combination count read from the file reserves no more than this at once,
// so a damaged count cannot claim memory the file does not back.
constexpr std::int32_t kReserveLimit = 4096;
constexpr std::size_t kDotsPerWrite = 4096;

// Sequential reads through one buffer; records are handed out in place.
class BlockReader {
public:
    explicit BlockReader(platform::File& file) : file_(file), buf_(kIoBlock) {}
    // The next n bytes (n up to the buffer size), or null when the file ends
    // (or fails) before all n are there.
    const std::uint8_t* take(std::size_t n) {
        if (len_ - pos_ < n && !refill(n)) return nullptr;
        const std::uint8_t* p = buf_.data() + pos_;
        pos_ += n;
        return p;
    }

private:
    bool refill(std::size_t n) {
        std::memmove(buf_.data(), buf_.data() + pos_, len_ - pos_);
        len_ -= pos_;
        pos_ = 0;
        while (len_ < n) {
            const int got = file_.read(buf_.data() + len_, static_cast<int>(buf_.size() - len_));
            if (got <= 0) return false;
            len_ += static_cast<std::size_t>(got);
        }
        return true;
    }

    platform::File& file_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
};

// Sequential writes through one buffer; records are encoded in place.
class BlockWriter {
public:
    explicit BlockWriter(platform::File& file) : file_(file), buf_(kIoBlock) {}
    // Room for the next n bytes, or null when flushing earlier bytes failed.
    std::uint8_t* reserve(std::size_t n) {
        if (buf_.size() - len_ < n && !flush()) return nullptr;
        std::uint8_t* p = buf_.data() + len_;
        len_ += n;
        return p;
    }
    bool flush() {
        if (len_ > 0 && file_.write(buf_.data(), static_cast<int>(len_)) != static_cast<int>(len_))
            ok_ = false;
        len_ = 0;
        return ok_;
    }

private:
    platform::File& file_;
    std::vector<std::uint8_t> buf_;
    std::size_t len_ = 0;
    bool ok_ = true;
};

// The "." printed per entry, passed to the console in batches (a console
// write is a locked, flushed unit). Flush before printing anything else.
class Dots {
public:
    explicit Dots(Console& console) : console_(console) {}
    ~Dots() { flush(); }
    Dots(const Dots&) = delete;
    Dots& operator=(const Dots&) = delete;
    void dot() {
        pending_.push_back('.');
        if (pending_.size() >= kDotsPerWrite) flush();
    }
    void flush() {
        if (pending_.empty()) return;
        console_.text(pending_);
        pending_.clear();
    }

private:
    Console& console_;
    std::string pending_;
};

// The database lock, held from take() or a successful tryTake() until the
// object goes (every way out of an operation releases it).
class Guard {
public:
    explicit Guard(cl_MasterControl& master) : master_(master) {}
    ~Guard() { release(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    bool tryTake() {
        if (!master_.databaseLock.try_lock()) return false;
        held_ = true;
        master_.databaseBusy = 1;
        return true;
    }
    // Prints busyMessage (if any) once when it has to wait.
    void take(const char* busyMessage) {
        if (tryTake()) return;
        if (busyMessage) master_.console.out("%s", busyMessage);
        master_.databaseLock.lock();
        held_ = true;
        master_.databaseBusy = 1;
    }
    void release() {
        if (!held_) return;
        master_.databaseBusy = 0;
        held_ = false;
        master_.databaseLock.unlock();
    }

private:
    cl_MasterControl& master_;
    bool held_ = false;
};

bool debugging(const cl_MasterControl& master) { return master.debugSlot.load() != kNoDebugSlot; }

}  // namespace

DatabaseLock::DatabaseLock(cl_MasterControl& master, const char* busyMessage) : master_(master) {
    if (!master_.databaseLock.try_lock()) {
        if (busyMessage) master_.console.out("%s", busyMessage);
        master_.databaseLock.lock();
    }
    master_.databaseBusy = 1;
}

DatabaseLock::~DatabaseLock() {
    master_.databaseBusy = 0;
    master_.databaseLock.unlock();
}

std::int32_t data::skillPointsFor(std::int32_t skill, std::uint32_t laps) {
    const std::int64_t points = static_cast<std::int64_t>(skill) * laps;
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(points > kMax ? kMax : points);
}

void cl_MasterControl::HoldEntry(data::cl_LfsPlayer& player) {
    if (!player.databaseEntry || player.holdsEntry) return;
    DatabaseLock lock(*this, nullptr);
    ++player.databaseEntry->onlineCount;
    player.holdsEntry = true;
}

void cl_MasterControl::ReleaseEntry(data::cl_LfsPlayer& player) {
    if (player.holdsEntry && player.databaseEntry) {
        DatabaseLock lock(*this, nullptr);
        if (player.databaseEntry->onlineCount > 0) --player.databaseEntry->onlineCount;
    }
    // Without its hold the entry may be cleaned away: forget every link into it.
    player.holdsEntry = false;
    player.databaseEntry = nullptr;
    player.combination = nullptr;
}

cl_MasterControl::StoredSkill cl_MasterControl::SetStoredSkill(std::string_view userName,
                                                               std::int32_t skill) {
    DatabaseLock lock(*this, "\nMCP: Database is busy!\n");
    PlayerEntry* entry = database.find(userName);
    if (!entry) return StoredSkill::Unknown;
    if (entry->isOnline()) return StoredSkill::Online;
    if (entry->skillLaps == 0) return StoredSkill::NoLaps;
    entry->skillPoints = skillPointsFor(skill, entry->skillLaps);
    databaseChanged = 1;
    return StoredSkill::Done;
}

int cl_MasterControl::CopyFile(const std::string& source, const std::string& target) {
    platform::File in;
    if (!in.openRead(source)) {
        console.out("\nCouldn't read (copy) file :%s", source.c_str());
        return -1;
    }
    platform::File out;
    if (!out.openWrite(target)) {
        console.out("\nCouldn't write file (copy) :%s", target.c_str());
        return -1;
    }
    std::vector<std::uint8_t> buf(kIoBlock);
    for (;;) {
        const int n = in.read(buf.data(), static_cast<int>(buf.size()));
        if (n < 0) return -1;
        if (n == 0) break;
        if (out.write(buf.data(), n) != n) {
            console.out("\nERROR: couldnt copy version!!");
            return -1;
        }
    }
    return 0;
}

int cl_MasterControl::ReadDatabase(const std::string& name) {
    databaseLoaded = 0;
    console.out("\nReading database from disk :%s", name.c_str());
    platform::File file;
    if (!file.openRead(path(name))) {
        console.out("\nCouldn't open databasefile for load :%s", name.c_str());
        return -1;
    }
    {
        Guard guard(*this);
        guard.take("\nDatabase is busy!");
        if (!database.empty()) {
            console.out("\nDeleting old database in ram");
            database.clear();
        }
    }

    std::uint8_t version[4];
    const int got = file.read(version, 4);
    if (got < 0) {
        console.out("\nError while reading version");
        return -1;
    }
    // An empty or shorter file has no version 2 either.
    if (got != 4 || static_cast<std::int32_t>(get32(version)) != kDatabaseVersion) {
        console.out("\nWrong DB-Version");
        return -1;
    }

    Guard guard(*this);
    guard.take("\nDatabase is busy!");
    database.invalidateIndex();
    database.bumpGeneration();  // a (re)load: every reference into the old content is gone
    console.out("\nReading :");
    BlockReader reader(file);
    const std::uint8_t* countBytes = reader.take(4);
    if (!countBytes) {
        console.out("\nError while reading database. Playernumber??");
        return -1;
    }
    const auto count = static_cast<std::int32_t>(get32(countBytes));
    Dots dots(console);
    for (std::int32_t i = 0; i < count; ++i) {
        // An entry is kept only when it was read whole, with all its records.
        const std::uint8_t* head = reader.take(kEntryBytes + 4);
        bool whole = head != nullptr;
        bool added = false;
        try {
            if (whole) {
                PlayerEntry& entry = database.entries.emplace_back();
                added = true;
                decodeEntry(head, entry);
                entry.onlineCount = 0;
                const auto combos = static_cast<std::int32_t>(get32(head + kEntryBytes));
                if (combos > 0) entry.combinations.reserve(static_cast<std::size_t>(std::min(combos, kReserveLimit)));
                for (std::int32_t c = 0; c < combos; ++c) {
                    const std::uint8_t* record = reader.take(kCombinationBytes);
                    if (!record) {
                        whole = false;
                        database.entries.pop_back();
                        break;
                    }
                    decodeCombination(record, entry.combinations.emplace_back());
                }
            }
        } catch (const std::bad_alloc&) {
            if (added) database.entries.pop_back();
            dots.flush();
            console.out("\nCouldnt get memory for database.");
            return -1;
        }
        if (!whole) {
            dots.flush();
            console.out("\nError while reading database. Playernumber??");
            return -1;
        }
        dots.dot();
    }
    dots.flush();
    file.close();
    databaseChanged = 0;
    databaseLoaded = 1;
    guard.release();
    console.out("\nDone\n\n");
    return 0;
}

// The file is never changed in place (a write replaces it whole), so a second
// name for it is as good as a copy and costs nothing; where the file system
// cannot link, it is copied byte for byte.
int cl_MasterControl::BackupFile(const std::string& source, const std::string& target) {
    if (!platform::fileExists(source)) return CopyFile(source, target);  // reports the failure
    platform::removeFile(target);
    if (platform::linkFile(source, target)) return 0;
    return CopyFile(source, target);
}

int cl_MasterControl::WriteDatabase(const std::string& name) {
    Guard guard(*this);
    const bool waited = !guard.tryTake();
    if (waited) guard.take(nullptr);
    if (database.empty()) return 0;  // the old file stays, and nothing is said
    console.out("\nWriting database to disk :%s", name.c_str());
    if (waited) console.out("\nDatabase is busy!");
    // Cleared before the entries are written, under the lock: a save that
    // lands after the lock is released sets it again for the next write.
    databaseChanged = 0;
    auto failed = [&]() {
        databaseChanged = 1;  // the change is still only in memory
        return -1;
    };

    const std::string target = path(name);
    console.out("\nCreating database-backup");
    console.out("%s", BackupFile(target, target + ".bak") == 0 ? "\nDone\n" : "\nFailed\n");

    // The new file is written beside the old one and replaces it only when
    // complete, so a failure or a crash mid-write never leaves a half-written
    // database behind.
    const std::string temp = target + ".new";
    platform::File file;
    if (!file.openWrite(temp)) {
        console.out("\nCouldn't open databasefile for save :%s", name.c_str());
        return failed();
    }
    auto fail = [&]() {
        file.close();
        platform::removeFile(temp);
        return failed();
    };

    std::uint8_t word[4];
    put32(word, static_cast<std::uint32_t>(kDatabaseVersion));
    if (file.write(word, 4) != 4) {
        console.out("\nERROR: couldnt save version!!");
        return fail();
    }
    console.out("\nWriting :");
    put32(word, static_cast<std::uint32_t>(database.count()));
    if (file.write(word, 4) != 4) {
        console.out("\nERROR: couldnt save entrycount!!");
        return fail();
    }
    console.out(".");

    BlockWriter writer(file);
    Dots dots(console);
    auto entryFailed = [&]() {
        dots.flush();
        console.out("\nCouldn't write db-entry :%s", name.c_str());
        return fail();
    };
    for (const PlayerEntry& entry : database.entries) {
        std::uint8_t* head = writer.reserve(kEntryBytes + 4);
        if (!head) return entryFailed();
        encodeEntry(entry, head);
        put32(head + kEntryBytes, static_cast<std::uint32_t>(entry.combinations.size()));
        for (const CombinationRecord& record : entry.combinations) {
            std::uint8_t* out = writer.reserve(kCombinationBytes);
            if (!out) return entryFailed();
            encodeCombination(record, out);
        }
        dots.dot();
    }
    if (!writer.flush() || !file.flushToDisk()) return entryFailed();
    dots.flush();
    file.close();
    if (!platform::replaceFile(temp, target)) {
        console.out("\nCouldn't open databasefile for save :%s", name.c_str());
        platform::removeFile(temp);
        return failed();
    }
    guard.release();
    console.out(" Done\n");
    return 0;
}

int cl_MasterControl::CleanDatabase() {
    Guard guard(*this);
    const bool waited = !guard.tryTake();
    if (waited) guard.take(nullptr);
    // Cleaning moves the combination records it keeps, so every reference
    // into the database is stale afterwards, whatever was removed.
    database.bumpGeneration();
    if (database.empty()) return 0;
    console.out("\nMCP:  Cleaning Database");
    if (waited) console.out("\nDatabase is busy!");
    const bool debug = debugging(*this);
    for (auto it = database.entries.begin(); it != database.entries.end();) {
        PlayerEntry& entry = *it;
        if (debug) console.out("\n%s -->", entry.userName.c_str());
        // An online player's records stay: his controller links to them.
        if (!entry.isOnline()) {
            entry.combinations.removeIf([](const CombinationRecord& r) { return r.laps == 0; });
        }
        const bool keep = entry.isOnline() || (entry.skillLaps != 0 && !entry.combinations.empty());
        it = keep ? std::next(it) : database.erase(it);
    }
    guard.release();
    console.out("\nDB-Cleaning done\n");
    return 0;
}

int cl_MasterControl::FindOrCreateEntry(data::cl_LfsPlayer* player, bool markOnline) {
    if (!player) {
        console.out("MCP-ERROR: LoadPlayer -> got an illegal playerpointer!!!\n");
        return -1;
    }
    DatabaseLock lock(*this, "\nMCP: Database is busy!\n");
    const bool debug = debugging(*this);
    try {
        if (PlayerEntry* found = database.find(player->userName.view())) {
            player->databaseEntry = found;
            found->lastSeen = clock.now();
            if (debug) console.out("\nDEBUG: LoadPlayer -> found a databaseentry for a new player\n");
            const bool wasOnline = found->isOnline();
            if (markOnline) {
                ++found->onlineCount;
                player->holdsEntry = true;
            }
            if (!wasOnline) return 2;
            if (debug) console.out("\nDEBUG: LoadPlayer -> Player is online? (Busy=1)\n");
            return 5;
        }
        PlayerEntry fresh;  // colour 3, position 170, chat level 2, "ori", the rest zero
        fresh.userName = player->userName;
        fresh.playerName = player->playerName;
        fresh.onlineCount = markOnline ? 1 : 0;
        const std::int32_t before = database.count();
        PlayerEntry& added = database.append(std::move(fresh));
        if (debug)
            console.out("\nDEBUG: created an entry  for a new player (Nr.%d) in central database\n",
                        before);
        player->databaseEntry = &added;
        player->holdsEntry = markOnline;
        databaseChanged = 1;
        return 3;
    } catch (const std::bad_alloc&) {
        console.out("\nMCP-ERROR:  can't create an entry for new player in central databse\n");
        return -1;
    }
}

data::CombinationRecord* cl_MasterControl::CreateCombination(data::cl_LfsPlayer* player) {
    if (!player) {
        console.out("ERROR: CreateRecord -> illegal playerpointer!!\n");
        return nullptr;
    }
    if (!player->databaseEntry) {
        console.out("ERROR: CreateRecord -> player has no entry in central database!\n");
        return nullptr;
    }
    DatabaseLock lock(*this, "\nMCP: Database is busy!\n");
    CombinationList& records = player->databaseEntry->combinations;
    const bool hadNone = records.empty();
    try {
        CombinationRecord& record = records.emplace_back();
        databaseChanged = 1;
        return &record;
    } catch (const std::bad_alloc&) {
        console.out("%s", hadNone ? "\nERROR: Couldn't create a comborecord in central database!\n"
                                  : "\nERROR: Couldn't create a comborecord in central database\n");
        return nullptr;
    }
}

}  // namespace tmx
