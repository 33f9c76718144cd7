// A controller wired to a simulated LFS server over loopback TCP, run on the
// test's own thread one loop pass at a time.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/tmx_main.h"
#include "lfs-sim/lfs_sim.h"
#include "lfs-sim/manual_clock.h"
#include "master/master_control.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace tmx::testing {

using namespace insim;

inline constexpr int kWaitMs = 10000;  // safety net only: waits end on events

inline RawPacket tinyPacket(std::uint8_t subType, std::uint8_t reqI = 0) {
    IS_TINY t;
    t.SubT = subType;
    t.ReqI = reqI;
    return encode(t);
}

// A packet the controller takes off the link and discards.
inline RawPacket filler() { return tinyPacket(TINY_REPLY); }

inline RawPacket versionPacket(int insimVersion = 4) {
    IS_VER v;
    v.ReqI = 1;
    v.Version = "0.5Z";
    v.Product = "S2";
    v.InSimVer = static_cast<std::uint16_t>(insimVersion);
    return encode(v);
}

inline std::size_t countOf(const std::string& haystack, const std::string& needle) {
    std::size_t n = 0;
    for (auto pos = haystack.find(needle); pos != std::string::npos;
         pos = haystack.find(needle, pos + needle.size()))
        ++n;
    return n;
}

class ControllerFixture : public ::testing::Test {
protected:
    ControllerFixture() : master(console, clock), link(console, clock), c(console, clock) {}

    void SetUp() override { startSim(sim::SimOptions{}); }
    void TearDown() override {
        if (simulator) simulator->stop();
    }

    // The master language file the controller's texts come from.
    virtual std::string masterLanguage() const {
        return "<(cr)>\r\n\"ori\"\r\n<tmxm>\r\n\"Welcome back %%\"\r\n";
    }

    void startSim(sim::SimOptions options) {
        if (simulator) simulator->stop();
        options.keepAliveMs = 0;
        simulator = std::make_unique<sim::LfsSim>(options);
        ASSERT_TRUE(simulator->start());
        dir.write("languages/__MASTER.lng", masterLanguage());
        master.workDir = dir.path();
        master.readKey = [] { return 0; };
        if (master.languages.count() == 0) {
            ASSERT_EQ(master.languages.loadFile(dir.path() + "/languages/", "__MASTER.lng"), 0);
        }
        c.link = &link;
        c.master = &master;
        c.host = "127.0.0.1";
        c.port = std::to_string(simulator->port()).c_str();
        c.debugState = DBG_OFF;
        link.debug = 0;
    }

    // Restarts the simulator on the manual clock: the cars of its driving model
    // move only when the test advances it. Call before startRunning.
    void startSimOnManualClock() {
        simulator->stop();
        sim::SimOptions options;
        options.keepAliveMs = 0;
        simulator = std::make_unique<sim::LfsSim>(options, simClock);
        ASSERT_TRUE(simulator->start());
        c.port = std::to_string(simulator->port()).c_str();
    }

    // Connects, finishes the handshake and enters the loop as Run does.
    void startRunning() {
        ASSERT_EQ(c.Connect(), 0);
        c.runRequest = RUN_RUNNING;
        c.activity = ACT_ACTIVE;
        link.receiveWaitMs = 50;
        // The last request of the handshake is answered before the marker.
        ASSERT_TRUE(simulator->waitForPacket(ISP_TINY, TINY_RST, kWaitMs));
        barrier();
    }

    // Runs loop passes until cond holds; false when it never does.
    bool pumpUntil(const std::function<bool()>& cond, int maxPasses = 400) {
        for (int i = 0; i < maxPasses; ++i) {
            if (cond()) return true;
            if (!c.Pass()) return cond();
        }
        return cond();
    }

    // Makes sure the controller has handled everything the simulator sent
    // before now: the simulator sends an IS_ISM, whose handler always prints
    // "   host", and the loop runs until that line appears.
    void barrier() {
        const std::size_t seen = countOf(console.output(), "   host");
        IS_ISM ism;
        ism.Host = 1;
        ASSERT_TRUE(simulator->sendPacket(encode(ism)));
        ASSERT_TRUE(pumpUntil([&] { return countOf(console.output(), "   host") > seen; }));
    }

    // Makes sure the simulator has recorded everything the controller sent so
    // far: a ping from the controller's link arrives after all of it.
    void flushToSim() {
        static std::uint8_t marker = 100;
        ++marker;
        RawPacket ping = tinyPacket(TINY_PING, marker);
        ASSERT_EQ(link.SendRaw(ping.data(), static_cast<int>(ping.size)), 0);
        const std::uint8_t wanted = marker;
        ASSERT_TRUE(simulator->waitFor(
            [wanted](const sim::SimState& st) {
                for (const auto& p : st.received)
                    if (p.is(ISP_TINY, TINY_PING) && p.reqI() == wanted) return true;
                return false;
            },
            kWaitMs));
    }

    std::size_t received(std::uint8_t type, int sub = -1, std::size_t from = 0) {
        if (link.GetState() >= LINK_CONNECTED) flushToSim();
        sim::SimState s = simulator->snapshot();
        std::size_t n = 0;
        for (std::size_t i = from; i < s.received.size(); ++i)
            if (s.received[i].is(type, sub)) ++n;
        return n;
    }

    int joinGuest(int ucid, const char* user, const char* nick) {
        EXPECT_TRUE(simulator->join(ucid, user, nick).ok);
        return ucid;
    }
    int joinTrack(int ucid, bool ai = false, const char* car = "XRT") {
        sim::PlayerSpec wanted;
        wanted.ucid = ucid;
        wanted.ai = ai;
        wanted.car = car;
        sim::Outcome o = simulator->joinTrack(wanted);
        EXPECT_TRUE(o.ok) << o.error;
        return o.id;
    }

    TempDir dir;
    CaptureConsole console;
    FakeClock clock;
    cl_MasterControl master;
    sim::ManualClock simClock;  // declared before the simulator, which runs on it
    std::unique_ptr<sim::LfsSim> simulator;
    cl_InsimHandling link;
    TMX_MAIN c;
};

}  // namespace tmx::testing
