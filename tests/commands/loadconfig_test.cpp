// "#loadconfig <file>" typed by an admin on the simulated LFS server: only a
// plain, small, regular file of TMX's folder is read; everything else is
// refused with a reply and leaves the settings as they were.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "data/config_reader.h"
#include "support/controller_fixture.h"

namespace tmx {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kBoss = 2;  // a guest with admin rights
constexpr const char* kDone = "^7Done. serverconfig loaded. (pls restart session)";
constexpr const char* kBadName = "^7ERROR, give a plain file name in the TMX folder";
constexpr const char* kNotAFile = "^7ERROR, not a readable config file";
constexpr const char* kUnreadable = "^7ERROR, couldnt read the serverconfig!";

class LoadConfigTest : public testing::ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        ASSERT_TRUE(simulator->join(kBoss, "boss", "Boss", true).ok);
        startRunning();
        c.config.maxerror = 9;
    }

    std::vector<sim::ChatLine> chatLog() {
        flushToSim();
        return simulator->snapshot().model.chat();
    }

    // Types a line as the admin; what he got privately, and in toAll what
    // everybody got.
    std::vector<std::string> say(const std::string& text) {
        const std::size_t mark = chatLog().size();
        EXPECT_TRUE(simulator->chat(kBoss, text).ok);
        barrier();
        std::vector<std::string> lines;
        toAll.clear();
        const auto log = chatLog();
        for (std::size_t i = mark; i < log.size(); ++i) {
            if (log[i].kind == sim::ChatLine::Kind::Private && log[i].ucid == kBoss)
                lines.push_back(log[i].text);
            if (log[i].kind == sim::ChatLine::Kind::ToAll) toAll.push_back(log[i].text);
        }
        return lines;
    }

    std::vector<std::string> toAll;
};

TEST_F(LoadConfigTest, RefusesAnythingButAPlainSmallFileOfTheFolder) {
    dir.write("big.cfg", "maxerror 3\r\n" + std::string(data::kConfigFileMax, '\n'));
    std::filesystem::create_directory(dir.file("folder.cfg"));
    dir.write("sub/x.cfg", "maxerror 3\r\n");
    struct Case {
        std::string name;
        const char* reply;
    };
    std::vector<Case> cases{
        {"/dev/zero", kBadName},        {"../server_0.cfg", kBadName}, {"sub/x.cfg", kBadName},
        {"sub\\x.cfg", kBadName},       {"c:x.cfg", kBadName},         {"nul.cfg", kBadName},
        {"folder.cfg", kNotAFile},      {"big.cfg", kNotAFile},        {"missing.cfg", kUnreadable},
    };
#ifndef _WIN32
    // A pipe without writer: the controller would wait in the open for ever.
    ASSERT_EQ(::mkfifo(dir.file("pipe.cfg").c_str(), 0600), 0);
    cases.push_back({"pipe.cfg", kNotAFile});
#endif
    for (const Case& t : cases) {
        EXPECT_THAT(say("#loadconfig " + t.name), ElementsAre(" ", t.reply)) << t.name;
        EXPECT_THAT(toAll, IsEmpty()) << t.name;
        EXPECT_EQ(c.config.maxerror, 9) << t.name;
    }
}

TEST_F(LoadConfigTest, APlainFileStillLoads) {
    dir.write("race night.cfg", "maxerror 3\r\n");
    EXPECT_THAT(say("#loadconfig \"race night.cfg\""), ElementsAre(" ", kDone));
    EXPECT_THAT(toAll, ElementsAre(" ", "^2The settings have changed by an admin", "^2Enter '#info' for more info"));
    EXPECT_EQ(c.config.maxerror, 3);
}

}  // namespace
}  // namespace tmx
