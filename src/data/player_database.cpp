#include "data/player_database.h"

#include <cstring>
#include <vector>

#include "master/master_control.h"
#include "platform/files.h"

namespace tmx {
namespace data {

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
    out[12] = e.online;
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
    e.online = in[12];
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

// Buffered sequential reads that report short reads exactly.
class FileReader {
public:
    explicit FileReader(platform::File& f) : file_(f) {}
    // True when all n bytes were read.
    bool read(std::uint8_t* out, std::size_t n) {
        while (n > 0) {
            if (pos_ == len_) {
                int got = file_.read(buf_.data(), static_cast<int>(buf_.size()));
                if (got <= 0) return false;
                pos_ = 0;
                len_ = static_cast<std::size_t>(got);
            }
            std::size_t take = std::min(n, len_ - pos_);
            std::memcpy(out, buf_.data() + pos_, take);
            pos_ += take;
            out += take;
            n -= take;
        }
        return true;
    }

private:
    platform::File& file_;
    std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(1 << 16);
    std::size_t pos_ = 0, len_ = 0;
};

// Buffered sequential writes.
class FileWriter {
public:
    explicit FileWriter(platform::File& f) : file_(f) {}
    std::uint8_t* reserve(std::size_t n) {
        if (buf_.size() - len_ < n && !flush()) return nullptr;
        std::uint8_t* p = buf_.data() + len_;
        len_ += n;
        return p;
    }
    bool flush() {
        if (len_ == 0) return ok_;
        if (file_.write(buf_.data(), static_cast<int>(len_)) != static_cast<int>(len_)) ok_ = false;
        len_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    platform::File& file_;
    std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(1 << 16);
    std::size_t len_ = 0;
    bool ok_ = true;
};

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
    std::vector<std::uint8_t> buf(1 << 16);
    for (;;) {
        int n = in.read(buf.data(), static_cast<int>(buf.size()));
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
    if (!database.entries.empty()) {
        console.out("\nDeleting old database in ram");
        database.entries.clear();
    }
    FileReader reader(file);
    std::uint8_t word[4];
    int n = file.read(word, 4);
    if (n < 0) {
        console.out("\nError while reading version");
        return -1;
    }
    if (n != 4 || static_cast<std::int32_t>(get32(word)) != kDatabaseVersion) {
        console.out("\nWrong DB-Version");
        return -1;
    }

    DatabaseLock lock(*this, "\nDatabase is busy!");
    console.out("\nReading :");
    if (!reader.read(word, 4)) {
        console.out("\nError while reading database. Playernumber??");
        return -1;
    }
    const std::int32_t count = static_cast<std::int32_t>(get32(word));
    std::array<std::uint8_t, kEntryBytes> entryBytes{};
    std::array<std::uint8_t, kCombinationBytes> comboBytes{};
    for (std::int32_t i = 0; i < count; ++i) {
        PlayerEntry entry;
        std::int32_t combos = 0;
        bool whole = reader.read(entryBytes.data(), kEntryBytes) && reader.read(word, 4);
        if (whole) {
            decodeEntry(entryBytes.data(), entry);
            entry.online = 0;
            combos = static_cast<std::int32_t>(get32(word));
            for (std::int32_t c = 0; whole && c < combos; ++c) {
                whole = reader.read(comboBytes.data(), kCombinationBytes);
                if (whole) {
                    entry.combinations.emplace_back();
                    decodeCombination(comboBytes.data(), entry.combinations.back());
                }
            }
        }
        // A truncated file keeps the whole entries read before it.
        if (!whole) {
            console.out("\nError while reading database. Playernumber??");
            return -1;
        }
        database.entries.push_back(std::move(entry));
        console.out(".");
    }
    file.close();
    console.out("\nDone\n\n");
    databaseChanged = 0;
    databaseLoaded = 1;
    return 0;
}

int cl_MasterControl::WriteDatabase(const std::string& name) {
    if (database.entries.empty()) return 0;
    console.out("\nWriting database to disk :%s", name.c_str());
    DatabaseLock lock(*this, "\nDatabase is busy!");

    const std::string target = path(name);
    console.out("\nCreating database-backup");
    console.out(CopyFile(target, target + ".bak") == 0 ? "\nDone\n" : "\nFailed\n");

    // The new file is written beside the old one and replaces it only when
    // complete, so a crash mid-write never leaves a half-written database.
    const std::string temp = target + ".new";
    platform::File file;
    if (!file.openWrite(temp)) {
        console.out("\nCouldn't open databasefile for save :%s", name.c_str());
        return -1;
    }
    FileWriter writer(file);
    auto fail = [&](void) {
        file.close();
        platform::removeFile(temp);
        return -1;
    };
    std::uint8_t* p = writer.reserve(4);
    if (!p) {
        console.out("\nERROR: couldnt save version!!");
        return fail();
    }
    put32(p, static_cast<std::uint32_t>(kDatabaseVersion));
    console.out("\nWriting :");
    p = writer.reserve(4);
    if (!p) {
        console.out("\nERROR: couldnt save entrycount!!");
        return fail();
    }
    put32(p, static_cast<std::uint32_t>(database.count()));
    console.out(".");
    for (const PlayerEntry& entry : database.entries) {
        p = writer.reserve(kEntryBytes + 4);
        if (p) {
            encodeEntry(entry, p);
            put32(p + kEntryBytes, static_cast<std::uint32_t>(entry.combinations.size()));
        }
        for (const CombinationRecord& record : entry.combinations) {
            if (!p) break;
            p = writer.reserve(kCombinationBytes);
            if (p) encodeCombination(record, p);
        }
        if (!p) {
            console.out("\nCouldn't write db-entry :%s", name.c_str());
            return fail();
        }
        console.out(".");
    }
    if (!writer.flush() || !file.flushToDisk()) {
        console.out("\nCouldn't write db-entry :%s", name.c_str());
        return fail();
    }
    file.close();
    if (!platform::replaceFile(temp, target)) {
        console.out("\nCouldn't open databasefile for save :%s", name.c_str());
        platform::removeFile(temp);
        return -1;
    }
    console.out(" Done\n");
    databaseChanged = 0;
    return 0;
}

int cl_MasterControl::CleanDatabase() {
    if (database.entries.empty()) return 0;
    console.out("\nMCP:  Cleaning Database");
    DatabaseLock lock(*this, "\nDatabase is busy!");
    const bool debug = debugSlot.load() != kNoDebugSlot;
    for (auto it = database.entries.begin(); it != database.entries.end();) {
        PlayerEntry& entry = *it;
        if (debug) console.out("\n%s -->", entry.userName.c_str());
        if (!entry.online) {
            auto& combos = entry.combinations;
            for (auto c = combos.begin(); c != combos.end();) {
                c = c->laps == 0 ? combos.erase(c) : std::next(c);
            }
        }
        const bool keep = entry.online || (entry.skillLaps != 0 && !entry.combinations.empty());
        it = keep ? std::next(it) : database.entries.erase(it);
    }
    console.out("\nDB-Cleaning done\n");
    return 0;
}

}  // namespace tmx
