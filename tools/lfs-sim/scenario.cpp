#include "lfs-sim/scenario.h"

#include <algorithm>
#include <array>

#include "insim/packets.h"
#include "lfs-sim/describe.h"
#include "platform/files.h"

namespace tmx::sim {

using namespace tmx::insim;

// ---- Values --------------------------------------------------------------------

namespace {

constexpr int kDefaultAwaitMs = 10000;
constexpr std::size_t kMaxScenarioBytes = 1 << 20;

bool parseInt(std::string_view text, long long& value) {
    if (text.empty() || text.size() > 9) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Seconds with up to three decimals ("1.5", "2s"), or milliseconds ("250ms").
bool parseTimeMs(std::string_view text, std::int64_t& ms) {
    std::int64_t scale = 1000;
    if (text.size() > 2 && text.substr(text.size() - 2) == "ms") {
        text.remove_suffix(2);
        scale = 1;
    } else if (text.size() > 1 && text.back() == 's') {
        text.remove_suffix(1);
    }
    const std::size_t dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    std::string_view frac = dot == text.npos ? std::string_view() : text.substr(dot + 1);
    if (dot != text.npos && (frac.empty() || scale == 1)) return false;
    if (frac.size() > 3) return false;
    long long w = 0, f = 0;
    if (!parseInt(whole, w)) return false;
    if (!frac.empty() && !parseInt(frac, f)) return false;
    for (std::size_t i = frac.size(); i < 3; ++i) f *= 10;
    ms = static_cast<std::int64_t>(w) * scale + (scale == 1 ? 0 : f);
    return ms <= 24LL * 3600 * 1000;
}

bool parseBool(std::string_view text, bool& value) {
    if (text == "1" || text == "yes" || text == "on" || text == "true") return value = true, true;
    if (text == "0" || text == "no" || text == "off" || text == "false") return value = false, true;
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whole hex bytes ("04", "0403000a"), appended to out.
bool parseHex(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return true;
}

// Named choices of a word-typed value.
struct Choice {
    const char* name;
    int value;
};

constexpr std::array<Choice, 6> kLeaveReasons = {{
    {"disco", LEAVR_DISCO},
    {"timeout", LEAVR_TIMEOUT},
    {"lostconn", LEAVR_LOSTCONN},
    {"kicked", LEAVR_KICKED},
    {"banned", LEAVR_BANNED},
    {"security", LEAVR_SECURITY},
}};
constexpr std::array<Choice, 5> kPenalties = {{
    {"none", PENALTY_NONE},
    {"dt", PENALTY_DT},
    {"sg", PENALTY_SG},
    {"30", PENALTY_30},
    {"45", PENALTY_45},
}};
constexpr std::array<Choice, 7> kPenaltyReasons = {{
    {"unknown", PENR_UNKNOWN},
    {"admin", PENR_ADMIN},
    {"wrongway", PENR_WRONG_WAY},
    {"falsestart", PENR_FALSE_START},
    {"speeding", PENR_SPEEDING},
    {"stopshort", PENR_STOP_SHORT},
    {"stoplate", PENR_STOP_LATE},
}};
constexpr std::array<Choice, 4> kSessionKinds = {{
    {"none", static_cast<int>(SessionKind::None)},
    {"practice", static_cast<int>(SessionKind::Practice)},
    {"qualify", static_cast<int>(SessionKind::Qualifying)},
    {"race", static_cast<int>(SessionKind::Race)},
}};
constexpr std::array<Choice, 3> kAwaitKinds = {{{"client", 0}, {"packet", 1}, {"disconnect", 2}}};
constexpr std::array<Choice, 2> kOnOff = {{{"on", 1}, {"off", 0}}};
// What `car` tells a driver: a motion, or to follow the car ahead or not.
constexpr int kFollowOn = 100, kFollowOff = 101;
constexpr std::array<Choice, 8> kCarActions = {{
    {"drive", static_cast<int>(Motion::Driving)},
    {"stop", static_cast<int>(Motion::Stopped)},
    {"reverse", static_cast<int>(Motion::Reversing)},
    {"spin", static_cast<int>(Motion::Spinning)},
    {"slide", static_cast<int>(Motion::Sliding)},
    {"wrongway", static_cast<int>(Motion::WrongWay)},
    {"follow", kFollowOn},
    {"nofollow", kFollowOff},
}};

struct ChoiceList {
    const Choice* items = nullptr;
    std::size_t count = 0;
    template <std::size_t N>
    constexpr ChoiceList(const std::array<Choice, N>& a) : items(a.data()), count(N) {}  // NOLINT
    constexpr ChoiceList() = default;

    bool find(std::string_view name, int& value) const {
        for (std::size_t i = 0; i < count; ++i)
            if (name == items[i].name) return value = items[i].value, true;
        return false;
    }
    std::string names() const {
        std::string all;
        for (std::size_t i = 0; i < count; ++i) all += (i ? "|" : "") + std::string(items[i].name);
        return all;
    }
};

// ---- Verb table ----------------------------------------------------------------

enum class ArgType { Int, Text, Time, Bool, Choice, PacketName, Hex };

struct ArgSpec {
    const char* key;  // nullptr for a positional word
    ArgType type;
    bool required;
    long long min = 0;  // Int: range; Text: most characters in max
    long long max = 0;
    ChoiceList choices{};
};

using RunFn = StepResult (*)(ScenarioRunner::Context&, const ScenarioStep&);
using CheckFn = std::string (*)(const ScenarioStep&);

struct VerbSpec {
    const char* name;
    const char* usage;
    std::vector<ArgSpec> keys;
    std::vector<ArgSpec> words;  // positional, in order
    bool restWords;              // the last word wanted repeats
    CheckFn check;               // cross-argument checks ("" = fine), or nullptr
    RunFn run;
};

StepResult ok() {
    return StepResult{};
}
StepResult fail(std::string why) {
    return StepResult{false, std::move(why)};
}
StepResult fromOutcome(const Outcome& o) {
    return o ? ok() : fail(o.error);
}

long long intArg(const ScenarioStep& s, const char* key, long long fallback) {
    const std::string* v = s.arg(key);
    long long value = fallback;
    if (v) parseInt(*v, value);
    return value;
}

std::string textArg(const ScenarioStep& s, const char* key, const char* fallback = "") {
    const std::string* v = s.arg(key);
    return v ? *v : std::string(fallback);
}

bool boolArg(const ScenarioStep& s, const char* key, bool fallback) {
    const std::string* v = s.arg(key);
    bool value = fallback;
    if (v) parseBool(*v, value);
    return value;
}

int choiceArg(const ScenarioStep& s, const char* key, const ChoiceList& list, int fallback) {
    const std::string* v = s.arg(key);
    int value = fallback;
    if (v) list.find(*v, value);
    return value;
}

int awaitTimeoutMs(const ScenarioStep& s) {
    const std::string* v = s.arg("timeout");
    std::int64_t ms = kDefaultAwaitMs;
    if (v) parseTimeMs(*v, ms);
    return static_cast<int>(ms);
}

// Player selectors shared by the verbs that act on one player.
const std::vector<ArgSpec> kPlayerKeys = {
    {"plid", ArgType::Int, false, 1, 255},
    {"pname", ArgType::Text, false, 1, 23},
    {"ucid", ArgType::Int, false, 0, 254},
};

std::string checkPlayerSelector(const ScenarioStep& s) {
    const int given = (s.arg("plid") ? 1 : 0) + (s.arg("pname") ? 1 : 0) + (s.arg("ucid") ? 1 : 0);
    return given == 1 ? std::string()
                      : "name the player with exactly one of plid=, pname= or ucid=";
}

const Player* selectPlayer(const ServerModel& m, const ScenarioStep& s, std::string& why) {
    const Player* p = nullptr;
    if (s.arg("plid")) {
        p = m.findPlayer(static_cast<int>(intArg(s, "plid", 0)));
        if (!p) why = "no player " + *s.arg("plid");
    } else if (s.arg("pname")) {
        p = m.findPlayerByName(*s.arg("pname"));
        if (!p) why = "no player named \"" + *s.arg("pname") + "\"";
    } else {
        p = m.playerOf(static_cast<int>(intArg(s, "ucid", -1)));
        if (!p) why = "connection " + *s.arg("ucid") + " has no player";
    }
    return p;
}

// Runs change on the player the step names.
template <typename Change>
StepResult onPlayer(ScenarioRunner::Context& c, const ScenarioStep& s, Change change) {
    return fromOutcome(c.sim.apply([&](ServerModel& m, Outbox& out) {
        std::string why;
        const Player* p = selectPlayer(m, s, why);
        return p ? change(m, *p, out) : Outcome::failure(why);
    }));
}

std::vector<ArgSpec> withPlayerKeys(std::vector<ArgSpec> more) {
    std::vector<ArgSpec> all = kPlayerKeys;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// The main text of a received packet, for `await packet ... text=`.
bool packetText(const ReceivedPacket& p, std::string& text) {
    const std::uint8_t* d = p.bytes.data();
    const std::size_t n = p.bytes.size();
    switch (p.type()) {
        case ISP_MST: {
            IS_MST x;
            if (!decode(d, n, x)) return false;
            text = x.Msg.str();
            return true;
        }
        case ISP_MSX: {
            IS_MSX x;
            if (!decode(d, n, x)) return false;
            text = x.Msg.str();
            return true;
        }
        case ISP_MTC: {
            IS_MTC x;
            if (!decode(d, n, x)) return false;
            text = x.Msg.str();
            return true;
        }
        case ISP_BTN: {
            IS_BTN x;
            if (!decode(d, n, x)) return false;
            text = x.Text.str();
            return true;
        }
        default:
            return false;
    }
}

// 1500 -> "1.5 s", 10000 -> "10 s".
std::string secondsText(std::int64_t ms) {
    std::string text = std::to_string(ms / 1000);
    std::int64_t frac = ms % 1000;
    if (frac != 0) {
        std::string digits = std::to_string(frac + 1000).substr(1);
        while (digits.back() == '0') digits.pop_back();
        text += "." + digits;
    }
    return text + " s";
}

std::string checkAwait(const ScenarioStep& s) {
    const std::string& kind = s.words[0];
    if (kind == "packet" && s.words.size() != 2)
        return "await packet needs a packet name (IS_MST, TINY_NCN ...)";
    if (kind != "packet" && s.words.size() != 1) return "await " + kind + " takes no packet name";
    if (kind != "packet" && s.arg("text")) return "text= belongs to await packet";
    return {};
}

StepResult runAwait(ScenarioRunner::Context& c, const ScenarioStep& s) {
    const int timeoutMs = awaitTimeoutMs(s);
    const std::string& kind = s.words[0];
    const std::string limit = " within " + secondsText(timeoutMs);
    if (kind == "client")
        return c.sim.waitForClient(timeoutMs) ? ok() : fail("no InSim client logged in" + limit);
    if (kind == "disconnect")
        return c.sim.waitForDisconnect(timeoutMs) ? ok()
                                                  : fail("the client stayed connected" + limit);
    PacketKind want;
    packetKindFromName(s.words[1], want);
    const std::string* text = s.arg("text");
    const std::size_t from = c.awaitCursor;
    std::size_t foundAt = 0;
    const bool found = c.sim.waitFor(
        [&](const SimState& st) {
            for (std::size_t i = from; i < st.received.size(); ++i) {
                const ReceivedPacket& p = st.received[i];
                if (!p.is(want.type, want.subType)) continue;
                std::string t;
                if (text && (!packetText(p, t) || t != *text)) continue;
                foundAt = i;
                return true;
            }
            return false;
        },
        timeoutMs);
    if (!found) return fail("no " + s.words[1] + " received" + limit);
    c.awaitCursor = foundAt + 1;
    return ok();
}

StepResult runSession(ScenarioRunner::Context& c, const ScenarioStep& s) {
    int kind = 0;
    ChoiceList(kSessionKinds).find(s.words[0], kind);
    SessionSpec wanted;
    wanted.kind = static_cast<SessionKind>(kind);
    wanted.laps = static_cast<int>(intArg(s, "laps", -1));
    wanted.qualMins = static_cast<int>(intArg(s, "mins", -1));
    wanted.track = textArg(s, "track");
    wanted.weather = static_cast<int>(intArg(s, "weather", -1));
    wanted.wind = static_cast<int>(intArg(s, "wind", -1));
    wanted.hostFlags = static_cast<int>(intArg(s, "hostflags", -1));
    wanted.numNodes = static_cast<int>(intArg(s, "nodes", -1));
    wanted.finish = static_cast<int>(intArg(s, "finish", -1));
    wanted.split1 = static_cast<int>(intArg(s, "split1", -1));
    wanted.split2 = static_cast<int>(intArg(s, "split2", -1));
    wanted.split3 = static_cast<int>(intArg(s, "split3", -1));
    return fromOutcome(c.sim.startSession(wanted));
}

StepResult runDrive(ScenarioRunner::Context& c, const ScenarioStep& s) {
    PlayerSpec wanted;
    wanted.ucid = static_cast<int>(intArg(s, "ucid", 0));
    wanted.plid = static_cast<int>(intArg(s, "plid", -1));
    wanted.ptype = static_cast<int>(intArg(s, "ptype", -1));
    wanted.ai = boolArg(s, "ai", false);
    wanted.pname = textArg(s, "pname");
    wanted.car = textArg(s, "car", "XRT");
    wanted.plate = textArg(s, "plate");
    wanted.skin = textArg(s, "skin");
    return fromOutcome(c.sim.joinTrack(wanted));
}

std::int64_t timeArg(const ScenarioStep& s, const char* key, std::int64_t fallback) {
    const std::string* v = s.arg(key);
    std::int64_t ms = fallback;
    if (v) parseTimeMs(*v, ms);
    return ms;
}

StepResult runRace(ScenarioRunner::Context& c, const ScenarioStep& s) {
    RaceSpec race;
    race.laps = static_cast<int>(intArg(s, "laps", race.laps));
    race.cars = static_cast<int>(intArg(s, "cars", -1));
    race.paceKmh = static_cast<double>(intArg(s, "pace", 120));
    race.spreadKmh = static_cast<double>(intArg(s, "spread", 2));
    race.follow = boolArg(s, "follow", false);
    return fromOutcome(c.sim.startRace(race));
}

std::string checkCar(const ScenarioStep& s) {
    std::string bad = checkPlayerSelector(s);
    if (!bad.empty()) return bad;
    const bool following = s.words[0] == "follow" || s.words[0] == "nofollow";
    if (s.arg("gap") && s.words[0] != "follow") return "gap= belongs to car ... follow";
    if (following && (s.arg("speed") || s.arg("angle") || s.arg("for")))
        return "speed=, angle= and for= belong to the motions, not to " + s.words[0];
    return {};
}

StepResult runCar(ScenarioRunner::Context& c, const ScenarioStep& s) {
    int kind = 0;
    ChoiceList(kCarActions).find(s.words[0], kind);
    if (kind == kFollowOn || kind == kFollowOff) {
        const double gapM = s.arg("gap") ? static_cast<double>(intArg(s, "gap", 0)) : kFollowGapM;
        return onPlayer(c, s, [&](ServerModel& m, const Player& p, Outbox&) {
            return m.followCar(p.plid, kind == kFollowOn, gapM);
        });
    }
    CarMotion motion;
    motion.kind = static_cast<Motion>(kind);
    motion.kmh = static_cast<double>(intArg(s, "speed", -1));
    motion.angleDeg = static_cast<double>(intArg(s, "angle", 0));
    motion.forMs = timeArg(s, "for", 0);
    return onPlayer(c, s, [&](ServerModel& m, const Player& p, Outbox&) {
        if (motion.kind != Motion::Driving || motion.forMs > 0)
            return m.setCarMotion(p.plid, motion);
        if (motion.kmh < 0 && p.carState.paceKmh <= 0)
            return Outcome::failure("car drive needs speed= (the car has no pace yet)");
        return m.driveCar(p.plid, motion.kmh >= 0 ? motion.kmh : p.carState.paceKmh);
    });
}

StepResult runPitstop(ScenarioRunner::Context& c, const ScenarioStep& s) {
    const int lap = static_cast<int>(intArg(s, "lap", 0));
    const int stopMs = static_cast<int>(timeArg(s, "stop", 10000));
    return onPlayer(c, s, [&](ServerModel& m, const Player& p, Outbox&) {
        return m.planPitStop(p.plid, lap, stopMs);
    });
}

StepResult runDriving(ScenarioRunner::Context& c, const ScenarioStep& s) {
    return fromOutcome(c.sim.apply([&](ServerModel& m, Outbox&) {
        DrivingSettings settings = m.drivingSettings();
        if (s.arg("nodelen")) settings.nodeLengthM = static_cast<double>(intArg(s, "nodelen", 5));
        settings.startDelayMs = static_cast<int>(timeArg(s, "startdelay", settings.startDelayMs));
        settings.pitSpeedKmh =
            static_cast<double>(intArg(s, "pitspeed", static_cast<long long>(settings.pitSpeedKmh)));
        m.setDrivingSettings(settings);
        if (!s.words.empty()) m.setDriving(s.words[0] == "on");
        return Outcome::success();
    }));
}

// Narration for whoever watches the log: the words joined by one blank, on a
// line of its own marked ">>". Nothing reaches the client.
StepResult runSay(ScenarioRunner::Context& c, const ScenarioStep& s) {
    if (!c.log) return ok();
    std::string text;
    for (const auto& w : s.words) text += (text.empty() ? "" : " ") + w;
    c.log->out("%8.3f >> %s\n", static_cast<double>(c.sim.elapsedMs()) / 1000.0,
               printable(text).c_str());
    return ok();
}

StepResult runRaw(ScenarioRunner::Context& c, const ScenarioStep& s) {
    std::vector<std::uint8_t> bytes;
    for (const auto& w : s.words) parseHex(w, bytes);
    return c.sim.sendRaw(bytes.data(), bytes.size()) ? ok() : fail("no client to send to");
}

// A verb that applies one model change to the selected player.
template <Outcome (ServerModel::*Change)(int, Outbox&)>
StepResult runOnPlayer(ScenarioRunner::Context& c, const ScenarioStep& s) {
    return onPlayer(c, s, [](ServerModel& m, const Player& p, Outbox& out) { return (m.*Change)(p.plid, out); });
}

template <Outcome (ServerModel::*Change)(int, Outbox&)>
VerbSpec playerVerb(const char* name, const char* usage) {
    return {name, usage, kPlayerKeys, {}, false, checkPlayerSelector, runOnPlayer<Change>};
}

const std::vector<VerbSpec>& verbs() {
    static const std::vector<VerbSpec> table = {
        {"say",
         "say TEXT (a narration line, printed as it comes)",
         {},
         {{nullptr, ArgType::Text, true, 1, 1000}},
         true,
         nullptr,
         runSay},
        {"wait",
         "wait TIME",
         {},
         {{nullptr, ArgType::Time, true}},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             std::int64_t ms = 0;
             parseTimeMs(s.words[0], ms);
             c.clock.sleepMs(static_cast<int>(ms));
             c.sim.updateCars();
             return ok();
         }},
        {"await",
         "await client|packet NAME|disconnect [text=TEXT] [timeout=TIME]",
         {{"timeout", ArgType::Time, false}, {"text", ArgType::Text, false, 0, 239}},
         {{nullptr, ArgType::Choice, true, 0, 0, kAwaitKinds},
          {nullptr, ArgType::PacketName, false}},
         false,
         checkAwait,
         runAwait},
        {"join",
         "join [ucid=N] uname=NAME [pname=NICK] [admin=BOOL]",
         {{"ucid", ArgType::Int, false, 1, 254},
          {"uname", ArgType::Text, true, 1, 23},
          {"pname", ArgType::Text, false, 1, 23},
          {"admin", ArgType::Bool, false}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             return fromOutcome(c.sim.join(static_cast<int>(intArg(s, "ucid", -1)),
                                           textArg(s, "uname"), textArg(s, "pname"),
                                           boolArg(s, "admin", false)));
         }},
        {"leave",
         "leave ucid=N [reason=disco|timeout|lostconn|kicked|banned|security]",
         {{"ucid", ArgType::Int, true, 1, 254},
          {"reason", ArgType::Choice, false, 0, 0, kLeaveReasons}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             return fromOutcome(c.sim.leave(
                 static_cast<int>(intArg(s, "ucid", 0)),
                 static_cast<std::uint8_t>(choiceArg(s, "reason", kLeaveReasons, LEAVR_DISCO))));
         }},
        {"rename",
         "rename ucid=N pname=NICK [plate=PLATE]",
         {{"ucid", ArgType::Int, true, 0, 254},
          {"pname", ArgType::Text, true, 1, 23},
          {"plate", ArgType::Text, false, 0, 8}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             const std::string* plate = s.arg("plate");
             return fromOutcome(c.sim.apply([&](ServerModel& m, Outbox& out) {
                 return m.renameConnection(static_cast<int>(intArg(s, "ucid", 0)),
                                           textArg(s, "pname"), plate ? plate->c_str() : nullptr,
                                           out);
             }));
         }},
        {"admin",
         "admin ucid=N [on=BOOL]",
         {{"ucid", ArgType::Int, true, 0, 254}, {"on", ArgType::Bool, false}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             return fromOutcome(
                 c.sim.setAdmin(static_cast<int>(intArg(s, "ucid", 0)), boolArg(s, "on", true)));
         }},
        {"drive",
         "drive ucid=N [car=CAR] [pname=NICK] [plid=N] [ai=BOOL] [ptype=N] [plate=PLATE] "
         "[skin=SKIN]",
         {{"ucid", ArgType::Int, true, 0, 254},
          {"car", ArgType::Text, false, 1, 4},
          {"pname", ArgType::Text, false, 1, 23},
          {"plid", ArgType::Int, false, 1, 255},
          {"ai", ArgType::Bool, false},
          {"ptype", ArgType::Int, false, 0, 255},
          {"plate", ArgType::Text, false, 0, 8},
          {"skin", ArgType::Text, false, 0, 15}},
         {},
         false,
         nullptr,
         runDrive},
        playerVerb<&ServerModel::playerLeaves>("spectate", "spectate plid=N|pname=NICK|ucid=N"),
        playerVerb<&ServerModel::playerToPits>("pit", "pit plid=N|pname=NICK|ucid=N"),
        playerVerb<&ServerModel::playerLeavesPits>("leave-pits", "leave-pits plid=N|pname=NICK|ucid=N"),
        {"takeover",
         "takeover plid=N|pname=NICK|ucid=N to=UCID",
         withPlayerKeys({{"to", ArgType::Int, true, 0, 254}}),
         {},
         false,
         checkPlayerSelector,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             const int to = static_cast<int>(intArg(s, "to", 0));
             return onPlayer(c, s, [to](ServerModel& m, const Player& p, Outbox& out) {
                 return m.takeOver(p.plid, to, out);
             });
         }},
        playerVerb<&ServerModel::carReset>("reset", "reset plid=N|pname=NICK|ucid=N"),
        {"penalty",
         "penalty plid=N|pname=NICK|ucid=N pen=none|dt|sg|30|45 [reason=admin|...]",
         withPlayerKeys({{"pen", ArgType::Choice, true, 0, 0, kPenalties},
                         {"reason", ArgType::Choice, false, 0, 0, kPenaltyReasons}}),
         {},
         false,
         checkPlayerSelector,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             const auto pen = static_cast<std::uint8_t>(choiceArg(s, "pen", kPenalties, 0));
             const auto why =
                 static_cast<std::uint8_t>(choiceArg(s, "reason", kPenaltyReasons, PENR_ADMIN));
             return onPlayer(c, s, [pen, why](ServerModel& m, const Player& p, Outbox& out) {
                 return m.setPenalty(p.plid, pen, why, out);
             });
         }},
        {"chat",
         "chat ucid=N text=TEXT",
         {{"ucid", ArgType::Int, true, 0, 254}, {"text", ArgType::Text, true, 1, 127}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             return fromOutcome(
                 c.sim.chat(static_cast<int>(intArg(s, "ucid", 0)), textArg(s, "text")));
         }},
        {"session",
         "session none|practice|qualify|race [laps=N] [mins=N] [track=CODE] [weather=N] [wind=N] "
         "[hostflags=N] [nodes=N] [finish=N] [split1=N] [split2=N] [split3=N]",
         {{"laps", ArgType::Int, false, 0, 1000},
          {"mins", ArgType::Int, false, 1, 255},
          {"track", ArgType::Text, false, 1, 5},
          {"weather", ArgType::Int, false, 0, 255},
          {"wind", ArgType::Int, false, 0, 2},
          {"hostflags", ArgType::Int, false, 0, 65535},
          {"nodes", ArgType::Int, false, 1, 65535},
          {"finish", ArgType::Int, false, 0, 65535},
          {"split1", ArgType::Int, false, 0, 65535},
          {"split2", ArgType::Int, false, 0, 65535},
          {"split3", ArgType::Int, false, 0, 65535}},
         {{nullptr, ArgType::Choice, true, 0, 0, kSessionKinds}},
         false,
         nullptr,
         runSession},
        {"race",
         "race laps=N [cars=N] [pace=KMH] [spread=KMH] [follow=BOOL]",
         {{"laps", ArgType::Int, true, 1, 1000},
          {"cars", ArgType::Int, false, 1, 32},
          {"pace", ArgType::Int, false, 1, 700},
          {"spread", ArgType::Int, false, 0, 100},
          {"follow", ArgType::Bool, false}},
         {},
         false,
         nullptr,
         runRace},
        {"car",
         "car plid=N|pname=NICK|ucid=N drive|stop|reverse|spin|slide|wrongway [speed=KMH] "
         "[angle=DEG] [for=TIME] | follow [gap=METRES] | nofollow",
         withPlayerKeys({{"speed", ArgType::Int, false, 0, 700},
                         {"angle", ArgType::Int, false, 1, 1440},
                         {"for", ArgType::Time, false},
                         {"gap", ArgType::Int, false, 1, 1000}}),
         {{nullptr, ArgType::Choice, true, 0, 0, kCarActions}},
         false,
         checkCar,
         runCar},
        {"pitstop",
         "pitstop plid=N|pname=NICK|ucid=N [lap=N] [stop=TIME]",
         withPlayerKeys({{"lap", ArgType::Int, false, 0, 65535}, {"stop", ArgType::Time, false}}),
         {},
         false,
         checkPlayerSelector,
         runPitstop},
        {"driving",
         "driving [on|off] [nodelen=METRES] [startdelay=TIME] [pitspeed=KMH]",
         {{"nodelen", ArgType::Int, false, 1, 100},
          {"startdelay", ArgType::Time, false},
          {"pitspeed", ArgType::Int, false, 1, 300}},
         {{nullptr, ArgType::Choice, false, 0, 0, kOnOff}},
         false,
         nullptr,
         runDriving},
        {"end-multiplayer",
         "end-multiplayer",
         {},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep&) {
             return fromOutcome(c.sim.multiplayerEnds());
         }},
        {"setup-screen",
         "setup-screen",
         {},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep&) {
             return fromOutcome(c.sim.backToSetup());
         }},
        {"entry-screen",
         "entry-screen",
         {},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep&) {
             return fromOutcome(c.sim.entryScreen());
         }},
        {"state",
         "state flags=N",
         {{"flags", ArgType::Int, true, 0, 65535}},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             return fromOutcome(
                 c.sim.setStateFlags(static_cast<std::uint16_t>(intArg(s, "flags", 0))));
         }},
        {"raw",
         "raw HEX... (e.g. raw 04 03 00 00)",
         {},
         {{nullptr, ArgType::Hex, true}},
         true,
         nullptr,
         runRaw},
        {"drop",
         "drop",
         {},
         {},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep&) {
             return c.sim.dropClient() ? ok() : fail("the client could not be dropped");
         }},
        {"listen",
         "listen on|off",
         {},
         {{nullptr, ArgType::Choice, true, 0, 0, kOnOff}},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             const bool on = s.words[0] == "on";
             return c.sim.setListening(on)
                        ? ok()
                        : fail(on ? "cannot listen again" : "cannot stop listening");
         }},
        {"keepalive",
         "keepalive TIME (0 = off)",
         {},
         {{nullptr, ArgType::Time, true}},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             std::int64_t ms = 0;
             parseTimeMs(s.words[0], ms);
             c.sim.setKeepAliveMs(static_cast<int>(ms));
             return ok();
         }},
        {"end",
         "end [GRACE-TIME]",
         {},
         {{nullptr, ArgType::Time, false}},
         false,
         nullptr,
         [](ScenarioRunner::Context& c, const ScenarioStep& s) {
             std::int64_t ms = 0;
             if (!s.words.empty()) parseTimeMs(s.words[0], ms);
             c.ended = true;
             c.graceMs = ms;
             return ok();
         }},
    };
    return table;
}

const VerbSpec* findVerb(std::string_view name) {
    for (const auto& v : verbs())
        if (name == v.name) return &v;
    return nullptr;
}

// Checks one value against its wanted; "" when it fits.
std::string checkValue(const ArgSpec& wanted, const std::string& what, const std::string& value) {
    switch (wanted.type) {
        case ArgType::Int: {
            long long v = 0;
            if (!parseInt(value, v) || v < wanted.min || v > wanted.max)
                return what + " must be a number from " + std::to_string(wanted.min) + " to " +
                       std::to_string(wanted.max) + ", not \"" + value + "\"";
            return {};
        }
        case ArgType::Text:
            if (static_cast<long long>(value.size()) < wanted.min) return what + " must not be empty";
            if (static_cast<long long>(value.size()) > wanted.max)
                return what + " is longer than " + std::to_string(wanted.max) + " characters";
            return {};
        case ArgType::Time: {
            std::int64_t ms = 0;
            return parseTimeMs(value, ms)
                       ? std::string()
                       : what + " must be a time (1.5, 2s, 250ms), not \"" + value + "\"";
        }
        case ArgType::Bool: {
            bool b = false;
            return parseBool(value, b) ? std::string()
                                       : what + " must be 1/0, yes/no, on/off or true/false";
        }
        case ArgType::Choice: {
            int v = 0;
            return wanted.choices.find(value, v) ? std::string()
                                               : what + " must be one of " + wanted.choices.names() +
                                                     ", not \"" + value + "\"";
        }
        case ArgType::PacketName: {
            PacketKind k;
            return packetKindFromName(value, k) ? std::string()
                                                : "unknown packet name \"" + value + "\"";
        }
        case ArgType::Hex: {
            std::vector<std::uint8_t> bytes;
            return parseHex(value, bytes)
                       ? std::string()
                       : what + " must be hex bytes (04 03 00 00), not \"" + value + "\"";
        }
    }
    return {};
}

// ---- Tokens --------------------------------------------------------------------

struct Token {
    std::string key;  // empty for a word
    std::string value;
};

bool isKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool tokenize(std::string_view line, std::vector<Token>& tokens, std::string& error) {
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (i < n) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n || line[i] == '#') break;  // a comment runs to the end of the line
        Token t;
        std::size_t k = i;
        while (k < n && isKeyChar(line[k])) ++k;
        if (k > i && k < n && line[k] == '=') {
            t.key = std::string(line.substr(i, k - i));
            i = k + 1;
        }
        if (i < n && line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < n && (line[i] == '"' || line[i] == '\\')) c = line[i++];
                t.value.push_back(c);
            }
            if (!closed) {
                error = "the quoted text has no closing \"";
                return false;
            }
            if (i < n && !blank(line[i])) {
                error = "a blank must follow the closing \"";
                return false;
            }
        } else {
            while (i < n && !blank(line[i])) {
                if (line[i] == '"') {
                    error = "a quote may only open a value";
                    return false;
                }
                t.value.push_back(line[i++]);
            }
        }
        tokens.push_back(std::move(t));
    }
    return true;
}

}  // namespace

// ---- Parsing -------------------------------------------------------------------

bool parseDuration(std::string_view text, std::int64_t& ms) {
    return parseTimeMs(text, ms);
}

const std::string* ScenarioStep::arg(std::string_view key) const {
    for (const auto& [k, v] : args)
        if (k == key) return &v;
    return nullptr;
}

bool parseScenarioLine(std::string_view line, int lineNumber, ScenarioStep& out, bool& hasStep,
                       ScenarioError& error) {
    hasStep = false;
    auto failLine = [&](std::string why) {
        error.line = lineNumber;
        error.message = std::move(why);
        return false;
    };
    std::vector<Token> tokens;
    std::string why;
    if (!tokenize(line, tokens, why)) return failLine(why);
    if (tokens.empty()) return true;

    ScenarioStep step;
    step.line = lineNumber;
    step.source = std::string(line);
    while (!step.source.empty() && (step.source.back() == '\r' || step.source.back() == ' '))
        step.source.pop_back();
    std::size_t t = 0;
    if (tokens[0].key.empty() && (tokens[0].value == "at" || tokens[0].value == "after")) {
        step.timing =
            tokens[0].value == "at" ? ScenarioStep::Timing::At : ScenarioStep::Timing::After;
        if (tokens.size() < 2 || !tokens[1].key.empty() ||
            !parseTimeMs(tokens[1].value, step.timeMs))
            return failLine("\"" + tokens[0].value + "\" needs a time in seconds (1.5, 2s, 250ms)");
        t = 2;
        if (t >= tokens.size()) return failLine("a verb must follow the time");
    }
    if (!tokens[t].key.empty())
        return failLine("the line must begin with a verb, not " + tokens[t].key + "=");
    step.verb = tokens[t].value;
    const VerbSpec* verb = findVerb(step.verb);
    if (!verb) return failLine("unknown verb \"" + step.verb + "\"");

    for (++t; t < tokens.size(); ++t) {
        Token& tok = tokens[t];
        if (tok.key.empty()) {
            const std::size_t index = step.words.size();
            if (index >= verb->words.size() && !(verb->restWords && !verb->words.empty()))
                return failLine(step.verb + ": unexpected word \"" + tok.value +
                                "\" (usage: " + verb->usage + ")");
            const ArgSpec& wanted = verb->words[std::min(index, verb->words.size() - 1)];
            std::string bad =
                checkValue(wanted, step.verb + " word " + std::to_string(index + 1), tok.value);
            if (!bad.empty()) return failLine(bad);
            step.words.push_back(std::move(tok.value));
        } else {
            auto wanted = std::find_if(verb->keys.begin(), verb->keys.end(),
                                     [&](const ArgSpec& a) { return tok.key == a.key; });
            if (wanted == verb->keys.end())
                return failLine(step.verb + ": unknown argument " + tok.key +
                                "= (usage: " + verb->usage + ")");
            if (step.arg(tok.key)) return failLine(step.verb + ": " + tok.key + "= given twice");
            std::string bad = checkValue(*wanted, tok.key + "=", tok.value);
            if (!bad.empty()) return failLine(bad);
            step.args.emplace_back(std::move(tok.key), std::move(tok.value));
        }
    }
    for (const auto& wanted : verb->keys)
        if (wanted.required && !step.arg(wanted.key))
            return failLine(step.verb + " needs " + wanted.key + "=");
    std::size_t requiredWords = 0;
    for (const auto& wanted : verb->words)
        if (wanted.required) ++requiredWords;
    if (step.words.size() < requiredWords) return failLine("usage: " + std::string(verb->usage));
    if (verb->check) {
        std::string bad = verb->check(step);
        if (!bad.empty()) return failLine(step.verb + ": " + bad);
    }
    out = std::move(step);
    hasStep = true;
    return true;
}

bool parseScenario(std::string_view text, Scenario& out, ScenarioError& error) {
    Scenario parsed;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == text.npos ? std::string_view() : text.substr(eol + 1);
        ++lineNumber;
        ScenarioStep step;
        bool hasStep = false;
        if (!parseScenarioLine(line, lineNumber, step, hasStep, error)) return false;
        if (hasStep) parsed.steps.push_back(std::move(step));
    }
    out = std::move(parsed);
    return true;
}

bool loadScenarioFile(const std::string& path, Scenario& out, ScenarioError& error) {
    platform::File file;
    if (!file.openRead(path)) {
        error = {0, "cannot open " + path};
        return false;
    }
    std::string text;
    std::array<char, 4096> chunk{};
    for (;;) {
        const int n = file.read(chunk.data(), static_cast<int>(chunk.size()));
        if (n < 0) {
            error = {0, "cannot read " + path};
            return false;
        }
        if (n == 0) break;
        text.append(chunk.data(), static_cast<std::size_t>(n));
        if (text.size() > kMaxScenarioBytes) {
            error = {0, path + " is larger than 1 MB"};
            return false;
        }
    }
    return parseScenario(text, out, error);
}

std::vector<std::string> scenarioVerbUsage() {
    std::vector<std::string> lines;
    for (const auto& v : verbs()) lines.emplace_back(v.usage);
    return lines;
}

// ---- Running -------------------------------------------------------------------

ScenarioRunner::ScenarioRunner(LfsSim& sim, platform::Clock& clock, Console* log)
    : ctx_{sim, clock, 0, false, 0, log} {}

StepResult ScenarioRunner::execute(const ScenarioStep& step) {
    const VerbSpec* verb = findVerb(step.verb);
    if (!verb) return fail("unknown verb \"" + step.verb + "\"");
    ctx_.sim.updateCars();  // the cars are where the clock says before the step acts
    // A narration line stands for itself; its step line would only repeat it.
    if (ctx_.log && step.verb != "say")
        ctx_.log->out("%8.3f == line %d: %s\n", static_cast<double>(ctx_.sim.elapsedMs()) / 1000.0,
                      step.line, printable(step.source.empty() ? step.verb : step.source).c_str());
    return verb->run(ctx_, step);
}

RunResult ScenarioRunner::run(const Scenario& scenario) {
    RunResult result;
    const std::int64_t start = ctx_.clock.nowMs();
    std::int64_t previous = start;
    for (const auto& step : scenario.steps) {
        std::int64_t due = previous;
        if (step.timing == ScenarioStep::Timing::At) due = start + step.timeMs;
        if (step.timing == ScenarioStep::Timing::After) due = previous + step.timeMs;
        const std::int64_t now = ctx_.clock.nowMs();
        if (due > now) ctx_.clock.sleepMs(static_cast<int>(due - now));
        StepResult r = execute(step);
        ++result.stepsRun;
        previous = ctx_.clock.nowMs();
        if (!r.ok) {
            result.ok = false;
            result.failedLine = step.line;
            result.error = "line " + std::to_string(step.line) + ": " + r.error;
            return result;
        }
        if (ctx_.ended) {
            if (ctx_.graceMs > 0) ctx_.clock.sleepMs(static_cast<int>(ctx_.graceMs));
            result.ended = true;
            return result;
        }
    }
    return result;
}

}  // namespace tmx::sim
