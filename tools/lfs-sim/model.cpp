#include "lfs-sim/model.h"

#include <algorithm>
#include <utility>

namespace tmx::sim {

using namespace tmx::insim;

namespace {

bool samePacket(const RawPacket& a, const RawPacket& b) {
    return a.size == b.size &&
           std::equal(a.bytes.begin(), a.bytes.begin() + a.size, b.bytes.begin());
}

std::string ucidText(int ucid) {
    return "connection " + std::to_string(ucid);
}
std::string plidText(int plid) {
    return "player " + std::to_string(plid);
}

// Parses a whole decimal number (blanks around it allowed); -1 if it is none.
int parseCount(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty() || text.size() > 5) return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

const char* sessionKindName(SessionKind kind) {
    switch (kind) {
        case SessionKind::None:
            return "none";
        case SessionKind::Practice:
            return "practice";
        case SessionKind::Qualifying:
            return "qualifying";
        case SessionKind::Race:
            return "race";
    }
    return "none";
}

std::uint8_t encodeRaceLaps(int laps) {
    if (laps <= 0) return 0;
    if (laps < 100) return static_cast<std::uint8_t>(laps);
    if (laps > 1000) laps = 1000;
    return static_cast<std::uint8_t>(100 + (laps - 100) / 10);
}

std::string stripColours(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '^' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

ServerModel::ServerModel(std::uint16_t stateFlags) : stateFlags_(stateFlags) {
    Connection host;
    host.ucid = kHostUcid;
    host.pname = "host";
    connections_.push_back(host);
    reportedState_ = encode(state(0));
}

void ServerModel::setClientInit(std::uint16_t isiFlags, std::uint8_t prefix) {
    msoColours_ = (isiFlags & ISF_MSO_COLS) != 0;
    prefix_ = prefix;
}

// ---- Lookups ---------------------------------------------------------------

const Connection* ServerModel::findConnection(int ucid) const {
    for (const auto& c : connections_)
        if (c.ucid == ucid) return &c;
    return nullptr;
}

Connection* ServerModel::connection(int ucid) {
    return const_cast<Connection*>(std::as_const(*this).findConnection(ucid));
}

const Connection* ServerModel::findConnectionByUser(std::string_view uname) const {
    if (uname.empty()) return nullptr;  // the host has no user name
    for (const auto& c : connections_)
        if (c.uname == uname) return &c;
    return nullptr;
}

const Player* ServerModel::findPlayer(int plid) const {
    for (const auto& p : players_)
        if (p.plid == plid) return &p;
    return nullptr;
}

Player* ServerModel::player(int plid) {
    return const_cast<Player*>(std::as_const(*this).findPlayer(plid));
}

const Player* ServerModel::findPlayerByName(std::string_view pname) const {
    if (pname.empty()) return nullptr;
    for (const auto& p : players_)
        if (p.pname == pname) return &p;
    const std::string plain = stripColours(pname);
    if (plain.empty()) return nullptr;
    for (const auto& p : players_)
        if (stripColours(p.pname.view()) == plain) return &p;
    return nullptr;
}

const Player* ServerModel::playerOf(int ucid) const {
    const Player* first = nullptr;
    for (const auto& p : players_) {
        if (p.ucid != ucid) continue;
        if (!p.isAi()) return &p;
        if (!first) first = &p;
    }
    return first;
}

std::vector<Button> ServerModel::screen(int ucid) const {
    if (ucid < 0 || ucid > 255) return {};
    auto it = screens_.find(static_cast<std::uint8_t>(ucid));
    return it == screens_.end() ? std::vector<Button>{} : it->second;
}

int ServerModel::freePlid() const {
    // LFS hands out increasing PLIDs and wraps; never one in use.
    for (int step = 1; step <= 255; ++step) {
        int plid = (lastPlid_ + step - 1) % 255 + 1;
        if (!findPlayer(plid)) return plid;
    }
    return -1;
}

int ServerModel::freeUcid() const {
    for (int ucid = 1; ucid < kAllUcids; ++ucid)
        if (!findConnection(ucid)) return ucid;
    return -1;
}

// ---- Packets describing the state ------------------------------------------

IS_STA ServerModel::state(std::uint8_t reqI) const {
    IS_STA sta;
    sta.ReqI = reqI;
    sta.ReplaySpeed = 1.0f;
    sta.Flags = stateFlags_;
    sta.InGameCam = VIEW_FOLLOW;
    sta.ViewPLID = 0;
    sta.NumP = static_cast<std::uint8_t>(players_.size());
    sta.NumConns = static_cast<std::uint8_t>(connections_.size());
    sta.NumFinished = static_cast<std::uint8_t>(finishersReported_);
    switch (session_.kind) {
        case SessionKind::None:
            sta.RaceInProg = 0;
            break;
        case SessionKind::Practice:
        case SessionKind::Race:
            sta.RaceInProg = 1;
            break;
        case SessionKind::Qualifying:
            sta.RaceInProg = 2;
            break;
    }
    sta.QualMins = static_cast<std::uint8_t>(session_.qualMins);
    sta.RaceLaps = session_.kind == SessionKind::Practice ? 0 : encodeRaceLaps(session_.raceLaps);
    sta.Track = session_.track.view();
    sta.Weather = session_.weather;
    sta.Wind = session_.wind;
    return sta;
}

IS_NCN ServerModel::ncnFor(const Connection& c, std::uint8_t reqI) const {
    IS_NCN ncn;
    ncn.ReqI = reqI;
    ncn.UCID = c.ucid;
    ncn.UName = c.uname.view();
    ncn.PName = c.pname.view();
    ncn.Admin = c.admin ? 1 : 0;
    ncn.Total = static_cast<std::uint8_t>(connections_.size());
    ncn.Flags = c.ucid == kHostUcid ? 0 : 4;  // bit 2: remote
    return ncn;
}

IS_NPL ServerModel::nplFor(const Player& p, std::uint8_t reqI) const {
    IS_NPL npl;
    npl.ReqI = reqI;
    npl.PLID = p.plid;
    npl.UCID = p.ucid;
    npl.PType = p.ptype;
    npl.Flags = p.inPits ? kPitsFlag : 0;
    npl.PName = p.pname.view();
    npl.Plate = p.plate.view();
    npl.CName = p.car.view();
    npl.SName = p.skin.view();
    npl.NumP = static_cast<std::uint8_t>(players_.size());
    return npl;
}

IS_RST ServerModel::rstFor(std::uint8_t reqI) const {
    IS_RST rst;
    rst.ReqI = reqI;
    const bool qualifying = session_.kind == SessionKind::Qualifying;
    rst.RaceLaps = (qualifying || session_.kind == SessionKind::Practice)
                       ? 0
                       : encodeRaceLaps(session_.raceLaps);
    rst.QualMins = qualifying ? static_cast<std::uint8_t>(session_.qualMins) : 0;
    rst.NumP = static_cast<std::uint8_t>(players_.size());
    rst.Track = session_.track.view();
    rst.Weather = session_.weather;
    rst.Wind = session_.wind;
    rst.Flags = session_.hostFlags;
    rst.NumNodes = session_.numNodes;
    rst.Finish = session_.finish;
    rst.Split1 = session_.split1;
    rst.Split2 = session_.split2;
    rst.Split3 = session_.split3;
    return rst;
}

// The start order of the session: the grid, then the players who were in the
// garage at the start; players who joined since come last, in join order.
IS_REO ServerModel::reoFor(std::uint8_t reqI) const {
    std::vector<std::uint8_t> order;
    for (const std::uint8_t plid : gridOrder_)
        if (findPlayer(plid)) order.push_back(plid);
    for (const auto& p : players_)
        if (std::find(order.begin(), order.end(), p.plid) == order.end()) order.push_back(p.plid);
    IS_REO reo;
    reo.ReqI = reqI;
    reo.NumP = static_cast<std::uint8_t>(std::min(order.size(), reo.PLID.size()));
    for (std::size_t i = 0; i < reo.NumP; ++i) reo.PLID[i] = order[i];
    return reo;
}

void ServerModel::replyConnections(std::uint8_t reqI, Outbox& out) const {
    for (const auto& c : connections_) out.push_back(encode(ncnFor(c, reqI)));
}

void ServerModel::replyPlayers(std::uint8_t reqI, Outbox& out) const {
    for (const auto& p : players_) out.push_back(encode(nplFor(p, reqI)));
}

void ServerModel::replySession(std::uint8_t reqI, Outbox& out) const {
    if (session_.running()) out.push_back(encode(rstFor(reqI)));
}

void ServerModel::replyOrder(std::uint8_t reqI, Outbox& out) const {
    out.push_back(encode(reoFor(reqI)));
}

void ServerModel::markStateReported() {
    reportedState_ = encode(state(0));
}

void ServerModel::emit(const RawPacket& packet, Outbox& out) {
    out.push_back(packet);
    reportStateIfChanged(out);
}

void ServerModel::reportStateIfChanged(Outbox& out) {
    RawPacket now = encode(state(0));
    if (samePacket(now, reportedState_)) return;
    reportedState_ = now;
    out.push_back(now);
}

// ---- Connections -----------------------------------------------------------

Outcome ServerModel::addConnection(int ucid, std::string_view uname, std::string_view pname,
                                   bool admin, Outbox& out) {
    if (ucid < 0) ucid = freeUcid();
    if (ucid < 1 || ucid >= kAllUcids) return Outcome::failure("no UCID free (1 to 254)");
    if (findConnection(ucid)) return Outcome::failure(ucidText(ucid) + " exists already");
    if (uname.empty()) return Outcome::failure("a connection needs a user name");
    if (findConnectionByUser(uname))
        return Outcome::failure("user name '" + std::string(uname) + "' is connected already");
    Connection c;
    c.ucid = static_cast<std::uint8_t>(ucid);
    c.uname = uname;
    c.pname = pname.empty() ? uname : pname;
    c.admin = admin;
    auto pos = std::find_if(connections_.begin(), connections_.end(),
                            [&](const Connection& other) { return other.ucid > c.ucid; });
    const Connection& added = *connections_.insert(pos, c);
    emit(encode(ncnFor(added, 0)), out);
    return Outcome::success(ucid);
}

Outcome ServerModel::removeConnection(int ucid, std::uint8_t reason, Outbox& out) {
    if (ucid == kHostUcid) return Outcome::failure("the host cannot leave");
    if (!findConnection(ucid)) return Outcome::failure("no " + ucidText(ucid));
    // Its players leave first, in join order.
    for (;;) {
        auto it = std::find_if(players_.begin(), players_.end(),
                               [&](const Player& p) { return p.ucid == ucid; });
        if (it == players_.end()) break;
        removePlayerAt(static_cast<std::size_t>(it - players_.begin()), out);
    }
    connections_.erase(std::find_if(connections_.begin(), connections_.end(),
                                    [&](const Connection& c) { return c.ucid == ucid; }));
    screens_.erase(static_cast<std::uint8_t>(ucid));
    IS_CNL cnl;
    cnl.UCID = static_cast<std::uint8_t>(ucid);
    cnl.Reason = reason;
    cnl.Total = static_cast<std::uint8_t>(connections_.size());
    emit(encode(cnl), out);
    return Outcome::success(ucid);
}

Outcome ServerModel::renameConnection(int ucid, std::string_view pname, const char* plate,
                                      Outbox& out) {
    Connection* c = connection(ucid);
    if (!c) return Outcome::failure("no " + ucidText(ucid));
    if (pname.empty()) return Outcome::failure("a nickname cannot be empty");
    c->pname = pname;
    Plate newPlate;
    bool plateSet = false;
    for (auto& p : players_) {
        if (p.ucid != ucid || p.isAi()) continue;
        p.pname = pname;
        if (plate) p.plate = plate;
        if (!plateSet) {
            newPlate = p.plate.view();
            plateSet = true;
        }
    }
    if (plate) newPlate = plate;
    IS_CPR cpr;
    cpr.UCID = c->ucid;
    cpr.PName = c->pname.view();
    cpr.Plate = newPlate.view();
    emit(encode(cpr), out);
    return Outcome::success(ucid);
}

Outcome ServerModel::setAdmin(int ucid, bool admin) {
    Connection* c = connection(ucid);
    if (!c) return Outcome::failure("no " + ucidText(ucid));
    c->admin = admin;
    return Outcome::success(ucid);
}

// ---- Players ---------------------------------------------------------------

Outcome ServerModel::addPlayer(const PlayerSpec& wanted, Outbox& out) {
    const Connection* c = findConnection(wanted.ucid);
    if (!c) return Outcome::failure("no " + ucidText(wanted.ucid));
    if (players_.size() >= kMaxPlayers) return Outcome::failure("the race is full (32 players)");
    int plid = wanted.plid;
    if (plid < 0) plid = freePlid();
    if (plid < 1 || plid > 255) return Outcome::failure("no PLID free");
    if (findPlayer(plid)) return Outcome::failure(plidText(plid) + " exists already");
    if (!wanted.ai && playerOf(wanted.ucid) && !playerOf(wanted.ucid)->isAi())
        return Outcome::failure(ucidText(wanted.ucid) + " has a player on track already");

    Player p;
    p.plid = static_cast<std::uint8_t>(plid);
    p.ucid = c->ucid;
    if (wanted.ptype >= 0) {
        p.ptype = static_cast<std::uint8_t>(wanted.ptype);
    } else {
        p.ptype = wanted.ai ? PTYPE_AI : 0;
        if (c->ucid != kHostUcid) p.ptype |= PTYPE_REMOTE;
    }
    if (!wanted.pname.empty()) {
        p.pname.assign(wanted.pname);
    } else if (p.isAi()) {
        p.pname = ("AI " + std::to_string(plid)).c_str();
    } else {
        p.pname = c->pname.view();
    }
    p.car = wanted.car.empty() ? std::string_view("XRT") : std::string_view(wanted.car);
    p.plate.assign(wanted.plate);
    p.skin = wanted.skin.empty() ? std::string_view("DEFAULT") : std::string_view(wanted.skin);
    players_.push_back(p);
    lastPlid_ = plid;
    placeInBox(players_.back());  // a car joins the race in its pit box
    emit(encode(nplFor(players_.back(), 0)), out);
    return Outcome::success(plid);
}

Outcome ServerModel::playerToPits(int plid, Outbox& out) {
    Player* p = player(plid);
    if (!p) return Outcome::failure("no " + plidText(plid));
    if (p->inPits) return Outcome::failure(plidText(plid) + " is in the pits already");
    p->inPits = true;
    IS_PLP plp;
    plp.PLID = p->plid;
    emit(encode(plp), out);
    return Outcome::success(plid);
}

Outcome ServerModel::playerLeavesPits(int plid, Outbox& out) {
    Player* p = player(plid);
    if (!p) return Outcome::failure("no " + plidText(plid));
    if (!p->inPits) return Outcome::failure(plidText(plid) + " is not in the pits");
    p->inPits = false;
    placeInBox(*p);
    emit(encode(nplFor(*p, 0)), out);
    return Outcome::success(plid);
}

void ServerModel::removePlayerAt(std::size_t index, Outbox& out) {
    IS_PLL pll;
    pll.PLID = players_[index].plid;
    players_.erase(players_.begin() + static_cast<std::ptrdiff_t>(index));
    emit(encode(pll), out);
}

Outcome ServerModel::playerLeaves(int plid, Outbox& out) {
    auto it = std::find_if(players_.begin(), players_.end(),
                           [&](const Player& p) { return p.plid == plid; });
    if (it == players_.end()) return Outcome::failure("no " + plidText(plid));
    removePlayerAt(static_cast<std::size_t>(it - players_.begin()), out);
    return Outcome::success(plid);
}

Outcome ServerModel::takeOver(int plid, int newUcid, Outbox& out) {
    Player* p = player(plid);
    if (!p) return Outcome::failure("no " + plidText(plid));
    const Connection* to = findConnection(newUcid);
    if (!to) return Outcome::failure("no " + ucidText(newUcid));
    if (p->ucid == newUcid) return Outcome::failure(plidText(plid) + " belongs to that connection");
    IS_TOC toc;
    toc.PLID = p->plid;
    toc.OldUCID = p->ucid;
    toc.NewUCID = to->ucid;
    p->ucid = to->ucid;
    if (!p->isAi()) p->pname = to->pname.view();
    emit(encode(toc), out);
    return Outcome::success(plid);
}

Outcome ServerModel::carReset(int plid, Outbox& out) {
    Player* p = player(plid);
    if (!p) return Outcome::failure("no " + plidText(plid));
    // The car is put back on its wheels, facing the right way: whatever it was
    // doing ends and it drives on at its pace.
    p->carState.motion = Motion::Driving;
    p->carState.motionKmh = -1;
    p->carState.motionUntilMs = -1;
    p->carState.spinAngle = 0;
    IS_CRS crs;
    crs.PLID = static_cast<std::uint8_t>(plid);
    emit(encode(crs), out);
    return Outcome::success(plid);
}

Outcome ServerModel::setPenalty(int plid, std::uint8_t penalty, std::uint8_t reason, Outbox& out) {
    Player* p = player(plid);
    if (!p) return Outcome::failure("no " + plidText(plid));
    if (p->penalty == penalty) return Outcome::success(plid);  // nothing changes, LFS says nothing
    IS_PEN pen;
    pen.PLID = p->plid;
    pen.OldPen = p->penalty;
    pen.NewPen = penalty;
    pen.Reason = reason;
    p->penalty = penalty;
    emit(encode(pen), out);
    return Outcome::success(plid);
}

// ---- Chat ------------------------------------------------------------------

void ServerModel::recordChat(ChatLine::Kind kind, std::uint8_t ucid, std::uint8_t plid,
                             std::string_view text, bool acted) {
    ChatLine line;
    line.kind = kind;
    line.timeMs = nowMs_;
    line.ucid = ucid;
    line.plid = plid;
    line.text = std::string(text);
    line.acted = acted;
    chat_.push_back(std::move(line));
}

// The line LFS hands to InSim: "nickname^L : text". ^L switches the code page
// back after the nickname; TextStart is the index of the typed text. Without
// ISF_MSO_COLS the colour codes are removed from both parts.
Outcome ServerModel::typeChat(int ucid, std::string_view text, Outbox& out) {
    const Connection* c = findConnection(ucid);
    if (!c) return Outcome::failure("no " + ucidText(ucid));
    if (text.empty()) return Outcome::failure("an empty chat line is not sent");
    std::string name = msoColours_ ? c->pname.str() : stripColours(c->pname.view());
    std::string typed = msoColours_ ? std::string(text) : stripColours(text);
    std::string head = name + "^L : ";
    IS_MSO mso;
    mso.UCID = c->ucid;
    const Player* p = playerOf(ucid);
    mso.PLID = p ? p->plid : 0;
    mso.UserType = (prefix_ != 0 && static_cast<std::uint8_t>(text.front()) == prefix_) ? MSO_PREFIX
                                                                                        : MSO_USER;
    constexpr std::size_t kMsgChars = 127;  // 128-byte field, terminator included
    if (head.size() > kMsgChars) head.resize(kMsgChars);
    mso.TextStart = static_cast<std::uint8_t>(head.size());
    mso.Msg.assign(head + typed, kMsgChars);
    recordChat(ChatLine::Kind::Typed, c->ucid, mso.PLID, text, false);
    emit(encode(mso), out);
    return Outcome::success(ucid);
}

void ServerModel::longMessage(std::string_view text) {
    recordChat(ChatLine::Kind::ToAll, 0, 0, text, false);
}

void ServerModel::privateMessage(std::uint8_t ucid, std::uint8_t plid, std::string_view text) {
    recordChat(ChatLine::Kind::Private, ucid, plid, text, false);
}

// Host commands: the argument is everything after the blank that ends the
// command word, blanks included. Players are found by nickname; /spec and
// /pitlane also take a user name, /kick only a user name. /qual only sets the
// length of the next qualifying (IS_STA reports it); the session itself goes on.
Outcome ServerModel::hostMessage(std::string_view text, Outbox& out) {
    if (text.empty() || text.front() != '/') {
        recordChat(ChatLine::Kind::ToAll, 0, 0, text, false);
        return Outcome::success();
    }
    recordChat(ChatLine::Kind::Command, 0, 0, text, false);
    const std::size_t commandLine = chat_.size() - 1;
    const std::size_t blank = text.find(' ');
    // The command with its slash: "/pitlane".
    const std::string_view word = text.substr(0, blank);
    const std::string_view arg =
        blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);

    Outcome result = Outcome::failure("unknown command");
    auto byName = [&](std::string_view name) { return findPlayerByName(name); };
    auto byNameOrUser = [&](std::string_view name) {
        const Player* p = findPlayerByName(name);
        const Connection* c = p ? nullptr : findConnectionByUser(name);
        return c ? playerOf(c->ucid) : p;
    };
    if (word == "/spec" || word == "/wanted") {
        const Player* p = byNameOrUser(arg);
        result = p ? playerLeaves(p->plid, out)
                   : Outcome::failure("no player or user '" + std::string(arg) + "'");
    } else if (word == "/pitlane") {
        const Player* p = byNameOrUser(arg);
        result = p ? sendToPitLane(p->plid, out)
                   : Outcome::failure("no player or user '" + std::string(arg) + "'");
    } else if (word == "/kick") {
        const Connection* c = findConnectionByUser(arg);
        result = c ? removeConnection(c->ucid, LEAVR_KICKED, out)
                   : Outcome::failure("no user '" + std::string(arg) + "'");
    } else if (word == "/p_dt" || word == "/p_sg" || word == "/p_clear") {
        const Player* p = byName(arg);
        if (!p) {
            result = Outcome::failure("no player '" + std::string(arg) + "'");
        } else if (word == "/p_clear") {
            result = setPenalty(p->plid, PENALTY_NONE, PENR_UNKNOWN, out);
        } else {
            result = setPenalty(p->plid, word == "/p_dt" ? PENALTY_DT : PENALTY_SG, PENR_ADMIN, out);
        }
    } else if (word == "/restart") {
        result = restartRace(out);
    } else if (word == "/qual") {
        const int mins = parseCount(arg);
        if (mins < 1 || mins > 255) {
            result = Outcome::failure("/qual needs minutes (1 to 255)");
        } else {
            session_.qualMins = mins;
            reportStateIfChanged(out);
            result = Outcome::success();
        }
    }
    chat_[commandLine].acted = result.ok;
    return result;
}

// ---- Session and game state ------------------------------------------------

Outcome ServerModel::startSession(const SessionSpec& wanted, Outbox& out) {
    if (wanted.kind == SessionKind::None) return endSession(out);
    if (wanted.laps > 1000) return Outcome::failure("a race has at most 1000 laps");
    if (wanted.kind == SessionKind::Race && wanted.laps == 0)
        return Outcome::failure("a race needs at least one lap");
    Session s = session_;
    s.kind = wanted.kind;
    if (wanted.laps >= 0) s.raceLaps = wanted.laps;
    if (wanted.qualMins >= 0) s.qualMins = wanted.qualMins;
    if (!wanted.track.empty()) s.track.assign(wanted.track);
    if (wanted.weather >= 0) s.weather = static_cast<std::uint8_t>(wanted.weather);
    if (wanted.wind >= 0) s.wind = static_cast<std::uint8_t>(wanted.wind);
    if (wanted.hostFlags >= 0) s.hostFlags = static_cast<std::uint16_t>(wanted.hostFlags);
    if (wanted.numNodes >= 0) s.numNodes = static_cast<std::uint16_t>(wanted.numNodes);
    if (wanted.finish >= 0) s.finish = static_cast<std::uint16_t>(wanted.finish);
    if (wanted.split1 >= 0) s.split1 = static_cast<std::uint16_t>(wanted.split1);
    if (wanted.split2 >= 0) s.split2 = static_cast<std::uint16_t>(wanted.split2);
    if (wanted.split3 >= 0) s.split3 = static_cast<std::uint16_t>(wanted.split3);
    if (s.kind == SessionKind::Race && s.raceLaps == 0)
        return Outcome::failure("a race needs at least one lap");
    if (s.kind == SessionKind::Qualifying && s.qualMins == 0)
        return Outcome::failure("a qualifying needs its length in minutes");
    if (s.numNodes == 0) return Outcome::failure("a track needs path nodes");
    if (s.finish >= s.numNodes || s.split1 >= s.numNodes || s.split2 >= s.numNodes ||
        s.split3 >= s.numNodes)
        return Outcome::failure("the finish and split nodes must lie below the node count (" +
                                std::to_string(s.numNodes) + ")");
    if (!drivingActive()) movedUntilMs_ = nowMs_;  // cars were idle until now
    session_ = s;
    for (auto& p : players_) p.penalty = PENALTY_NONE;
    placeCarsForSession();
    // The grid order first, then the start itself.
    out.push_back(encode(reoFor(0)));
    emit(encode(rstFor(0)), out);
    return Outcome::success();
}

Outcome ServerModel::endSession(Outbox& out) {
    session_.kind = SessionKind::None;
    reportStateIfChanged(out);
    return Outcome::success();
}

Outcome ServerModel::restartRace(Outbox& out) {
    SessionSpec wanted;
    wanted.kind = session_.raceLaps > 0 ? SessionKind::Race : SessionKind::Practice;
    return startSession(wanted, out);
}

void ServerModel::dropAllGuests() {
    players_.clear();
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const Connection& c) { return c.ucid != kHostUcid; }),
                       connections_.end());
    for (auto it = screens_.begin(); it != screens_.end();)
        it = it->first == kHostUcid ? std::next(it) : screens_.erase(it);
    session_.kind = SessionKind::None;
}

Outcome ServerModel::multiplayerEnds(Outbox& out) {
    IS_TINY mpe;
    mpe.SubT = TINY_MPE;
    out.push_back(encode(mpe));
    dropAllGuests();
    stateFlags_ = static_cast<std::uint16_t>(stateFlags_ & ~ISS_MULTI);
    reportStateIfChanged(out);
    return Outcome::success();
}

Outcome ServerModel::backToSetup(Outbox& out) {
    IS_TINY ren;
    ren.SubT = TINY_REN;
    out.push_back(encode(ren));
    session_.kind = SessionKind::None;
    reportStateIfChanged(out);
    return Outcome::success();
}

Outcome ServerModel::entryScreen(Outbox& out) {
    dropAllGuests();
    stateFlags_ = static_cast<std::uint16_t>((stateFlags_ & ~(ISS_GAME | ISS_MULTI | ISS_REPLAY)) |
                                             ISS_FRONT_END);
    reportStateIfChanged(out);
    return Outcome::success();
}

Outcome ServerModel::setStateFlags(std::uint16_t flags, Outbox& out) {
    stateFlags_ = flags;
    reportStateIfChanged(out);
    return Outcome::success();
}

// ---- Buttons ---------------------------------------------------------------

Outcome ServerModel::placeButton(std::uint8_t ucid, const IS_BTN& btn) {
    auto& list = screens_[ucid];
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const Button& b) { return b.clickId == btn.ClickID; });
    if (it != list.end() && (btn.W == 0 || btn.H == 0)) {
        it->text = btn.Text.view();  // text update: place, size and style stay
        return Outcome::success(ucid);
    }
    Button b;
    b.ucid = ucid;
    b.clickId = btn.ClickID;
    b.reqI = btn.ReqI;
    b.inst = btn.Inst;
    b.style = btn.BStyle;
    b.typeIn = btn.TypeIn;
    b.left = btn.L;
    b.top = btn.T;
    b.width = btn.W;
    b.height = btn.H;
    b.text = btn.Text.view();
    if (it != list.end()) {
        *it = b;
    } else {
        list.push_back(b);
    }
    if (btn.W == 0 || btn.H == 0)
        return Outcome::failure("button " + std::to_string(btn.ClickID) + " of " + ucidText(ucid) +
                                " has no size and did not exist: drawn invisible");
    return Outcome::success(ucid);
}

Outcome ServerModel::button(const IS_BTN& btn) {
    if (btn.ReqI == 0) return Outcome::failure("IS_BTN with ReqI 0 is ignored by LFS");
    if (btn.ClickID > kMaxClickId) return Outcome::failure("IS_BTN click id above 239 is ignored");
    if (btn.UCID == kAllUcids) {
        Outcome result = Outcome::success();
        for (const auto& c : connections_) {
            Outcome one = placeButton(c.ucid, btn);
            if (!one) result = one;
        }
        return result;
    }
    if (!findConnection(btn.UCID))
        return Outcome::failure("IS_BTN for unknown " + ucidText(btn.UCID) + " ignored");
    return placeButton(btn.UCID, btn);
}

Outcome ServerModel::buttonFunction(const IS_BFN& bfn) {
    auto deleteOne = [&](std::vector<Button>& list) {
        const auto before = list.size();
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const Button& b) { return b.clickId == bfn.ClickID; }),
                   list.end());
        return list.size() != before;
    };
    switch (bfn.SubT) {
        case BFN_DEL_BTN: {
            bool found = false;
            if (bfn.UCID == kAllUcids) {
                for (auto& [ucid, list] : screens_) found = deleteOne(list) || found;
            } else {
                auto it = screens_.find(bfn.UCID);
                if (it != screens_.end()) found = deleteOne(it->second);
            }
            if (!found)
                return Outcome::failure("BFN_DEL_BTN for button " + std::to_string(bfn.ClickID) +
                                        " of " + ucidText(bfn.UCID) + ": no such button");
            return Outcome::success();
        }
        case BFN_CLEAR:
            if (bfn.UCID == kAllUcids) {
                screens_.clear();
            } else {
                screens_.erase(bfn.UCID);
            }
            return Outcome::success();
        default:
            return Outcome::failure("IS_BFN sub-type " + std::to_string(bfn.SubT) +
                                    " is not a request to LFS");
    }
}

}  // namespace tmx::sim
