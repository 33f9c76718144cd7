// The language files that ship with the program load cleanly, and every
// translation keeps the master's values and message levels line by line.
#include <gtest/gtest.h>

#include <string>

#include "data/languages.h"
#include "platform/files.h"

namespace tmx::data {
namespace {

std::size_t valueCount(const std::string& text) {
    std::size_t n = 0;
    for (auto at = text.find("%%"); at != std::string::npos; at = text.find("%%", at + 2)) ++n;
    return n;
}

std::string level(const std::string& text) {
    return text.size() >= 2 && text[0] == '#' && text[1] >= '0' && text[1] <= '9' ? text.substr(0, 2) : "";
}

TEST(ShippedLanguages, LoadCleanlyAndAgreeWithTheMaster) {
    CaptureConsole console;
    LanguageTable table(console);
    const std::string folder = std::string(TMX_SOURCE_DIR) + "/languages" + platform::kPathSeparator;
    ASSERT_GE(table.loadAll(folder), 2);
    const std::string out = console.output();
    EXPECT_EQ(out.find("missing 2nd"), std::string::npos) << out;
    EXPECT_EQ(out.find("to many lines"), std::string::npos) << out;
    EXPECT_EQ(out.find("error"), std::string::npos) << out;

    const cl_Language* master = table.language(0);
    EXPECT_STREQ(master->code(), "ori");
    ASSERT_NE(table.find("deu"), -1);
    for (int l = 1; l < table.count(); ++l) {
        const cl_Language* other = table.language(l);
        for (std::size_t i = 8; i < master->lines.size(); ++i) {  // after the creator block
            const std::string m = master->lines[i].str();
            const std::string o = other->lines[i].str();
            EXPECT_EQ(valueCount(m), valueCount(o)) << other->code() << " line " << i << ": " << o;
            EXPECT_EQ(level(m), level(o)) << other->code() << " line " << i << ": " << o;
        }
    }
}

TEST(ShippedLanguages, EveryTextTheProgramShowsExists) {
    NullConsole console;
    LanguageTable table(console);
    const std::string folder = std::string(TMX_SOURCE_DIR) + "/languages" + platform::kPathSeparator;
    ASSERT_GE(table.loadAll(folder), 1);
    const cl_Language* master = table.language(0);
    // Lines the table, the channels and the status bar use today.
    const std::pair<LanguageBlockId, int> used[] = {
        {LB_TMXM, 0}, {LB_TMXM, 1}, {LB_TMXM, 3}, {LB_TMXM, 4}, {LB_TEAM, 19}, {LB_TEAM, 25}, {LB_TEAM, 26},
        {LB_TEAM, 27}, {LB_TEAM, 28}, {LB_TEAM, 29}, {LB_TEAM, 81}, {LB_TRAC, 0}, {LB_TRAC, 1}, {LB_TRAC, 2},
        {LB_TRAC, 7}, {LB_TRAC, 8}, {LB_TRAC, 9}, {LB_TRAC, 10}, {LB_TRAC, 11}, {LB_TRAC, 12}};
    for (const auto& [block, line] : used) {
        const std::string text = master->text(block, line).str();
        EXPECT_FALSE(text.empty() || text == "-") << kLanguageBlocks[block].key << " " << line;
    }
    EXPECT_EQ(valueCount(master->text(LB_TMXM, 0).str()), 1u) << "the welcome-back line names the driver";
}

}  // namespace
}  // namespace tmx::data
