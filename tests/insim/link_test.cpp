// The InSim link against a raw-bytes peer on loopback: connect and init
// packets, framing, keep-alive answers, multiplayer detection, failures and
// close.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "common/console.h"
#include "fake_lfs_peer.h"
#include "insim/insim_handling.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace tmx::insim {
namespace {

using namespace tmx::insim::testing;

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listening());
        link.debug = 0;
        link.receiveWaitMs = 50;
    }

    // Connects the link, takes its init bytes off the wire and forgets the
    // connect texts.
    void connectLink() {
        ASSERT_EQ(link.Connect("127.0.0.1", server.port(), "secret"), 0);
        ASSERT_TRUE(server.accept());
        ASSERT_EQ(server.readExactly(kInitBytes).size(), static_cast<std::size_t>(kInitBytes));
        console.clear();
    }

    // A port on which nobody listens.
    static int closedPort() {
        platform::TcpListener probe;
        EXPECT_TRUE(probe.listen(0));
        const int port = probe.port();
        probe.close();
        return port;
    }

    CaptureConsole console;
    FakeLfsPeer server;
    cl_InsimHandling link{console};
};

// ---- Connect ---------------------------------------------------------------

TEST_F(LinkTest, ConnectSendsInitPacketThenVersionRequest) {
    ASSERT_EQ(link.Connect("127.0.0.1", server.port(), "averyverylongpassword"), 0);
    ASSERT_TRUE(server.accept());
    const Bytes sent = server.readExactly(kInitBytes);
    ASSERT_EQ(sent.size(), 48u);

    Bytes expected = {44, 1, 0, 0,  // Size, Type IS_ISI, ReqI, Zero
                      0, 0,         // UDPPort
                      40, 0,        // Flags: ISF_MSO_COLS | ISF_MCI
                      0, '#',       // Sp0, Prefix
                      250, 0};      // Interval
    const std::string admin = "averyverylongpa";  // cut to 15 characters
    Bytes adminField(16, 0);
    std::copy(admin.begin(), admin.end(), adminField.begin());
    Bytes nameField(16, 0);
    const std::string name = "LFS_TMX";
    std::copy(name.begin(), name.end(), nameField.begin());
    expected = concat({expected, adminField, nameField, tinyPacket(1, 1)});
    EXPECT_EQ(sent, expected);

    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
    EXPECT_EQ(link.LastError(), LINKERR_NONE);
    EXPECT_EQ(console.output(), "\n     Connecting LFS ....\n     LFS connected successfully");
}

TEST_F(LinkTest, ConnectPrintsDebugStepsWhenDebugIsOn) {
    link.debug = 1;
    ASSERT_EQ(link.Connect("127.0.0.1", server.port(), ""), 0);
    EXPECT_EQ(console.output(),
              "\nDEBUG: Trying to connect LFS\t\t-success!"
              "\nDEBUG: Connecting LFS INSIM\t\t-success!"
              "\nDEBUG: Sending Version\t\t\t-success!\n"
              "\n     LFS connected successfully");
}

TEST_F(LinkTest, ConnectToClosedPortFails) {
    const int port = closedPort();
    EXPECT_EQ(link.Connect("127.0.0.1", port, "pw"), -1);
    EXPECT_EQ(link.GetState(), LINK_NOT_CONNECTED);
    EXPECT_EQ(link.LastError(), LINKERR_CONNECT);
    EXPECT_EQ(console.errors(), "\nConnection to '127.0.0.1' failed\n");
    EXPECT_EQ(console.output(), "\n     Connecting LFS .\nConnection to '127.0.0.1' failed\n");
    EXPECT_EQ(link.Poll(), -1);

    // The link is reusable after a failed attempt.
    EXPECT_EQ(link.Connect("127.0.0.1", server.port(), "pw"), 0);
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
}

TEST_F(LinkTest, PortOutOfRangeFailsLikeAFailedConnect) {
    for (int port : {0, -1, 65536, 70000}) {
        console.clear();
        EXPECT_EQ(link.Connect("127.0.0.1", port, "pw"), -1) << port;
        EXPECT_EQ(link.GetState(), LINK_NOT_CONNECTED) << port;
        EXPECT_EQ(link.LastError(), LINKERR_CONNECT) << port;
        EXPECT_EQ(console.errors(), "\nConnection to '127.0.0.1' failed\n") << port;
    }
    EXPECT_EQ(link.Connect(nullptr, server.port(), "pw"), -1);
    EXPECT_EQ(link.LastError(), LINKERR_CONNECT);
}

TEST_F(LinkTest, ConnectWhileConnectedIsRefused) {
    connectLink();
    EXPECT_EQ(link.Connect("127.0.0.1", server.port(), "pw"), -1);
    EXPECT_EQ(link.LastError(), LINKERR_RECEIVE);
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
    EXPECT_EQ(console.output(), "");
    // Nothing went out: the next bytes on the wire are the ones sent now.
    ASSERT_EQ(link.SendRaw(tinyPacket(9, 9).data(), 4), 0);
    EXPECT_EQ(server.readExactly(4), tinyPacket(9, 9));
}

// ---- Framing -----------------------------------------------------------------

TEST_F(LinkTest, PacketTypeIsZeroBeforeAnyPacket) {
    EXPECT_EQ(link.PacketType(), 0);
    EXPECT_EQ(link.PacketLength(), 0);
    EXPECT_EQ(link.Poll(), -1);  // not connected
}

TEST_F(LinkTest, TwoPacketsInOneReceiveAreCutOneByOneWithoutAnotherReceive) {
    connectLink();
    const Bytes first = cnlPacket(5, 1);
    const Bytes second = tinyPacket(1, 9);
    ASSERT_TRUE(server.send(concat({first, second})));
    // The server is gone after that write: any further receive would see
    // the end of the stream and fail the poll.
    server.closePeer();

    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), first);
    EXPECT_EQ(link.PacketType(), 19);
    EXPECT_EQ(link.TakePacket(), 0);

    EXPECT_EQ(link.Poll(), 0);
    ASSERT_EQ(link.GetState(), LINK_PACKET_READY);
    EXPECT_EQ(readyPacket(link), second);
    EXPECT_EQ(console.output(), "");
    EXPECT_EQ(link.TakePacket(), 0);

    // Only now does the link read again and find the close.
    EXPECT_EQ(link.Poll(), -1);
    EXPECT_EQ(link.GetState(), LINK_CLOSED);
}

TEST_F(LinkTest, PacketSplitOverTwoWritesIsCutWhole) {
    connectLink();
    Bytes lap(20, 0);
    lap[0] = 20;
    lap[1] = 24;  // IS_LAP
    for (std::size_t i = 3; i < lap.size(); ++i) lap[i] = static_cast<std::uint8_t>(i * 7);

    ASSERT_TRUE(server.send(Bytes(lap.begin(), lap.begin() + 9)));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(link.Poll(), 0);
        EXPECT_EQ(link.GetState(), LINK_CONNECTED);
    }
    EXPECT_EQ(link.PacketLength(), 0);

    ASSERT_TRUE(server.send(Bytes(lap.begin() + 9, lap.end())));
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), lap);
}

TEST_F(LinkTest, KeepAliveIsAnsweredAndNeverHandedOn) {
    connectLink();
    const Bytes before = cnlPacket(1, 0);
    const Bytes after = cnlPacket(2, 0);
    ASSERT_TRUE(server.send(concat({before, tinyPacket(0, 0), after})));

    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), before);
    link.TakePacket();

    // The keep-alive is cut and answered inside this poll.
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
    EXPECT_EQ(link.LastError(), LINKERR_NONE);
    EXPECT_EQ(server.readExactly(4), tinyPacket(0, 0));

    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), after);
}

TEST_F(LinkTest, TinyNoneWithRequestNumberIsAnOrdinaryPacket) {
    connectLink();
    ASSERT_TRUE(server.send(concat({tinyPacket(7, 0), tinyPacket(1, 9)})));
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), tinyPacket(7, 0));
    link.TakePacket();
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), tinyPacket(1, 9));
    // No answer was sent: the first bytes the server sees are these.
    ASSERT_EQ(link.SendRaw(tinyPacket(3, 3).data(), 4), 0);
    EXPECT_EQ(server.readExactly(4), tinyPacket(3, 3));
}

// A burst of connection packets, each numbered in its name field.
Bytes ncnBurst(int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        Bytes ncn(56, 0);
        ncn[0] = 56;
        ncn[1] = 18;  // IS_NCN
        ncn[3] = static_cast<std::uint8_t>(i);
        ncn[4] = static_cast<std::uint8_t>(i & 0xff);
        ncn[5] = static_cast<std::uint8_t>(i >> 8);
        out.insert(out.end(), ncn.begin(), ncn.end());
    }
    return out;
}

// Takes count IS_NCN packets off the link and checks that they come in order.
void expectNcnSequence(cl_InsimHandling& link, int count) {
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(pollUntilReady(link)) << "packet " << i;
        const std::uint8_t* p = link.PacketData();
        ASSERT_EQ(link.PacketLength(), 56) << "packet " << i;
        ASSERT_EQ(p[1], 18) << "packet " << i;
        ASSERT_EQ(p[4] | (p[5] << 8), i) << "packet " << i;
        link.TakePacket();
    }
}

TEST_F(LinkTest, BurstLargerThanTheReceiveBufferArrivesWhole) {
    connectLink();
    const Bytes burst = ncnBurst(400);  // 22400 bytes in one write
    ASSERT_GT(burst.size(), static_cast<std::size_t>(cl_SocketBuffer::kCapacity));
    std::atomic<bool> written{false};
    std::thread writer([&] {
        EXPECT_TRUE(server.send(burst));
        written = true;
    });
    // Give the writer a moment so that the first receive meets a full burst;
    // the outcome must be the same either way.
    for (int i = 0; i < 200 && !written; ++i) platform::sleepMs(5);

    expectNcnSequence(link, 400);
    writer.join();
    EXPECT_EQ(console.output().find("INSIM-ERROR"), std::string::npos) << console.output();
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
}

TEST_F(LinkTest, BurstBehindAPartialPacketArrivesWhole) {
    connectLink();
    const Bytes burst = ncnBurst(300);
    // Three bytes first, so that the burst meets a buffer already in use.
    ASSERT_TRUE(server.send(Bytes(burst.begin(), burst.begin() + 3)));
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);

    std::thread writer([&] { EXPECT_TRUE(server.send(Bytes(burst.begin() + 3, burst.end()))); });
    expectNcnSequence(link, 300);
    writer.join();
    EXPECT_EQ(console.output().find("INSIM-ERROR"), std::string::npos) << console.output();
}

TEST_F(LinkTest, SizeByteBelowTheHeaderIsUnprocessableData) {
    for (std::uint8_t size : {0, 2}) {
        SCOPED_TRACE(static_cast<int>(size));
        connectLink();
        ASSERT_TRUE(server.send({size, 3, 0, 0, 8, 19, 0, 1}));
        EXPECT_EQ(link.Poll(), 0);  // receives
        EXPECT_EQ(link.Poll(), -1);  // cannot frame it
        EXPECT_EQ(link.GetState(), LINK_OVERFLOW);
        EXPECT_EQ(link.LastError(), LINKERR_RECEIVE);
        EXPECT_EQ(console.output(), "\n\nINSIM-ERROR:  Couldnt process received data. clearing buffer\n");

        // Everything unframed was dropped: a fresh packet is cut cleanly.
        ASSERT_TRUE(server.send(cnlPacket(4, 2)));
        ASSERT_TRUE(pollUntilReady(link));
        EXPECT_EQ(readyPacket(link), cnlPacket(4, 2));
        link.TakePacket();
        link.Close();
    }
}

TEST_F(LinkTest, ServerCloseEndsTheLink) {
    connectLink();
    ASSERT_TRUE(server.send({8, 19, 0}));  // a partial packet, then the close
    server.closePeer();
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.Poll(), -1);
    EXPECT_EQ(link.GetState(), LINK_CLOSED);
    EXPECT_EQ(link.LastError(), LINKERR_INIT);
    EXPECT_EQ(console.output(), "\nLFS has terminated the session!!\n");
}

TEST_F(LinkTest, ConnectionResetEndsTheLink) {
    ASSERT_EQ(link.Connect("127.0.0.1", server.port(), "pw"), 0);
    ASSERT_TRUE(server.accept());
    // Closing a socket with unread data (the init packets) resets the
    // connection instead of closing it in order.
    ASSERT_TRUE(server.dataPending());
    server.closePeer();
    console.clear();

    link.receiveWaitMs = 2000;  // returns as soon as the reset arrives
    EXPECT_EQ(link.Poll(), -1);
    EXPECT_EQ(link.GetState(), LINK_CLOSED);
    EXPECT_EQ(link.LastError(), LINKERR_INIT);
    EXPECT_EQ(console.output(), "\nLFS connection lost (receive failed)\n");
}

TEST_F(LinkTest, StatePacketSetsTheMultiplayerFlag) {
    connectLink();
    link.debug = 1;
    EXPECT_EQ(link.Multiplayer(), 1);

    struct Case {
        std::uint16_t flags;
        std::uint8_t multiplayer;
        const char* text;
    };
    const Case cases[] = {
        {ISS_GAME | ISS_VISIBLE, 0, "\nDEBUG: Insimhandler -> detect no multiplayermode"},
        {ISS_MULTI | ISS_VISIBLE, 1, "\nDEBUG: Insimhandler -> detect multiplayermode"},
        {ISS_MULTI | ISS_REPLAY, 0, "\nDEBUG: Insimhandler -> detect no multiplayermode"},
        {ISS_GAME | ISS_MULTI, 1, "\nDEBUG: Insimhandler -> detect multiplayermode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        console.clear();
        ASSERT_TRUE(server.send(staPacket(c.flags)));
        ASSERT_TRUE(pollUntilReady(link));
        EXPECT_EQ(link.Multiplayer(), c.multiplayer);
        EXPECT_EQ(console.output(), c.text);
        // The state packet stays ready for the controller.
        EXPECT_EQ(link.PacketType(), ISP_STA);
        EXPECT_EQ(readyPacket(link), staPacket(c.flags));
        link.TakePacket();
    }
}

TEST_F(LinkTest, ShortStatePacketLeavesTheMultiplayerFlag) {
    connectLink();
    link.debug = 1;
    ASSERT_TRUE(server.send({8, 5, 0, 0, 0, 0, 0x80, 0x3f}));  // flags would lie beyond
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(link.Multiplayer(), 1);
    EXPECT_EQ(link.PacketType(), ISP_STA);
    EXPECT_EQ(console.output(), "");
}

TEST_F(LinkTest, PollWhileAPacketWaitsReadsNothing) {
    connectLink();
    ASSERT_TRUE(server.send(cnlPacket(3, 0)));
    ASSERT_TRUE(pollUntilReady(link));
    // More data and the close are waiting in the socket now.
    ASSERT_TRUE(server.send(cnlPacket(6, 0)));
    server.closePeer();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(link.Poll(), 0);
        EXPECT_EQ(link.GetState(), LINK_PACKET_READY);
        EXPECT_EQ(readyPacket(link), cnlPacket(3, 0));
    }
    EXPECT_EQ(console.output(), "");
    link.TakePacket();
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), cnlPacket(6, 0));
}

TEST_F(LinkTest, TakePacketCopiesTheBytesAndFreesTheLink) {
    connectLink();
    const Bytes sta = staPacket(ISS_MULTI);
    ASSERT_TRUE(server.send(sta));
    ASSERT_TRUE(pollUntilReady(link));

    RawPacket record;
    record.bytes.fill(0xee);
    EXPECT_EQ(link.TakePacket(record), 0);
    EXPECT_EQ(link.GetState(), LINK_CONNECTED);
    EXPECT_EQ(link.LastError(), LINKERR_NONE);
    ASSERT_EQ(record.size, sta.size());
    EXPECT_EQ(Bytes(record.data(), record.data() + record.size), sta);
    EXPECT_EQ(record.bytes[sta.size()], 0);  // nothing stale behind the packet
}

TEST_F(LinkTest, TakePacketKeepsAFailedLinkFailed) {
    connectLink();
    server.closePeer();
    EXPECT_EQ(link.Poll(), -1);
    ASSERT_EQ(link.GetState(), LINK_CLOSED);
    link.TakePacket();
    EXPECT_EQ(link.GetState(), LINK_CLOSED);
}

// ---- Close -------------------------------------------------------------------

TEST_F(LinkTest, CloseSendsTinyCloseAndDisconnects) {
    connectLink();
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(link.GetState(), LINK_NOT_CONNECTED);
    EXPECT_EQ(link.LastError(), LINKERR_NONE);
    EXPECT_EQ(console.output(), " -->  closing winsocket");
    EXPECT_EQ(server.readExactly(4), tinyPacket(0, 2));
    EXPECT_TRUE(server.seesEndOfStream());

    const Bytes lastSent(link.lastSent().data(), link.lastSent().data() + link.lastSent().length());
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(console.output(), " -->  closing winsocket");
    EXPECT_EQ(Bytes(link.lastSent().data(), link.lastSent().data() + link.lastSent().length()), lastSent);
    EXPECT_EQ(link.Poll(), -1);
}

TEST_F(LinkTest, ReconnectStartsWithAnEmptyReceiveBuffer) {
    connectLink();
    ASSERT_TRUE(server.send({8, 19, 0}));  // a partial packet of the old stream
    EXPECT_EQ(link.Poll(), 0);
    link.Close();

    ASSERT_EQ(link.Connect("127.0.0.1", server.port(), "pw"), 0);
    ASSERT_TRUE(server.accept());
    ASSERT_EQ(server.readExactly(kInitBytes).size(), static_cast<std::size_t>(kInitBytes));
    ASSERT_TRUE(server.send(tinyPacket(1, 9)));
    ASSERT_TRUE(pollUntilReady(link));
    EXPECT_EQ(readyPacket(link), tinyPacket(1, 9));
}

TEST(LinkLifetime, DestructionPrintsItsLine) {
    CaptureConsole console;
    { cl_InsimHandling link(console); }
    EXPECT_EQ(console.output(), "  ->  insimclass terminated");
}

}  // namespace
}  // namespace tmx::insim
