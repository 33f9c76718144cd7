// A raw-bytes stand-in for an LFS server on 127.0.0.1, for the link tests:
// it accepts the link's connection, reads exactly what the link sent and
// writes hand-built bytes back. No packet knowledge lives here.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "insim/insim_handling.h"
#include "platform/socket.h"

namespace tmx::insim::testing {

using Bytes = std::vector<std::uint8_t>;

// Bytes the link sends right after connecting: IS_ISI (44) and TINY_VER (4).
constexpr int kInitBytes = 48;

class FakeLfsPeer {
public:
    FakeLfsPeer() { listening_ = listener_.listen(0); }

    bool listening() const { return listening_; }
    int port() const { return listener_.port(); }

    // Accepts the link's connection (already made by Connect).
    bool accept() {
        peer_ = listener_.accept(2000);
        return peer_.isOpen();
    }

    // Reads exactly count bytes; fewer when the link closed or went silent
    // for two seconds (a failure in every test that calls this).
    Bytes readExactly(std::size_t count) {
        Bytes out(count);
        std::size_t got = 0;
        while (got < count) {
            if (peer_.waitReadable(2000) != platform::TcpSocket::Wait::Readable) break;
            const int n = peer_.receive(out.data() + got, static_cast<int>(count - got));
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);
        return out;
    }

    // True when the link has closed its side (the next receive sees the end).
    bool seesEndOfStream() {
        if (peer_.waitReadable(2000) != platform::TcpSocket::Wait::Readable) return false;
        std::uint8_t byte = 0;
        return peer_.receive(&byte, 1) == 0;
    }

    bool send(const Bytes& bytes) { return peer_.sendAll(bytes.data(), static_cast<int>(bytes.size())); }

    // Waits for the data a connect left in this side's receive queue, without
    // reading it.
    bool dataPending() { return peer_.waitReadable(2000) == platform::TcpSocket::Wait::Readable; }

    void closePeer() { peer_.close(); }
    platform::TcpSocket& socket() { return peer_; }

private:
    platform::TcpListener listener_;
    platform::TcpSocket peer_;
    bool listening_ = false;
};

// Polls until a packet is ready (true) or Poll fails / maxPolls pass (false).
inline bool pollUntilReady(cl_InsimHandling& link, int maxPolls = 40) {
    for (int i = 0; i < maxPolls; ++i) {
        if (link.Poll() != 0) return false;
        if (link.GetState() == LINK_PACKET_READY) return true;
    }
    return false;
}

// The ready packet's bytes.
inline Bytes readyPacket(const cl_InsimHandling& link) {
    return Bytes(link.PacketData(), link.PacketData() + link.PacketLength());
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Hand-built packets (InSim 4 byte layouts).
inline Bytes tinyPacket(std::uint8_t reqI, std::uint8_t subT) { return {4, 3, reqI, subT}; }

inline Bytes cnlPacket(std::uint8_t ucid, std::uint8_t reason) { return {8, 19, 0, ucid, reason, 3, 0, 0}; }

inline Bytes staPacket(std::uint16_t flags) {
    Bytes p(28, 0);
    p[0] = 28;
    p[1] = 5;
    p[4] = 0x00, p[5] = 0x00, p[6] = 0x80, p[7] = 0x3f;  // ReplaySpeed 1.0f
    p[8] = static_cast<std::uint8_t>(flags & 0xff);
    p[9] = static_cast<std::uint8_t>(flags >> 8);
    p[12] = 2;  // NumP
    p[13] = 3;  // NumConns
    p[20] = 'B', p[21] = 'L', p[22] = '1';
    return p;
}

}  // namespace tmx::insim::testing
