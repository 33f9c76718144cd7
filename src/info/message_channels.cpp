// Message channels and the race status bar: what a driver sees on screen.
// A channel is a stack of button lines at a fixed place; writing a line
// replaces what it showed, and a line vanishes after its lifetime.
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "info/chat_level.h"
#include "insim/buttons.h"

namespace tmx {

using data::cl_LfsPlayer;

namespace {

enum class Channel { System, Orga, Team, Info };

struct ChannelLook {
    std::uint8_t base;
    std::uint8_t style;
    std::uint8_t width;
};

ChannelLook lookOf(Channel channel) {
    switch (channel) {
        case Channel::System: return {BG_SYSTEM, 3, 100};
        case Channel::Orga: return {BG_ORGA, 1, 100};
        case Channel::Team: return {BG_TEAM, 0, 160};
        case Channel::Info: return {BG_INFO, 96, 100};
    }
    return {BG_SYSTEM, 3, 100};
}

struct ChannelLine {
    const data::MessageChannel* geometry;
    ChannelLook look;
    bool team;
    bool info;
};

ChannelLine channelOf(const data::ServerConfig& config, Channel channel) {
    switch (channel) {
        case Channel::System: return {&config.tmxmsg, lookOf(channel), false, false};
        case Channel::Orga: return {&config.orgamsg, lookOf(channel), false, false};
        case Channel::Team: return {&config.crewmsg, lookOf(channel), true, false};
        case Channel::Info: return {&config.infomsg, lookOf(channel), false, true};
    }
    return {&config.tmxmsg, lookOf(Channel::System), false, false};
}

// The first checks of every line, in this order: 0 when the channel is off
// (whatever the index), -1 for an index outside the table, 1 to go on.
int lineGate(const TMX_MAIN& c, Channel channel, int index) {
    if (channelOf(c.config, channel).geometry->isOff()) return 0;
    if (index < 0 || index >= c.usedEntries) return -1;
    return 1;
}

int sendLine(TMX_MAIN& c, Channel channel, int index, int line, const char* text, std::int64_t lifetimeMs) {
    const int gate = lineGate(c, channel, index);
    if (gate != 1) return gate;
    const ChannelLine ch = channelOf(c.config, channel);
    const cl_LfsPlayer& e = c.entry(index);
    // The host's own screen is not written to while LFS runs in multiplayer.
    if (e.isHost() && (c.server.lastState.Flags & insim::ISS_MULTI)) return 0;
    if (!text) text = "";

    insim::ButtonRequest request;
    request.ucid = e.ucid;
    request.clickId = static_cast<std::uint8_t>(ch.look.base + line);
    request.groupId = ch.look.base;
    request.alwaysVisible = ch.info ? 1 : 0;
    request.style = ch.look.style;
    request.left = static_cast<std::uint8_t>(ch.geometry->left);
    const int height = ch.geometry->height;
    const int top = ch.team ? e.teamPosition + line * height - 9 : ch.geometry->top + line * height;
    request.top = static_cast<std::uint8_t>(top);
    request.width = ch.look.width;
    request.height = static_cast<std::uint8_t>(height);
    request.lifetime = std::llabs(lifetimeMs);

    std::string shown;
    if (!ch.info) {
        const char* visible = textAtChatLevel(e, text);
        if (!visible) return 0;
        shown.assign(visible, std::min<std::size_t>(std::strlen(visible), 239));
    } else {
        shown.assign(text, std::min<std::size_t>(std::strlen(text), 239));
    }
    if (ch.team) {
        if (shown.empty() || shown[0] != '^') shown = "^" + std::to_string(e.teamColour) + shown;
        request.style = e.teamColour;
    }
    request.text.assign(shown);

    return c.ShowToDriverAndWatcher(index, request);
}
}  // namespace

int TMX_MAIN::ShowToDriverAndWatcher(int index, insim::ButtonRequest& request) {
    if (index < 0 || index >= usedEntries) return -1;
    const cl_LfsPlayer& e = entry(index);
    int result = -1;
    request.ucid = e.ucid;
    if (!e.ai) result = link->Show(request);
    if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < usedEntries) {
        request.ucid = entry(e.display.watchedBy).ucid;
        result = link->Show(request);
    }
    return result;
}

int TMX_MAIN::SystemLine(int index, int line, const char* text, std::int64_t lifetimeMs) {
    return sendLine(*this, Channel::System, index, line, text, lifetimeMs);
}

int TMX_MAIN::OrgaLine(int index, int line, const char* text, std::int64_t lifetimeMs) {
    return sendLine(*this, Channel::Orga, index, line, text, lifetimeMs);
}

int TMX_MAIN::TeamLine(int index, int line, const char* text, std::int64_t lifetimeMs) {
    return sendLine(*this, Channel::Team, index, line, text, lifetimeMs);
}

int TMX_MAIN::InfoLine(int index, int line, const char* text, std::int64_t lifetimeMs) {
    return sendLine(*this, Channel::Info, index, line, text, lifetimeMs);
}

int TMX_MAIN::SystemLineText(int index, int line, int tmxmLine, std::int64_t lifetimeMs,
                             const char* value) {
    const int gate = lineGate(*this, Channel::System, index);
    if (gate != 1) return gate;
    const std::string text = fillPlaceholders(LanguageLine(index, data::LB_TMXM, tmxmLine), {value});
    return SystemLine(index, line, text.c_str(), lifetimeMs);
}

int TMX_MAIN::OrgaLineText(int index, int line, int orgaLine, std::int64_t lifetimeMs, const char* value) {
    const int gate = lineGate(*this, Channel::Orga, index);
    if (gate != 1) return gate;
    const std::string text = fillPlaceholders(LanguageLine(index, data::LB_ORGA, orgaLine), {value});
    return OrgaLine(index, line, text.c_str(), lifetimeMs);
}

void TMX_MAIN::BroadcastSystem(int line, const char* text, std::int64_t lifetimeMs) {
    if (config.tmxmsg.isOff()) return;
    for (int i = 0; i < usedEntries; ++i) SystemLine(i, line, text, lifetimeMs);
}

void TMX_MAIN::BroadcastSystemText(int line, int tmxmLine, std::int64_t lifetimeMs, const char* first,
                                   const char* second) {
    if (config.tmxmsg.isOff()) return;
    for (int i = 0; i < usedEntries; ++i) {
        const std::string text =
            fillPlaceholders(LanguageLine(i, data::LB_TMXM, tmxmLine), {first, second});
        SystemLine(i, line, text.c_str(), lifetimeMs);
    }
}

void TMX_MAIN::BroadcastOrga(int line, const char* text, std::int64_t lifetimeMs) {
    if (config.orgamsg.isOff()) return;
    for (int i = 0; i < usedEntries; ++i) OrgaLine(i, line, text, lifetimeMs);
}

void TMX_MAIN::BroadcastOrgaText(int line, int orgaLine, std::int64_t lifetimeMs, const char* first) {
    if (config.orgamsg.isOff()) return;
    for (int i = 0; i < usedEntries; ++i) {
        const std::string text = fillPlaceholders(LanguageLine(i, data::LB_ORGA, orgaLine), {first});
        OrgaLine(i, line, text.c_str(), lifetimeMs);
    }
}

void TMX_MAIN::ClearTeamChannel(int index) {
    if (index < 0 || index >= usedEntries) return;
    link->DeleteGroup(BG_TEAM, entry(index).ucid);
}

void TMX_MAIN::ChangeTeamColour(int index) {
    if (index < 0 || index >= usedEntries) return;
    cl_LfsPlayer& e = entry(index);
    e.teamColour = e.teamColour >= 7 ? 1 : static_cast<std::uint8_t>(e.teamColour + 1);
    ClearTeamChannel(index);
    TeamLine(index, 0, LanguageLine(index, data::LB_TEAM, 25), 5000);
}

void TMX_MAIN::ChangeTeamPosition(int index) {
    if (index < 0 || index >= usedEntries) return;
    cl_LfsPlayer& e = entry(index);
    const int next = e.teamPosition - 20;
    e.teamPosition = next < 20 ? 170 : static_cast<std::uint8_t>(next);
    ClearTeamChannel(index);
    TeamLine(index, 0, LanguageLine(index, data::LB_TEAM, 29), 5000);
}

void TMX_MAIN::ChangeChatLevel(int index) {
    if (index < 0 || index >= usedEntries) return;
    cl_LfsPlayer& e = entry(index);
    const int level = effectiveChatLevel(e);
    e.chatLevel = static_cast<std::uint8_t>(level == 0 ? 2 : level - 1);
    ClearTeamChannel(index);
    TeamLine(index, 0, LanguageLine(index, data::LB_TEAM, 26 + e.chatLevel), 5000);
}

// ---- Status bar ------------------------------------------------------------------

namespace {
insim::ButtonRequest barButton(std::uint8_t ucid, std::uint8_t clickId, std::uint8_t left, std::uint8_t top,
                               std::uint8_t width) {
    insim::ButtonRequest b;
    b.ucid = ucid;
    b.clickId = clickId;
    b.groupId = BG_STATUS_BAR;
    b.alwaysVisible = 1;
    b.left = left;
    b.top = top;
    b.width = width;
    b.height = 6;
    return b;
}
}  // namespace

void TMX_MAIN::DrawStatusBar(int index) {
    if (index < 0 || index >= usedEntries) return;
    if (server.multiplayerEnded || server.setupScreen) return;
    cl_LfsPlayer& e = entry(index);
    if (e.isHost() && (server.lastState.Flags & insim::ISS_MULTI)) return;

    // The city game draws its own bar; the race bar shows track and pit lane.
    if (!isCity()) {
        const bool waiting = e.race.driverStatus == DS_CONNECTED || e.race.driverStatus == DS_SPECTATING;
        insim::ButtonRequest track = barButton(e.ucid, BG_STATUS_BAR, 69, 194, 30);
        if (!session.trackClosed) {
            track.text.assign(LanguageLine(index, data::LB_TRAC, 0));
            track.style = 20;
            track.lifetime = 10000;
        } else if (session.raceState == RS_QUALIFYING && config.qstartwindow != 0 && e.race.driverStatus > DS_PITSTOP_DONE) {
            track.text.assign(LanguageLine(index, data::LB_TRAC, 2));
            track.style = 17;
            track.lifetime = 10000;
            TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 81), 5000);
        } else {
            track.text.assign(LanguageLine(index, data::LB_TRAC, 1));
            track.style = 21;
            track.lifetime = 0;
        }
        insim::ButtonRequest pit = barButton(e.ucid, BG_STATUS_BAR + 1, 101, 194, 30);
        if (!session.pitLaneClosed) {
            pit.text.assign(LanguageLine(index, data::LB_TRAC, 7));
            pit.style = 20;
            pit.lifetime = 10000;
        } else {
            pit.text.assign(LanguageLine(index, data::LB_TRAC, 8));
            pit.style = 21;
            pit.lifetime = 0;
        }
        if (waiting) {
            track.lifetime = 0;
            pit.lifetime = 0;
        }
        if (!e.ai) {
            link->Show(track);
            link->Show(pit);
        }
    }

    if (e.display.watchTarget != data::kNoEntry) {
        if (e.display.watchTarget < usedEntries) {
            insim::ButtonRequest label = barButton(e.ucid, BG_STATUS_BAR + 9, 73, 0, 54);
            label.alwaysVisible = 0;
            label.style = 83;
            label.lifetime = 0;
            label.text.assign(std::string(" Watching : ") + entry(e.display.watchTarget).playerName.c_str());
            link->Show(label);
        } else {
            e.display.watchTarget = data::kNoEntry;
        }
    }
    e.display.statusBarDrawn = true;
}

void TMX_MAIN::ClearStatusBar(int index) {
    if (index < 0 || index >= usedEntries) return;
    link->DeleteGroup(BG_STATUS_BAR, entry(index).ucid);
    entry(index).display.statusBarDrawn = false;
}

void TMX_MAIN::RefreshAllStatusBars() {
    for (int i = 0; i < usedEntries; ++i) {
        ClearStatusBar(i);
        if (!(isCity() && entry(i).race.driverStatus <= DS_GARAGE)) DrawStatusBar(i);
    }
}

void TMX_MAIN::DrawPitWindowButton(int index) {
    if (index < 0 || index >= usedEntries) return;
    const cl_LfsPlayer& e = entry(index);
    const data::PitWindows& windows = config.pitwindow;
    if (session.raceState != RS_RACE || windows.count < 1 || e.lapCounter <= 1 || e.race.driverStatus <= DS_PITSTOP ||
        server.multiplayerEnded || runRequest.load() != RUN_RUNNING)
        return;
    const int lap = e.lapCounter + 1;
    insim::ButtonRequest b;
    b.ucid = e.ucid;
    b.clickId = BG_WINDOW;
    b.groupId = BG_WINDOW;
    b.left = 133;
    b.top = 194;
    b.width = 30;
    b.height = 6;
    b.lifetime = 0;
    bool decided = false;
    for (int w = 0; w < windows.count && w < data::kMaxPitWindows && !decided; ++w) {
        const int from = windows.from[static_cast<std::size_t>(w)];
        const int to = windows.to[static_cast<std::size_t>(w)];
        if (lap >= from && lap <= to && !e.pit.pitWindowUsed[static_cast<std::size_t>(w)]) {
            const int line = lap == to ? 10 : 9;
            const std::string last = std::to_string(to);
            b.text.assign(fillPlaceholders(LanguageLine(index, data::LB_TRAC, line), {last.c_str()}));
            b.style = 20;
            decided = true;
        } else if (lap < from) {
            const std::string first = std::to_string(from);
            b.text.assign(fillPlaceholders(LanguageLine(index, data::LB_TRAC, 11), {first.c_str()}));
            b.style = 21;
            decided = true;
        }
    }
    if (!decided) return;
    if (!e.ai) link->Show(b);
    if (e.display.watchedBy != data::kNoEntry && e.display.watchedBy < usedEntries) {
        b.ucid = entry(e.display.watchedBy).ucid;
        link->Show(b);
    }
}

void TMX_MAIN::DrawStartWindowButton(int index) {
    if (index < 0 || index >= usedEntries) return;
    const cl_LfsPlayer& e = entry(index);
    if (session.raceState != RS_QUALIFYING || config.qtype != 1 || config.qstartwindow == 0 || server.multiplayerEnded ||
        runRequest.load() != RUN_RUNNING || e.ai)
        return;
    std::int64_t remaining = static_cast<std::int64_t>(config.qstartwindow) * 60 -
                             (clock_.now() - session.qualifyingStartTime);
    if (remaining < 0) remaining = 0;
    const std::int64_t minutes = remaining / 60;
    const std::int64_t seconds = remaining % 60;
    std::string text = LanguageLine(index, data::LB_TRAC, 12);
    if (minutes < 10) text += "0";
    text += minutes == 0 ? "0:" : std::to_string(minutes) + ":";
    if (seconds < 10) text += "0";
    text += std::to_string(seconds);
    // In the last minute a leading colour code turns red.
    if (minutes == 0 && text.size() >= 2) text[1] = '1';

    insim::ButtonRequest b;
    b.ucid = e.ucid;
    b.clickId = BG_WINDOW;
    b.groupId = BG_WINDOW;
    b.left = 169;
    b.top = 194;
    b.width = 30;
    b.height = 6;
    const bool onTrack = e.race.driverStatus > DS_PITSTOP_DONE;
    b.style = onTrack ? 20 : 21;
    b.lifetime = onTrack ? 10000 : 0;
    b.text.assign(text);
    link->Show(b);
}

}  // namespace tmx
