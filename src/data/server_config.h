// server_N.cfg: the race-control rules of one server. The controller holds one
// ServerConfig; its initialisers are the defaults, and every read of a file
// overwrites only the keys the file gives (the pit-window list excepted, which
// every read empties first).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/console.h"
#include "common/fixed_string.h"

namespace tmx::data {

constexpr int kMaxPitWindows = 10;
constexpr std::size_t kPitPenaltyMax = 50;  // characters of "pitmissedpen" before the blank
constexpr std::int32_t kOffLeft = -1;      // a channel left of -1 is switched off

// A message channel: left and top of its first line, number of lines.
struct MessageChannel {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t height = 0;
    bool isOff() const { return left == kOffLeft; }
};

struct ScreenPosition {
    std::int32_t left = 0;
    std::int32_t top = 0;
    bool isOff() const { return left == kOffLeft; }
};

// The speeds derived from the normal rolling-start speed, in km/h.
struct RollingSpeeds {
    std::int32_t minBeforePickup = 0;  // minimum speed before pickup of the pace
    std::int32_t maxBeforePickup = 0;  // maximum speed before pickup of the pace
    std::int32_t minAfterPickup = 0;   // minimum speed after pickup of the pace
};

constexpr std::int32_t kRollingSpeedFloor = 45;

constexpr RollingSpeeds deriveRollingSpeeds(std::int32_t normal) {
    const std::int32_t tenth = normal / 10;
    RollingSpeeds s;
    s.minBeforePickup = 6 * tenth < kRollingSpeedFloor ? kRollingSpeedFloor : 6 * tenth;
    s.maxBeforePickup = normal + tenth;
    s.minAfterPickup = normal - tenth < kRollingSpeedFloor ? kRollingSpeedFloor : normal - tenth;
    return s;
}

// Pit windows from-lap..to-lap, in rising order, at most ten.
struct PitWindows {
    std::int32_t count = 0;
    std::array<std::int32_t, kMaxPitWindows> from{};
    std::array<std::int32_t, kMaxPitWindows> to{};

    void clear() { count = 0; }
    // Applies the list rules: the first from-lap is raised to 3, each window
    // starts no earlier than the previous one ends and ends no earlier than it
    // starts, and there are at most ten. False when the window is refused.
    bool add(std::int32_t fromLap, std::int32_t toLap);
};

struct ServerConfig {
    // Race start.
    std::int32_t starttype = 2;  // 0 grand prix, 1 rolling, 2 random per race
    std::int32_t rs_speed = 100;
    RollingSpeeds rs_derived = deriveRollingSpeeds(100);
    std::int32_t maxerror = 4;
    std::int32_t maxdistance = 8;
    std::int32_t starttime = 20;
    std::int32_t slowtime = 3;
    std::int32_t closeuptime = 5;
    std::int32_t acceltime = 7;
    std::int32_t letpasstime = 4;
    std::int32_t overtaketime = 4;
    std::int32_t killtime = 5;

    // Conduct.
    std::int32_t sleepwarning = 15;
    std::int32_t sleepkill = 15;
    std::int32_t wrongnodes = 10;
    std::int32_t wrongnodeskill = 20;
    std::int32_t wrongtime = 5;
    std::int32_t wrongtimekill = 10;

    // Pit lane and track.
    std::int32_t startpitclose = 1;
    std::int32_t autoopenpit = -2;  // outside what the file can set
    std::int32_t autopitclose = 1;
    std::int32_t autotrackclose = 0;
    PitWindows pitwindow;
    FixedString<kPitPenaltyMax + 2> pitmissedpen{"/p_sg "};
    std::int32_t penaltysystem = 1;
    std::int32_t skillsystem = 1;

    // Message channels and displays.
    MessageChannel tmxmsg{50, 1, 9};
    MessageChannel orgamsg{50, 43, 8};
    MessageChannel crewmsg{20, 170, 7};  // its top is stored but each driver's team position is used
    MessageChannel infomsg{50, 1, 7};
    ScreenPosition timemsg{0, 60};  // lap row; the sector row is 10 below
    ScreenPosition pitbmsg{0, 90};
    std::int32_t pitbrnd = 3;  // pit board once in this many laps; 0 = never
    std::int32_t eventshowtime = 5;

    // Qualifying.
    std::uint8_t qtype = 0;
    std::int32_t qsessiontime = 60;
    std::uint8_t qmaxlaps = 99;
    std::uint8_t qallowedtries = 254;  // outside what the file can set
    std::uint8_t qstartwindow = 60;
    std::uint8_t qautospectate = 0;

    ScreenPosition timeLapRow() const { return timemsg; }
    ScreenPosition timeSectorRow() const { return {timemsg.left, timemsg.top + 10}; }

    // Sets the normal rolling-start speed as given (the caller has checked its
    // range) and derives the other three from it.
    void setRollingSpeed(std::int32_t normal) {
        rs_speed = normal;
        deriveSpeeds();
    }
    void deriveSpeeds() { rs_derived = deriveRollingSpeeds(rs_speed); }
};

// Every key a server file may hold, "end" included, in the order the reader
// tries them.
std::vector<std::string_view> serverConfigKeys();

// How the reader splits a line: at most nine tokens, each shorter than 250
// characters.
constexpr std::size_t kServerConfigTokens = 9;
constexpr std::size_t kServerConfigTokenLength = 250;

// The numbers a key takes, in argument order, each clamped into its range.
struct ValueRange {
    std::int32_t min;
    std::int32_t max;
};
struct ServerKeyRanges {
    std::string_view key;
    std::vector<ValueRange> values;
};
// Every key whose arguments are clamped numbers, with their ranges; the
// others ("pitwindow", "pitmissedpen", "end") have rules of their own.
std::vector<ServerKeyRanges> serverConfigRanges();

// "server_" + slot + ".cfg".
std::string serverConfigName(int slot);

// True when name is a plain file name, to be looked up in the program's own
// folder: not empty, no folder part ('/', '\\', "..", ':' for drives and
// streams), no control characters and no Windows device name (CON, NUL,
// COM1, ... also with an extension, as "nul.cfg").
bool isPlainConfigName(std::string_view name);

// What readServerConfig found.
constexpr int kConfigRead = 0;
constexpr int kConfigUnreadable = -1;  // missing or cannot be opened
constexpr int kConfigRefused = -2;     // not a regular file, or larger than kConfigFileMax

// Reads the file at path into cfg; name is the file name shown in the console
// texts and slot the controller's slot number. Only a regular file of at most
// kConfigFileMax bytes is read. Returns one of the values above; on anything
// but kConfigRead cfg is unchanged.
int readServerConfig(const std::string& path, const std::string& name, int slot, ServerConfig& cfg,
                     Console& console);

}  // namespace tmx::data
