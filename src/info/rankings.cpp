// Server rankings per car and track combination.
#include <algorithm>
#include <string>
#include <vector>

#include "common/console.h"
#include "controller/tmx_main.h"
#include "info/ranking_state.h"
#include "info/time_format.h"
#include "master/master_control.h"

namespace tmx {
namespace info {

namespace {

constexpr int kViewPlaces = 15;  // places a #top or #near view shows
constexpr std::size_t kNameRoom = 10;  // longest track or car name compared, terminator included

char upper(char ch) { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch; }

// A name in capitals, ready for comparing without regard to case. A name too
// long to be stored in a record matches nothing.
struct UpperName {
    UpperName() = default;
    explicit UpperName(std::string_view name) {
        if (name.size() >= kNameRoom) {
            fits = false;
            return;
        }
        for (std::size_t i = 0; i < name.size(); ++i) text[i] = upper(name[i]);
        length = name.size();
    }
    bool matches(std::string_view name) const {
        if (!fits || name.size() != length) return false;
        for (std::size_t i = 0; i < length; ++i)
            if (upper(name[i]) != text[i]) return false;
        return true;
    }
    std::array<char, kNameRoom> text{};
    std::size_t length = 0;
    bool fits = true;
};

}  // namespace

void RankingList::clear(const data::PlayerDatabase& db) {
    entries_.fill(RankEntry{});
    count_ = 0;
    generation_ = db.generation();
}

const RankEntry* RankingList::at(int i, const data::PlayerDatabase& db) const {
    if (i < 0 || i >= count(db)) return nullptr;
    return &entries_[static_cast<std::size_t>(i)];
}

int RankingList::Find(const data::PlayerDatabase& db, std::string_view userName) const {
    const int n = count(db);
    for (int i = 0; i < n; ++i) {
        const RankEntry& e = entries_[static_cast<std::size_t>(i)];
        if (e.player && e.player->userName.view() == userName) return i;
    }
    return -1;
}

std::int32_t RankingList::fullListCutoff() const {
    if (count_ < kRankingPlaces) return 0;
    const RankEntry& last = entries_[kRankingPlaces - 1];
    return last.combination ? last.combination->personalBest[0] : 0;
}

int RankingList::MakeEntry(const data::PlayerDatabase& db, const data::PlayerEntry& player,
                           const data::CombinationRecord& combination, bool lookUpOnly, Console* debug) {
    // References of an older database generation may point at freed records.
    if (!current(db)) clear(db);
    const int found = Find(db, player.userName.view());
    const int a = found < 0 ? kNotListed : found;
    if (lookUpOnly) {
        if (debug) debug->out(" --> oldPos: %d.", a + 1);
        return found;
    }
    const std::int32_t b = combination.personalBest[0];
    if (b == 0) return -1;
    const RankEntry placed{&player, &combination};
    if (count_ == 0) {
        entries_[0] = placed;
        count_ = 1;
        if (debug) debug->out(" --> first entry in rankinglist");
        return 0;
    }
    int c = count_ >= kRankingPlaces ? kNotListed : count_;
    for (int i = 0; i < count_; ++i) {
        const data::CombinationRecord* other = entries_[static_cast<std::size_t>(i)].combination;
        if (!other) continue;
        const std::int32_t best = other->personalBest[0];
        // Strictly slower only: an equal time keeps the earlier entry in front.
        if (best == 0 || best > b) {
            c = i;
            break;
        }
    }
    if (debug) debug->out(" --> old: %d., new: %d.", a == kNotListed ? 0 : a + 1, c == kNotListed ? 0 : c + 1);
    if (c == kNotListed && a == kNotListed) {
        if (debug) debug->out(" --> noEntry");
        return -1;
    }
    if (a < c) {
        if (debug) debug->out(" --> slower or equal");
        return a;
    }
    auto shiftDown = [this](int from, int to) {  // entries from .. to-1 one place down
        for (int i = to; i > from; --i) entries_[static_cast<std::size_t>(i)] = entries_[static_cast<std::size_t>(i - 1)];
    };
    if (a == c) {
        entries_[static_cast<std::size_t>(c)] = placed;
        if (debug) debug->out(" --> equal");
    } else if (a == kNotListed && c == count_) {
        entries_[static_cast<std::size_t>(c)] = placed;
        count_ = std::min(count_ + 1, kRankingPlaces);
        if (debug) debug->out(" --> at end");
    } else if (a != kNotListed && c < a) {
        shiftDown(c, a);
        entries_[static_cast<std::size_t>(c)] = placed;
        if (debug) debug->out(" --> better");
    } else if (a == kNotListed && c < count_) {
        shiftDown(c, count_);
        entries_[static_cast<std::size_t>(c)] = placed;
        count_ = std::min(count_ + 1, kRankingPlaces);
        if (count_ == kRankingPlaces) entries_[kRankingPlaces] = RankEntry{};  // the 51st fell out
        if (debug) debug->out(" --> first entry");
    } else {
        if (debug) debug->out("\nDEBUG: MakeRankEntry->couldnt resolve position\n");
        return -1;
    }
    return c;
}

int Cartable::used() const {
    int n = 0;
    while (n < kCartableSlots && !cars[static_cast<std::size_t>(n)].empty()) ++n;
    return n;
}

int Cartable::find(std::string_view car) const {
    const int n = used();
    for (int i = 0; i < n; ++i)
        if (cars[static_cast<std::size_t>(i)].view() == car) return i;
    return -1;
}

int CreateRanking(const data::PlayerDatabase& db, RankingList& list, const char* track, const char* car,
                  const Cartable& cartable, Console* debug) {
    if (debug) debug->out("\nDEBUG: Creating ranking for this track: %s", track ? track : "");
    list.clear(db);
    const UpperName wantedTrack(track ? track : "");
    std::array<UpperName, kCartableSlots> wantedCars{};
    int carCount = 0;
    if (car) {
        wantedCars[0] = UpperName(car);
        carCount = 1;
    } else {
        carCount = cartable.used();
        for (int i = 0; i < carCount; ++i)
            wantedCars[static_cast<std::size_t>(i)] = UpperName(cartable.cars[static_cast<std::size_t>(i)].view());
        // An empty cartable is never built from.
        if (carCount == 0) {
            wantedCars[0] = UpperName(kFallbackCar);
            carCount = 1;
        }
    }
    for (const data::PlayerEntry& player : db.entries) {
        for (const data::CombinationRecord& record : player.combinations) {
            const std::int32_t best = record.personalBest[0];
            if (best == 0) continue;
            // A full list built only from set times ends with its slowest one:
            // a time that is not faster changes nothing.
            const std::int32_t cutoff = list.fullListCutoff();
            if (cutoff != 0 && best >= cutoff) continue;
            if (!wantedTrack.matches(record.track.view())) continue;
            bool carWanted = false;
            for (int i = 0; i < carCount && !carWanted; ++i)
                carWanted = wantedCars[static_cast<std::size_t>(i)].matches(record.car.view());
            if (!carWanted) continue;
            list.MakeEntry(db, player, record, false, debug);
        }
    }
    if (debug) debug->out("--> Done\n");
    return list.count(db);
}

}  // namespace info

namespace {

std::string placeLine(int place, const info::RankEntry& e) {
    return "^7" + std::to_string(place + 1) + ". : " + FormatTime(e.combination->personalBest[0]).c_str() + " (" +
           e.combination->car.c_str() + ")  -  " + e.player->playerName.c_str();
}

// Up to 15 places of list from first on.
void addPlaces(std::vector<std::string>& lines, const info::RankingList& list, const data::PlayerDatabase& db,
               int first) {
    const int n = list.count(db);
    for (int i = first; i < n && i < first + info::kViewPlaces; ++i) {
        const info::RankEntry* e = list.at(i, db);
        if (e && e->player && e->combination) lines.push_back(placeLine(i, *e));
    }
}

}  // namespace

info::RankingList& TMX_MAIN::CurrentRanking(Console* debugSink) const {
    const data::PlayerDatabase& db = master->database;
    if (!ranking.list.current(db))
        info::CreateRanking(db, ranking.list, server.currentTrack.c_str(), nullptr, ranking.cartable, debugSink);
    return ranking.list;
}

void TMX_MAIN::BuildRankings() {
    if (ranking.cartable.used() == 0) ranking.cartable.cars[0] = info::kFallbackCar;
    if (!master) return;
    DatabaseLock lock(*master, nullptr);
    info::CreateRanking(master->database, ranking.list, server.currentTrack.c_str(), nullptr, ranking.cartable,
                        debugOn() ? &console_ : nullptr);
}

void TMX_MAIN::CheckCarSet() {
    if (usedEntries == 0) return;
    info::Cartable& t = ranking.cartable;
    t.state.fill(0);
    int last = t.used() - 1;
    for (int i = 0; i < usedEntries; ++i) {
        if (i == 0 && entry(0).isHost()) continue;
        const std::string_view car = entry(i).car.view();
        if (car.empty()) continue;
        const int slot = t.find(car);
        if (slot >= 0) {
            t.state[static_cast<std::size_t>(slot)] = 1;
        } else if (last + 1 < info::kCartableSlots) {  // a 100th car is left out of the ranking
            ++last;
            t.cars[static_cast<std::size_t>(last)] = car;
            t.state[static_cast<std::size_t>(last)] = 2;
        }
    }
    // Cars no longer driven leave the table; the last slot fills the gap and
    // is looked at again, so a car moved into the gap that is not in use
    // leaves as well.
    if (players > 0 && last > 0) {
        for (int i = 0; i <= last;) {
            const auto si = static_cast<std::size_t>(i);
            const auto sl = static_cast<std::size_t>(last);
            if (t.state[si] != 0) {
                ++i;
                continue;
            }
            t.cars[si] = t.cars[sl];
            t.state[si] = t.state[sl];
            t.cars[sl].clear();
            t.state[sl] = 0;
            --last;
        }
    }
    if (t.used() == 0) t.cars[0] = info::kFallbackCar;
    debug("\nDEBUG: Cartable has changed -> creating ranking\n");
    if (!master) return;
    DatabaseLock lock(*master, nullptr);
    info::CreateRanking(master->database, ranking.list, server.currentTrack.c_str(), nullptr, t,
                        debugOn() ? &console_ : nullptr);
}

int TMX_MAIN::ServerRank(int index) const {
    if (index < 0 || index >= usedEntries || !master) return -1;
    const data::cl_LfsPlayer& e = entry(index);
    if (!e.databaseEntry || e.ai) return -1;
    DatabaseLock lock(*master, nullptr);
    return CurrentRanking(nullptr).Find(master->database, e.databaseEntry->userName.view());
}

int TMX_MAIN::RankDriver(int ucid, int plid, bool lookUpOnly) {
    debug("\nDEBUG: RANK ");
    const int index = FindIndex(ucid, plid);
    if (index < 0) return 0;
    const data::cl_LfsPlayer& e = entry(index);
    if (!e.databaseEntry || !e.combination || e.ai || !master) return -1;
    Console* sink = debugOn() ? &console_ : nullptr;
    DatabaseLock lock(*master, nullptr);
    info::RankingList& list = CurrentRanking(sink);
    const int place = list.MakeEntry(master->database, *e.databaseEntry, *e.combination, lookUpOnly, sink);
    debug(" --> Ranks: %d", list.count(master->database));
    debug(" --> Done");
    return place;
}

std::vector<std::string> TMX_MAIN::TopLines(const char* car, const char* track) {
    const char* shownTrack = track ? track : server.currentTrack.c_str();
    std::vector<std::string> lines{"^7", std::string("^7ServerRanking for ") + shownTrack,
                                   "^7-----------------------"};
    if (!master) return lines;
    Console* sink = debugOn() ? &console_ : nullptr;
    const data::PlayerDatabase& db = master->database;
    DatabaseLock lock(*master, nullptr);
    if (!car && !track) {
        addPlaces(lines, CurrentRanking(sink), db, 0);
    } else {
        // Built on the spot: the controller's own list stays as it is.
        info::RankingList list;
        info::CreateRanking(db, list, shownTrack, car, ranking.cartable, sink);
        addPlaces(lines, list, db, 0);
    }
    return lines;
}

std::vector<std::string> TMX_MAIN::NearLines(int index) {
    std::vector<std::string> lines{"^7", "^7ServerRanking (near)", "^7----------------"};
    if (!master || index < 0 || index >= usedEntries) return lines;
    const data::cl_LfsPlayer& e = entry(index);
    const data::PlayerDatabase& db = master->database;
    DatabaseLock lock(*master, nullptr);
    const info::RankingList& list = CurrentRanking(debugOn() ? &console_ : nullptr);
    const int n = list.count(db);
    const int p = (e.databaseEntry && !e.ai) ? list.Find(db, e.databaseEntry->userName.view()) : -1;
    int first = 0;
    if (n > info::kViewPlaces) first = std::min(std::max(p - 7, 0), n - info::kViewPlaces);
    addPlaces(lines, list, db, first);
    return lines;
}

}  // namespace tmx
