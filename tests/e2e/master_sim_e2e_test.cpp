// The master, a controller thread and its link against the simulated LFS
// server over real TCP on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "lfs-sim/lfs_sim.h"
#include "master/master_control.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/received_order.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

using testing::eventually;
using testing::FakeClock;
using testing::positionOf;
using testing::TempDir;

constexpr int kWaitMs = 10000;  // safety net only: every wait ends on an event

class MasterSimTest : public ::testing::Test {
protected:
    MasterSimTest() : master(console, clock) {
        master.workDir = dir.path();
        master.readKey = [] { return 0; };
        sim::SimOptions options;
        options.adminPassword = "secret";
        options.keepAliveMs = 0;
        simulator = std::make_unique<sim::LfsSim>(options);
    }

    void SetUp() override {
        ASSERT_TRUE(simulator->start());
        dir.write("languages/__MASTER.lng", "<(cr)>\r\n\"ori\"\r\n");
        dir.write("tmx_server.cfg", "0:\r\nip 127.0.0.1\r\nport " + std::to_string(simulator->port()) +
                                        "\r\npassw secret\r\nend\r\n");
    }

    // Waits until the controller has finished its handshake (TINY_RST is its last request).
    bool handshakeDone() {
        return simulator->waitForPacket(insim::ISP_TINY, insim::TINY_RST, kWaitMs).has_value();
    }

    TempDir dir;
    CaptureConsole console;
    FakeClock clock;
    cl_MasterControl master;
    std::unique_ptr<sim::LfsSim> simulator;
};

TEST_F(MasterSimTest, ControllerConnectsWithInitThenVersionRequestAndIsKilledOnRequest) {
    simulator->join(1, "alice", "^1Alice");
    sim::PlayerSpec car;
    car.ucid = 1;
    simulator->joinTrack(car);

    ASSERT_EQ(master.StartUp(), 0);
    ASSERT_TRUE(handshakeDone());

    sim::SimState state = simulator->snapshot();
    ASSERT_GE(state.received.size(), 2u);
    EXPECT_TRUE(state.received[0].is(insim::ISP_ISI));
    EXPECT_TRUE(state.received[1].is(insim::ISP_TINY, insim::TINY_VER));
    EXPECT_EQ(state.received[1].reqI(), 1);
    EXPECT_EQ(state.link.isi.Admin, "secret");
    EXPECT_EQ(state.link.isi.IName, "LFS_TMX");
    EXPECT_EQ(state.link.isi.Flags, 40);
    EXPECT_EQ(state.link.isi.Interval, 250);
    EXPECT_EQ(state.link.isi.Prefix, '#');
    // the handshake asks for state, connections and players, then greets
    EXPECT_NE(state.findPacket(insim::ISP_TINY, insim::TINY_SST), nullptr);
    EXPECT_NE(state.findPacket(insim::ISP_TINY, insim::TINY_NCN), nullptr);
    EXPECT_NE(state.findPacket(insim::ISP_TINY, insim::TINY_NPL), nullptr);
    const sim::ReceivedPacket* mtc = state.findPacket(insim::ISP_MTC);
    ASSERT_NE(mtc, nullptr);
    insim::IS_MTC greeting;
    ASSERT_TRUE(insim::decode(mtc->bytes.data(), mtc->bytes.size(), greeting));
    EXPECT_EQ(greeting.Msg, "^7TMX is online - Init completed");

    ASSERT_TRUE(eventually([&] { return master.controllers[0]->activity.load() == ACT_ACTIVE; }));

    const std::size_t before = simulator->receivedCount();
    master.RequestKillAll();
    master.EndRun();
    EXPECT_EQ(master.controllers[0]->activity.load(), ACT_STOPPED);
    EXPECT_EQ(master.controllers[0]->runRequest.load(), RUN_STOP);

    ASSERT_TRUE(simulator->waitForPacket(insim::ISP_TINY, insim::TINY_CLOSE, kWaitMs, before));
    state = simulator->snapshot();
    const auto killed = positionOf(state, insim::ISP_MST, -1, before);
    ASSERT_TRUE(killed.has_value());
    const sim::ReceivedPacket& announcement = state.received[*killed];
    insim::IS_MST mst;
    ASSERT_TRUE(insim::decode(announcement.bytes.data(), announcement.bytes.size(), mst));
    EXPECT_EQ(mst.Msg, "^1TMX is killed by admin");
    const auto close = positionOf(state, insim::ISP_TINY, insim::TINY_CLOSE, before);
    ASSERT_TRUE(close.has_value());
    EXPECT_LT(*killed, *close) << "the announcement goes out before the link is closed";
    EXPECT_NE(console.output().find("\n\nServer 0: TMX is killed by admin"), std::string::npos);
}

TEST_F(MasterSimTest, LostServerIsReconnectedOnceThenGivenUp) {
    ASSERT_EQ(master.StartUp(), 0);
    ASSERT_TRUE(handshakeDone());
    TMX_MAIN& controller = *master.controllers[0];

    ASSERT_TRUE(simulator->setListening(false));
    ASSERT_TRUE(simulator->dropClient());
    ASSERT_TRUE(eventually([&] { return controller.activity.load() == ACT_STOPPED; }));
    // the flag the master waits on is posted before the thread reports itself stopped
    EXPECT_EQ(controller.runRequest.load(), RUN_ERROR);
    const std::string out = console.output();
    EXPECT_NE(out.find("\nLost connection to LFS  -  trying to reconnect   "), std::string::npos);
    EXPECT_NE(out.find("-failed\nTerminating...."), std::string::npos);
    EXPECT_EQ(simulator->snapshot().link.clientsAccepted, 1) << "exactly one connection was made";

    int passes = 0;
    while (master.quitRequest.load() == QUIT_NONE && passes < 100) {
        master.SupervisionPass();
        ++passes;
    }
    EXPECT_EQ(passes, kRetryGiveUp + 1);
    EXPECT_EQ(master.quitRequest.load(), QUIT_ALL_DIED);
    EXPECT_NE(console.output().find("\nMCP: coudlnt reconnect\n"), std::string::npos);
}

}  // namespace
}  // namespace tmx
