// The chat splitter: separators, quoting, empty tokens and the two limits.
#include "commands/chat_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace tmx::commands {
namespace {

class ChatSplitTest : public ::testing::Test {
protected:
    int split(const std::string& text) { return splitChatLine(text.c_str(), &t); }
    std::string tok(int i) const { return t.token[static_cast<std::size_t>(i)].str(); }
    ChatTokens t;
};

TEST_F(ChatSplitTest, BlankCommaAndSemicolonSeparateTabDoesNot) {
    EXPECT_EQ(split(".top XRT,BL1;x"), 4);
    EXPECT_EQ(tok(0), ".top");
    EXPECT_EQ(tok(1), "XRT");
    EXPECT_EQ(tok(2), "BL1");
    EXPECT_EQ(tok(3), "x");

    EXPECT_EQ(split(".a\tb c"), 2);
    EXPECT_EQ(tok(0), ".a\tb");
    EXPECT_EQ(tok(1), "c");
}

TEST_F(ChatSplitTest, EverySeparatorEndsATokenSoEmptyTokensAppear) {
    EXPECT_EQ(split(".top  XRT"), 3);
    EXPECT_EQ(tok(1), "");
    EXPECT_EQ(tok(2), "XRT");

    EXPECT_EQ(split(" .top"), 2) << "a leading separator gives an empty token 0";
    EXPECT_EQ(tok(0), "");
    EXPECT_EQ(tok(1), ".top");

    EXPECT_EQ(split(".top "), 2) << "the end of the text ends a counted (empty) token";
    EXPECT_EQ(tok(1), "");
    EXPECT_EQ(split(""), 1);
    EXPECT_EQ(tok(0), "");
}

TEST_F(ChatSplitTest, QuotesKeepSeparatorsAndAreNotCopied) {
    EXPECT_EQ(split(".watch \"John Doe\" 5"), 3);
    EXPECT_EQ(tok(1), "John Doe");
    EXPECT_EQ(tok(2), "5");

    EXPECT_EQ(split(".\"he\"lp"), 1);
    EXPECT_EQ(tok(0), ".help");

    EXPECT_EQ(split(".x \"a, b;c"), 2) << "an open quote runs to the end of the text";
    EXPECT_EQ(tok(1), "a, b;c");
}

TEST_F(ChatSplitTest, SplittingStopsAfterTheTenthTokenEndedByASeparator) {
    EXPECT_EQ(split(".a b c d e f g h i j k l"), 10);
    EXPECT_EQ(tok(9), "j");

    EXPECT_EQ(split(".a b c d e f g h i j"), 10) << "the tenth ended by the end of the text";
    EXPECT_EQ(tok(9), "j");

    EXPECT_EQ(split(",,,,,,,,,,,,"), 10);
}

TEST_F(ChatSplitTest, ALongTokenIsCutTo49AndEndsTheSplittingUncounted) {
    const std::string sixty(60, 'x');
    EXPECT_EQ(split(".top " + sixty + " BL1"), 1);
    EXPECT_EQ(tok(1), std::string(49, 'x')) << "the buffer keeps the cut text";
    EXPECT_EQ(tok(2), "") << "nothing after the cut is split";

    EXPECT_EQ(split(".top " + std::string(50, 'y')), 1) << "50 characters reach the limit";
    EXPECT_EQ(split(".top " + std::string(49, 'y') + " z"), 3) << "49 characters still fit";
    EXPECT_EQ(tok(1), std::string(49, 'y'));

    EXPECT_EQ(split("\"" + std::string(55, 'q') + "\""), 0) << "the command word itself";
}

TEST_F(ChatSplitTest, TokensOfAnEarlierLineAreCleared) {
    split(".a b c d");
    EXPECT_EQ(split(".e"), 1);
    EXPECT_EQ(tok(1), "");
    EXPECT_EQ(tok(3), "");
}

TEST_F(ChatSplitTest, MissingArgumentsGiveMinusOne) {
    EXPECT_EQ(splitChatLine(nullptr, &t), -1);
    EXPECT_EQ(splitChatLine(".help", nullptr), -1);
}

}  // namespace
}  // namespace tmx::commands
