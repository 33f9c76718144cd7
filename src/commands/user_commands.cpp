// The chat commands every driver may use: rankings, server information, his
// own display settings, his language, his skill, the track name and the
// city-game commands.
#include <string>

#include "commands/command_handlers.h"
#include "controller/tmx_main.h"
#include "data/config_reader.h"
#include "master/master_control.h"

namespace tmx::commands {

namespace {

std::string number(long long value) { return std::to_string(value); }

// ---- info pages ----

void qualifyingPage(const CommandContext& ctx) {
    const data::ServerConfig& cfg = ctx.c.config;
    ctx.reply(" ");
    ctx.reply("^2Rules for qualifying: ");
    if (cfg.qtype == 0) {
        ctx.reply("^3no special rules in qualy ");
        return;
    }
    ctx.reply("^3TMX is controlling the qualy with special rules");
    if (cfg.qsessiontime > 0) {
        const std::string t = number(cfg.qsessiontime);
        ctx.reply("^2Sessiontime: " + t);
        ctx.reply("You have " + t + " minute(s) for the qualy.");
    }
    if (cfg.qmaxlaps != 0) {
        const std::string n = number(cfg.qmaxlaps);
        ctx.reply("^2Sessionlaps: " + n);
        ctx.reply("You have " + n + " laps for the qualy (inlap counts)");
    }
    if (cfg.qstartwindow != 0) {
        const std::string m = number(cfg.qstartwindow);
        ctx.reply("^2Startwindow: " + m);
        ctx.reply("You have to start in the first  " + m + " minute(s)");
        ctx.reply("After this time the track is closed!");
    }
    if (cfg.qallowedtries != 0) {
        const std::string n = number(cfg.qallowedtries);
        ctx.reply("^2Tries (cross pitexit): " + n);
        ctx.reply("You're allowed to cross the pitexit " + n + " time(s)");
        ctx.reply("After this tries you can't enter the track again!");
    }
    if (cfg.qautospectate == 1) {
        ctx.reply("^2Autospec: 1");
        ctx.reply("^3You will be send to spectate after finishing your qualy");
    }
}

void rollingStartPage(const CommandContext& ctx) {
    const data::ServerConfig& cfg = ctx.c.config;
    ctx.reply("^2Rollingstart:");
    ctx.reply("follow the instructions at the bottom of the screen");
    ctx.reply("dont pass a car before crossing the finishline in inlap");
    ctx.reply("Leader: hold the shown speed!");
    ctx.reply("All others: follow the next car, dont pass!!");
    ctx.reply("^3Inlap/Safety normal speed: ^2" + number(cfg.rs_speed));
    ctx.reply("^3minimum speed before pickup pace: ^2" + number(cfg.rs_derived.minBeforePickup));
    ctx.reply("^3maximum speed before pickup pace: ^2" + number(cfg.rs_derived.maxBeforePickup));
    ctx.reply("^3minimum speed after pickup pace: ^2" + number(cfg.rs_derived.minAfterPickup));
}

void pitWindowPage(const CommandContext& ctx) {
    const data::PitWindows& windows = ctx.c.config.pitwindow;
    if (windows.count <= 0) {
        ctx.reply("^7Pitwindow:  Not Active");
        return;
    }
    ctx.reply("^2active Pitwindows:");
    ctx.reply("(you must stop in a pitwindow or you will get a penalty)");
    for (int i = 0; i < windows.count && i < data::kMaxPitWindows; ++i) {
        const auto w = static_cast<std::size_t>(i);
        ctx.reply("^7" + number(i + 1) + ". Lap " + number(windows.from[w]) + " - " + number(windows.to[w]));
    }
}

void generalPage(const CommandContext& ctx) {
    const data::ServerConfig& cfg = ctx.c.config;
    ctx.reply("^7General serversettings:");
    ctx.reply("^7Details and news in the forum of this server's community");
    ctx.reply("^7-----------------------------------------------------------------");
    if (cfg.qtype == 1) {
        ctx.reply("^7Qualy: ^2Special settings actice!");
        ctx.reply("^3enter '#info q' for more info");
    } else {
        ctx.reply("^7Qualy: No special settings!");
    }
    ctx.reply(" ");
    switch (cfg.starttype) {
        case 2:
            ctx.reply("^7Racestart:  ^2Random (gp-start or rollingstart)");
            ctx.reply("^3enter '#info rs' for more infos");
            break;
        case 1:
            ctx.reply("^7Racestart:  ^2Rollingstart");
            ctx.reply("^3enter '#info rs' for more infos");
            break;
        case 0: ctx.reply("^7Racestart:  GP-start / normal lfs"); break;
        default: break;
    }
    ctx.reply(" ");
    if (cfg.pitwindow.count > 0) {
        ctx.reply("^7Pitwindow:  ^2Active");
        ctx.reply("^3enter '#info pw' for more info");
    } else {
        ctx.reply("^7Pitwindow:  Not Active");
    }
    ctx.reply(" ");
    ctx.reply("^7Watch your crewmessages! They will help you!");
}

// ---- language ----

// The languages in loading order, four to a message.
void languageList(const CommandContext& ctx) {
    const data::LanguageTable* table = ctx.c.master ? &ctx.c.master->languages : nullptr;
    const int count = table ? table->count() : 0;
    std::string message;
    for (int i = 0; i < count; ++i) {
        if (i % 4 == 0) {
            if (!message.empty()) ctx.reply(message);
            message = "^7";
        }
        if (i == 0) {
            message += "ori (original)";
        } else if (const data::cl_Language* language = table->language(i)) {
            message += std::string(", ") + language->code() + " (" +
                       language->text(data::LB_CREATOR, 1).c_str() + ")";
        }
    }
    if (!message.empty()) ctx.reply(message);
}

// Long name, author and date of the sender's language.
void languageCreatorLines(const CommandContext& ctx) {
    const TMX_MAIN& c = ctx.c;
    ctx.reply(std::string("long name: ") + c.LanguageLine(ctx.sender, data::LB_CREATOR, 1));
    ctx.reply(std::string("created ") + c.LanguageLine(ctx.sender, data::LB_CREATOR, 3) + " by " +
              c.LanguageLine(ctx.sender, data::LB_CREATOR, 2));
}

void currentLanguageLines(const CommandContext& ctx) {
    ctx.reply(" ");
    ctx.reply(std::string("^2your current language: ") + ctx.player().languageCode.c_str());
    languageCreatorLines(ctx);
}

}  // namespace

// Without a car or track the controller's own ranking; a car, a track or both
// give a ranking built on the spot (the track defaults to the current one, the
// cars to those in use).
void Top(const CommandContext& ctx) {
    if (ctx.help({"^7shows the serverranking for a combo",
                  "^7useage: #top alone shows the current track/running cars",
                  "^7useage: #top <car> (<track>) to see a specific car/combo"}))
        return;
    const char* car = ctx.hasArg(1) ? ctx.arg(1) : nullptr;
    const char* track = ctx.hasArg(2) ? ctx.arg(2) : nullptr;
    for (const std::string& line : ctx.c.TopLines(car, track)) ctx.reply(line);
}

void Near(const CommandContext& ctx) {
    if (ctx.help({"^7shows the serverranking near your position"})) return;
    for (const std::string& line : ctx.c.NearLines(ctx.sender)) ctx.reply(line);
}

void Info(const CommandContext& ctx) {
    if (ctx.help({"^7shows different infos specified with the 2nd value",
                  "^7q (qualy), pw (pitwindow) or rs (rollingstart)"}))
        return;
    if (ctx.argIs(1, "q")) {
        qualifyingPage(ctx);
    } else if (ctx.argIs(1, "rs")) {
        rollingStartPage(ctx);
    } else if (ctx.argIs(1, "race")) {
        ctx.reply("Sorry, Sorry. This info isn't finished");
    } else if (ctx.argIs(1, "pw")) {
        pitWindowPage(ctx);
    } else {
        generalPage(ctx);
    }
}

// The team settings are saved with the player when he leaves.
void TeamColour(const CommandContext& ctx) {
    if (ctx.help({"^7changes the color of your teammessages"})) return;
    ctx.c.ChangeTeamColour(ctx.sender);
}

void TeamPosition(const CommandContext& ctx) {
    if (ctx.help({"^7changes the position of your teammessages"})) return;
    ctx.c.ChangeTeamPosition(ctx.sender);
}

void ChatLevel(const CommandContext& ctx) {
    if (ctx.helpAsked()) {
        ctx.reply(" ");
        ctx.reply("^7changes the textoutput from full to minimum");
        switch (ctx.player().chatLevel) {
            case 0: ctx.reply("^7Your Setting: Minimum"); break;
            case 1: ctx.reply("^7Your Setting: Medium"); break;
            default: ctx.reply("^7Your Setting: Full"); break;  // above 2 counts as full
        }
    } else {
        ctx.c.ChangeChatLevel(ctx.sender);
    }
    ctx.reply("Full:  all messages activated");
    ctx.reply("Medium:  switch off fun-messages");
    ctx.reply("Minimum: only important messages activated");
}

void EventMonitor(const CommandContext& ctx) {
    const bool deactivated = ctx.c.config.eventshowtime == 0;
    if (ctx.helpAsked()) {
        ctx.reply(" ");
        ctx.reply("^7switch the eventmonitor on/off");
        ctx.reply("^7If you move the car, the monitor will turn off.");
        ctx.reply("^7this setting is never saved and will be reset");
        ctx.reply("^7after garage or spectate.");
        if (deactivated) ctx.reply("^7Eventmonitor is deactivated by admin");
        return;
    }
    if (deactivated) {
        ctx.reply("^7Eventmonitor is deactivated by admin");
        return;
    }
    if (ctx.player().display.monitorState != 0) {
        ctx.c.ClearEventMonitor(ctx.sender);
        ctx.reply("^7Eventmonitor turned off");
        return;
    }
    ctx.c.EventMonitorOn(ctx.sender);
    ctx.reply("^7Eventmonitor turned on");
}

void Language(const CommandContext& ctx) {
    if (ctx.helpAsked()) {
        ctx.reply(" ");
        ctx.reply("^7changes the language");
        ctx.reply("^7usage: #language <shortname>");
        ctx.reply("^3available languages:");
        languageList(ctx);
        currentLanguageLines(ctx);
        return;
    }
    if (!ctx.hasArg(1)) {
        ctx.reply(" ");
        currentLanguageLines(ctx);
        ctx.reply("^7 enter '#lang ?' to see available languages");
        return;
    }

    TMX_MAIN& c = ctx.c;
    data::cl_LfsPlayer& e = ctx.player();
    const FixedString<4> oldCode = e.languageCode;
    const data::cl_Language* const oldLanguage = e.language;
    e.languageCode.assign(ctx.arg(1), 3);
    if (c.LoadPlayerLanguage(e.ucid, e.plid) == -1) {
        ctx.reply("^1error: language not found. ");
        e.languageCode = oldCode;
        e.language = oldLanguage;
        ctx.reply(std::string("^1your old language: ") + e.languageCode.c_str());
    } else {
        ctx.reply("^2language changed.");
        ctx.reply(std::string("^2your new language: ") + e.languageCode.c_str());
    }
    languageCreatorLines(ctx);

    if (ctx.sender == 0) c.serverLanguage = e.language;
    if (c.server.serverKind == SK_MULTI_REPLAY) {
        // A local game with several cars: everybody reads the server's language.
        for (int i = 0; i < c.usedEntries; ++i) c.entry(i).language = c.serverLanguage;
    }
}

void Skill(const CommandContext& ctx) {
    if (ctx.help({"^7shows your skill. Skill has a value from 0 to 10.",
                  "^7You can raise your skill with clean driving. Watch ",
                  "^7the messages at the bottom left.",
                  "^7A TMX-server can kick you, if your skill is to low"}))
        return;
    if (ctx.c.config.skillsystem == 0) {
        ctx.reply("^7Skillsystem is switched off by admin");
        return;
    }
    const data::cl_LfsPlayer& e = ctx.player();
    ctx.reply("^7");
    ctx.reply("^7SKILLSYSTEM");
    if (e.race.driverStatus > DS_SPECTATING) ctx.reply("^7(without the actual run, go spec to see all)");
    ctx.reply("^7Your earned points: " + number(e.skillPoints));
    ctx.reply("^7Your driven laps: " + number(e.skillLaps));
    if (e.skillLaps <= 4) {
        ctx.reply("^1Your skill is 0. Drive more laps.");
        return;
    }
    const int skill = ctx.c.StoredSkill(e.ucid, e.plid);
    ctx.reply("^7Your skill is : " + number(skill));
    switch (skill) {
        case 0: ctx.reply("^1That's very bad. You need more training"); break;
        case 1: ctx.reply("^1That's bad. You need more training"); break;
        case 2:
        case 3: ctx.reply("^1That's a poor skill"); break;
        case 4:
        case 5: ctx.reply("^3That's a low skill"); break;
        case 6:
        case 7: ctx.reply("^3That's a average skill"); break;
        case 8: ctx.reply("^2That's a good skill"); break;
        case 9: ctx.reply("^2That's a very good skill"); break;
        case 10: ctx.reply("^2That's a perfect skill."); break;
        default: break;
    }
}

void Track(const CommandContext& ctx) {
    if (ctx.help({"^7shows the trackname"})) return;
    ctx.reply(std::string("^7current track : ") + ctx.c.server.currentTrack.c_str());
}

// The city-game commands are accepted in every race state; they need the
// city game's car table, shops and locations.
void Cars(const CommandContext& ctx) {
    if (ctx.help({"^7#cars = shows the prices for new cars"})) return;
    ctx.reply(kNotAvailableYet);
}

void Buy(const CommandContext& ctx) {
    if (ctx.help({"^7#buy = use this to buy equipment in a store", "^7usage: #buy <itemnumber>"})) return;
    ctx.reply(kNotAvailableYet);
}

void Map(const CommandContext& ctx) {
    if (ctx.help({"^7#map = shows important locations"})) return;
    ctx.reply(kNotAvailableYet);
}

}  // namespace tmx::commands
