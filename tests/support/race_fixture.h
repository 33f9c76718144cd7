// A running controller on a simulated server, for race-control scenarios:
// sessions, drivers on track, packets sent by hand, and what drivers see.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "support/controller_fixture.h"

namespace tmx::testing {

class RaceFixture : public ControllerFixture {
protected:
    // Every language line reads "<block> <line> %%", so a test sees which line
    // was shown and what value went into it.
    std::string masterLanguage() const override {
        std::string text = "<(cr)>\r\n\"ori\"\r\n\"Original\"\r\n\"TMX team\"\r\n\"2026\"\r\n";
        const struct {
            const char* block;
            int lines;
        } blocks[] = {{"tmxm", 72}, {"team", 128}, {"orga", 64}, {"time", 16},
                      {"pace", 16}, {"safe", 24},  {"trac", 16}, {"even", 32}};
        for (const auto& b : blocks) {
            text += std::string("<") + b.block + ">\r\n";
            for (int i = 0; i < b.lines; ++i)
                text += "\"" + std::string(b.block) + " " + std::to_string(i) + " %%\"\r\n";
        }
        return text;
    }
    static std::string line(const char* block, int n, const std::string& value = "%%") {
        return std::string(block) + " " + std::to_string(n) + " " + value;
    }
    // Does a shown text (a team line carries its colour first) hold that line?
    static bool shows(const std::string& text, const char* block, int n, const std::string& value = "%%") {
        return text.find(line(block, n, value)) != std::string::npos;
    }

    // A guest who takes a car; returns his PLID.
    int driver(int ucid, const char* user, const char* nick, const char* car = "XRT") {
        joinGuest(ucid, user, nick);
        const int plid = joinTrack(ucid, false, car);
        barrier();
        return plid;
    }
    int indexOfPlayer(int plid) const { return c.FindIndex(-1, plid); }

    void startSession(sim::SessionKind kind, int laps = 0, int qualMins = 0) {
        sim::SessionSpec s;
        s.kind = kind;
        s.laps = laps;
        s.qualMins = qualMins;
        sim::Outcome o = simulator->startSession(s);
        ASSERT_TRUE(o.ok) << o.error;
        barrier();
    }

    // Advances a manual-clock simulator by one car update at a time until cond
    // holds; false when it never does within maxUpdates.
    bool driveUntil(const std::function<bool()>& cond, int maxUpdates = 480) {
        for (int update = 0; update < maxUpdates && !cond(); ++update) {
            simulator->advance(250);
            barrier();
        }
        return cond();
    }

    // Sends a packet made by hand and waits until the controller handled it.
    void send(const RawPacket& packet) {
        ASSERT_TRUE(simulator->sendPacket(packet));
        barrier();
    }
    static RawPacket lapPacket(int plid, int lapsDone, std::uint32_t lapMs = 90000) {
        IS_LAP lap;
        lap.PLID = static_cast<std::uint8_t>(plid);
        lap.LTime = lapMs;
        lap.ETime = lapMs * static_cast<std::uint32_t>(lapsDone);
        lap.LapsDone = static_cast<std::uint16_t>(lapsDone);
        return encode(lap);
    }
    static RawPacket splitPacket(int plid, int split, std::uint32_t ms = 30000) {
        IS_SPX spx;
        spx.PLID = static_cast<std::uint8_t>(plid);
        spx.Split = static_cast<std::uint8_t>(split);
        spx.STime = ms;
        spx.ETime = ms;
        return encode(spx);
    }
    // One car of a hand-made update of the car reports. The raw speed is the
    // one whose km/h truncate to kmh, unless raw is given.
    struct CarReport {
        int plid, position, node, kmh;
        int raw = -1;
        std::uint16_t heading = 0, direction = 0;
        std::int16_t angVel = 0;
    };
    // Sends one update of the car reports (packets of at most eight cars) and
    // waits until the controller has handled it.
    void reportCars(const std::vector<CarReport>& cars) {
        for (std::size_t first = 0; first < cars.size(); first += IS_MCI::kMaxCars) {
            IS_MCI m;
            const std::size_t n = std::min(cars.size() - first, IS_MCI::kMaxCars);
            m.NumC = static_cast<std::uint8_t>(n);
            for (std::size_t i = 0; i < n; ++i) {
                const CarReport& car = cars[first + i];
                CompCar& cc = m.Info[i];
                cc.PLID = static_cast<std::uint8_t>(car.plid);
                cc.Position = static_cast<std::uint8_t>(car.position);
                cc.Node = static_cast<std::uint16_t>(car.node);
                cc.Speed = static_cast<std::uint16_t>(car.raw >= 0 ? car.raw
                                                      : car.kmh <= 0 ? 0
                                                                     : std::ceil(car.kmh / 0.0109) + 1);
                cc.Heading = car.heading;
                cc.Direction = car.direction;
                cc.AngVel = car.angVel;
            }
            ASSERT_TRUE(simulator->sendPacket(encode(m)));
        }
        barrier();
    }

    static RawPacket pitLanePacket(int plid, std::uint8_t fact) {
        IS_PLA pla;
        pla.PLID = static_cast<std::uint8_t>(plid);
        pla.Fact = fact;
        return encode(pla);
    }

    // What a connection sees: a button's text ("" when there is none), a line
    // of a channel (team 110, organisation 130, system 140).
    std::string buttonText(int ucid, int clickId) {
        flushToSim();
        for (const auto& b : simulator->screen(ucid))
            if (b.clickId == clickId) return b.text.str();
        return "";
    }
    std::string teamText(int ucid, int row) { return buttonText(ucid, 110 + row); }
    std::string orgaText(int ucid, int row) { return buttonText(ucid, 130 + row); }
    std::string systemText(int ucid, int row) { return buttonText(ucid, 140 + row); }

    // Chat lines since the mark: host commands ("/p_dt Alice"), private
    // messages to one connection.
    void markChat() {
        flushToSim();
        chatMark = simulator->snapshot().model.chat().size();
    }
    std::vector<std::string> chatSince(sim::ChatLine::Kind kind, int ucid = -1) {
        flushToSim();
        const sim::SimState s = simulator->snapshot();
        std::vector<std::string> lines;
        const auto& log = s.model.chat();
        for (std::size_t i = chatMark; i < log.size(); ++i)
            if (log[i].kind == kind && (ucid < 0 || log[i].ucid == ucid)) lines.push_back(log[i].text);
        return lines;
    }
    std::vector<std::string> hostCommands() { return chatSince(sim::ChatLine::Kind::Command); }
    std::vector<std::string> privateTo(int ucid) { return chatSince(sim::ChatLine::Kind::Private, ucid); }

    std::size_t chatMark = 0;
};

}  // namespace tmx::testing
