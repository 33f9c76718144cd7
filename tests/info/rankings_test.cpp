// Server rankings: placing a time in the list, building it from the database,
// the cartable, the #top and #near views, and rankings that follow a cleaned
// or reloaded database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "info/ranking_state.h"
#include "support/race_fixture.h"

namespace tmx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using data::CombinationRecord;
using data::PlayerDatabase;
using data::PlayerEntry;
using info::RankingList;

// A stored driver with one combination.
PlayerEntry& addDriver(PlayerDatabase& db, const std::string& user, const char* car, const char* track,
                       std::int32_t best, std::int32_t laps = 3) {
    PlayerEntry e;
    e.userName = user.c_str();
    e.playerName = ("^1" + user).c_str();
    e.skillLaps = static_cast<std::uint32_t>(laps);
    PlayerEntry& added = db.append(std::move(e));
    CombinationRecord& r = added.combinations.emplace_back();
    r.car = car;
    r.track = track;
    r.personalBest[0] = best;
    r.laps = laps;
    return added;
}

bool sameNoCase(std::string a, std::string b) {
    for (auto* s : {&a, &b})
        for (char& ch : *s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return a == b;
}

std::vector<std::string> usersOf(const RankingList& list, const PlayerDatabase& db) {
    std::vector<std::string> users;
    for (int i = 0; i < list.count(db); ++i) users.push_back(list.at(i, db)->player->userName.str());
    return users;
}

// Places in a list of 50 drivers d0..d49 with times 60000, 60100, ...
class RankList : public ::testing::Test {
protected:
    void SetUp() override { fill(); }
    void fill() {
        db.clear();
        list.clear(db);
        for (int i = 0; i < 50; ++i) {
            PlayerEntry& e = addDriver(db, "d" + std::to_string(i), "XRT", "BL1", 60000 + 100 * i);
            ASSERT_EQ(list.MakeEntry(db, e, e.combinations[0], false, nullptr), i);
        }
    }
    int place(PlayerEntry& e, bool lookUpOnly = false) {
        return list.MakeEntry(db, e, e.combinations.back(), lookUpOnly, nullptr);
    }
    PlayerDatabase db;
    RankingList list;
};

TEST_F(RankList, NewTimesTakeTheirPlaceAndTheFullListDropsItsLast) {
    struct Case {
        const char* what;
        std::int32_t time;
        int place;
        const char* at;    // who holds that place afterwards ("" = unchanged list)
        const char* last;  // the 50th afterwards
    } cases[] = {
        {"slower than all fifty", 65000, -1, "", "d49"},
        {"equal to the 50th is not faster", 64900, -1, "", "d49"},
        {"equal to the 5th goes behind it", 60400, 5, "new", "d48"},
        {"faster than the 50th", 64850, 49, "new", "new"},
        {"fastest of all", 50000, 0, "new", "d48"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        fill();
        PlayerEntry& e = addDriver(db, "new", "XRT", "BL1", k.time);
        EXPECT_EQ(place(e), k.place);
        EXPECT_EQ(list.count(db), 50);
        if (k.place >= 0) {
            EXPECT_EQ(list.at(k.place, db)->player->userName.str(), k.at);
        }
        EXPECT_EQ(list.at(49, db)->player->userName.str(), k.last);
        EXPECT_EQ(list.Find(db, "new"), k.place);
    }
}

TEST_F(RankList, ADriverImprovingFromTwelveToFourMovesUp) {
    PlayerEntry& d11 = *std::next(db.entries.begin(), 11);  // place 12
    d11.combinations[0].personalBest[0] = 60250;            // between d2 and d3
    const auto before = usersOf(list, db);
    EXPECT_EQ(place(d11), 3);
    const auto after = usersOf(list, db);
    ASSERT_EQ(after.size(), 50u);
    EXPECT_EQ(after[3], "d11");
    for (int i = 4; i <= 11; ++i) EXPECT_EQ(after[i], before[i - 1]) << i;
    for (int i = 12; i < 50; ++i) EXPECT_EQ(after[i], before[i]) << i;
    // A slower time of the same driver keeps his place; a look-up finds it.
    d11.combinations[0].personalBest[0] = 61000;
    EXPECT_EQ(place(d11), 3);
    EXPECT_EQ(place(d11, true), 3);
    EXPECT_EQ(list.at(3, db)->player->userName.str(), "d11");
}

// The list is built from the database: a walk of every record, each placed as
// it is met. Its short cut past times that cannot enter must not change it.
TEST(CreateRanking, TheListEqualsThePlainWalkOfTheDatabase) {
    PlayerDatabase db;
    std::mt19937 rng(7);
    const char* cars[] = {"XRT", "xrt", "FZR", "FXO"};
    const char* tracks[] = {"BL1", "bl1", "SO1"};
    for (int p = 0; p < 400; ++p) {
        PlayerEntry& e = addDriver(db, "p" + std::to_string(p), cars[rng() % 4], tracks[rng() % 3],
                                   static_cast<std::int32_t>(rng() % 2000 == 0 ? 0 : 60000 + rng() % 300));
        for (int k = 0; k < 3; ++k) {
            CombinationRecord& r = e.combinations.emplace_back();
            r.car = cars[rng() % 4];
            r.track = tracks[rng() % 3];
            r.personalBest[0] = static_cast<std::int32_t>(60000 + rng() % 300);
        }
    }
    info::Cartable cartable;
    cartable.cars[0] = "XRT";
    cartable.cars[1] = "FZR";
    struct Case {
        const char* car;
        std::vector<std::string> wanted;
    } cases[] = {{nullptr, {"XRT", "FZR"}}, {"fxo", {"FXO"}}};
    for (const Case& k : cases) {
        RankingList built, walked;
        EXPECT_EQ(info::CreateRanking(db, built, "Bl1", k.car, cartable, nullptr), 50);
        walked.clear(db);
        for (const PlayerEntry& e : db.entries)
            for (const CombinationRecord& r : e.combinations) {
                bool carWanted = false;
                for (const auto& w : k.wanted) carWanted |= (sameNoCase(r.car.str(), w));
                if (carWanted && sameNoCase(r.track.str(), "BL1"))
                    walked.MakeEntry(db, e, r, false, nullptr);
            }
        ASSERT_EQ(built.count(db), walked.count(db));
        for (int i = 0; i < built.count(db); ++i) {
            EXPECT_EQ(built.at(i, db)->player, walked.at(i, db)->player) << i;
            EXPECT_EQ(built.at(i, db)->combination, walked.at(i, db)->combination) << i;
        }
    }
}

TEST(CreateRanking, AnEmptyCartableBuildsForFoxAndAStaleListIsEmpty) {
    PlayerDatabase db;
    addDriver(db, "fox", "FOX", "BL1", 70000);
    addDriver(db, "xrt", "XRT", "BL1", 60000);
    RankingList list;
    EXPECT_EQ(info::CreateRanking(db, list, "BL1", nullptr, info::Cartable{}, nullptr), 1);
    EXPECT_THAT(usersOf(list, db), ElementsAre("fox"));
    db.erase(db.entries.begin());
    EXPECT_EQ(list.count(db), 0) << "references into an older database are never handed out";
    EXPECT_EQ(list.at(0, db), nullptr);
    EXPECT_EQ(list.Find(db, "xrt"), -1);
}

// ---- The controller ------------------------------------------------------------

class Rankings : public RaceFixture {
protected:
    void SetUp() override {
        RaceFixture::SetUp();
        startRunning();
        track = c.server.currentTrack.str();
    }
    // What a connection gets privately for a typed line.
    std::vector<std::string> say(int ucid, const std::string& text) {
        markChat();
        EXPECT_TRUE(simulator->chat(ucid, text).ok);
        barrier();
        return privateTo(ucid);
    }
    // A place as shown; stored drivers are named "^1" + user name.
    static std::string line(int place, const char* time, const char* car, const std::string& name) {
        return "^7" + std::to_string(place) + ". : " + time + " (" + car + ")  -  " + name;
    }
    std::vector<std::string> top(const std::vector<std::string>& places, const std::string& on = "") {
        std::vector<std::string> lines{" ", "^7", "^7ServerRanking for " + (on.empty() ? track : on),
                                       "^7-----------------------"};
        lines.insert(lines.end(), places.begin(), places.end());
        return lines;
    }
    std::string track;
};

TEST_F(Rankings, TopShowsTheCarsInUseOrTheAskedCombination) {
    addDriver(master.database, "slow", "XRT", track.c_str(), 91000);
    addDriver(master.database, "fast", "xrt", track.c_str(), 83456);
    addDriver(master.database, "other", "FZR", track.c_str(), 80000);
    addDriver(master.database, "away", "FZR", "SO1", 75000);
    driver(1, "alice", "Alice", "XRT");  // XRT is the car in use
    const std::string fast = line(1, "1:23:456", "xrt", "^1fast"), slow = line(2, "1:31:000", "XRT", "^1slow");
    EXPECT_EQ(say(1, "#top"), top({fast, slow}));
    EXPECT_EQ(say(1, "#top fzr"), top({line(1, "1:20:000", "FZR", "^1other")}));
    EXPECT_EQ(say(1, "#top FZR so1"), top({line(1, "1:15:000", "FZR", "^1away")}, "so1"));
    EXPECT_EQ(say(1, "#top  SO1"), top({}, "SO1")) << "a track alone: the cars in use there";
    EXPECT_EQ(say(1, "#top"), top({fast, slow})) << "the controller's own list is untouched";
}

TEST_F(Rankings, NearShowsFifteenPlacesAroundTheDriver) {
    for (int i = 0; i < 20; ++i)
        addDriver(master.database, i == 18 ? std::string("alice") : "d" + std::to_string(i), "XRT", track.c_str(),
                  60000 + 1000 * i);
    driver(1, "alice", "Alice", "XRT");
    const auto lines = say(1, "#near");
    ASSERT_EQ(lines.size(), 4u + 15u);
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 4),
                ElementsAre(" ", "^7", "^7ServerRanking (near)", "^7----------------"));
    EXPECT_EQ(lines[4], line(6, "1:05:000", "XRT", "^1d5"));
    EXPECT_EQ(lines.back(), line(20, "1:19:000", "XRT", "^1d19"));
    EXPECT_EQ(c.ServerRank(c.FindIndex(1, -1)), 18);
}

TEST_F(Rankings, RankDriverPlacesTheDriversCombination) {
    addDriver(master.database, "bob", "XRT", track.c_str(), 70000);
    const int plid = driver(1, "alice", "Alice", "XRT");
    const int index = c.FindIndex(1, -1);
    EXPECT_EQ(c.RankDriver(1, 99, false), 0) << "no such driver";
    EXPECT_EQ(c.RankDriver(1, plid, true), -1) << "no time yet";
    EXPECT_EQ(c.ServerRank(index), -1);
    ASSERT_NE(c.entry(index).combination, nullptr);
    c.entry(index).personalBest[0] = 65000;
    c.entry(index).SaveCombination(master);
    EXPECT_EQ(c.RankDriver(1, plid, false), 0);
    EXPECT_EQ(c.ServerRank(index), 0);
    EXPECT_EQ(say(1, "#top"), top({line(1, "1:05:000", "XRT", "Alice"), line(2, "1:10:000", "XRT", "^1bob")}));
}

// Ranking entries refer to database records that a clean (the master's, when
// every server is idle, spectators typing #top included) or a reload frees or
// moves: the next use must see the database as it is then.
TEST_F(Rankings, ACleanOrReloadBetweenTwoTopCallsIsFollowed) {
    const std::string gone = line(1, "1:00:000", "XRT", "^1gone"), kept = line(2, "1:02:000", "XRT", "^1kept");
    for (const bool reload : {false, true}) {
        SCOPED_TRACE(reload ? "reload" : "clean");
        master.database.clear();
        addDriver(master.database, "gone", "XRT", track.c_str(), 60000, 0);  // no counted laps: cleaned away
        PlayerEntry& stays = addDriver(master.database, "kept", "XRT", "SO1", 0, 0);
        CombinationRecord& r = stays.combinations.emplace_back();  // moves when the record before it goes
        r.car = "XRT";
        r.track = track.c_str();
        r.personalBest[0] = 62000;
        r.laps = 4;
        stays.skillLaps = 4;
        joinGuest(1, "watcher", "Watcher");  // only a spectator: the server is idle
        barrier();
        c.ranking.cartable.cars[0] = "XRT";  // driven before everybody went to watch
        c.BuildRankings();
        EXPECT_EQ(say(1, "#top"), top({gone, kept}));
        if (reload) {
            // Nobody may hold an entry across a reload (it happens at start-up).
            ASSERT_TRUE(simulator->leave(1).ok);
            barrier();
            ASSERT_EQ(master.WriteDatabase("tmx_db.rdb"), 0);
            ASSERT_EQ(master.ReadDatabase("tmx_db.rdb"), 0);
            std::vector<std::string> shown = c.TopLines(nullptr, nullptr);
            shown.insert(shown.begin(), " ");  // the reply's leading blank
            EXPECT_EQ(shown, top({gone, kept}));
        } else {
            ASSERT_EQ(master.CleanDatabase(), 0);
            EXPECT_EQ(say(1, "#top"), top({line(1, "1:02:000", "XRT", "^1kept")}));
            ASSERT_TRUE(simulator->leave(1).ok);
            barrier();
        }
    }
}

TEST_F(Rankings, TheCartableFollowsTheCarsInUse) {
    info::Cartable& t = c.ranking.cartable;
    auto cars = [&] {
        std::vector<std::string> names;
        for (int i = 0; i < t.used(); ++i) names.push_back(t.cars[static_cast<std::size_t>(i)].str());
        return names;
    };
    c.BuildRankings();  // as at the controller's start
    EXPECT_THAT(cars(), ElementsAre("FOX")) << "nobody drives: the fallback car";
    addDriver(master.database, "old", "fox", track.c_str(), 70000);
    c.BuildRankings();
    EXPECT_EQ(c.TopLines(nullptr, nullptr).size(), 4u) << "the stored FOX time is ranked";
    driver(1, "alice", "Alice", "XRT");
    const int bob = driver(2, "bob", "Bob", "FZR");
    driver(3, "carl", "Carl", "FXO");
    EXPECT_THAT(cars(), ElementsAre("XRT", "FZR", "FXO")) << "FOX left once real cars came";
    ASSERT_TRUE(simulator->leave(1).ok);
    ASSERT_TRUE(simulator->leave(3).ok);
    barrier();
    EXPECT_THAT(cars(), ElementsAre("FZR"));
    // Two cars out of use at once (left over from a time nobody drove): the
    // one moved into the first gap leaves as well.
    t.cars[0] = "XRT";
    t.cars[1] = "FZR";
    t.cars[2] = "FXO";
    c.CheckCarSet();
    EXPECT_THAT(cars(), ElementsAre("FZR"));
    // With nobody on track the table stays as it is.
    t.cars[1] = "XRT";
    ASSERT_TRUE(simulator->spectate(bob).ok);
    ASSERT_TRUE(simulator->leave(2).ok);
    barrier();
    EXPECT_THAT(cars(), ElementsAre("FZR", "XRT"));
}

}  // namespace
}  // namespace tmx::testing
