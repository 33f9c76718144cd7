// The chat senders and raw sends, checked byte for byte on the wire.
#include <gtest/gtest.h>

#include <string>

#include "common/console.h"
#include "fake_lfs_peer.h"
#include "insim/insim_handling.h"

namespace tmx::insim {
namespace {

using namespace tmx::insim::testing;

// A text packet as it must appear on the wire: header, then the text
// NUL-padded to the field.
Bytes textPacket(Bytes header, const std::string& text, std::size_t field) {
    Bytes out = std::move(header);
    Bytes body(field, 0);
    std::copy(text.begin(), text.end(), body.begin());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes mst(const std::string& text) { return textPacket({68, 13, 0, 0}, text, 64); }
Bytes msx(const std::string& text) { return textPacket({100, 39, 0, 0}, text, 96); }
Bytes mtc(const std::string& text, std::uint8_t ucid, std::uint8_t plid) {
    return textPacket({72, 14, 0, 0, ucid, plid, 0, 0}, text, 64);
}

std::string hundredCharacters() {
    std::string text;
    for (int i = 0; i < 100; ++i) text.push_back(static_cast<char>('a' + i % 26));
    return text;
}

class SenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listening());
        link.debug = 0;
        link.receiveWaitMs = 50;
        ASSERT_EQ(link.Connect("127.0.0.1", server.port(), ""), 0);
        ASSERT_TRUE(server.accept());
        ASSERT_EQ(server.readExactly(kInitBytes).size(), static_cast<std::size_t>(kInitBytes));
    }

    // Proves that nothing went out since the last read: the next bytes on
    // the wire are this marker.
    void expectNothingSentBefore() {
        const Bytes marker = tinyPacket(42, 42);
        ASSERT_EQ(link.SendRaw(marker.data(), static_cast<int>(marker.size())), 0);
        EXPECT_EQ(server.readExactly(4), marker);
    }

    // Delivers an IS_STA so that the link learns the server's mode.
    void serverSendsState(std::uint16_t flags) {
        ASSERT_TRUE(server.send(staPacket(flags)));
        ASSERT_TRUE(pollUntilReady(link));
        link.TakePacket();
    }

    CaptureConsole console;
    FakeLfsPeer server;
    cl_InsimHandling link{console};
};

TEST_F(SenderTest, LongTextIsCutToEachField) {
    const std::string text = hundredCharacters();
    EXPECT_EQ(link.SendMessage(text.c_str()), 0);
    EXPECT_EQ(server.readExactly(68), mst(text.substr(0, 63)));
    EXPECT_EQ(link.SendLongMessage(text.c_str()), 0);
    EXPECT_EQ(server.readExactly(100), msx(text.substr(0, 95)));
    EXPECT_EQ(link.SendPrivate(text.c_str(), 4, 7), 0);
    EXPECT_EQ(server.readExactly(72), mtc(text.substr(0, 63), 4, 7));
}

TEST_F(SenderTest, TextsThatFitAreSentUnchanged) {
    const std::string exact63(63, 'x');
    EXPECT_EQ(link.SendMessage(exact63.c_str()), 0);
    EXPECT_EQ(server.readExactly(68), mst(exact63));
    const std::string exact95(95, 'y');
    EXPECT_EQ(link.SendLongMessage(exact95.c_str()), 0);
    EXPECT_EQ(server.readExactly(100), msx(exact95));
}

TEST_F(SenderTest, EmptyOrMissingTextSendsNothing) {
    EXPECT_EQ(link.SendMessage(""), -1);
    EXPECT_EQ(link.SendLongMessage(""), -1);
    EXPECT_EQ(link.SendPrivate("", 1, 1), -1);
    EXPECT_EQ(link.SendMessage(nullptr), -1);
    EXPECT_EQ(link.SendLongMessage(nullptr), -1);
    EXPECT_EQ(link.SendPrivate(nullptr, 1, 1), -1);
    expectNothingSentBefore();
}

TEST_F(SenderTest, SingleBlankIsSent) {
    EXPECT_EQ(link.SendMessage(" "), 0);
    EXPECT_EQ(server.readExactly(68), mst(" "));
    EXPECT_EQ(link.SendLongMessage(" "), 0);
    EXPECT_EQ(server.readExactly(100), msx(" "));
}

TEST_F(SenderTest, HostCommandWithBlanksInTheNameGoesOutInOnePacket) {
    EXPECT_EQ(link.SendMessage("/wanted ^1Big Name"), 0);
    EXPECT_EQ(server.readExactly(68), mst("/wanted ^1Big Name"));
    expectNothingSentBefore();
}

TEST_F(SenderTest, PrivateTextGoesToEverybodyOutsideMultiplayer) {
    serverSendsState(ISS_GAME);
    ASSERT_EQ(link.Multiplayer(), 0);
    EXPECT_EQ(link.SendPrivate("hello you", 3, 5), 0);
    EXPECT_EQ(server.readExactly(68), mst("hello you"));

    serverSendsState(ISS_MULTI | ISS_REPLAY);
    EXPECT_EQ(link.SendPrivate("replay", 3, 5), 0);
    EXPECT_EQ(server.readExactly(68), mst("replay"));

    serverSendsState(ISS_MULTI | ISS_GAME);
    ASSERT_EQ(link.Multiplayer(), 1);
    EXPECT_EQ(link.SendPrivate("hello you", 3, 5), 0);
    EXPECT_EQ(server.readExactly(72), mtc("hello you", 3, 5));
}

TEST_F(SenderTest, RawSendOutOfRangeSendsNothingAndSucceeds) {
    Bytes big(cl_SocketBuffer::kCapacity + 1, 1);
    EXPECT_EQ(link.SendRaw(big.data(), 0), 0);
    EXPECT_EQ(link.SendRaw(big.data(), -4), 0);
    EXPECT_EQ(link.SendRaw(big.data(), static_cast<int>(big.size())), 0);
    EXPECT_EQ(link.SendRaw(nullptr, 4), 0);
    expectNothingSentBefore();
}

TEST_F(SenderTest, RawSendKeepsTheLastPacket) {
    const Bytes packet = {8, 42, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(link.SendRaw(packet.data(), static_cast<int>(packet.size())), 0);
    EXPECT_EQ(link.LastError(), LINKERR_NONE);
    EXPECT_EQ(Bytes(link.lastSent().data(), link.lastSent().data() + link.lastSent().length()), packet);
    EXPECT_EQ(server.readExactly(8), packet);
}

TEST(SenderWithoutConnection, FailedSendReportsError) {
    CaptureConsole console;
    cl_InsimHandling link(console);
    EXPECT_EQ(link.SendMessage("nobody listens"), -1);
    EXPECT_EQ(link.LastError(), LINKERR_SEND);
    EXPECT_EQ(link.SendRaw("abcd", 4), -1);
    EXPECT_EQ(link.LastError(), LINKERR_SEND);
}

}  // namespace
}  // namespace tmx::insim
