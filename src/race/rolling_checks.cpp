// The check of one car of a rolling start, once per update of the car
// reports: the leader keeps the pace, every other car keeps its grid order
// close behind the car it follows, and an instruction that is not obeyed in
// time is warned, costs skill points and finally sends the driver to spectate.
#include <string>

#include "common/placeholders.h"
#include "controller/tmx_main.h"
#include "race/node_math.h"

namespace tmx {

namespace {

// Skill-point reasons of the rolling start.
constexpr int kReasonPace = 13;   // the pace (leader, speed)
constexpr int kReasonOrder = 14;  // ignored an instruction to let pass or close up
constexpr int kPenaltyPoints = -5;

// Raw speed (32768 = 100 m/s) in km/h.
double exactKmh(std::uint16_t raw) { return raw * 0.0109; }

// A car of the check and its neighbour in the race.
struct Car {
    int index = -1;  // table index, -1 when none
    int plid = 0;
    int slot = 0;    // grid place, 0 when none
    int node = 0;
    bool reportValid = false;
    explicit operator bool() const { return index != -1; }
};

Car carOf(TMX_MAIN& c, std::int32_t plid) {
    Car car;
    if (plid <= 0) return car;
    car.index = c.FindIndex(-1, plid);
    if (car.index == -1) return car;
    const data::cl_LfsPlayer& e = c.entry(car.index);
    car.plid = plid;
    car.slot = e.rolling.gridSlot;
    car.node = e.position.current.Node;
    car.reportValid = e.position.currentValid(e.plid);
    return car;
}

Car atRacePosition(TMX_MAIN& c, int position) {
    if (position < 1 || position >= kOrderSlots) return Car{};
    return carOf(c, c.positions.raceOrder[static_cast<std::size_t>(position)]);
}

// Does the car show this instruction (flag set) naming target?
bool shows(std::uint8_t flag, const PaceInstruction& pace, int target) {
    return flag != PF_OFF && pace.target == target;
}

// The warning line of an ignored instruction is overwritten once it is obeyed.
void clearWarning(TMX_MAIN& c, int index) { c.OrgaLine(index, 3, "   ", 1000); }

// Two cars of the field change places: a slow car drops back behind the one
// that was letting it pass (or following it).
void exchangePlaces(TMX_MAIN& c, int slot, int index, const Car& other) {
    data::cl_LfsPlayer& slow = c.entry(index);
    data::cl_LfsPlayer& quick = c.entry(other.index);
    const int otherSlot = other.slot;
    c.start.at(slot) = other.plid;
    c.start.at(otherSlot) = slow.plid;
    quick.rolling.gridSlot = static_cast<std::uint8_t>(slot);
    slow.rolling.gridSlot = static_cast<std::uint8_t>(otherSlot);
    const std::int64_t now = c.clock().now();
    quick.rolling.pace.startTime = now;
    if (slot == c.start.carsInOrder - 1) slow.rolling.pace.startTime = now;

    c.TeamLine(index, 2, c.LanguageLine(index, data::LB_TEAM, 58), 5000);
    const std::string movesUp =
        fillPlaceholders(c.LanguageLine(other.index, data::LB_TEAM, 57), {slow.playerName.c_str()});
    c.TeamLine(other.index, 2, movesUp.c_str(), 5000);
    c.SetPace(other.plid, PM_CLEAR, 0);
    for (const int i : {index, other.index}) {
        const std::string text = fillPlaceholders(c.LanguageLine(i, data::LB_TMXM, 25),
                                                  {quick.playerName.c_str(), slow.playerName.c_str()});
        c.SystemLine(i, 2, text.c_str(), 5000);
    }
    c.debug("\nDEBUG: RollingStart -> two players changed their positions");
}

}  // namespace

void TMX_MAIN::CheckCar(int s) {
    if (s < 1 || s > kGridSlots) return;
    const std::int32_t plid = start.at(s);
    const int i = plid > 0 ? FindIndex(-1, plid) : -1;
    if (i == -1) {
        debug("\nCheckInlapCar: got unknown pid!!");
        return;
    }
    data::cl_LfsPlayer& e = entry(i);
    DriverRolling& r = e.rolling;
    PaceInstruction& pace = r.pace;
    if (r.state != RL_FORMATION_LAP) return;

    const double exact = exactKmh(e.position.current.Speed);
    const int v = static_cast<int>(exact);
    const int p = e.position.lastPosition;
    if (p == 0) return;
    const int S = config.rs_speed;
    const data::RollingSpeeds& speeds = config.rs_derived;
    const int phase = session.startPhase;
    const int count = start.carsInOrder;
    const int nodes = session.nodeCount;
    const int ownNode = e.position.current.Node;
    const bool ownValid = e.position.currentValid(e.plid);

    const Car ahead = atRacePosition(*this, p - 1);
    Car behind = atRacePosition(*this, p + 1);
    if (behind.slot == 0) behind = Car{};  // only a car of the field counts behind
    const Car gridAhead = s > 1 ? carOf(*this, start.at(s - 1)) : Car{};
    const int ga = ahead ? gapToCarAhead(ahead.node, ownNode, nodes) : 0;
    const int gb = behind ? gapToCarBehind(ownNode, behind.node, nodes) : 0;
    const int gap = ahead && ahead.reportValid && ownValid ? followingGap(ahead.node, ownNode, nodes) : 0;
    const std::int64_t now = clock_.now();
    auto age = [&] { return now - pace.startTime; };

    // 1. The formation lap ends at the line; a car that gained places on it
    //    is penalised (the pole car cannot have).
    if (phase == SP_ROLLING_LAST && e.race.sessionLaps > 0) {
        TeamLine(i, 2, LanguageLine(i, data::LB_TEAM, 52), 6000);
        if (s > 1 && p < s) QueuePenalty(i, PK_FORMATION_PLACES);
        SetPace(plid, PM_CLEAR, 0);
        r.state = RL_COMPLETED;
        return;
    }

    // 2. The leader keeps the pace.
    const bool beforePickup = phase == SP_ROLLING_FIRST || phase == SP_HOLD_SPEED;
    const bool afterPickup = phase == SP_SPEED_UP || phase == SP_ROLLING_LAST;
    if (s == 1) {
        if (beforePickup && v > speeds.maxBeforePickup && pace.leaderWarning == PF_OFF) {
            if (r.leaderWarnings == 0) {
                ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
                r.leaderWarnings = 1;
                TeamLine(i, 1, LanguageLine(i, data::LB_TEAM, 53), 7000);
                SetPace(plid, PM_LEADER_FAST, 0);
            } else if (r.leaderWarnings == 1) {
                ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
                sendPrivate(i, LanguageLine(i, data::LB_TMXM, 20));
                sendPrivate(i, LanguageLine(i, data::LB_TMXM, 26));
                OrgaLineText(i, 2, 11, 8000);
                QueuePenalty(i, PK_PACE_LEADER);
                TeamLine(i, 1, LanguageLine(i, data::LB_TEAM, 54), 7000);
                OrgaLineText(i, 3, 14, 8000);
                r.leaderWarnings = 2;
                SetPace(plid, PM_LEADER_FAST, 0);
            } else if (!e.ai) {
                ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
                SpectateFromStart(i, 23, 33, false);
                return;
            }
        }
        if (beforePickup && v < speeds.minBeforePickup && pace.leaderWarning == PF_OFF)
            SetPace(plid, PM_LEADER_FAST, 0);
        if (afterPickup && v < speeds.minAfterPickup) {
            ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
            if (pace.leaderWarning == PF_OFF) SetPace(plid, PM_LEADER_SLOW, 0);
        }
        if (pace.leaderWarning != PF_OFF && phase < SP_SPEED_UP) {
            const int middle = (S - speeds.minBeforePickup) / 2 + speeds.minBeforePickup;
            if ((v < S && exact >= middle) || (v > S && v < speeds.maxBeforePickup - 10))
                SetPace(plid, PM_LEADER_PACE, 0);
        }
        if (pace.leaderWarning != PF_OFF && phase >= SP_SPEED_UP && v >= speeds.minAfterPickup)
            SetPace(plid, PM_CLEAR, 0);
    }

    if (s > 1) {
        // 3. Order: a car ahead that belongs behind is overtaken; a car from
        //    behind that belongs ahead is let by.
        if (pace.speedUp == PF_OFF) {
            if (ahead && ahead.slot > s) {
                if (ga > 0 && !shows(pace.overtake, pace, ahead.plid)) SetPace(plid, PM_OVERTAKE, ahead.plid);
            } else if (behind && behind.slot < s && gb > 0) {
                if (!shows(pace.letPass, pace, behind.plid)) SetPace(plid, PM_LET_PASS, behind.plid);
                ++start.orderErrors;
            }
        }

        // 4. Following the car ahead.
        if (s >= count) {
            if (s == count && !behind && ahead && ahead.index == gridAhead.index && pace.closeUp == PF_OFF &&
                pace.speedUp == PF_OFF && !shows(pace.follow, pace, ahead.plid))
                SetPace(plid, PM_FOLLOW, ahead.plid);
        } else if ((!behind || behind.slot > s) && ahead && ahead.slot < s) {
            if (p < s) {
                // Too far up: the first car behind that belongs ahead goes by.
                for (int q = p + 1; q < kOrderSlots; ++q) {
                    const Car other = atRacePosition(*this, q);
                    if (!other || other.slot == 0 || other.slot >= s) continue;
                    if (!shows(pace.letBy, pace, other.plid)) SetPace(plid, PM_LET_BY, other.plid);
                    ++start.orderErrors;
                    break;
                }
            } else if (pace.closeUp == PF_OFF && pace.speedUp == PF_OFF && ga > 0 &&
                       !shows(pace.follow, pace, ahead.plid)) {
                SetPace(plid, PM_FOLLOW, ahead.plid);
            }
        }

        // 5. The gap to the car ahead.
        if (p > 1 && p <= s && ahead && ahead.reportValid && ownValid) {
            if (gap > config.maxdistance && pace.follow != PF_OFF && pace.closeUp == PF_OFF)
                SetPace(plid, PM_CLOSE_UP, ahead.plid);
            else if (gap <= config.maxdistance && pace.closeUp != PF_OFF)
                SetPace(plid, PM_FOLLOW, gridAhead.plid);
        }

        // 6. Too slow.
        if (v < 40 && (pace.follow != PF_OFF || pace.closeUp != PF_OFF || pace.overtake != PF_OFF) &&
            phase > 2 && start.gridOrderRequest == GR_TAKEN &&
            (pace.follow == PF_OFF || (pace.follow == PF_GIVEN && gap > 4)))
            SetPace(plid, PM_SPEED_UP, 0);
        else if (v > 40 && pace.speedUp != PF_OFF)
            SetPace(plid, PM_FOLLOW, gridAhead.plid);
    }

    // 7. Instructions not obeyed in time.
    if (s > 1 && pace.speedUp != PF_OFF) {
        if (s < count && pace.speedUp == PF_GIVEN) {
            if (age() > config.slowtime) {
                // In the middle of the field a slow car only drops back, behind
                // a car that makes way for it.
                Car partner;
                if (ahead && ahead.slot > 0 &&
                    shows(entry(ahead.index).rolling.pace.letPass, entry(ahead.index).rolling.pace, plid))
                    partner = ahead;
                else if (behind && shows(entry(behind.index).rolling.pace.follow, entry(behind.index).rolling.pace, plid))
                    partner = behind;
                if (partner) exchangePlaces(*this, s, i, partner);
            }
        } else if (pace.speedUp == PF_GIVEN && age() > config.slowtime) {
            OrgaLineText(i, 3, 14, 5000);
            ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
            pace.speedUp = PF_WARNED;
            pace.startTime = now;
        } else if (pace.speedUp == PF_WARNED && age() >= 2 * config.killtime) {
            debug("\nDEBUG: RollingStart -> a players goes to spectate -> slow speed");
            SpectateFromStart(i, 23, 32, true);
        }
        return;
    }
    if (pace.overtake != PF_OFF) {
        if (v < S / 2) {
            if (pace.overtake == PF_GIVEN && (age() >= config.overtaketime || v < 20)) {
                OrgaLineText(i, 3, 15, 5000);
                pace.overtake = PF_WARNED;
                pace.startTime = now;
            } else if (pace.overtake == PF_WARNED && age() >= config.killtime) {
                debug("\nDEBUG: RollingStart -> a players goes to spectate -> should overtake, but didnt");
                SpectateFromStart(i, 24, 32, true);
            }
        } else {
            const bool warned = pace.overtake == PF_WARNED;
            pace.startTime = now;
            pace.overtake = PF_GIVEN;
            if (warned) clearWarning(*this, i);
        }
        return;
    }
    if (pace.letPass != PF_OFF) {
        if (v > S / 2) {
            if (pace.letPass == PF_GIVEN && (age() >= config.letpasstime || v > S)) {
                OrgaLineText(i, 3, 15, 5000);
                ChangeSkillPoints(i, kPenaltyPoints, kReasonOrder);
                pace.letPass = PF_WARNED;
                pace.startTime = now;
            } else if (pace.letPass == PF_WARNED && age() >= config.killtime && !e.ai) {
                debug("\nDEBUG: RollingStart -> a players goes to spectate -> should letpass, but didnt");
                SpectateFromStart(i, 24, 32, true);
            }
        } else {
            const bool warned = pace.letPass == PF_WARNED;
            pace.startTime = now;
            pace.letPass = PF_GIVEN;
            if (warned) clearWarning(*this, i);
        }
        return;
    }
    if (pace.closeUp != PF_OFF) {
        if (pace.closeUp == PF_GIVEN && (age() >= config.closeuptime || v < 20)) {
            if (v < S) {
                OrgaLineText(i, 3, 15, 5000);
                ChangeSkillPoints(i, kPenaltyPoints, kReasonOrder);
                pace.closeUp = PF_WARNED;
            }
            pace.startTime = now;
        } else if (pace.closeUp == PF_WARNED && v > S) {
            pace.startTime = now;
            pace.closeUp = PF_GIVEN;
            clearWarning(*this, i);
        } else if (pace.closeUp == PF_WARNED && age() >= config.killtime) {
            debug("\nDEBUG: RollingStart -> a players goes to spectate -> should go closer, but didnt");
            SpectateFromStart(i, 24, 32, true);
        }
        return;
    }
    if (s == 1 && pace.leaderWarning != PF_OFF) {
        if (pace.leaderWarning == PF_GIVEN && (age() >= config.acceltime || phase > SP_HOLD_SPEED)) {
            OrgaLineText(i, 3, 14, 5000);
            ChangeSkillPoints(i, kPenaltyPoints, kReasonPace);
            pace.leaderWarning = PF_WARNED;
            pace.startTime = now;
        } else if (pace.leaderWarning == PF_WARNED && age() >= config.killtime && !e.ai) {
            debug("\nDEBUG: RollingStart -> the leader goes to spectate -> to slow");
            SpectateFromStart(i, 23, 33, true);
        }
    }
}

}  // namespace tmx
