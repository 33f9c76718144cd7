// Configuration and language files are edited by hand: whatever bytes they
// hold, reading them must neither crash nor overrun (run under the address
// sanitizer build too), and every value must land inside its field and range.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "data/general_config.h"
#include "data/languages.h"
#include "data/server_config.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace tmx::data {
namespace {

// Bytes biased towards what the readers treat specially.
std::string randomFile(std::mt19937& rng, std::size_t length) {
    const char special[] = {'\r', '\n', '\0', '"', ' ', '\t', ',', ';', '<', '/', ':', '#', '%', '^', '-'};
    const char* words[] = {"ip", "port", "mode", "end", "3:", "rs_speed", "pitwindow", "tmxmsg",
                           "qallowedtries", "<tmxm>", "<(cr)>", "<team", "//", "pitmissedpen"};
    std::string out;
    std::uniform_int_distribution<int> kind(0, 9), byte(0, 255), sp(0, sizeof special - 1), word(0, 13),
        digits(0, 99999);
    while (out.size() < length) {
        switch (kind(rng)) {
            case 0: case 1: case 2: out += special[sp(rng)]; break;
            case 3: case 4: out += words[word(rng)]; break;
            case 5: out += std::to_string(digits(rng) - 5000); break;
            default: out += static_cast<char>(byte(rng)); break;
        }
    }
    return out;
}

class RandomFiles : public ::testing::TestWithParam<unsigned> {
protected:
    testing::TempDir dir;
    NullConsole console;
};

TEST_P(RandomFiles, GeneralConfigStaysInItsFields) {
    std::mt19937 rng(GetParam());
    dir.write("tmx_server.cfg", randomFile(rng, 4000));
    ServerTable servers;
    int used = -1;
    ASSERT_EQ(readGeneralConfig(dir.file("tmx_server.cfg"), servers, used, console), 0);
    EXPECT_GE(used, 0);
    EXPECT_LE(used, kMaxServers);
    for (const ServerEntry& s : servers) {
        EXPECT_LE(s.ip.size(), 19u);
        EXPECT_LE(s.port.size(), 7u);
        EXPECT_LE(s.nstext.size(), 63u);
        EXPECT_GE(s.mode, 0);
        EXPECT_LE(s.mode, 9);
    }
}

TEST_P(RandomFiles, ServerConfigValuesStayInRange) {
    std::mt19937 rng(GetParam());
    dir.write("server_0.cfg", randomFile(rng, 4000));
    ServerConfig cfg;
    ASSERT_EQ(readServerConfig(dir.file("server_0.cfg"), "server_0.cfg", 0, cfg, console), 0);
    EXPECT_GE(cfg.rs_speed, 50);
    EXPECT_LE(cfg.rs_speed, 200);
    EXPECT_GE(cfg.tmxmsg.left, -1);
    EXPECT_LE(cfg.tmxmsg.left, 199);
    EXPECT_LE(cfg.tmxmsg.height, 15);
    EXPECT_LE(cfg.pitwindow.count, kMaxPitWindows);
    for (int w = 1; w < cfg.pitwindow.count; ++w)
        EXPECT_LE(cfg.pitwindow.to[static_cast<std::size_t>(w - 1)], cfg.pitwindow.from[static_cast<std::size_t>(w)]);
    EXPECT_LE(cfg.pitmissedpen.size(), kPitPenaltyMax + 1);
}

TEST_P(RandomFiles, LanguageFileLinesStayInTheirBlocks) {
    std::mt19937 rng(GetParam());
    dir.write("__MASTER.lng", randomFile(rng, 20000));
    dir.write("other.lng", randomFile(rng, 20000));
    LanguageTable table(console);
    const std::string folder = dir.path() + platform::kPathSeparator;
    ASSERT_EQ(table.loadFile(folder, "__MASTER.lng"), 0);
    ASSERT_EQ(table.loadFile(folder, "other.lng"), 0);
    for (int l = 0; l < table.count(); ++l) {
        EXPECT_LE(std::string(table.language(l)->code()).size(), 3u);
        for (const LanguageText& line : table.language(l)->lines) EXPECT_LE(line.size(), kLanguageLineKeep);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomFiles, ::testing::Range(1u, 31u));

}  // namespace
}  // namespace tmx::data
