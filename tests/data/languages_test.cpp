#include "data/languages.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tmx::data {
namespace {

using testing::TempDir;

class LanguageTest : public ::testing::Test {
protected:
    std::string dirPath() const { return dir.path() + platform::kPathSeparator; }
    TempDir dir;
    CaptureConsole console;
    LanguageTable table{console};
};

TEST_F(LanguageTest, OtherLanguagesFallBackToTheMasterLineByLine) {
    dir.write("__MASTER.lng",
              "<(cr)>\r\n\"orig\"\r\n\"English\"\r\n<tmxm>\r\n\"first\"\r\n\"#2second\"\r\n\"third\"\r\n");
    dir.write("deu.lng", "<(cr)\r\n\"deu\"\r\n\"Deutsch\"\r\n<tmxm>\r\n\"erste\"\r\n");
    ASSERT_EQ(table.loadAll(dirPath()), 2);
    const cl_Language* master = table.language(0);
    const cl_Language* german = table.language(1);
    EXPECT_STREQ(master->code(), "ori") << "the code is cut to three characters";
    EXPECT_STREQ(german->code(), "deu");
    EXPECT_EQ(german->text(LB_TMXM, 0), "erste");
    EXPECT_EQ(german->text(LB_TMXM, 1), "#2second");
    EXPECT_EQ(german->text(LB_TMXM, 2), "third");
    EXPECT_EQ(table.find("deu"), 1);
    EXPECT_EQ(table.find("DEU"), -1);
}

TEST_F(LanguageTest, QuoteRulesAndComments) {
    dir.write("__MASTER.lng",
              "comment without quotes\r\n<team>\r\n  a comment, then \"one\" trailing words\r\n"
              "\"\"\r\n\"two \"quoted\" inside\"\r\n\"three, missing end\r\n<xxxx>\"four\"\r\n");
    ASSERT_EQ(table.loadFile(dirPath(), "__MASTER.lng"), 0);
    const cl_Language* l = table.language(0);
    EXPECT_EQ(l->text(LB_TEAM, 0), "one");
    EXPECT_EQ(l->text(LB_TEAM, 1), "two \"quoted\" inside") << "an empty text takes no line";
    EXPECT_EQ(l->text(LB_TEAM, 2), "three, missing end");
    EXPECT_EQ(l->text(LB_TEAM, 3), "four") << "an unknown header is an ordinary line";
    EXPECT_NE(console.output().find("\n\t\tmissing 2nd '\"' in line 6 -> "), std::string::npos);
}

TEST_F(LanguageTest, FullBlockLoadsSilentlyAndOneMoreReplacesTheLast) {
    std::string file = "<trac>\r\n";
    for (int i = 0; i < 16; ++i) file += "\"line" + std::to_string(i) + "\"\r\n";
    dir.write("__MASTER.lng", file);
    ASSERT_EQ(table.loadFile(dirPath(), "__MASTER.lng"), 0);
    EXPECT_EQ(console.output().find("to many lines"), std::string::npos);
    EXPECT_EQ(table.language(0)->text(LB_TRAC, 15), "line15");

    dir.write("over.lng", file + "\"extra\"\r\n");
    console.clear();
    ASSERT_EQ(table.loadFile(dirPath(), "over.lng"), 0);
    EXPECT_NE(console.output().find("\n        trac-block to many lines -> "), std::string::npos);
    EXPECT_EQ(table.language(1)->text(LB_TRAC, 15), "extra");
    EXPECT_EQ(table.language(1)->text(LB_EVEN, 0), "") << "the next block is untouched";
}

TEST_F(LanguageTest, LineFeedsAloneDoNotEndLinesAndLongLinesAreCut) {
    dir.write("__MASTER.lng", "<tmxm>\n\"a\"\n\"b\"\n");
    ASSERT_EQ(table.loadFile(dirPath(), "__MASTER.lng"), 0);
    // one line: "<tmxm>"a""b"" -> a header line whose text is not stored
    EXPECT_EQ(table.language(0)->text(LB_TMXM, 0), "");
    EXPECT_EQ(table.language(0)->text(LB_CREATOR, 0), "");

    dir.write("long.lng", "<tmxm>\r\n\"" + std::string(400, 'x') + "\"\r\n");
    ASSERT_EQ(table.loadFile(dirPath(), "long.lng"), 0);
    // 241 characters are kept: the opening quote and 240 x, no closing quote
    EXPECT_EQ(table.language(1)->text(LB_TMXM, 0).size(), 240u);
}

TEST_F(LanguageTest, MissingMasterOrFolderFails) {
    EXPECT_EQ(table.loadAll(dirPath()), -1);
    EXPECT_NE(console.output().find("Couldnt read!!!  Terminating."), std::string::npos);
    EXPECT_EQ(table.count(), 0);
}

TEST_F(LanguageTest, FirstOfTwoFilesWithTheSameCodeWins) {
    dir.write("__MASTER.lng", "\"ori\"\r\n");
    dir.write("a.lng", "\"fra\"\r\n<tmxm>\r\n\"un\"\r\n");
    ASSERT_EQ(table.loadFile(dirPath(), "__MASTER.lng"), 0);
    ASSERT_EQ(table.loadFile(dirPath(), "a.lng"), 0);
    ASSERT_EQ(table.loadFile(dirPath(), "a.lng"), 0);
    EXPECT_EQ(table.find("fra"), 1);
}

TEST_F(LanguageTest, AtMostOneHundredTwentyEightLanguages) {
    dir.write("__MASTER.lng", "\"ori\"\r\n");
    for (int i = 0; i < 130; ++i) dir.write("l" + std::to_string(i) + ".lng", "\"l" + std::to_string(i) + "\"\r\n");
    EXPECT_EQ(table.loadAll(dirPath()), kMaxLanguages);
    EXPECT_EQ(table.count(), kMaxLanguages);
    EXPECT_NE(console.output().find("\n     error, to many files in directory. reading stopped."), std::string::npos);
}

}  // namespace
}  // namespace tmx::data
