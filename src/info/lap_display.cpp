// Lap and sector times, and the pit board.
//
// A driver sees each sector and lap time with its difference to his best on
// this car and track; a better time becomes his best, is saved with the
// combination record and moves him in the server ranking.
#include <cstdio>
#include <iterator>
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "info/lap_display_state.h"
#include "info/time_format.h"
#include "master/master_control.h"

namespace tmx {

using data::cl_LfsPlayer;

namespace {

constexpr std::int64_t kTimeLifetimeMs = 8000;
constexpr std::int64_t kRankLifetimeMs = 5000;
constexpr std::int64_t kResultLifetimeMs = 5000;
constexpr int kChatPlaces = 20;  // places good enough to tell the whole server
constexpr int kLabelNameWidth = 26;

bool inTable(const TMX_MAIN& c, int index) { return index >= 0 && index < c.usedEntries; }

// A button still on screen takes only a new text; a difference that turns
// from better to worse must change its style too, so it is drawn anew.
void showButton(TMX_MAIN& c, const insim::ButtonRequest& b) {
    const insim::ButtonRecord* shown = c.link->FindButton(b.ucid, b.clickId);
    if (shown && shown->style != b.style) c.link->Delete(b.ucid, b.clickId);
    c.link->Show(b);
}

// Sends one button to the driver (not to an AI car) and to the admin who
// watches him.
void showToDriver(TMX_MAIN& c, int index, insim::ButtonRequest& b) {
    const cl_LfsPlayer& e = c.entry(index);
    b.ucid = e.ucid;
    if (!e.ai) showButton(c, b);
    if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < c.usedEntries) {
        b.ucid = c.entry(e.display.watchedBy).ucid;
        showButton(c, b);
    }
}

// One button of the time channel. Nothing while the channel is off, a start
// procedure runs or the server plays the city game, and never on the host's
// own screen in a multiplayer game.
void showTime(TMX_MAIN& c, int index, std::uint8_t clickId, std::uint8_t group, std::uint8_t style, int top,
              const std::string& text, std::int64_t lifetimeMs) {
    if (!inTable(c, index) || c.config.timemsg.isOff() || c.session.startPhase != SP_NONE || c.isCity()) return;
    const cl_LfsPlayer& e = c.entry(index);
    if (e.isHost() && (c.server.lastState.Flags & insim::ISS_MULTI)) return;
    insim::ButtonRequest b;
    b.clickId = clickId;
    b.groupId = group;
    b.style = style;
    b.left = static_cast<std::uint8_t>(c.config.timemsg.left);
    b.top = static_cast<std::uint8_t>(top);
    b.width = 100;
    b.height = 5;
    b.lifetime = lifetimeMs;
    b.text.assign(text);
    showToDriver(c, index, b);
}

void showSectorTime(TMX_MAIN& c, int index, std::int64_t lifetimeMs, std::int32_t time) {
    showTime(c, index, BG_SECTOR, BG_SECTOR, 67, c.config.timemsg.top + 10,
             std::string("^7Sect:  ") + FormatTime(time).c_str(), lifetimeMs);
}

void showSectorDifference(TMX_MAIN& c, int index, std::int64_t lifetimeMs, std::int64_t difference,
                          const char* suffix) {
    const bool better = difference <= 0;
    showTime(c, index, BG_SECTOR + 1, BG_SECTOR, better ? 68 : 69, c.config.timemsg.top + 14,
             std::string(better ? "^2Diff : " : "^1Diff : ") + FormatSignedTime(difference).c_str() + suffix,
             lifetimeMs);
}

void showLapTime(TMX_MAIN& c, int index, std::int64_t lifetimeMs, std::int32_t time) {
    showTime(c, index, BG_LAP, BG_LAP, 67, c.config.timemsg.top,
             std::string("^7Lap   : ") + FormatTime(time).c_str(), lifetimeMs);
}

void showLapDifference(TMX_MAIN& c, int index, std::int64_t lifetimeMs, std::int64_t difference,
                       const char* suffix) {
    const bool better = difference <= 0;
    showTime(c, index, BG_LAP + 1, BG_LAP, better ? 68 : 69, c.config.timemsg.top + 4,
             std::string(better ? "^2Diff:  " : "^1Diff:  ") + FormatSignedTime(difference).c_str() + suffix,
             lifetimeMs);
}

// The driver as the event monitor lists him: his name in a column of 26
// characters, then his car.
std::string driverLabel(const cl_LfsPlayer& e) {
    std::string label = e.playerName.str();
    if (label.size() < static_cast<std::size_t>(kLabelNameWidth)) label.resize(kLabelNameWidth, ' ');
    return label + " ^7[" + e.car.c_str() + "]  ";
}

// The new place in the ranking told to the driver, his watcher and, for the
// best places, the whole server.
void announceRank(TMX_MAIN& c, int index, int oldPlace, int newPlace) {
    const cl_LfsPlayer& e = c.entry(index);
    const char* name = e.playerName.c_str();
    if (newPlace == 0) {
        c.BroadcastSystemText(3, oldPlace == 0 ? 8 : 5, kRankLifetimeMs, name);
        return;
    }
    const bool movedUp = (newPlace < oldPlace && oldPlace > 0) || oldPlace == -1;
    if (newPlace > 0 && (movedUp || newPlace == oldPlace)) {
        const std::string text =
            fillPlaceholders(c.LanguageLine(index, data::LB_TMXM, movedUp ? 6 : 7), {name}) +
            std::to_string(newPlace + 1);
        c.SystemLine(index, 3, text.c_str(), kRankLifetimeMs);
        if (movedUp && newPlace < kChatPlaces) c.link->SendLongMessage(text.c_str());
        return;
    }
    if (c.debugOn()) c.console().out("\nDEBUG: Lap: -> couldnt resolve ranking\n");
}

}  // namespace

void TMX_MAIN::StoreSplitTimes(int index, const insim::IS_SPX& spx) {
    if (!inTable(*this, index)) return;
    cl_LfsPlayer& e = entry(index);
    DriverLapTimes& times = e.display.lapTimes;
    const auto splitTime = static_cast<std::int32_t>(spx.STime);
    const int sector = spx.Split;
    if (sector >= 1 && sector <= 4) {
        const std::int32_t from = sector == 1 ? 0 : times.lastSplitTime;
        e.currentLap[static_cast<std::size_t>(sector)] = splitTime - from;
    }
    times.lastSplitTime = splitTime;
    times.splitElapsed = spx.ETime;
}

void TMX_MAIN::StoreLapTimes(int index, const insim::IS_LAP& lap) {
    if (!inTable(*this, index)) return;
    cl_LfsPlayer& e = entry(index);
    DriverLapTimes& times = e.display.lapTimes;
    const auto lapTime = static_cast<std::int32_t>(lap.LTime);
    e.currentLap[0] = lapTime;
    // The last sector ends at the finish line.
    const int sector = e.race.splitsPassed + 1;
    if (sector >= 1 && sector <= 4)
        e.currentLap[static_cast<std::size_t>(sector)] = lapTime - (sector == 1 ? 0 : times.lastSplitTime);
    times.lastSplitTime = 0;
    e.lapCounter = lap.LapsDone;
}

int TMX_MAIN::ProcessSplit(int index, int sector, bool suppressEvent) {
    if (!inTable(*this, index) || sector < 1 || sector > 4) return -1;
    cl_LfsPlayer& e = entry(index);
    const DriverStatus status = e.race.driverStatus;
    const bool race = session.raceState == RS_RACE;
    if (status == DS_EARLY) return 0;
    if (race && session.startPhase != SP_NONE && sector == 1 && status != DS_RACING) return 2;

    const std::size_t k = static_cast<std::size_t>(sector);
    const std::int32_t time = e.currentLap[k];
    const std::int32_t best = e.bestSectors[k];

    // Not on a timed lap: no time to show, only the note that the split counted.
    if (status != DS_RACING && e.race.previousDriverStatus != DS_PITSTOP_DONE && !race) {
        if (session.trackClosed || isCity()) return -1;
        return sector <= 3 ? sector + 1 : -1;
    }

    showSectorTime(*this, index, kTimeLifetimeMs, time);
    if (!suppressEvent && sector <= 3) RaiseEvent(100 + sector, time, driverLabel(e).c_str());
    if (best == 0) {
        e.bestSectors[k] = time;
        return -1;
    }
    showSectorDifference(*this, index, kTimeLifetimeMs, static_cast<std::int64_t>(time) - best, " (pb)");
    if (time < best) {
        e.bestSectors[k] = time;
        return 0;
    }
    return -1;
}

int TMX_MAIN::ProcessLap(int index) {
    if (!inTable(*this, index)) return -1;
    cl_LfsPlayer& e = entry(index);
    const DriverStatus status = e.race.driverStatus;
    const bool race = session.raceState == RS_RACE;
    if (status == DS_EARLY) return 0;
    if ((race && session.startPhase != SP_NONE) || (status != DS_ON_TRACK && status != DS_RACING)) return -1;

    int result = -1;
    const std::int32_t time = e.currentLap[0];
    const std::int32_t best = e.personalBest[0];
    // The session laps do not yet count this lap: outside a race the first lap
    // of a session began somewhere on track and is no lap time.
    if (e.race.sessionLaps != 0 || race) {
        showLapTime(*this, index, kTimeLifetimeMs, time);
        RaiseEvent(201, time, driverLabel(e).c_str());
        if (best != 0) showLapDifference(*this, index, kTimeLifetimeMs, static_cast<std::int64_t>(time) - best, " (pb)");
    } else {
        result = 5;
    }

    const int oldPlace = RankDriver(e.ucid, e.plid, true);
    if (status == DS_RACING && (time < best || best == 0)) {
        result = best == 0 ? 6 : 1;
        e.personalBest = e.currentLap;
        if (master) e.SaveCombination(*master);
        const int newPlace = RankDriver(e.ucid, e.plid, false);
        if (newPlace >= 0 && !race && !isCity()) announceRank(*this, index, oldPlace, newPlace);
    }
    return result;
}

void TMX_MAIN::ShowResultMessage(int index, int code) {
    struct Line {
        data::LanguageBlockId block;
        int line;
    };
    static constexpr std::array<Line, 9> kLines = {{{data::LB_TIME, 0},
                                                    {data::LB_TIME, 2},
                                                    {data::LB_TEAM, 20},
                                                    {data::LB_TEAM, 21},
                                                    {data::LB_TEAM, 22},
                                                    {data::LB_TEAM, 23},
                                                    {data::LB_TIME, 1},
                                                    {data::LB_TIME, 3},
                                                    {data::LB_TIME, 4}}};
    if (code < 0 || code >= static_cast<int>(kLines.size()) || !inTable(*this, index)) return;
    const cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus <= DS_PITSTOP_DONE || e.race.driverStatus == DS_EARLY || e.ai || isCity()) return;
    if (session.raceState == RS_RACE && session.startPhase != SP_NONE) return;
    // The team channel keeps the host's own screen clear itself.
    const Line& l = kLines[static_cast<std::size_t>(code)];
    TeamLine(index, 0, LanguageLine(index, l.block, l.line), kResultLifetimeMs);
}

// ---- Pit board ----------------------------------------------------------------------

namespace {

constexpr std::int32_t kFarAwayMs = 10000;

std::string shortNameOf(const cl_LfsPlayer& e) {
    char name[32] = {};
    std::snprintf(name, sizeof name, "%s", e.playerName.c_str());
    lapdisplay::ShortName(name, sizeof name);
    return name;
}

// How far a car is from the driver: laps when more than one apart, else the
// time between their last splits.
std::string gapText(std::int64_t laps, std::int64_t ms) {
    if (laps < -1 || laps > 1) return "^7  LAP(s)";
    if (ms < -kFarAwayMs || ms > kFarAwayMs) return "^7  Far away";
    return std::string("^7  ~") + FormatTime(ms).c_str();
}

}  // namespace

void TMX_MAIN::ShowPitBoard(int index) {
    if (!inTable(*this, index)) return;
    cl_LfsPlayer& e = entry(index);
    DriverPosition& p = e.position;
    // Drawn or not, the board has had its one chance in this lap.
    const bool shown = session.raceState == RS_RACE && !config.pitbmsg.isOff() && p.trackRank != 0 &&
                       e.race.sessionLaps > 1 && e.race.driverStatus == DS_RACING;
    p.pitBoard = PB_SHOWN;
    if (!shown) return;

    const int ownLap = p.current.Lap;
    const std::int64_t ownElapsed = e.display.lapTimes.splitElapsed;
    const int ownPosition = p.currentValid(e.plid) ? p.current.Position : p.lastPosition;
    const int ahead = p.trackAhead != 0 ? FindIndex(-1, p.trackAhead) : -1;
    const int behind = p.trackBehind != 0 ? FindIndex(-1, p.trackBehind) : -1;

    std::string aheadText(12, ' ');
    if (ahead >= 0 && ahead != index && ahead != behind) {
        const cl_LfsPlayer& a = entry(ahead);
        aheadText = shortNameOf(a) + gapText(ownLap - a.position.current.Lap,
                                             ownElapsed - static_cast<std::int64_t>(a.display.lapTimes.splitElapsed));
    }
    std::string behindText(11, ' ');
    if (behind >= 0 && behind != index) {
        const cl_LfsPlayer& b = entry(behind);
        behindText = shortNameOf(b) + gapText(b.position.current.Lap - ownLap,
                                              static_cast<std::int64_t>(b.display.lapTimes.splitElapsed) - ownElapsed);
    }
    const std::string title = shortNameOf(e) + "^7  P" + std::to_string(ownPosition) + "  L" +
                              std::to_string(e.race.lastLapsDone + 1);

    const struct {
        int top;
        const std::string* text;
    } rows[] = {{0, &title}, {6, nullptr}, {10, &aheadText}, {16, nullptr}, {20, &behindText}};
    const std::string rule = "-----------------";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        insim::ButtonRequest b;
        b.clickId = static_cast<std::uint8_t>(BG_PIT_BOARD + i);
        b.groupId = BG_PIT_BOARD;
        b.style = 97;
        b.left = static_cast<std::uint8_t>(config.pitbmsg.left);
        b.top = static_cast<std::uint8_t>(config.pitbmsg.top + rows[i].top);
        b.width = 24;
        b.height = 6;
        b.lifetime = kTimeLifetimeMs;
        b.text.assign(rows[i].text ? *rows[i].text : rule);
        showToDriver(*this, index, b);
    }
}

}  // namespace tmx
