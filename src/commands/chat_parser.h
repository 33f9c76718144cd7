// Splitting a typed chat command into its words.
//
// The chat splitter has rules of its own (they differ from the configuration
// line splitter): blanks, commas and semicolons separate words, double quotes
// keep separators inside one word, and a word is at most 49 characters long.
#pragma once

#include <array>
#include <cstddef>

#include "common/fixed_string.h"

namespace tmx::commands {

constexpr int kMaxChatTokens = 10;
constexpr std::size_t kChatTokenMax = 49;  // characters one word keeps

using ChatToken = FixedString<kChatTokenMax + 1>;

// The words of one command line: token 0 is the command word, token 1 the
// first argument, and so on. Tokens beyond count are empty.
struct ChatTokens {
    int count = 0;
    std::array<ChatToken, kMaxChatTokens> token;
};

// Splits text into tokens:
// - separators are blank, comma and semicolon (a tab is an ordinary character);
// - a double quote toggles quoting and is not copied; inside quotes separators
//   are ordinary characters; quoting ends with every token;
// - every separator outside quotes ends the current token, so two separators
//   in a row give an empty token and a leading separator an empty token 0;
// - the end of the text ends the current token, which is counted;
// - splitting stops once the tenth token has been ended by a separator;
// - a token that reaches 50 characters is cut to 49 and ends the splitting
//   without being counted (its buffer keeps the cut text).
// Returns the token count, or -1 when either argument is missing.
int splitChatLine(const char* text, ChatTokens* tokens);

}  // namespace tmx::commands
