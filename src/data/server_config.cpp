#include "data/server_config.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "data/config_reader.h"
#include "platform/files.h"

namespace tmx::data {

namespace {

constexpr std::size_t kTokens = kServerConfigTokens;
constexpr std::size_t kTokenLength = kServerConfigTokenLength;
constexpr std::int32_t kFirstPitLap = 3;

std::int32_t clampTo(std::int32_t v, std::int32_t lo, std::int32_t hi) { return std::clamp(v, lo, hi); }

// Keys that set one number clamped into a range.
struct NumberKey {
    const char* key;
    std::int32_t ServerConfig::*field;
    std::int32_t min;
    std::int32_t max;
};

struct ByteKey {
    const char* key;
    std::uint8_t ServerConfig::*field;
    std::int32_t min;
    std::int32_t max;
};

struct ChannelKey {
    const char* key;
    MessageChannel ServerConfig::*field;
};

constexpr std::int32_t kNoMaximum = std::numeric_limits<std::int32_t>::max();

const NumberKey kNumberKeys[] = {
    {"starttype", &ServerConfig::starttype, 0, 2},
    {"rs_speed", &ServerConfig::rs_speed, 50, 200},
    {"maxerror", &ServerConfig::maxerror, 1, 50},
    {"maxdistance", &ServerConfig::maxdistance, 1, 70},
    {"starttime", &ServerConfig::starttime, 1, 120},
    {"slowtime", &ServerConfig::slowtime, 1, 60},
    {"closeuptime", &ServerConfig::closeuptime, 1, 50},
    {"acceltime", &ServerConfig::acceltime, 1, 120},
    {"letpasstime", &ServerConfig::letpasstime, 1, 50},
    {"overtaketime", &ServerConfig::overtaketime, 1, 50},
    {"killtime", &ServerConfig::killtime, 1, 120},
    {"sleepwarning", &ServerConfig::sleepwarning, 1, 300},
    {"sleepkill", &ServerConfig::sleepkill, 1, 300},
    {"wrongnodes", &ServerConfig::wrongnodes, 1, 400},
    {"wrongnodeskill", &ServerConfig::wrongnodeskill, 1, 400},
    {"wrongtime", &ServerConfig::wrongtime, 1, 300},
    {"wrongtimekill", &ServerConfig::wrongtimekill, 1, 300},
    {"startpitclose", &ServerConfig::startpitclose, 0, 1},
    {"autoopenpit", &ServerConfig::autoopenpit, -99, 300},
    {"autopitclose", &ServerConfig::autopitclose, 0, 99},
    {"autotrackclose", &ServerConfig::autotrackclose, 0, 1},
    {"pitbrnd", &ServerConfig::pitbrnd, 0, kNoMaximum},
    {"penaltysystem", &ServerConfig::penaltysystem, 0, 1},
    {"skillsystem", &ServerConfig::skillsystem, 0, 1},
    {"qsessiontime", &ServerConfig::qsessiontime, 0, 60},
    {"eventshowtime", &ServerConfig::eventshowtime, 0, 600},
};

const ByteKey kByteKeys[] = {
    {"qtype", &ServerConfig::qtype, 0, 1},
    {"qmaxlaps", &ServerConfig::qmaxlaps, 0, 99},
    {"qallowedtries", &ServerConfig::qallowedtries, 0, 99},
    {"qstartwindow", &ServerConfig::qstartwindow, 0, 60},
    {"qautospectate", &ServerConfig::qautospectate, 0, 1},
};

const ChannelKey kChannelKeys[] = {
    {"tmxmsg", &ServerConfig::tmxmsg},
    {"orgamsg", &ServerConfig::orgamsg},
    {"crewmsg", &ServerConfig::crewmsg},
    {"infomsg", &ServerConfig::infomsg},
};

constexpr std::int32_t kLeftMin = -1, kLeftMax = 199;
constexpr std::int32_t kTopMax = 199, kTimeTopMax = 180, kHeightMax = 15;

using Tokens = ConfigTokens<kTokens + 1>;

std::int32_t value(const Tokens& t, std::size_t i) { return decimalValue(t.token[i].c_str()); }

// Applies one line; false when no key matched it.
bool applyLine(const Tokens& t, ServerConfig& cfg, Console& console) {
    const std::string_view key = t.token[0].view();
    for (const NumberKey& k : kNumberKeys) {
        if (key != k.key) continue;
        cfg.*k.field = clampTo(value(t, 1), k.min, k.max);
        if (k.field == &ServerConfig::rs_speed) cfg.deriveSpeeds();
        return true;
    }
    for (const ByteKey& k : kByteKeys) {
        if (key != k.key) continue;
        cfg.*k.field = static_cast<std::uint8_t>(clampTo(value(t, 1), k.min, k.max));
        return true;
    }
    for (const ChannelKey& k : kChannelKeys) {
        if (key != k.key) continue;
        MessageChannel& c = cfg.*k.field;
        c.left = clampTo(value(t, 1), kLeftMin, kLeftMax);
        c.top = clampTo(value(t, 2), 0, kTopMax);
        c.height = clampTo(value(t, 3), 0, kHeightMax);
        return true;
    }
    if (key == "timemsg") {
        cfg.timemsg.left = clampTo(value(t, 1), kLeftMin, kLeftMax);
        cfg.timemsg.top = clampTo(value(t, 2), 0, kTimeTopMax);
        return true;
    }
    if (key == "pitbmsg") {
        cfg.pitbmsg.left = clampTo(value(t, 1), kLeftMin, kLeftMax);
        cfg.pitbmsg.top = clampTo(value(t, 2), 0, kTopMax);
        return true;
    }
    if (key == "pitmissedpen") {
        FixedString<kPitPenaltyMax + 1> command;
        command.assign(t.token[1].view(), kPitPenaltyMax);
        cfg.pitmissedpen.assign(command.str() + " ");
        return true;
    }
    if (key == "pitwindow") {
        if (!cfg.pitwindow.add(value(t, 1), value(t, 2)))
            console.out("\nmismatched pitwindow found - ignored!");
        return true;
    }
    return false;
}

}  // namespace

bool PitWindows::add(std::int32_t fromLap, std::int32_t toLap) {
    if (count == 0) {
        fromLap = std::max(fromLap, kFirstPitLap);
    } else {
        const std::int32_t lastTo = to[static_cast<std::size_t>(count - 1)];
        if (fromLap < lastTo || toLap < lastTo) return false;
    }
    if (fromLap > toLap || count >= kMaxPitWindows) return false;
    from[static_cast<std::size_t>(count)] = fromLap;
    to[static_cast<std::size_t>(count)] = toLap;
    ++count;
    return true;
}

std::vector<std::string_view> serverConfigKeys() {
    std::vector<std::string_view> keys;
    for (const NumberKey& k : kNumberKeys) keys.emplace_back(k.key);
    for (const ByteKey& k : kByteKeys) keys.emplace_back(k.key);
    for (const ChannelKey& k : kChannelKeys) keys.emplace_back(k.key);
    for (const char* k : {"timemsg", "pitbmsg", "pitmissedpen", "pitwindow", "end"}) keys.emplace_back(k);
    return keys;
}

std::vector<ServerKeyRanges> serverConfigRanges() {
    std::vector<ServerKeyRanges> keys;
    for (const NumberKey& k : kNumberKeys) keys.push_back({k.key, {{k.min, k.max}}});
    for (const ByteKey& k : kByteKeys) keys.push_back({k.key, {{k.min, k.max}}});
    for (const ChannelKey& k : kChannelKeys)
        keys.push_back({k.key, {{kLeftMin, kLeftMax}, {0, kTopMax}, {0, kHeightMax}}});
    keys.push_back({"timemsg", {{kLeftMin, kLeftMax}, {0, kTimeTopMax}}});
    keys.push_back({"pitbmsg", {{kLeftMin, kLeftMax}, {0, kTopMax}}});
    return keys;
}

std::string serverConfigName(int slot) { return "server_" + std::to_string(slot) + ".cfg"; }

bool isPlainConfigName(std::string_view name) {
    if (name.empty() || name == "." || name.find("..") != std::string_view::npos) return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':') return false;
    }
    // Windows opens the device for these names whatever the extension, and
    // ignores blanks before it ("nul .cfg").
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string upper;
    for (const char ch : base) upper += static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (upper == device) return false;
    const bool numbered = upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0);
    return !(numbered && upper[3] >= '1' && upper[3] <= '9');
}

int readServerConfig(const std::string& path, const std::string& name, int slot, ServerConfig& cfg,
                     Console& console) {
    console.out("\nTMX: Reading serverconfig for server %d from disk ", slot);
    console.out("\n     Filename: %s", name.c_str());
    platform::File file;
    platform::FileStatus status;
    if (!file.openReadRegular(path, status)) {
        if (status.kind == platform::FileKind::Missing) {
            console.out("\n     Couldn't open serverconfig \"%s\"\n", name.c_str());
            return kConfigUnreadable;
        }
        console.out("\n     \"%s\" is no regular file - ignored\n", name.c_str());
        return kConfigRefused;
    }
    if (status.size > kConfigFileMax) {
        console.out("\n     \"%s\" is larger than %u bytes - ignored\n", name.c_str(),
                    static_cast<unsigned>(kConfigFileMax));
        return kConfigRefused;
    }

    // Read into a copy: a file found over the cap on the way leaves the
    // settings as they were.
    ServerConfig next = cfg;
    next.pitwindow.clear();
    ConfigLineReader reader(file);
    ConfigLine line;
    Tokens tokens;
    // The end of the file ends the reading like "end".
    for (int lineNumber = 1; reader.next(line); ++lineNumber) {
        splitConfigLine(line.c_str(), tokens.token.data(), kTokens, kTokenLength);
        const auto& key = tokens.token[0];
        if (key == "end") break;
        if (applyLine(tokens, next, console) || key.empty()) continue;
        console.out("\nTMX: found unknown command in configfile (line %d)", lineNumber);
        console.out("\n     Command: %s", key.c_str());
    }
    file.close();
    if (reader.exceeded()) {
        console.out("\n     \"%s\" grew larger than %u bytes - ignored\n", name.c_str(),
                    static_cast<unsigned>(kConfigFileMax));
        return kConfigRefused;
    }
    cfg = next;
    console.out("\n     Reading serverconfig completed.\n");
    return kConfigRead;
}

}  // namespace tmx::data
