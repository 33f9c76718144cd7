#include "insim/insim_handling.h"

#include <algorithm>
#include <cstring>

namespace tmx::insim {

namespace {

// Values the link puts into its IS_ISI.
constexpr std::uint16_t kInitFlags = ISF_MSO_COLS | ISF_MCI;  // 40
constexpr std::uint8_t kCommandPrefix = '#';
constexpr std::uint16_t kMciIntervalMs = 250;
constexpr std::size_t kAdminPasswordMax = 15;
constexpr const char* kProgramName = "LFS_TMX";

// Every InSim packet carries at least the 4-byte header; a smaller size byte
// can only come from a broken stream.
constexpr int kHeaderSize = 4;
// IS_STA: the state flags are the little-endian word at offset 8.
constexpr int kStaFlagsOffset = 8;

}  // namespace

cl_InsimHandling::cl_InsimHandling(Console& console, platform::Clock& clock)
    : console_(console), clock_(clock) {}

cl_InsimHandling::~cl_InsimHandling() {
    // The server is not told: the link may be long gone by now.
    freeListedButtons();
    console_.out("  ->  insimclass terminated");
    socket_.close();
    if (socketsStarted_) {
        platform::socketsCleanup();
        socketsStarted_ = false;
    }
}

bool cl_InsimHandling::debugOn() const { return debug.load(std::memory_order_relaxed) == 1; }

void cl_InsimHandling::abandonConnect(std::int32_t error) {
    socket_.close();
    if (socketsStarted_) {
        platform::socketsCleanup();
        socketsStarted_ = false;
    }
    lastError_ = error;
    linkState_ = LINK_NOT_CONNECTED;
}

int cl_InsimHandling::Connect(const char* host, int port, const char* adminPassword) {
    lastError_ = LINKERR_NONE;
    connectFailure_.clear();
    closedByServer_ = false;
    if (linkState_ != LINK_NOT_CONNECTED) {
        lastError_ = LINKERR_RECEIVE;
        return -1;
    }
    linkState_ = LINK_CONNECTING;
    if (!platform::socketsStartup()) {
        connectFailure_ = "the socket layer could not be started";
        lastError_ = LINKERR_CONNECT;
        linkState_ = LINK_NOT_CONNECTED;
        return -1;
    }
    socketsStarted_ = true;

    const bool dbg = debugOn();
    if (dbg) {
        console_.out("\nDEBUG: Trying to connect LFS\t\t");
    } else {
        console_.out("\n     Connecting LFS .");
    }

    if (!socket_.open()) {
        connectFailure_ = "no socket could be created";
        abandonConnect(LINKERR_CONNECT);
        return -1;
    }

    const char* hostText = host ? host : "";
    std::uint32_t address = 0;
    const bool portValid = port >= 1 && port <= 65535;
    if (!portValid) {
        connectFailure_ = "the port is not a number from 1 to 65535";
    } else if (!host || !platform::resolveIPv4(host, address)) {
        connectFailure_ = "host name not found";
    } else if (!socket_.connect(address, static_cast<std::uint16_t>(port))) {
        connectFailure_ = platform::lastConnectFailure();
    }
    if (!connectFailure_.empty()) {
        console_.err("\nConnection to '%s' failed\n", hostText);
        abandonConnect(LINKERR_CONNECT);
        return -1;
    }
    // A reply is often several small packets in a row; do not let them wait
    // for each other.
    socket_.setNoDelay(true);
    // A new stream starts clean: bytes left from an earlier connection would
    // be framed out of step.
    receive_.clear();

    if (dbg) {
        console_.out("-success!");
        console_.out("\nDEBUG: Connecting LFS INSIM\t\t");
    } else {
        console_.out(".");
        console_.out(".");
    }

    IS_ISI init;
    init.ReqI = 0;
    init.UDPPort = 0;
    init.Flags = kInitFlags;
    init.Sp0 = 0;
    init.Prefix = kCommandPrefix;
    init.Interval = kMciIntervalMs;
    init.Admin.assign(adminPassword ? std::string_view(adminPassword) : std::string_view(),
                      kAdminPasswordMax);
    init.IName.assign(kProgramName);
    const RawPacket initBytes = encode(init);
    if (SendRaw(initBytes.data(), static_cast<int>(initBytes.size)) != 0) {
        connectFailure_ = "the login could not be sent";
        abandonConnect(LINKERR_INIT);
        if (dbg) console_.out("-failed!!!");
        return -1;
    }

    if (dbg) {
        console_.out("-success!");
        console_.out("\nDEBUG: Sending Version\t\t\t");
    } else {
        console_.out(".");
    }

    IS_TINY version;
    version.ReqI = 1;
    version.SubT = TINY_VER;
    const RawPacket versionBytes = encode(version);
    if (SendRaw(versionBytes.data(), static_cast<int>(versionBytes.size)) != 0) {
        connectFailure_ = "the login could not be sent";
        abandonConnect(LINKERR_INIT);
        if (dbg) console_.out("-failed!\n");
        return -1;
    }

    if (dbg) console_.out("-success!\n");
    console_.out("\n     LFS connected successfully");
    linkState_ = LINK_CONNECTED;
    lastError_ = LINKERR_NONE;
    return 0;
}

int cl_InsimHandling::Close() {
    lastError_ = LINKERR_NONE;
    if (linkState_ == LINK_NOT_CONNECTED) return 0;

    deleteListedButtons();

    IS_TINY closing;
    closing.ReqI = 0;
    closing.SubT = TINY_CLOSE;
    const RawPacket bytes = encode(closing);
    SendRaw(bytes.data(), static_cast<int>(bytes.size));  // the link goes down either way
    console_.out(" -->  closing winsocket");
    socket_.close();
    if (socketsStarted_) {
        platform::socketsCleanup();
        socketsStarted_ = false;
    }
    linkState_ = LINK_NOT_CONNECTED;
    lastError_ = LINKERR_NONE;
    return 0;
}

int cl_InsimHandling::Poll() {
    if (linkState_ < LINK_CONNECTED) return -1;

    Expire();

    if (linkState_ == LINK_PACKET_READY) return 0;

    const std::int32_t buffered = receive_.length();
    const std::uint8_t* front = receive_.data();
    if (buffered > 0 && front[0] < kHeaderSize) {
        // LFS never sends such a size; waiting for more bytes would stall the
        // link for good, so the stream is given up and reconnected.
        discardUnprocessable();
        return -1;
    }
    const int size = buffered > 0 ? front[0] : 0;
    if (buffered == 0 || buffered < size) {
        receiveStep();
        return lastError_ != LINKERR_NONE ? -1 : 0;
    }

    // Cut one packet.
    linkState_ = LINK_PACKET_READY;
    packet_.assignBytes(front, size);
    receive_.consumeFront(size);

    const std::uint8_t* pkt = packet_.data();
    const std::uint8_t type = pkt[1];

    if (type == ISP_STA && size >= kStaFlagsOffset + 2) {
        const auto flags = static_cast<std::uint16_t>(pkt[kStaFlagsOffset] | (pkt[kStaFlagsOffset + 1] << 8));
        const bool multi = (flags & ISS_MULTI) != 0 && (flags & ISS_REPLAY) == 0;
        multiplayer_ = multi ? 1 : 0;
        if (debugOn()) {
            if (multi) {
                console_.out("\nDEBUG: Insimhandler -> detect multiplayermode");
            } else {
                console_.out("\nDEBUG: Insimhandler -> detect no multiplayermode");
            }
        }
    }

    if (type == ISP_TINY && pkt[2] == 0 && pkt[3] == TINY_NONE) {
        sendKeepAliveAnswer();
        linkState_ = LINK_CONNECTED;  // consumed here, never handed on
    }
    return 0;
}

void cl_InsimHandling::sendKeepAliveAnswer() {
    IS_TINY answer;
    answer.ReqI = 0;
    answer.SubT = TINY_NONE;
    const RawPacket bytes = encode(answer);
    if (SendRaw(bytes.data(), static_cast<int>(bytes.size)) != 0) {
        lastError_ = LINKERR_SEND;
        if (debugOn()) console_.out("pong failed!\n");
    } else {
        lastError_ = LINKERR_NONE;
    }
}

void cl_InsimHandling::discardUnprocessable() {
    console_.out("\n\nINSIM-ERROR:  Couldnt process received data. clearing buffer\n");
    linkState_ = LINK_OVERFLOW;
    lastError_ = LINKERR_RECEIVE;
    receive_.clear();
}

void cl_InsimHandling::receiveStep() {
    lastError_ = LINKERR_NONE;
    const platform::TcpSocket::Wait wait = socket_.waitReadable(receiveWaitMs);
    if (wait == platform::TcpSocket::Wait::Timeout || wait == platform::TcpSocket::Wait::Error) return;

    if (wait == platform::TcpSocket::Wait::Exception) {
        lastError_ = LINKERR_RECEIVE;
        linkState_ = LINK_EXCEPTION;
        console_.out("InsimError:  got exeption");
        receive_.clear();
        return;
    }

    // Receive no more than fits: a burst larger than the buffer stays in the
    // socket and is framed over the following polls instead of being lost.
    const std::int32_t room = receive_.freeRoom();
    if (room <= 0) {
        console_.out("\n\nINSIM-ERROR:  RECEIVEBUFFER overflow. Buffer cleared\n");
        linkState_ = LINK_OVERFLOW;
        lastError_ = LINKERR_RECEIVE;
        receive_.clear();
        return;
    }

    const int received = socket_.receive(receive_.tail(), room);
    if (received == 0) {
        lastError_ = LINKERR_INIT;
        linkState_ = LINK_CLOSED;
        closedByServer_ = true;
        console_.out("\nLFS has terminated the session!!\n");
        receive_.clear();
    } else if (received < 0) {
        // A reset or another receive failure ends the stream just as a close
        // does; the controller reconnects.
        lastError_ = LINKERR_INIT;
        linkState_ = LINK_CLOSED;
        console_.out("\nLFS connection lost (receive failed)\n");
        receive_.clear();
    } else {
        receive_.commitTail(received);
        if (receive_.status() != 0) discardUnprocessable();
    }
}

std::uint8_t cl_InsimHandling::PacketType() {
    lastError_ = LINKERR_NONE;
    return packet_.length() >= 2 ? packet_.data()[1] : 0;
}

int cl_InsimHandling::TakePacket() {
    // Only a ready packet is consumed; a link that is down stays down.
    if (linkState_ == LINK_PACKET_READY) linkState_ = LINK_CONNECTED;
    lastError_ = LINKERR_NONE;
    return 0;
}

int cl_InsimHandling::TakePacket(RawPacket& destination) {
    const std::size_t count = std::min(static_cast<std::size_t>(packet_.length()), destination.bytes.size());
    destination.bytes.fill(0);
    std::memcpy(destination.bytes.data(), packet_.data(), count);
    destination.size = count;
    return TakePacket();
}

int cl_InsimHandling::SendRaw(const void* bytes, int length) {
    if (!bytes || length < 1 || length > cl_SocketBuffer::kCapacity) return 0;
    send_.assignBytes(static_cast<const std::uint8_t*>(bytes), length);
    lastError_ = LINKERR_NONE;
    const int sent = socket_.send(send_.data(), length);
    if (sent < length) {
        lastError_ = LINKERR_SEND;
        return -1;
    }
    return 0;
}

}  // namespace tmx::insim
