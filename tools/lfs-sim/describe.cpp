#include "lfs-sim/describe.h"

#include <array>

#include "insim/packets.h"

namespace tmx::sim {

using namespace tmx::insim;

namespace {

constexpr std::array<const char*, 22> kTinyNames = {
    "TINY_NONE", "TINY_VER", "TINY_CLOSE", "TINY_PING", "TINY_REPLY", "TINY_VTC",
    "TINY_SCP",  "TINY_SST", "TINY_GTH",   "TINY_MPE",  "TINY_ISM",   "TINY_REN",
    "TINY_CLR",  "TINY_NCN", "TINY_NPL",   "TINY_RES",  "TINY_NLP",   "TINY_MCI",
    "TINY_REO",  "TINY_RST", "TINY_AXI",   "TINY_AXC",
};

std::string quoted(std::string_view text) {
    return "\"" + printable(text) + "\"";
}

std::string num(const char* key, unsigned value) {
    return std::string(" ") + key + "=" + std::to_string(value);
}

std::string bfnName(std::uint8_t subType) {
    switch (subType) {
        case BFN_DEL_BTN:
            return "BFN_DEL_BTN";
        case BFN_CLEAR:
            return "BFN_CLEAR";
        case BFN_USER_CLEAR:
            return "BFN_USER_CLEAR";
        case BFN_REQUEST:
            return "BFN_REQUEST";
        default:
            return "BFN_" + std::to_string(subType);
    }
}

}  // namespace

// The record names of the packet list: "IS_LAP" for type 24.
std::string packetTypeName(std::uint8_t type) {
    if (type == ISP_NONE) return "ISP_NONE";
    if (const char* name = insim::packetTypeName(type)) return std::string("IS_") + name;
    return "ISP_" + std::to_string(type);
}

std::string tinyName(std::uint8_t subType) {
    if (subType < kTinyNames.size()) return kTinyNames[subType];
    return "TINY_" + std::to_string(subType);
}

bool packetKindFromName(std::string_view name, PacketKind& kind) {
    for (std::size_t i = 0; i < kTinyNames.size(); ++i) {
        if (name == kTinyNames[i]) {
            kind.type = ISP_TINY;
            kind.subType = static_cast<int>(i);
            return true;
        }
    }
    for (int type = 1; type <= ISP_BTT; ++type) {
        if (name == packetTypeName(static_cast<std::uint8_t>(type))) {
            kind.type = static_cast<std::uint8_t>(type);
            kind.subType = -1;
            return true;
        }
    }
    return false;
}

std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b == 127) c = '?';
    }
    return out;
}

std::string describePacket(const std::uint8_t* data, std::size_t length) {
    if (length < 2) return "(" + std::to_string(length) + " bytes)";
    const std::uint8_t type = data[1];
    std::string line = packetTypeName(type);
    const std::string bad = " (malformed, " + std::to_string(length) + " bytes)";
    switch (type) {
        case ISP_ISI: {
            IS_ISI p;
            if (!decode(data, length, p)) return line + bad;
            line += " name=" + quoted(p.IName.view());
            const std::string prefix =
                p.Prefix ? std::string(1, static_cast<char>(p.Prefix)) : std::string();
            line += " prefix=" + quoted(prefix);
            return line + num("flags", p.Flags) + num("interval", p.Interval) + num("reqi", p.ReqI);
        }
        case ISP_TINY: {
            IS_TINY p;
            if (!decode(data, length, p)) return line + bad;
            return line + " " + tinyName(p.SubT) + num("reqi", p.ReqI);
        }
        case ISP_SMALL: {
            IS_SMALL p;
            if (!decode(data, length, p)) return line + bad;
            return line + num("subt", p.SubT) + num("uval", p.UVal) + num("reqi", p.ReqI);
        }
        case ISP_MST: {
            IS_MST p;
            if (!decode(data, length, p)) return line + bad;
            return line + " " + quoted(p.Msg.view());
        }
        case ISP_MSX: {
            IS_MSX p;
            if (!decode(data, length, p)) return line + bad;
            return line + " " + quoted(p.Msg.view());
        }
        case ISP_MTC: {
            IS_MTC p;
            if (!decode(data, length, p)) return line + bad;
            return line + num("ucid", p.UCID) + num("plid", p.PLID) + " " + quoted(p.Msg.view());
        }
        case ISP_SCC: {
            IS_SCC p;
            if (!decode(data, length, p)) return line + bad;
            return line + num("plid", p.ViewPLID) + num("cam", p.InGameCam);
        }
        case ISP_BFN: {
            IS_BFN p;
            if (!decode(data, length, p)) return line + bad;
            return line + " " + bfnName(p.SubT) + num("ucid", p.UCID) + num("id", p.ClickID);
        }
        case ISP_BTN: {
            IS_BTN p;
            if (!decode(data, length, p)) return line + bad;
            return line + num("ucid", p.UCID) + num("id", p.ClickID) + num("inst", p.Inst) +
                   num("style", p.BStyle) + num("L", p.L) + num("T", p.T) + num("W", p.W) +
                   num("H", p.H) + " " + quoted(p.Text.view());
        }
        case ISP_REO: {
            IS_REO p;
            if (!decode(data, length, p)) return line + bad;
            line += num("nump", p.NumP) + " order=";
            for (std::size_t i = 0; i < p.NumP && i < p.PLID.size(); ++i)
                line += (i ? "," : "") + std::to_string(p.PLID[i]);
            return line;
        }
        default:
            return line + " (" + std::to_string(length) + " bytes)";
    }
}

}  // namespace tmx::sim
