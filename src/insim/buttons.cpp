// The link's button manager: the buttons drawn on one LFS server, listed in
// order of creation, so that a button can be updated in place, expire by
// itself, go by group or connection, and be cleaned up when the link closes.
// Lookups are linear: a server holds at most a few hundred buttons.
//
// A failed send is left in the link's last error; the list changes as if the
// packet had gone out, so it never claims a button the caller gave up on.
#include <limits>
#include <new>

#include "insim/insim_handling.h"

namespace tmx::insim {

namespace {

constexpr std::uint8_t kAllConnections = 255;

// Request lifetimes are milliseconds; records keep whole seconds.
std::int64_t lifetimeSeconds(std::int64_t milliseconds) { return milliseconds / 1000; }

}  // namespace

void cl_InsimHandling::sendButton(const ButtonRecord& record, bool alwaysVisible, bool textOnly) {
    IS_BTN packet;
    packet.ReqI = record.clickId;
    packet.UCID = record.ucid;
    packet.ClickID = record.clickId;
    packet.Inst = alwaysVisible ? INST_ALWAYS_ON : 0;
    packet.BStyle = record.style;
    packet.TypeIn = 0;
    packet.L = record.left;
    packet.T = record.top;
    // Width and height 0 make LFS keep the button's place and size and only
    // replace its text.
    packet.W = textOnly ? 0 : record.width;
    packet.H = textOnly ? 0 : record.height;
    packet.Text.assign(record.text.view());
    const RawPacket bytes = encode(packet);
    SendRaw(bytes.data(), static_cast<int>(bytes.size));
}

void cl_InsimHandling::sendButtonFunction(std::uint8_t subType, std::uint8_t ucid, std::uint8_t clickId) {
    IS_BFN packet;
    packet.ReqI = 0;
    packet.SubT = subType;
    packet.UCID = ucid;
    packet.ClickID = clickId;
    const RawPacket bytes = encode(packet);
    SendRaw(bytes.data(), static_cast<int>(bytes.size));
}

int cl_InsimHandling::Show(const ButtonRequest& request) {
    const std::int64_t now = clock_.now();
    for (ButtonRecord& record : buttons_) {
        if (record.ucid != request.ucid || record.clickId != request.clickId) continue;
        record.text = request.text;
        record.timeWritten = now;
        record.lifetime = lifetimeSeconds(request.lifetime);
        sendButton(record, request.alwaysVisible != 0, true);
        return 0;
    }

    try {
        buttons_.push_back(request);
    } catch (const std::bad_alloc&) {
        return -1;  // nothing listed, nothing sent
    }
    ButtonRecord& record = buttons_.back();
    record.handle = nextHandle_;
    // Handles stay positive so that a new button never reads as an update.
    nextHandle_ = nextHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : nextHandle_ + 1;
    record.timeWritten = now;
    record.lifetime = lifetimeSeconds(request.lifetime);
    sendButton(record, record.alwaysVisible != 0, false);
    return record.handle;
}

template <typename Match>
void cl_InsimHandling::removeButtons(Match match, bool tellServer) {
    for (auto it = buttons_.begin(); it != buttons_.end();) {
        if (!match(*it)) {
            ++it;
            continue;
        }
        const std::uint8_t ucid = it->ucid;
        const std::uint8_t clickId = it->clickId;
        it = buttons_.erase(it);
        if (tellServer) sendButtonFunction(BFN_DEL_BTN, ucid, clickId);
    }
}

const ButtonRecord* cl_InsimHandling::FindButton(std::uint8_t ucid, std::uint8_t clickId) const {
    for (const ButtonRecord& record : buttons_) {
        if (record.ucid == ucid && record.clickId == clickId) return &record;
    }
    return nullptr;
}

int cl_InsimHandling::Delete(std::uint8_t ucid, std::uint8_t clickId) {
    if (!FindButton(ucid, clickId)) return -1;
    removeButtons([&](const ButtonRecord& r) { return r.ucid == ucid && r.clickId == clickId; }, true);
    return 0;
}

int cl_InsimHandling::Forget(std::uint8_t ucid, std::uint8_t clickId) {
    if (!FindButton(ucid, clickId)) return -1;
    removeButtons([&](const ButtonRecord& r) { return r.ucid == ucid && r.clickId == clickId; }, false);
    return 0;
}

int cl_InsimHandling::DeleteGroup(std::uint8_t group, std::uint8_t ucid) {
    removeButtons([&](const ButtonRecord& r) { return r.groupId == group && r.ucid == ucid; }, true);
    return 0;
}

int cl_InsimHandling::DeleteAll(std::uint8_t ucid) {
    removeButtons([&](const ButtonRecord& r) { return r.ucid == ucid; }, true);
    return 0;
}

int cl_InsimHandling::ForgetAll(std::uint8_t ucid) {
    removeButtons([&](const ButtonRecord& r) { return r.ucid == ucid; }, false);
    return 0;
}

int cl_InsimHandling::ClearAll() {
    if (buttons_.empty()) return 0;
    sendButtonFunction(BFN_CLEAR, kAllConnections, 0);
    const int result = lastError_ == LINKERR_NONE ? 0 : -1;
    buttons_.clear();
    return result;
}

void cl_InsimHandling::Expire() {
    // Whole seconds: a button goes at the first poll at which the clock has
    // moved on by more than its lifetime (5 s: between 5 and 7 s later).
    const std::int64_t now = clock_.now();
    removeButtons([&](const ButtonRecord& r) { return r.lifetime > 0 && now - r.timeWritten > r.lifetime; },
                  true);
}

void cl_InsimHandling::deleteListedButtons() {
    removeButtons([](const ButtonRecord&) { return true; }, true);
}

void cl_InsimHandling::freeListedButtons() {
    if (buttons_.empty()) return;
    console_.out("\n...deleting insim buttons");
    buttons_.clear();
}

}  // namespace tmx::insim
