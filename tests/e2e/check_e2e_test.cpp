// "tmx --check" as an admin runs it: the real program in a folder of files,
// its exit status and what it prints.
#include <gtest/gtest.h>

#include <string>

#include "support/program_run.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

using testing::builtProgram;
using testing::runProgram;
using testing::TempDir;

void writeSetup(const TempDir& dir, const std::string& serverList) {
    dir.write("tmx_server.cfg", serverList);
    dir.write("server_0.cfg", "rs_speed 120\r\nend\r\n");
    dir.write("languages/__MASTER.lng", "<(cr)>\r\n\"eng\"\r\n<tmxm>\r\n\"one\"\r\n");
}

TEST(CheckE2E, GoodSetupPassesAndConnectsToNothing) {
    TempDir dir;
    writeSetup(dir, "0:\r\nip 127.0.0.1\r\nport 29999\r\nend\r\n");
    const auto result = runProgram(builtProgram("tmx"), "--check", dir.path(), dir.file("out.txt"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("slot 0: 127.0.0.1:29999"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("All is well"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("problem:"), std::string::npos) << result.output;
    // Nothing was written beside the files read: no database, no backups.
    EXPECT_FALSE(dir.exists("tmx_db.rdb"));
}

TEST(CheckE2E, UnixLineEndsInTheServerListFail) {
    TempDir dir;
    writeSetup(dir, "0:\nip 127.0.0.1\nport 29999\nend\n");
    const auto result = runProgram(builtProgram("tmx"), "--check", dir.path(), dir.file("out.txt"));
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("tmx_server.cfg: every line ends with LF only"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("lines must end with CR LF"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("problems found"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace tmx
