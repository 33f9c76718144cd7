// Driving conduct, judged on every race tick: the crew's comments on places
// gained and lost, a car standing on the track (warned, then sent to the
// pits), a car driving the wrong way (warned, then sent to spectate), and
// spinning or sliding cars for the event monitor. At a race start the grid
// is exempt until the field moves.
#include <cstdlib>
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "race/node_math.h"

namespace tmx {

using namespace insim;

namespace {

// Raw speeds (32768 = 100 m/s).
constexpr int kMovingGridSpeed = 2000;  // about 22 km/h
constexpr int kStoppedSpeed = 184;      // about 2 km/h
constexpr int kReversingSpeed = 149;
constexpr int kCreepingSpeed = 300;
// A place change is commented this long (seconds) after it happened.
constexpr int kCommentDelay = 5;

int kmh(std::uint16_t raw) { return static_cast<int>(raw * 0.0109); }
int degrees(std::uint16_t raw) { return raw / 182; }

// The crew's line for a place change: one of five, the last twice as likely.
int crewLine(TMX_MAIN& c, int first) {
    const int draw = c.random.between(1, 8);
    return first + (draw <= 4 ? draw - 1 : 4);
}

// Moved from node a to node b against the driving direction: back by less
// than half a lap, so that a car crossing the wrap of the node numbers
// forwards is not taken for one driving the wrong way.
bool backwards(int a, int b, int nodeCount) {
    if (a == b) return false;
    if (nodeCount <= 0) return b < a;
    return forwardNodes(b, a, nodeCount) < nodeCount / 2;
}

void stoppedAndWrongWay(TMX_MAIN& c, int index) {
    data::cl_LfsPlayer& e = c.entry(index);
    DriverConduct& d = e.conduct;
    const CompCar& now = e.position.current;
    const CompCar& before = e.position.previous;
    const std::int64_t time = c.clock().now();
    const int finish = c.session.finishNode;
    const int nodes = c.session.nodeCount;
    const bool clearOfLine = now.Node != finish && before.Node != finish;

    if (d.state == CS_GRID && now.Speed > kMovingGridSpeed) ++c.positions.movingGridCars;

    const DriverStatus status = e.race.driverStatus;
    if (status == DS_RACING || (status == DS_ON_TRACK && c.session.startPhase == SP_NONE)) {
        if (now.Speed < kStoppedSpeed && (d.state == CS_NORMAL || d.state == CS_WRONG_WAY)) {
            d.state = CS_STOPPED;
            d.time = time;
            d.warned = false;
        } else if (now.Speed > kStoppedSpeed && d.state == CS_STOPPED) {
            d.state = CS_NORMAL;
            d.warned = false;
        }
    }
    if (d.state == CS_NORMAL && clearOfLine && backwards(before.Node, now.Node, nodes) &&
        now.Speed > kMovingGridSpeed) {
        d.state = CS_WRONG_WAY;
        d.time = time;
        d.warned = false;
        d.mark = now.Node;
        d.count = 0;
    }
    if (d.state == CS_WRONG_WAY) {
        if (clearOfLine && backwards(now.Node, before.Node, nodes)) {
            d.state = CS_NORMAL;  // forwards again
            d.warned = false;
        } else {
            if (clearOfLine && backwards(before.Node, now.Node, nodes) && now.Speed > kReversingSpeed) ++d.count;
            // The wrong-way clock runs only while the car moves.
            if (now.Speed < kCreepingSpeed) d.time = time;
        }
    }

    // Attitude: spinning, or sliding sideways.
    const int speed = kmh(now.Speed);
    const int yawRate = std::abs(static_cast<int>(now.AngVel)) / 46;
    const int offset = std::abs(degrees(now.Heading) - degrees(now.Direction));
    int attitude = AT_NORMAL;
    if (yawRate > 60 && speed > 50) {
        attitude = AT_SPINNING;
    } else if (d.state != CS_WRONG_WAY &&
               ((offset > 80 && offset < 100 && speed > 30) || (offset > 45 && offset < 90 && speed > 100))) {
        attitude = AT_SIDEWAYS;
    }
    if (attitude != d.attitude) {
        d.attitude = attitude;
        d.attitudeTime = time;
    } else if (attitude != AT_NORMAL && time - d.attitudeTime >= 1 && d.reportedAttitude != attitude) {
        c.RaiseEvent(attitude == AT_SPINNING ? 23 : 24, 0, e.playerName.c_str());
        d.reportedAttitude = attitude;
        d.attitudeTime = time;
    } else if (attitude == AT_NORMAL && time - d.attitudeTime > 3) {
        d.reportedAttitude = AT_NORMAL;
    }
}

// A crew comment with an event in a race once the leader has done two laps.
bool laterInRace(const TMX_MAIN& c, const data::cl_LfsPlayer& e) {
    return c.session.raceState == RS_RACE && e.race.driverStatus == DS_RACING && c.session.mostLapsDone > 2;
}

void placeChangeTimers(TMX_MAIN& c, int index, std::int64_t t) {
    data::cl_LfsPlayer& e = c.entry(index);
    DriverConduct& d = e.conduct;
    const int last = e.position.lastPosition;
    if (d.state == CS_LOST && t > kCommentDelay) {
        if (last > 0) {
            c.TeamLine(index, 0, c.LanguageLine(index, data::LB_TEAM, crewLine(c, 71)), 5000);
            if (laterInRace(c, e)) c.RaiseEvent(18, 0, e.playerName.c_str());
        }
        d.state = CS_NORMAL;
    } else if (d.state == CS_GAINED && t > kCommentDelay) {
        if (last > 1) {
            const std::string place = std::to_string(last);
            const std::string text =
                fillPlaceholders(c.LanguageLine(index, data::LB_TEAM, crewLine(c, 66)), {place.c_str()});
            c.TeamLine(index, 0, text.c_str(), 5000);
            if (laterInRace(c, e)) c.RaiseEvent(19, 0, e.playerName.c_str());
        } else if (last == 1) {
            c.TeamLine(index, 0, c.LanguageLine(index, data::LB_TEAM, 65), 5000);
            c.RaiseEvent(20, 0, e.playerName.c_str());
        }
        d.state = CS_NORMAL;
    } else if (d.state == CS_GAVE_BACK && t > kCommentDelay && last > 0) {
        c.TeamLine(index, 0, c.LanguageLine(index, data::LB_TEAM, crewLine(c, 76)), 5000);
        c.RaiseEvent(14, 0, e.playerName.c_str());
        d.state = CS_NORMAL;
    }
}

void monitorFromNow(TMX_MAIN& c, int index) {
    c.entry(index).display.monitorState = 1;
    c.entry(index).display.monitorTime = c.clock().now();
}

void stoppedAndWrongWayTimers(TMX_MAIN& c, int index, std::int64_t t) {
    data::cl_LfsPlayer& e = c.entry(index);
    DriverConduct& d = e.conduct;
    const data::ServerConfig& cfg = c.config;
    const std::int64_t now = c.clock().now();
    const bool racing = c.session.startPhase == SP_NONE;
    if (d.state == CS_STOPPED && !d.warned && racing && t > cfg.sleepwarning) {
        c.TeamLine(index, 0, c.LanguageLine(index, data::LB_TEAM, 63), 5000);
        d.warned = true;
        d.time = now;
        c.RaiseEvent(15, 0, e.playerName.c_str());
    } else if (d.state == CS_STOPPED && d.warned && racing && t > cfg.sleepkill) {
        c.OrgaLineText(index, 1, 17, 5000);
        c.ChangeSkillPoints(index, -5, 15);
        e.race.previousDriverStatus = DS_GARAGE;
        e.race.driverStatus = DS_PITS;
        d.warned = false;
        d.state = CS_NORMAL;
        if (c.master) e.SaveCombination(*c.master);
        c.link->SendMessage(("/pitlane " + std::string(e.playerName.c_str())).c_str());
        monitorFromNow(c, index);
    } else if (d.state == CS_WRONG_WAY && !d.warned && (t > cfg.wrongtime || d.count > cfg.wrongnodes)) {
        c.TeamLine(index, 0, c.LanguageLine(index, data::LB_TEAM, 64), 5000);
        d.warned = true;
        d.time = now;
        c.RaiseEvent(16, 0, e.playerName.c_str());
    } else if (d.state == CS_WRONG_WAY && d.warned && (t > cfg.wrongtimekill || d.count > cfg.wrongnodeskill)) {
        // A blank line first, so the reason stands out in the chat.
        c.link->SendPrivate(" ", e.ucid, 0);
        c.link->SendPrivate(c.LanguageLine(index, data::LB_ORGA, 18), e.ucid, 0);
        c.ChangeSkillPoints(index, -20, 16);
        e.race.previousDriverStatus = DS_RACING;
        e.race.driverStatus = DS_SPECTATING;
        d.warned = false;
        d.state = CS_NORMAL;
        if (c.master) e.SaveCombination(*c.master);
        c.link->SendMessage(("/spec " + std::string(e.playerName.c_str())).c_str());
        monitorFromNow(c, index);
    }
}

}  // namespace

void TMX_MAIN::ConductPlaces(int index, int position, int lastPosition) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    DriverConduct& d = e.conduct;
    if (e.race.driverStatus <= DS_PITSTOP_DONE || position <= 0 || lastPosition <= 0 ||
        positions.positionFreeze != 0 || e.race.sessionLaps <= 0 ||
        (session.raceState != RS_QUALIFYING && session.raceState != RS_RACE))
        return;
    if (position == lastPosition) return;
    const bool gained = position < lastPosition;
    const ConductState fresh = gained ? CS_GAINED : CS_LOST;
    const ConductState opposite = gained ? CS_LOST : CS_GAINED;
    if (d.state == CS_NORMAL || d.state == CS_GAVE_BACK) {
        d.count = d.state == CS_GAVE_BACK ? d.count + 1 : 0;
        d.state = fresh;
        d.time = clock_.now();
        d.warned = false;
        d.mark = lastPosition;
    } else if (d.state == opposite) {
        if (d.mark == position) {
            d.state = CS_GAVE_BACK;
            ++d.count;
        } else {
            d.state = CS_NORMAL;
        }
    }
}

void TMX_MAIN::CheckConduct(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus > DS_GARAGE && e.position.previousValid(e.plid)) stoppedAndWrongWay(*this, index);
    const std::int64_t t = clock_.now() - e.conduct.time;
    placeChangeTimers(*this, index, t);
    stoppedAndWrongWayTimers(*this, index, t);
}

void TMX_MAIN::ReleaseGrid(int index) {
    if (index < 0 || index >= usedEntries) return;
    const int moving = positions.movingGridCars;
    if (moving > 3 || (moving >= 1 && players < 4)) entry(index).conduct.state = CS_NORMAL;
}

}  // namespace tmx
