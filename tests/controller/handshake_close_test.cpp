// A handshake that fails after the socket connected must close the link: LFS
// would otherwise keep the InSim connection and go on sending keep-alives to a
// controller that has given up. Checked on the first start and on a reconnect.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/controller_fixture.h"

namespace tmx {
namespace {

using namespace insim;

enum class Failure { WrongVersion, NoVersion };
enum class When { FirstStart, Reconnect };

struct CloseCase {
    const char* name;
    Failure failure;
    When when;
};

void PrintTo(const CloseCase& k, std::ostream* os) { *os << k.name; }

class HandshakeCloseTest : public testing::ControllerFixture,
                           public ::testing::WithParamInterface<CloseCase> {
protected:
    static sim::SimOptions failing(Failure failure) {
        sim::SimOptions options;
        if (failure == Failure::WrongVersion) options.insimVersion = kInsimVersion + 1;
        if (failure == Failure::NoVersion) options.versionReply.answer = false;
        return options;
    }

    // True once the simulator's client number `client` is gone because the
    // controller closed it (not because the simulator dropped it).
    bool closedByController(int client) {
        const std::string gone = "client " + std::to_string(client) + " gone: the client";
        return simulator->waitFor(
            [&](const sim::SimState& s) {
                if (s.link.clientConnected && s.link.currentClient == client) return false;
                for (const auto& note : s.notes)
                    if (note.rfind(gone, 0) == 0) return true;
                return false;
            },
            testing::kWaitMs);
    }
};

TEST_P(HandshakeCloseTest, ServerSeesItsConnectionClosed) {
    const CloseCase& k = GetParam();
    int client = 1;
    if (k.when == When::FirstStart) {
        startSim(failing(k.failure));
        link.receiveWaitMs = 5;
        c.Run();
        EXPECT_EQ(c.activity.load(), ACT_STOPPED);
    } else {
        joinGuest(1, "alice", "Alice");
        startRunning();
        if (k.failure == Failure::WrongVersion) {
            // The server comes back as a newer LFS: the old one goes away.
            startSim(failing(k.failure));
        } else {
            sim::ReplyPolicy silent;
            silent.answer = false;
            simulator->setVersionReply(silent);
            ASSERT_TRUE(simulator->dropClient());
            client = 2;
        }
        link.receiveWaitMs = 5;
        ASSERT_TRUE(pumpUntil([&] { return c.activity.load() == ACT_STOPPED; }));
        EXPECT_EQ(c.runRequest.load(), RUN_ERROR);
        EXPECT_NE(console.output().find("-failed\nTerminating...."), std::string::npos);
    }
    ASSERT_EQ(simulator->snapshot().link.clientsAccepted, client) << "the handshake reached the server";
    EXPECT_TRUE(closedByController(client));
    EXPECT_EQ(link.GetState(), LINK_NOT_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HandshakeCloseTest,
    ::testing::Values(CloseCase{"WrongVersionAtStart", Failure::WrongVersion, When::FirstStart},
                      CloseCase{"NoVersionAtStart", Failure::NoVersion, When::FirstStart},
                      CloseCase{"WrongVersionOnReconnect", Failure::WrongVersion, When::Reconnect},
                      CloseCase{"NoVersionOnReconnect", Failure::NoVersion, When::Reconnect}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tmx
