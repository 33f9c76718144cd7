// The real tmx program, started with its command-line options against the
// simulated LFS server over TCP on 127.0.0.1: a clean stop on SIGTERM, the
// reconnect option, the log, and the failure lines a new admin needs.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "lfs-sim/lfs_sim.h"
#include "master/master_control.h"
#include "support/program_run.h"
#include "support/received_order.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

using testing::BackgroundProgram;
using testing::builtProgram;
using testing::positionOf;
using testing::runProgram;
using testing::shellQuote;
using testing::TempDir;

constexpr int kWaitMs = 20000;  // safety net only: every wait ends on an event

std::string slotBlock(int slot, int port, const std::string& password) {
    return std::to_string(slot) + ":\r\nip 127.0.0.1\r\nport " + std::to_string(port) + "\r\npassw " + password +
           "\r\n";
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimOptions options;
        options.adminPassword = "secret";
        options.keepAliveMs = 0;
        simulator = std::make_unique<sim::LfsSim>(options);
        ASSERT_TRUE(simulator->start());
        files.write("languages/__MASTER.lng", "<(cr)>\r\n\"ori\"\r\n");
        writeServers(slotBlock(0, simulator->port(), "secret"));
    }

    void writeServers(const std::string& blocks) { files.write("tmx_server.cfg", blocks + "end\r\n"); }

    // tmx started from the scratch folder, its files in the setup folder.
    std::unique_ptr<BackgroundProgram> start(const std::string& options) {
        return std::make_unique<BackgroundProgram>(
            builtProgram("tmx"), "--dir " + shellQuote(files.path()) + " --log tmx.log " + options, scratch.path(),
            scratch.file("tmx"));
    }

    bool handshakeDone(std::size_t from = 0) {
        return simulator->waitForPacket(insim::ISP_TINY, insim::TINY_RST, kWaitMs, from).has_value();
    }

    std::string log() const { return scratch.read("tmx.log"); }

    // A database with alice, who has driven laps (so that no cleaning drops
    // her), at chat level 2. Read back: her chat level, or -1.
    void writeDatabaseWithAlice() {
        CaptureConsole quiet;
        cl_MasterControl master(quiet);
        master.workDir = files.path();
        master.readKey = nullptr;
        data::PlayerEntry& alice = master.database.entries.emplace_back();
        alice.userName.assign("alice");
        alice.skillLaps = 3;
        data::CombinationRecord& record = alice.combinations.emplace_back();
        record.laps = 3;
        record.car.assign("XRT");
        record.track.assign("BL1");
        master.database.invalidateIndex();
        ASSERT_EQ(master.WriteDatabase(data::kDatabaseFile), 0);
    }
    int storedChatLevelOfAlice() {
        CaptureConsole quiet;
        cl_MasterControl master(quiet);
        master.workDir = files.path();
        master.readKey = nullptr;
        if (master.ReadDatabase(data::kDatabaseFile) != 0) return -1;
        for (const data::PlayerEntry& entry : master.database.entries)
            if (entry.userName == "alice") return entry.chatLevel;
        return -1;
    }

    TempDir files;    // what tmx reads and writes
    TempDir scratch;  // where it is started: output, log
    std::unique_ptr<sim::LfsSim> simulator;
};

TEST_F(CommandLineTest, SigtermDuringARaceAnnouncesClosesWritesTheDatabaseAndEndsWithoutAKey) {
    writeDatabaseWithAlice();
    ASSERT_EQ(storedChatLevelOfAlice(), 2);
    auto tmx = start("");
    ASSERT_TRUE(handshakeDone());
    simulator->join(1, "alice", "^1Alice");
    // A setting changed since the last write, which only the clean stop saves.
    simulator->chat(1, "#chatlevel");
    simulator->chat(1, "#nextstart rs");
    sim::RaceSpec race;
    race.laps = 5;
    race.cars = 2;
    ASSERT_TRUE(simulator->startRace(race));
    ASSERT_TRUE(simulator->waitFor([](const sim::SimState& s) { return s.countPackets(insim::ISP_MTC) > 3; }, kWaitMs));

    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(tmx->signal("TERM"));
    EXPECT_EQ(tmx->wait(kWaitMs), 0) << tmx->output();

    const sim::SimState state = simulator->snapshot();
    const auto killed = positionOf(state, insim::ISP_MST, -1, before);
    const auto close = positionOf(state, insim::ISP_TINY, insim::TINY_CLOSE, before);
    ASSERT_TRUE(killed.has_value());
    ASSERT_TRUE(close.has_value()) << "the link is closed with TINY_CLOSE";
    EXPECT_LT(*killed, *close);
    insim::IS_MST mst;
    ASSERT_TRUE(insim::decode(state.received[*killed].bytes.data(), state.received[*killed].bytes.size(), mst));
    EXPECT_EQ(mst.Msg, "^1TMX is killed by admin");

    EXPECT_NE(storedChatLevelOfAlice(), 2) << "the changed setting was written to the database";
    const std::string out = tmx->output();
    EXPECT_NE(out.find("Asked to stop"), std::string::npos);
    EXPECT_EQ(out.find("press key"), std::string::npos) << "a stopped service waits for no key";

    // The log: stamped lines, the controller's own slot, the join, no spinner.
    const std::string text = log();
    EXPECT_NE(text.find("[slot 0] LFS connected successfully"), std::string::npos) << text;
    EXPECT_NE(text.find("[slot 0] Server 0: alice (^1Alice) joined"), std::string::npos) << text;
    EXPECT_NE(text.find("[slot 0] Server 0: alice (^1Alice) typed \"#nextstart rs\" (not an admin: refused)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[master] MCP: Writing database"), std::string::npos) << text;
    EXPECT_EQ(text.find('\t'), std::string::npos);
    EXPECT_EQ(text.find('\b'), std::string::npos);
    EXPECT_EQ(text.compare(0, 2, "20"), 0) << "every line starts with its date";
}

TEST_F(CommandLineTest, ASecondSignalEndsAtOnce) {
    auto tmx = start("--no-key");
    ASSERT_TRUE(handshakeDone());
    simulator->join(1, "alice", "^1Alice");
    ASSERT_TRUE(tmx->signal("INT"));
    // The controller takes a second over its goodbye: time for the second one.
    ASSERT_TRUE(tmx->waitForOutput("Asked to stop", kWaitMs));
    ASSERT_TRUE(tmx->signal("INT"));
    EXPECT_EQ(tmx->wait(kWaitMs), 128 + 2);
    EXPECT_EQ(tmx->output().find("Thanks for using"), std::string::npos);
}

TEST_F(CommandLineTest, ReconnectComesBackAfterTheServerStoppedListeningForFiveSeconds) {
    auto tmx = start("--no-key --reconnect-every 1");
    ASSERT_TRUE(handshakeDone());
    ASSERT_TRUE(simulator->setListening(false));
    ASSERT_TRUE(simulator->dropClient());
    ASSERT_TRUE(simulator->waitForDisconnect(kWaitMs));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const std::size_t before = simulator->receivedCount();
    ASSERT_TRUE(simulator->setListening(true));
    ASSERT_TRUE(handshakeDone(before)) << tmx->output();
    EXPECT_EQ(simulator->snapshot().link.clientsAccepted, 2);
    EXPECT_FALSE(tmx->ended()) << "a lost server is not given up";

    const std::string text = log();
    EXPECT_NE(text.find("[slot 0] Server 0: cannot connect to 127.0.0.1 port " +
                        std::to_string(simulator->port()) + ": connection refused"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Server 0: trying 127.0.0.1 port"), std::string::npos);
    EXPECT_NE(text.find("Server 0: connected again"), std::string::npos);
    ASSERT_TRUE(tmx->signal("TERM"));
    EXPECT_EQ(tmx->wait(kWaitMs), 0);
}

TEST_F(CommandLineTest, FailedConnectsNameSlotHostPortAndTheLikelyCause) {
    // Slot 0 points at a port nobody listens on, slot 1 carries a wrong password.
    const int deadPort = simulator->port() == 65535 ? 65534 : simulator->port() + 1;
    writeServers(slotBlock(0, deadPort, "secret") + slotBlock(1, simulator->port(), "wrong"));
    auto tmx = start("--no-key");
    EXPECT_EQ(tmx->wait(kWaitMs), 0) << "without --reconnect both are given up and the program ends";
    EXPECT_NE(tmx->output().find("All servers died"), std::string::npos);
    EXPECT_EQ(tmx->output().find("press key"), std::string::npos) << "--no-key";
    const std::string text = log();
    EXPECT_NE(text.find("[slot 0] Server 0: cannot connect to 127.0.0.1 port " + std::to_string(deadPort) +
                        ": connection refused"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[slot 1] Server 1: LFS at 127.0.0.1 port " + std::to_string(simulator->port()) +
                        " closed the link right after the login: check the admin password (passw) and the "
                        "InSim port of the LFS host"),
              std::string::npos)
        << text;
}

TEST_F(CommandLineTest, HelpVersionAndAWrongOption) {
    struct Case {
        const char* args;
        int exitCode;
        const char* shows;
    };
    for (const Case& c : {Case{"--help", 0, "--reconnect"}, Case{"--version", 0, "TMX 0.8"},
                          Case{"--bogus", 2, "unknown option \"--bogus\""},
                          Case{"--dir /nonexistent-tmx-dir", 2, "cannot use the directory"},
                          Case{"--reconnect-every 0", 2, "from 1 to 3600"}}) {
        const auto result = runProgram(builtProgram("tmx"), c.args, scratch.path(), scratch.file("out"));
        EXPECT_EQ(result.exitCode, c.exitCode) << c.args;
        EXPECT_NE(result.output.find(c.shows), std::string::npos) << c.args << ": " << result.output;
    }
}

}  // namespace
}  // namespace tmx
