// The chat commands that need LFS admin rights: debug output, reloading the
// server configuration, the kind of race start, the rolling-start speed,
// watching a driver, setting a driver's skill, stopping one or all
// controllers, and opening or closing the track and the pit lane.
#include <cstdint>
#include <limits>
#include <string>

#include "commands/command_handlers.h"
#include "controller/tmx_main.h"
#include "data/config_reader.h"
#include "data/server_config.h"
#include "master/master_control.h"

namespace tmx::commands {

namespace {

constexpr int kChatSpeedMin = 50;   // narrower than what the file allows
constexpr int kChatSpeedMax = 160;

std::string number(long long value) { return std::to_string(value); }

// The first entry whose user name or player name is name, or -1.
int findByName(const TMX_MAIN& c, const char* name) {
    for (int i = 0; i < c.usedEntries; ++i) {
        const data::cl_LfsPlayer& e = c.entry(i);
        if (e.userName == name || e.playerName == name) return i;
    }
    return -1;
}

void teamLineByStatus(TMX_MAIN& c, int teamLine, int minStatus, int maxStatus) {
    for (int i = 0; i < c.usedEntries; ++i) {
        const std::int32_t status = c.entry(i).race.driverStatus;
        if (status >= minStatus && status <= maxStatus)
            c.TeamLine(i, 1, c.LanguageLine(i, data::LB_TEAM, teamLine), 15000);
    }
}

void showSpeeds(const CommandContext& ctx) {
    const data::ServerConfig& cfg = ctx.c.config;
    ctx.reply("Inlap/Safety normal speed:" + number(cfg.rs_speed));
    ctx.reply("minimum speed before pickup pace:" + number(cfg.rs_derived.minBeforePickup));
    ctx.reply("maximum speed before pickup pace:" + number(cfg.rs_derived.maxBeforePickup));
    ctx.reply("minimum speed after pickup pace:" + number(cfg.rs_derived.minAfterPickup));
}

// setskill for a driver who is not connected: his stored entry, found,
// checked and changed in one locked step (no pointer into the database
// outlives the lock: an idle clean may free an entry nobody holds).
void setStoredSkill(const CommandContext& ctx, int skill) {
    cl_MasterControl* master = ctx.c.master;
    ctx.reply("^7player is not here. Searching in database.");
    if (!master) {
        ctx.reply("^7ERROR, couldnt find player. Need a target (LFS Worldname)");
        return;
    }
    switch (master->SetStoredSkill(ctx.arg(1), skill)) {
        case cl_MasterControl::StoredSkill::Unknown:
            ctx.reply("^7ERROR, not a known player. Need a target (LFS Worldname)");
            return;
        case cl_MasterControl::StoredSkill::Online:
            ctx.reply("^7ERROR, player is online on another TMX-server");
            return;
        case cl_MasterControl::StoredSkill::NoLaps: ctx.reply("^7ERROR, player has no driven laps"); return;
        case cl_MasterControl::StoredSkill::Done: break;
    }
    ctx.reply("^7...found the  player in database. Command done");
}

}  // namespace

void SetDebug(const CommandContext& ctx) {
    if (ctx.help({"^7with debug a server starts/stop debug-output",
                  "^7usage: #debug <x> (0 or 1, blank to show state)"}))
        return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    if (!ctx.hasArg(1)) {
        ctx.reply("^7Hello, i am server " + number(c.slot) +
                  (c.debugState.load() != DBG_OFF ? ". Debugging is on" : ". Debugging is off"));
        return;
    }
    // The master carries the request out on its next pass; only one server
    // shows debug output at a time.
    // The answer comes from the swap itself: a second read could already see
    // the master's switch and report "nothing to change" for a request that went out.
    const std::int32_t x = data::decimalValue(ctx.arg(1));
    std::int32_t expected = x > 0 ? DBG_OFF : DBG_ON;
    const bool posted =
        c.debugState.compare_exchange_strong(expected, x > 0 ? DBG_REQUEST_ON : DBG_REQUEST_OFF);
    ctx.reply(posted ? "^7sent the command to MCP" : "^7nothing to change!");
}

void LoadConfig(const CommandContext& ctx) {
    if (ctx.help({"^7loadconfig loads a serverconfig (default = server_x.cfg)",
                  "^7use it, if you have changed the config-file",
                  "^7You can enter a filename to load a specific config.",
                  "^7(dont forget to restart the session after loading)",
                  "^7usage: #loadconfig <filename>"}))
        return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    const std::string name = ctx.hasArg(1) ? std::string(ctx.arg(1)) : data::serverConfigName(c.slot);
    // Only a file of TMX's own folder: a path could name a device that never
    // ends (the controller would hang in the read) or any file of the machine.
    if (!data::isPlainConfigName(name)) {
        ctx.reply("^7ERROR, give a plain file name in the TMX folder");
        return;
    }
    const std::string path = c.master ? c.master->path(name) : name;
    // A file that cannot be read leaves every setting as it was.
    switch (data::readServerConfig(path, name, c.slot, c.config, c.console())) {
        case data::kConfigRead: break;
        case data::kConfigRefused: ctx.reply("^7ERROR, not a readable config file"); return;
        default: ctx.reply("^7ERROR, couldnt read the serverconfig!"); return;
    }
    ctx.reply("^7Done. serverconfig loaded. (pls restart session)");
    ctx.toAll(" ");
    ctx.toAll("^2The settings have changed by an admin");
    ctx.toAll("^2Enter '#info' for more info");
}

void SetStart(const CommandContext& ctx) {
    if (ctx.help({"^7set the starts to grandprix (gp), rollingstart (rs)", "^7or random (rnd)"})) return;
    if (!ctx.admin()) return;
    data::ServerConfig& cfg = ctx.c.config;
    if (ctx.argIs(1, "gp")) {
        cfg.starttype = 0;
        ctx.reply("^7Ok, all starts are grandprix-starts now");
    } else if (ctx.argIs(1, "rs")) {
        cfg.starttype = 1;
        ctx.reply("^7Ok, all starts are rolling-starts now");
    } else if (ctx.argIs(1, "rnd")) {
        cfg.starttype = 2;
        ctx.reply("^7Ok, all starts are random now");
    } else {
        ctx.reply("^7ERROR, need an option (gp,rs or rnd) or ?");
        return;
    }
    ctx.toAll(" ");
    ctx.toAll("^2The racestart was changed by an admin");
    ctx.toAll("^2Enter '#info' for more info");
}

void NextStart(const CommandContext& ctx) {
    if (ctx.help({"^7set the next start to grandprix (gp) or", "^7rollingstart (rs)"})) return;
    if (!ctx.admin()) return;
    if (ctx.argIs(1, "gp")) {
        ctx.c.start.nextStart = ST_GRAND_PRIX;
        ctx.reply("^7Ok, next start will be a grandprix-start");
        ctx.toAll(" ");
        ctx.toAll("^2The next racestart was changed to gp-start by an admin");
    } else if (ctx.argIs(1, "rs")) {
        ctx.c.start.nextStart = ST_ROLLING;
        ctx.reply("^7OK, next start will be a rolling-start");
        ctx.toAll(" ");
        ctx.toAll("^2The next racestart was changed to rollingstart by an admin");
    } else {
        ctx.reply("^7TMX: need an option (gp or rs) or ?");
    }
}

void SetSpeed(const CommandContext& ctx) {
    if (ctx.help({"^7set the normalspeed for rollingstart and safetycar.",
                  "^7values: 50-160 (kmh), none=show current setting"}))
        return;
    // Everybody may look at the speeds; only admins change them.
    if (ctx.hasArg(1) && !ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    if (c.session.raceState == RS_RACE && c.session.startPhase != SP_NONE) {
        ctx.reply("^7ERROR, not possible at this time. Wait for raceend");
        return;
    }
    if (!ctx.hasArg(1)) {
        ctx.reply("^7current speeds:");
    } else if (std::int32_t v = data::decimalValue(ctx.arg(1)); v > 0) {
        if (v < kChatSpeedMin) {
            ctx.reply("ERROR, min. speed is 50kmh. changed speed to 50kmh");
            v = kChatSpeedMin;
        } else if (v > kChatSpeedMax) {
            ctx.reply("^ERROR, max. speed is 160kmh. changed speed to 160kmh");
            v = kChatSpeedMax;
        }
        c.config.setRollingSpeed(v);
        ctx.reply("^7OK, new speeds:");
        ctx.toAll(" ");
        ctx.toAll("^2The inlapspeed was changed by an admin");
        ctx.toAll("^2Enter '#info rs-speed' for more info");
    }
    showSpeeds(ctx);
}

// Every check is made here; the tracking itself (forwarded channel lines,
// camera, watching label) belongs to player tracking.
void Watch(const CommandContext& ctx) {
    if (ctx.help({"^7With #watch you can see the TMX-messages for other players.",
                  "^7use: #watch <lfs-worldname>"}))
        return;
    TMX_MAIN& c = ctx.c;
    const data::cl_LfsPlayer& self = ctx.player();
    if (self.race.driverStatus >= DS_GARAGE && !self.ai) {
        ctx.reply("^7ERROR, watch not possible. Go to spectate first!!");
        return;
    }
    if (!ctx.admin("^7Error, watch not possible. Adminrights needed!!")) return;
    if (!ctx.hasArg(1)) {
        ctx.reply("^7ERROR, need a target (LFS Worldname)");
        return;
    }
    const int target = findByName(c, ctx.arg(1));
    if (target == -1) {
        ctx.reply("^7ERROR, not a player here. Need a target (LFS Worldname)");
        return;
    }
    if (target == ctx.sender) {
        ctx.reply("^7ERROR, you can't track yourself.");
        return;
    }
    if (c.entry(target).race.driverStatus <= DS_SPECTATING) {
        ctx.reply("^7ERROR, This driver isn't driving.");
        return;
    }
    if (c.entry(target).display.watchedBy != data::kNoEntry) {
        ctx.reply("^7ERROR, not possible. The watchslot is in use.");
        return;
    }
    if (self.display.watchTarget != data::kNoEntry) c.StopTracking(ctx.sender);
    c.TrackDriver(ctx.sender, target);
}

void NoWatch(const CommandContext& ctx) {
    if (ctx.help({"^7With #nowatch you stop watching other players.", "^7use: #nowatch"})) return;
    if (!ctx.admin("^ERROR, not possible. Adminrights needed!!")) return;
    if (ctx.player().display.watchTarget == data::kNoEntry) {
        ctx.reply("^7ERROR, not possible. You're watching none!");
        return;
    }
    ctx.c.StopTracking(ctx.sender);
}

// Skill is points per lap, so it is set through the points.
void SetSkill(const CommandContext& ctx) {
    if (ctx.help({"^7sets the skill to a given value", "^7use: #setkill <lfs-worldname> <skill> (0-10)"}))
        return;
    if (!ctx.admin("^7Error, setskill not possible. Adminrights needed!!")) return;
    if (!ctx.hasArg(1) || !ctx.hasArg(2)) {
        ctx.reply("^7ERROR, need a target (LFS Worldname) and a skill");
        return;
    }
    if (ctx.player().userName == ctx.arg(1)) {
        ctx.reply("^7ERROR, you cant set your own skill");
        return;
    }
    const std::int32_t skill = data::decimalValue(ctx.arg(2));
    if (skill < 0 || skill > 10) {
        ctx.reply("^7ERROR, skillrange is 0-10");
        return;
    }
    TMX_MAIN& c = ctx.c;
    const int target = findByName(c, ctx.arg(1));
    if (target == -1) {
        setStoredSkill(ctx, skill);
        return;
    }
    ctx.reply("^7...found the  player. Command done");
    data::cl_LfsPlayer& e = c.entry(target);
    if (!e.databaseEntry || !c.master) return;
    {
        DatabaseLock lock(*c.master, nullptr);
        e.databaseEntry->skillPoints = data::skillPointsFor(skill, e.databaseEntry->skillLaps);
        e.skillPoints = e.databaseEntry->skillPoints;
        c.master->MarkDatabaseChanged();
    }
    // A driver in the race gets his total back from his base points when he
    // leaves it; the new total becomes his base, or the admin's value would
    // be undone at his next pit.
    if (e.plid != 0) {
        e.skill.basePoints = e.skillPoints;
        e.skill.racePoints = 0;
    }
}

// The help of QUIT and KILLALL is for admins only.
void Quit(const CommandContext& ctx) {
    if (!ctx.admin("^7ERROR, Quit not possible. Adminrights needed!!")) return;
    if (ctx.helpAsked()) {
        ctx.reply("^7stops the controller for this server");
        ctx.reply("^7be careful!!!!. TMX will not restart for this server");
        return;
    }
    TMX_MAIN& c = ctx.c;
    c.runRequest = RUN_STOP;
    ctx.announce("^1TMX is closed by admin");
    // Every leaving player is saved; the loop then ends the controller at its
    // next pass and the master does not start it again.
    c.ClearAll();
}

void KillAll(const CommandContext& ctx) {
    if (!ctx.admin("^7ERROR, KILLALL not possible. Adminrights needed!!")) return;
    if (ctx.helpAsked()) {
        ctx.reply("^7stops all controllers for all servers");
        ctx.reply("^7be careful!!!!. TMX will not restart");
        return;
    }
    if (ctx.c.master) ctx.c.master->RequestKillAll();
}

void TrackClosed(const CommandContext& ctx) {
    if (ctx.help({"^7close the track. Pitlane will open, if it's closed"})) return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    c.session.trackClosed = 1;
    c.OpenPitLane();
    ctx.announce("^1Track is closed by admin");
    c.RefreshAllStatusBars();
    c.BroadcastOrgaText(0, 3, 10000);
    c.BroadcastOrgaText(1, 5, 10000);
    teamLineByStatus(c, 24, DS_ON_TRACK, DS_RACING);
    teamLineByStatus(c, 3, DS_PITS, DS_PITSTOP_DONE);
}

void TrackOpen(const CommandContext& ctx) {
    if (ctx.help({"^7open the track."})) return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    c.OpenTrack();
    ctx.announce("^2Track is opened by admin");
    c.RefreshAllStatusBars();
    c.BroadcastOrgaText(0, 7, 7000);
}

void PitClosed(const CommandContext& ctx) {
    if (ctx.help({"^7close the pitlane. Track will open, if it's closed"})) return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    c.session.pitLaneClosed = 1;
    if (c.session.trackClosed) c.OpenTrack();
    ctx.announce("^1Pitlane is closed by admin");
    c.RefreshAllStatusBars();
    c.BroadcastOrgaText(0, 2, 7000);
}

void PitOpen(const CommandContext& ctx) {
    if (ctx.help({"^7#open the pitlane."})) return;
    if (!ctx.admin()) return;
    TMX_MAIN& c = ctx.c;
    c.OpenPitLane();
    ctx.announce("^2Pitlane is opened by admin");
    c.RefreshAllStatusBars();
    c.BroadcastOrgaText(0, 6, 7000);
}

}  // namespace tmx::commands
