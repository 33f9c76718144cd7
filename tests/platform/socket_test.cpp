// Loopback tests of the TCP layer: every socket here talks to 127.0.0.1 only.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/socket.h"

namespace tmx::platform {
namespace {

std::uint32_t loopbackAddress() {
    std::uint32_t address = 0;
    EXPECT_TRUE(resolveIPv4("127.0.0.1", address));
    return address;
}

// A connected client/server pair over the loopback interface.
struct Pair {
    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
};

void connectPair(Pair& pair) {
    ASSERT_TRUE(pair.listener.listen(0));
    ASSERT_NE(pair.listener.port(), 0);
    ASSERT_TRUE(pair.client.open());
    ASSERT_TRUE(pair.client.connect(loopbackAddress(), pair.listener.port()));
    pair.server = pair.listener.accept(2000);
    ASSERT_TRUE(pair.server.isOpen());
}

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(socketsStartup()); }
    void TearDown() override { socketsCleanup(); }
};

TEST_F(SocketTest, ResolvesLoopbackByNumberAndName) {
    std::uint32_t byNumber = 0;
    ASSERT_TRUE(resolveIPv4("127.0.0.1", byNumber));
    const auto* bytes = reinterpret_cast<const unsigned char*>(&byNumber);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 1);

    std::uint32_t byName = 0;
    ASSERT_TRUE(resolveIPv4("localhost", byName));
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&byName)[0], 127);
}

TEST_F(SocketTest, RefusesUnresolvableAndEmptyHosts) {
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t address = 0xDEADBEEFU;
    EXPECT_FALSE(resolveIPv4("no.such.host.invalid", address));
    EXPECT_FALSE(resolveIPv4("", address));
    EXPECT_FALSE(resolveIPv4(nullptr, address));
    EXPECT_FALSE(resolveIPv4("127.0.0.1.5", address));
    EXPECT_EQ(address, 0xDEADBEEFU) << "a failed lookup must leave the address alone";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SocketTest, RoundTripBothWays) {
    Pair pair;
    connectPair(pair);
    ASSERT_TRUE(pair.client.setNoDelay(true));

    const std::string hello = "hello over loopback";
    ASSERT_TRUE(pair.client.sendAll(hello.data(), static_cast<int>(hello.size())));
    ASSERT_EQ(pair.server.waitReadable(2000), TcpSocket::Wait::Readable);
    std::array<char, 64> buffer{};
    std::string received;
    while (received.size() < hello.size()) {
        const int got = pair.server.receive(buffer.data(), static_cast<int>(buffer.size()));
        ASSERT_GT(got, 0);
        received.append(buffer.data(), static_cast<std::size_t>(got));
    }
    EXPECT_EQ(received, hello);

    const std::array<unsigned char, 4> reply{4, 3, 0, 0};
    EXPECT_EQ(pair.server.send(reply.data(), static_cast<int>(reply.size())), 4);
    ASSERT_EQ(pair.client.waitReadable(2000), TcpSocket::Wait::Readable);
    std::array<unsigned char, 4> got{};
    ASSERT_EQ(pair.client.receive(got.data(), static_cast<int>(got.size())), 4);
    EXPECT_EQ(got, reply);
}

TEST_F(SocketTest, LargeSendAllArrivesComplete) {
    Pair pair;
    connectPair(pair);
    // Far larger than the socket buffers, so sendAll has to loop over short
    // writes while the reader drains the other end.
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    std::string received;
    std::thread reader([&] {
        std::array<char, 16384> buffer{};
        while (received.size() < big.size()) {
            if (pair.server.waitReadable(5000) != TcpSocket::Wait::Readable) {
                return;
            }
            const int got = pair.server.receive(buffer.data(), static_cast<int>(buffer.size()));
            if (got <= 0) {
                return;
            }
            received.append(buffer.data(), static_cast<std::size_t>(got));
        }
    });
    const bool sent = pair.client.sendAll(big.data(), static_cast<int>(big.size()));
    reader.join();
    EXPECT_TRUE(sent);
    ASSERT_EQ(received.size(), big.size());
    EXPECT_TRUE(received == big);
}

TEST_F(SocketTest, SilentSocketTimesOut) {
    Pair pair;
    connectPair(pair);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pair.client.waitReadable(50), TcpSocket::Wait::Timeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(45));
    EXPECT_LT(waited, std::chrono::seconds(2));
}

TEST_F(SocketTest, PeerCloseReadsAsZero) {
    Pair pair;
    connectPair(pair);
    pair.server.close();
    ASSERT_EQ(pair.client.waitReadable(2000), TcpSocket::Wait::Readable);
    std::array<char, 16> buffer{};
    EXPECT_EQ(pair.client.receive(buffer.data(), static_cast<int>(buffer.size())), 0);
}

TEST_F(SocketTest, ShutdownWakesThePeer) {
    Pair pair;
    connectPair(pair);
    pair.server.shutdown();
    EXPECT_TRUE(pair.server.isOpen());
    ASSERT_EQ(pair.client.waitReadable(2000), TcpSocket::Wait::Readable);
    std::array<char, 16> buffer{};
    EXPECT_EQ(pair.client.receive(buffer.data(), static_cast<int>(buffer.size())), 0);
}

TEST_F(SocketTest, ResetConnectionEndsWithoutHangOrSignal) {
    Pair pair;
    connectPair(pair);
    // Closing a socket that still holds unread data resets the connection.
    const char data[] = "unread";
    ASSERT_TRUE(pair.client.sendAll(data, sizeof data));
    ASSERT_EQ(pair.server.waitReadable(2000), TcpSocket::Wait::Readable);
    pair.server.close();

    ASSERT_EQ(pair.client.waitReadable(2000), TcpSocket::Wait::Readable);
    std::array<char, 16> buffer{};
    const int got = pair.client.receive(buffer.data(), static_cast<int>(buffer.size()));
    EXPECT_LE(got, 0);

    // Writing to the dead connection fails instead of killing the process.
    bool failed = false;
    for (int i = 0; i < 50 && !failed; ++i) {
        failed = !pair.client.sendAll(data, sizeof data);
    }
    EXPECT_TRUE(failed);
}

TEST_F(SocketTest, ConnectToClosedPortFails) {
    std::uint16_t port = 0;
    {
        TcpListener listener;
        ASSERT_TRUE(listener.listen(0));
        port = listener.port();
    }
    TcpSocket client;
    ASSERT_TRUE(client.open());
    EXPECT_FALSE(client.connect(loopbackAddress(), port));
}

TEST_F(SocketTest, AcceptTimesOutWithClosedSocket) {
    TcpListener listener;
    ASSERT_TRUE(listener.listen(0));
    const auto start = std::chrono::steady_clock::now();
    TcpSocket none = listener.accept(50);
    EXPECT_FALSE(none.isOpen());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
}

TEST_F(SocketTest, ListenerBindsLoopbackAndRefusesBusyPort) {
    TcpListener first;
    ASSERT_TRUE(first.listen(0));
    TcpListener second;
    EXPECT_FALSE(second.listen(first.port()));
    EXPECT_FALSE(second.isOpen());
    first.close();
    EXPECT_FALSE(first.isOpen());
    EXPECT_EQ(first.port(), 0);
}

TEST_F(SocketTest, ClosedSocketRefusesEverything) {
    TcpSocket socket;
    std::array<char, 4> buffer{};
    EXPECT_FALSE(socket.isOpen());
    EXPECT_EQ(socket.send(buffer.data(), 4), -1);
    EXPECT_EQ(socket.receive(buffer.data(), 4), -1);
    EXPECT_EQ(socket.waitReadable(0), TcpSocket::Wait::Error);
    EXPECT_FALSE(socket.connect(loopbackAddress(), 1));
    EXPECT_FALSE(socket.setNoDelay(true));
}

TEST_F(SocketTest, MoveTransfersOwnership) {
    Pair pair;
    connectPair(pair);
    const NativeSocket handle = pair.client.handle();
    TcpSocket moved(std::move(pair.client));
    EXPECT_FALSE(pair.client.isOpen());
    EXPECT_EQ(moved.handle(), handle);

    TcpSocket target;
    ASSERT_TRUE(target.open());
    target = std::move(moved);
    EXPECT_EQ(target.handle(), handle);
    EXPECT_FALSE(moved.isOpen());

    const char byte = 'x';
    ASSERT_EQ(target.send(&byte, 1), 1);
    ASSERT_EQ(pair.server.waitReadable(2000), TcpSocket::Wait::Readable);
    char got = 0;
    EXPECT_EQ(pair.server.receive(&got, 1), 1);
    EXPECT_EQ(got, 'x');
}

}  // namespace
}  // namespace tmx::platform
