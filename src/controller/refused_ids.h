// Connections and players that the server reports but the full table could
// not take. LFS goes on reporting them (renames, chat, joins, leaves, and in
// its connection and player counts); remembering them lets the controller
// ignore those reports instead of taking them for a table out of step.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

namespace tmx {

class RefusedIds {
public:
    void refuseConnection(std::uint8_t ucid) { connections_.set(ucid); }
    void refusePlayer(std::uint8_t plid, std::uint8_t ucid) {
        players_.set(plid);
        owner_[plid] = ucid;
    }
    bool connection(std::uint8_t ucid) const { return connections_.test(ucid); }
    bool player(std::uint8_t plid) const { return players_.test(plid); }

    // The connection left: it and every refused player it had are gone.
    void connectionLeft(std::uint8_t ucid) {
        connections_.reset(ucid);
        for (std::size_t plid = 0; plid < owner_.size(); ++plid)
            if (players_.test(plid) && owner_[plid] == ucid) players_.reset(plid);
    }
    void playerLeft(std::uint8_t plid) { players_.reset(plid); }
    void clear() {
        connections_.reset();
        players_.reset();
    }

    int connectionCount() const { return static_cast<int>(connections_.count()); }
    int playerCount() const { return static_cast<int>(players_.count()); }

private:
    std::bitset<256> connections_;
    std::bitset<256> players_;
    std::array<std::uint8_t, 256> owner_{};
};

}  // namespace tmx
