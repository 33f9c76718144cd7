// A tiny raw InSim client for driving the simulated server in tests: a
// loopback TCP socket plus the packet codec, with its own framing. Every wait
// has a real-time limit that is only a safety net; the tests themselves wait
// for events, never for time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "insim/packets.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace tmx::sim::testing {

constexpr int kWaitMs = 3000;

class SimClient {
public:
    bool connect(std::uint16_t port) {
        std::uint32_t address = 0;
        if (!platform::resolveIPv4("127.0.0.1", address)) return false;
        return socket_.open() && socket_.connect(address, port);
    }

    bool sendBytes(const std::vector<std::uint8_t>& bytes) {
        return socket_.sendAll(bytes.data(), static_cast<int>(bytes.size()));
    }
    bool send(const insim::RawPacket& p) {
        return socket_.sendAll(p.data(), static_cast<int>(p.size));
    }
    template <typename P>
    bool send(const P& packet) {
        return send(insim::encode(packet));
    }
    bool sendTiny(std::uint8_t subType, std::uint8_t reqI) {
        insim::IS_TINY t;
        t.SubT = subType;
        t.ReqI = reqI;
        return send(t);
    }
    bool sendMst(const std::string& text) {
        insim::IS_MST m;
        m.Msg.assign(text);
        return send(m);
    }

    static insim::IS_ISI isi(const std::string& password) {
        insim::IS_ISI p;
        p.Flags = insim::ISF_MSO_COLS | insim::ISF_MCI;
        p.Prefix = '#';
        p.Interval = 250;
        p.Admin.assign(password);
        p.IName.assign("LFS_TMX");
        return p;
    }
    bool connectAndLogin(std::uint16_t port, const std::string& password = "") {
        return connect(port) && send(isi(password));
    }

    // The next whole packet, or nothing within timeoutMs / when the peer closed.
    std::optional<std::vector<std::uint8_t>> next(int timeoutMs = kWaitMs) {
        const std::int64_t deadline = platform::systemClock().nowMs() + timeoutMs;
        for (;;) {
            if (!rx_.empty() && rx_[0] != 0 && rx_.size() >= rx_[0]) {
                std::vector<std::uint8_t> packet(rx_.begin(), rx_.begin() + rx_[0]);
                rx_.erase(rx_.begin(), rx_.begin() + rx_[0]);
                return packet;
            }
            if (!fill(deadline)) return std::nullopt;
        }
    }

    // The next packet of that kind; packets of other kinds before it are
    // collected in skipped.
    std::optional<std::vector<std::uint8_t>> nextOf(std::uint8_t type, int tinySubType = -1,
                                                    int timeoutMs = kWaitMs) {
        for (;;) {
            auto p = next(timeoutMs);
            if (!p) return std::nullopt;
            if ((*p)[1] == type && (tinySubType < 0 || (*p)[3] == tinySubType)) return p;
            skipped.push_back(*p);
        }
    }

    // Sends TINY_PING and returns every packet the server sent before its
    // TINY_REPLY: the server answers in order, so this is exactly what it had
    // sent so far (a barrier, instead of waiting and hoping nothing comes).
    std::vector<std::vector<std::uint8_t>> drainUntilPing(std::uint8_t reqI = 222) {
        std::vector<std::vector<std::uint8_t>> before;
        if (!sendTiny(insim::TINY_PING, reqI)) return before;
        for (;;) {
            auto p = next();
            if (!p) {
                before.push_back({});  // marks a missing reply
                return before;
            }
            if ((*p)[1] == insim::ISP_TINY && (*p)[3] == insim::TINY_REPLY && (*p)[2] == reqI)
                return before;
            before.push_back(*p);
        }
    }

    // Raw bytes as they arrive (one receive call), for framing tests.
    std::vector<std::uint8_t> receiveOnce(int timeoutMs = kWaitMs) {
        std::vector<std::uint8_t> bytes(512);
        if (socket_.waitReadable(timeoutMs) != platform::TcpSocket::Wait::Readable) return {};
        const int n = socket_.receive(bytes.data(), static_cast<int>(bytes.size()));
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }
    // Exactly n raw bytes, over as many receives as it takes.
    std::vector<std::uint8_t> receiveBytes(std::size_t n, int timeoutMs = kWaitMs) {
        const std::int64_t deadline = platform::systemClock().nowMs() + timeoutMs;
        while (rx_.size() < n && fill(deadline)) {
        }
        const std::size_t take = rx_.size() < n ? rx_.size() : n;
        std::vector<std::uint8_t> bytes(rx_.begin(),
                                        rx_.begin() + static_cast<std::ptrdiff_t>(take));
        rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(take));
        return bytes;
    }

    // True once the server has closed the connection (pending data is read and dropped).
    bool closedByServer(int timeoutMs = kWaitMs) {
        const std::int64_t deadline = platform::systemClock().nowMs() + timeoutMs;
        while (!peerClosed_ && fill(deadline)) rx_.clear();
        return peerClosed_;
    }

    void close() { socket_.close(); }

    std::vector<std::vector<std::uint8_t>> skipped;

private:
    bool fill(std::int64_t deadline) {
        if (peerClosed_) return false;
        const std::int64_t left = deadline - platform::systemClock().nowMs();
        if (left <= 0) return false;
        if (socket_.waitReadable(static_cast<int>(left)) != platform::TcpSocket::Wait::Readable)
            return false;
        std::uint8_t chunk[1024];
        const int n = socket_.receive(chunk, sizeof chunk);
        if (n <= 0) {
            peerClosed_ = true;
            return false;
        }
        rx_.insert(rx_.end(), chunk, chunk + n);
        return true;
    }

    platform::TcpSocket socket_;
    std::vector<std::uint8_t> rx_;
    bool peerClosed_ = false;
};

template <typename P>
P as(const std::vector<std::uint8_t>& bytes) {
    P packet;
    if (!insim::decode(bytes.data(), bytes.size(), packet)) {
        ADD_FAILURE() << "packet of type " << (bytes.size() > 1 ? int{bytes[1]} : 0)
                      << " does not decode";
        packet = P{};
    }
    return packet;
}

template <typename P>
P as(const insim::RawPacket& raw) {
    P packet;
    if (!insim::decode(raw.data(), raw.size, packet)) {
        ADD_FAILURE() << "packet of type " << (raw.size > 1 ? int{raw.bytes[1]} : 0)
                      << " does not decode";
        packet = P{};
    }
    return packet;
}

}  // namespace tmx::sim::testing
