// The admin's guide keeps up with the program: every configuration key, every
// chat command and every command-line option the program knows is explained in
// docs/ADMIN.md. A key or command added to the code without a word in the guide
// fails here, with the missing words named.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "commands/chat_commands.h"
#include "data/general_config.h"
#include "data/server_config.h"
#include "master/command_line.h"

namespace tmx {
namespace {

std::string readGuide() {
    std::ifstream in(TMX_SOURCE_DIR "/docs/ADMIN.md", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Shown as code: a code span that starts with the word ("`rs_speed`",
// "`#top XRT BL1`"), or a table cell that holds the word alone. A word that
// is only the start of a longer one ("--reconnect" in "--reconnect-every")
// does not count.
bool shownAsCode(const std::string& guide, std::string_view word) {
    const std::string w(word);
    return guide.find("`" + w + "`") != std::string::npos || guide.find("`" + w + " ") != std::string::npos ||
           guide.find("| " + w + " |") != std::string::npos;
}

template <typename Words>
std::string missingFrom(const std::string& guide, const Words& words) {
    std::string missing;
    for (std::string_view word : words)
        if (!shownAsCode(guide, word)) missing += " " + std::string(word);
    return missing;
}

// The "--word" options that the help text names, each once.
std::vector<std::string> helpOptions(const std::string& help) {
    std::vector<std::string> options;
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < help.size() && ((help[end] >= 'a' && help[end] <= 'z') || help[end] == '-')) ++end;
        const std::string option = help.substr(at, end - at);
        if (option.size() > 2 && std::find(options.begin(), options.end(), option) == options.end())
            options.push_back(option);
        at = end - 2;
    }
    return options;
}

TEST(AdminGuide, ExplainsEveryKeyOfBothConfigurationFiles) {
    const std::string guide = readGuide();
    ASSERT_FALSE(guide.empty()) << "docs/ADMIN.md is missing";
    EXPECT_EQ(missingFrom(guide, data::kGeneralConfigKeys), "") << "tmx_server.cfg keys not in the guide";
    const std::vector<std::string_view> serverKeys = data::serverConfigKeys();
    ASSERT_GT(serverKeys.size(), 30u);
    EXPECT_EQ(missingFrom(guide, serverKeys), "") << "server_N.cfg keys not in the guide";
}

TEST(AdminGuide, ExplainsEveryChatCommandAndCommandLineOption) {
    const std::string guide = readGuide();
    ASSERT_FALSE(guide.empty()) << "docs/ADMIN.md is missing";

    // The program compares the words with "." in front; admins read and type "#".
    std::vector<std::string> commands;
    for (const char* word : commands::chatCommandWords()) {
        ASSERT_EQ(word[0], '.') << word;
        commands.push_back(std::string("#") + (word + 1));
    }
    ASSERT_GT(commands.size(), 20u);
    EXPECT_EQ(missingFrom(guide, commands), "") << "chat commands not in the guide";

    const std::vector<std::string> options = helpOptions(commandLineHelp());
    ASSERT_GE(options.size(), 6u) << commandLineHelp();
    EXPECT_EQ(missingFrom(guide, options), "") << "command-line options not in the guide";
}

}  // namespace
}  // namespace tmx
