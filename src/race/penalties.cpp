// Penalties: the controller's own, queued and given after a random delay, and
// those LFS gives by itself.
#include <string>

#include "controller/tmx_main.h"

namespace tmx {

using namespace insim;

namespace {

// Delays of a penalty, in seconds: the first of a driver, the next one
// waiting behind a given penalty, and a retry while the driver cannot serve.
constexpr int kFirstDelayMin = 15, kFirstDelayMax = 75;
constexpr int kNextDelayMin = 5, kNextDelayMax = 20;
constexpr int kRetryDelayMin = 20, kRetryDelayMax = 60;

// The team line telling the driver what a penalty is for; -1 for none.
int teamLineOf(int kind) {
    switch (kind) {
        case PK_CLOSED_PIT_ENTRY:
            return 34;
        case PK_CLOSED_TRACK_EXIT:
            return 36;
        case PK_CLOSED_PIT_EXIT:
            return 35;
        case PK_PACE_LEADER:
            return 41;
        case PK_FORMATION_PLACES:
            return 37;
        case PK_MISSED_WINDOW:
            return 42;
        default:
            return -1;
    }
}

}  // namespace

void TMX_MAIN::QueuePenalty(int index, int kind) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.ai) return;
    DriverPit& p = e.pit;
    if (p.pendingPenalty == PK_NONE) {
        p.pendingPenalty = kind;
        p.penaltyDue = clock_.now() + random.between(kFirstDelayMin, kFirstDelayMax);
        p.queueLength = 0;
    } else if (p.queueLength < kPenaltyQueueSize) {
        p.penaltyQueue[static_cast<std::size_t>(p.queueLength)] = static_cast<std::uint8_t>(kind);
        ++p.queueLength;
    } else {
        return;  // the queue is full: this breach goes unpunished
    }
    RaiseEvent(3, 0, e.playerName.c_str());
}

void TMX_MAIN::GivePenalty(int index) {
    if (index < 0 || index >= usedEntries) return;
    data::cl_LfsPlayer& e = entry(index);
    if (e.ai) return;
    DriverPit& p = e.pit;
    const bool onTrack = e.race.driverStatus == DS_ON_TRACK || e.race.driverStatus == DS_RACING;
    if (!(onTrack || isCity()) || p.lfsPenalty != 0) {
        p.penaltyDue = clock_.now() + random.between(kRetryDelayMin, kRetryDelayMax);
        return;
    }

    std::string command;
    switch (p.pendingPenalty) {
        case PK_NONE:
            command = "/p_clear ";
            break;
        case PK_CLOSED_PIT_ENTRY:
        case PK_CLOSED_PIT_EXIT:
        case PK_PACE_LEADER:
            command = "/p_dt ";
            break;
        case PK_CLOSED_TRACK_EXIT:
        case PK_FORMATION_PLACES:
            command = "/p_sg ";
            break;
        case PK_MISSED_WINDOW:
            command = config.pitmissedpen.c_str();
            break;
        default:
            break;  // no such penalty: nothing to send
    }
    if (!command.empty()) {
        command += e.playerName.c_str();
        link->SendMessage(command.c_str());
    }
    const int line = teamLineOf(p.pendingPenalty);
    if (line >= 0 && !isCity()) TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, line), 10000);

    p.pendingPenalty = PK_NONE;
    if (p.queueLength > 0) {
        p.pendingPenalty = p.penaltyQueue[0];
        p.penaltyDue = clock_.now() + random.between(kNextDelayMin, kNextDelayMax);
        for (int i = 1; i < p.queueLength; ++i)
            p.penaltyQueue[static_cast<std::size_t>(i - 1)] =
                p.penaltyQueue[static_cast<std::size_t>(i)];
        --p.queueLength;
        p.penaltyQueue[static_cast<std::size_t>(p.queueLength)] = 0;
    }
}

void TMX_MAIN::PenaltyTick() {
    if (session.startPhase != SP_NONE) return;
    const std::int64_t now = clock_.now();
    for (int i = 0; i < usedEntries; ++i) {
        const data::cl_LfsPlayer& e = entry(i);
        // A driver in his pit box is looked at too: his penalty waits a while
        // longer (or, in the city, is given at once).
        if (e.plid == 0 || e.race.driverStatus < DS_PITS || e.pit.pendingPenalty == PK_NONE)
            continue;
        if (now >= e.pit.penaltyDue || config.penaltysystem == 0) GivePenalty(i);
    }
}

void TMX_MAIN::ClearPenalties(int index) {
    if (index < 0 || index >= usedEntries) return;
    DriverPit& p = entry(index).pit;
    p.pendingPenalty = PK_NONE;
    p.penaltyQueue = {};
    p.queueLength = 0;
    p.lfsPenalty = 0;
}

int TMX_MAIN::onPenalty(const IS_PEN& pen) {
    if (runRequest.load() == RUN_CONNECTING) return 0;
    const int index = FindIndex(-1, pen.PLID);
    if (index == -1) {
        debug(" \nDEBUG: Error PEN -> got an illegal PID!\n");
        return 0;
    }
    data::cl_LfsPlayer& e = entry(index);
    if (e.race.driverStatus <= DS_GARAGE || config.penaltysystem != 1) return 0;
    debug(" ISP_PEN ->");
    debug(" Pid: %d, OPen: %d, NPen: %d, Rea: %d\nDEBUG: ", pen.PLID, pen.OldPen, pen.NewPen,
          pen.Reason);

    if (pen.NewPen > 0) {
        RaiseEvent(4, 0, e.playerName.c_str());
        if (!isCity()) ChangeSkillPoints(index, -15, 3);
        debug("new Penalty");
        int line = -1;
        switch (pen.Reason) {
            case PENR_WRONG_WAY:
                debug(" for WrongWay");
                line = 59;
                break;
            case PENR_FALSE_START:
                debug(" for falsestart");
                line = 60;
                break;
            case PENR_SPEEDING:
                debug(" for speeding in pit");
                line = 61;
                break;
            case PENR_STOP_SHORT:
                debug(" for stop to short");
                line = 62;
                break;
            default:
                return 0;  // a penalty of its own kind is not followed
        }
        e.pit.lfsPenalty = pen.NewPen;
        if (isCity() && pen.Reason == PENR_SPEEDING)
            CityCharge(index, 50, 13);
        else
            TeamLine(index, 0, LanguageLine(index, data::LB_TEAM, line), 5000);
        return 0;
    }

    if (pen.OldPen > 0 && !isCity()) {
        RaiseEvent(5, 0, e.playerName.c_str());
        debug("Penalty done");
        e.pit.lfsPenalty = 0;
        ChangeSkillPoints(index, 10, 4);
        if (e.pit.pendingPenalty == PK_NONE)
            TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 39), 6000);
        else
            TeamLine(index, 1, LanguageLine(index, data::LB_TEAM, 40), 8000);
        return 0;
    }
    debug("Penalty done");
    e.pit.lfsPenalty = 0;
    return 0;
}

}  // namespace tmx
