// The link's button manager against a raw-bytes peer on loopback: the exact
// IS_BTN / IS_BFN bytes for new buttons, text updates, deletes, clears,
// expiry on an injected clock, close and destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/console.h"
#include "fake_lfs_peer.h"
#include "insim/buttons.h"
#include "insim/insim_handling.h"
#include "support/fake_clock.h"

namespace tmx::insim {
namespace {

using namespace tmx::insim::testing;

// IS_BTN as LFS expects it: the text, its NUL, zeros up to a multiple of 4.
Bytes btnPacket(std::uint8_t ucid, std::uint8_t clickId, std::uint8_t inst, std::uint8_t style, std::uint8_t left,
                std::uint8_t top, std::uint8_t width, std::uint8_t height, const std::string& text) {
    const std::size_t textBytes = (text.size() + 4) / 4 * 4;
    Bytes p(12 + textBytes, 0);
    const Bytes header = {static_cast<std::uint8_t>(12 + textBytes), 45, clickId, ucid, clickId, inst, style, 0,
                          left, top, width, height};
    std::copy(header.begin(), header.end(), p.begin());
    std::copy(text.begin(), text.end(), p.begin() + 12);
    return p;
}

Bytes bfnDelete(std::uint8_t ucid, std::uint8_t clickId) { return {8, 42, 0, 0, ucid, clickId, 0, 0}; }
const Bytes kBfnClearAll = {8, 42, 0, 1, 255, 0, 0, 0};

ButtonRequest request(std::uint8_t ucid, std::uint8_t clickId, const std::string& text = "x",
                      std::int64_t lifetimeMs = 0, std::uint8_t group = 0) {
    ButtonRequest r;
    r.ucid = ucid;
    r.clickId = clickId;
    r.groupId = group;
    r.style = 32;
    r.left = 10;
    r.top = 20;
    r.width = 30;
    r.height = 5;
    r.lifetime = lifetimeMs;
    r.text.assign(text);
    return r;
}

class ButtonsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.listening());
        link.debug = 0;
        link.receiveWaitMs = 5;
        ASSERT_EQ(link.Connect("127.0.0.1", server.port(), "pw"), 0);
        ASSERT_TRUE(server.accept());
        ASSERT_EQ(server.readExactly(kInitBytes).size(), static_cast<std::size_t>(kInitBytes));
        console.clear();
    }

    // Shows a button and takes its IS_BTN off the wire.
    int showAndRead(const ButtonRequest& r) {
        const int result = link.Show(r);
        const std::size_t size = 12 + (r.text.size() + 4) / 4 * 4;
        EXPECT_EQ(server.readExactly(size).size(), size);
        return result;
    }

    // True when the link sent nothing since the last read: the next bytes on
    // the wire are a marker sent now.
    bool nothingSent() {
        const Bytes marker = tinyPacket(7, 77);
        link.SendRaw(marker.data(), 4);
        return server.readExactly(4) == marker;
    }

    CaptureConsole console;
    tmx::testing::FakeClock clock{1'800'000'000};
    FakeLfsPeer server;
    cl_InsimHandling link{console, clock};
};

TEST_F(ButtonsTest, SameIdsTwiceSendFullButtonThenTextOnlyUpdate) {
    ButtonRequest first = request(3, 100, "abc", 0, 100);
    first.alwaysVisible = 1;
    first.style = 96;
    EXPECT_EQ(link.Show(first), 1);
    EXPECT_EQ(server.readExactly(16), btnPacket(3, 100, 128, 96, 10, 20, 30, 5, "abc"));

    // Place, size and style of the update are ignored: LFS keeps the old ones.
    ButtonRequest update = request(3, 100, "hello", 0, 100);
    update.style = 1;
    update.left = 99;
    EXPECT_EQ(link.Show(update), 0);
    EXPECT_EQ(server.readExactly(20), btnPacket(3, 100, 0, 96, 10, 20, 0, 0, "hello"));

    ASSERT_EQ(link.ButtonCount(), 1u);
    const ButtonRecord* record = link.FindButton(3, 100);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->text, "hello");
    EXPECT_EQ(record->handle, 1);
    EXPECT_EQ(record->left, 10);
    EXPECT_EQ(record->width, 30);
    EXPECT_EQ(record->style, 96);

    // The next new button gets the next handle; an empty text is one NUL.
    EXPECT_EQ(link.Show(request(3, 101, "")), 2);
    EXPECT_EQ(server.readExactly(16), btnPacket(3, 101, 0, 32, 10, 20, 30, 5, ""));
}

TEST_F(ButtonsTest, LifetimeIsKeptInWholeSecondsAndBelowOneSecondNeverExpires) {
    showAndRead(request(1, 1, "a", 999));
    showAndRead(request(1, 2, "b", 1999));
    showAndRead(request(1, 3, "c", 5000));
    EXPECT_EQ(link.FindButton(1, 1)->lifetime, 0);
    EXPECT_EQ(link.FindButton(1, 2)->lifetime, 1);
    EXPECT_EQ(link.FindButton(1, 3)->lifetime, 5);
    EXPECT_EQ(link.FindButton(1, 3)->timeWritten, 1'800'000'000);

    clock.advanceSeconds(100000);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(server.readExactly(16), concat({bfnDelete(1, 2), bfnDelete(1, 3)}));
    ASSERT_EQ(link.ButtonCount(), 1u);
    EXPECT_NE(link.FindButton(1, 1), nullptr);
    EXPECT_TRUE(nothingSent());
}

TEST_F(ButtonsTest, FiveSecondButtonGoesBetweenFiveAndSevenSeconds) {
    clock.advanceMs(999);  // written late in its second
    showAndRead(request(2, 150, "sector", 5000));

    clock.advanceMs(5000);  // 5.0 s later, still the fifth whole second
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.ButtonCount(), 1u);
    EXPECT_TRUE(nothingSent());

    clock.advanceMs(1);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.ButtonCount(), 0u);
    EXPECT_EQ(server.readExactly(8), bfnDelete(2, 150));

    // Written at the start of its second: kept at +5 s, gone at +6 s.
    ASSERT_EQ(clock.nowMs() % 1000, 0);
    showAndRead(request(2, 151, "diff", 5000));
    clock.advanceSeconds(5);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_TRUE(nothingSent());
    clock.advanceSeconds(1);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(server.readExactly(8), bfnDelete(2, 151));
}

TEST_F(ButtonsTest, UpdateRestartsTheLifetime) {
    showAndRead(request(4, 160, "lap", 5000));
    clock.advanceSeconds(4);
    showAndRead(request(4, 160, "lap2", 3000));  // lifetime now 3 s from here
    EXPECT_EQ(link.FindButton(4, 160)->lifetime, 3);
    EXPECT_EQ(link.FindButton(4, 160)->timeWritten, 1'800'000'004);

    clock.advanceSeconds(3);  // 7 s after the first draw, 3 s after the update
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_TRUE(nothingSent());
    clock.advanceSeconds(1);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(server.readExactly(8), bfnDelete(4, 160));
}

TEST_F(ButtonsTest, ExpiryRunsWhileAPacketWaitsToBeTaken) {
    showAndRead(request(5, 170, "pit", 1000));
    ASSERT_TRUE(server.send(tinyPacket(1, 9)));
    ASSERT_TRUE(pollUntilReady(link));
    clock.advanceSeconds(2);
    EXPECT_EQ(link.Poll(), 0);
    EXPECT_EQ(link.GetState(), LINK_PACKET_READY);
    EXPECT_EQ(server.readExactly(8), bfnDelete(5, 170));
}

TEST_F(ButtonsTest, SwappedConnectionAndClickIdAreDifferentButtons) {
    EXPECT_EQ(showAndRead(request(1, 2)), 1);
    EXPECT_EQ(showAndRead(request(2, 1)), 2);
    ASSERT_EQ(link.ButtonCount(), 2u);

    EXPECT_EQ(link.Delete(1, 2), 0);
    EXPECT_EQ(server.readExactly(8), bfnDelete(1, 2));
    EXPECT_EQ(link.FindButton(1, 2), nullptr);
    ASSERT_NE(link.FindButton(2, 1), nullptr);
    EXPECT_EQ(link.FindButton(2, 1)->handle, 2);

    EXPECT_EQ(link.Delete(1, 2), -1);
    EXPECT_TRUE(nothingSent());
    EXPECT_EQ(link.ButtonCount(), 1u);
}

TEST_F(ButtonsTest, ClearAllSendsOneClearOnlyWhenButtonsAreListed) {
    EXPECT_EQ(link.ClearAll(), 0);
    EXPECT_TRUE(nothingSent());

    showAndRead(request(1, 100));
    showAndRead(request(7, 110));
    EXPECT_EQ(link.ClearAll(), 0);
    EXPECT_EQ(server.readExactly(8), kBfnClearAll);
    EXPECT_EQ(link.ButtonCount(), 0u);
    EXPECT_EQ(link.ClearAll(), 0);
    EXPECT_TRUE(nothingSent());
}

TEST_F(ButtonsTest, LongestTextFillsA252ByteButtonAndLongerTextsAreCut) {
    const std::string longest(238, 'L');
    showAndRead(request(1, 190, "placeholder"));
    EXPECT_EQ(link.Show(request(1, 191, longest)), 2);
    const Bytes sent = server.readExactly(252);
    EXPECT_EQ(sent, btnPacket(1, 191, 0, 32, 10, 20, 30, 5, longest));
    EXPECT_EQ(sent[0], 252);
    EXPECT_EQ(sent[12 + 237], 'L');
    EXPECT_EQ(sent[12 + 238], 0);

    // A longer text is cut at 238, both for a new button and for an update.
    const std::string tooLong = std::string(238, 'A') + "BEYOND";
    EXPECT_EQ(link.Show(request(1, 192, tooLong)), 3);
    EXPECT_EQ(server.readExactly(252), btnPacket(1, 192, 0, 32, 10, 20, 30, 5, std::string(238, 'A')));
    EXPECT_EQ(link.FindButton(1, 192)->text.size(), 238u);
    EXPECT_EQ(link.Show(request(1, 190, tooLong)), 0);
    EXPECT_EQ(server.readExactly(252), btnPacket(1, 190, 0, 32, 10, 20, 0, 0, std::string(238, 'A')));
    EXPECT_TRUE(nothingSent());
}

TEST_F(ButtonsTest, DeleteGroupAndDeleteAllTouchOnlyThatConnection) {
    showAndRead(request(1, 150, "s", 0, 150));
    showAndRead(request(1, 160, "l", 0, 160));
    showAndRead(request(2, 150, "s", 0, 150));
    showAndRead(request(1, 151, "d", 0, 150));

    EXPECT_EQ(link.DeleteGroup(150, 1), 0);
    EXPECT_EQ(server.readExactly(16), concat({bfnDelete(1, 150), bfnDelete(1, 151)}));
    ASSERT_EQ(link.ButtonCount(), 2u);
    EXPECT_EQ(link.Buttons().front().ucid, 1);
    EXPECT_EQ(link.Buttons().front().clickId, 160);
    EXPECT_EQ(link.Buttons().back().ucid, 2);
    EXPECT_EQ(link.Buttons().back().clickId, 150);

    EXPECT_EQ(link.DeleteGroup(170, 1), 0);
    EXPECT_EQ(link.DeleteAll(2), 0);
    EXPECT_EQ(server.readExactly(8), bfnDelete(2, 150));
    ASSERT_EQ(link.ButtonCount(), 1u);
    EXPECT_NE(link.FindButton(1, 160), nullptr);
    EXPECT_TRUE(nothingSent());
}

TEST_F(ButtonsTest, ForgetRemovesRecordsWithoutPackets) {
    showAndRead(request(4, 100));
    showAndRead(request(4, 110));
    showAndRead(request(5, 100));

    EXPECT_EQ(link.ForgetAll(4), 0);
    EXPECT_EQ(link.ButtonCount(), 1u);
    EXPECT_EQ(link.Forget(5, 110), -1);
    EXPECT_EQ(link.Forget(5, 100), 0);
    EXPECT_EQ(link.ButtonCount(), 0u);
    EXPECT_TRUE(nothingSent());

    // A forgotten button is drawn anew, with a new handle.
    EXPECT_EQ(showAndRead(request(5, 100)), 4);
}

TEST_F(ButtonsTest, CloseDeletesEveryButtonBeforeClosing) {
    showAndRead(request(1, 10));
    showAndRead(request(2, 20));
    showAndRead(request(3, 30));
    EXPECT_EQ(link.Close(), 0);
    EXPECT_EQ(server.readExactly(28), concat({bfnDelete(1, 10), bfnDelete(2, 20), bfnDelete(3, 30), tinyPacket(0, 2)}));
    EXPECT_TRUE(server.seesEndOfStream());
    EXPECT_EQ(link.ButtonCount(), 0u);
    EXPECT_EQ(console.output(), " -->  closing winsocket");
}

TEST_F(ButtonsTest, SendFailureLeavesTheListAsIfSent) {
    ASSERT_EQ(link.Close(), 0);  // nothing listed: only the close packet
    EXPECT_EQ(server.readExactly(4), tinyPacket(0, 2));

    EXPECT_EQ(link.Show(request(1, 10, "a", 1000)), 1);
    EXPECT_EQ(link.LastError(), LINKERR_SEND);
    EXPECT_EQ(link.Show(request(1, 10, "b", 1000)), 0);
    EXPECT_EQ(link.FindButton(1, 10)->text, "b");

    // A link that is down does not poll, so nothing expires.
    clock.advanceSeconds(10);
    EXPECT_EQ(link.Poll(), -1);
    EXPECT_EQ(link.ButtonCount(), 1u);

    EXPECT_EQ(link.Delete(1, 10), 0);
    EXPECT_EQ(link.LastError(), LINKERR_SEND);
    EXPECT_EQ(link.ButtonCount(), 0u);

    link.Show(request(1, 11));
    EXPECT_EQ(link.ClearAll(), -1);
    EXPECT_EQ(link.ButtonCount(), 0u);
}

TEST(ButtonsLifetime, DestructionFreesButtonsWithoutPackets) {
    CaptureConsole console;
    FakeLfsPeer server;
    ASSERT_TRUE(server.listening());
    auto link = std::make_unique<cl_InsimHandling>(console);
    link->debug = 0;
    ASSERT_EQ(link->Connect("127.0.0.1", server.port(), "pw"), 0);
    ASSERT_TRUE(server.accept());
    ASSERT_EQ(server.readExactly(kInitBytes).size(), static_cast<std::size_t>(kInitBytes));
    link->Show(request(1, 100, "abc"));
    link->Show(request(2, 100, "abc"));
    ASSERT_EQ(server.readExactly(32).size(), 32u);
    console.clear();

    link.reset();
    EXPECT_EQ(console.output(), "\n...deleting insim buttons  ->  insimclass terminated");
    EXPECT_TRUE(server.seesEndOfStream());  // no byte before the end
}

}  // namespace
}  // namespace tmx::insim
