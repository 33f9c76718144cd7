#include "commands/chat_parser.h"

#include <string_view>

namespace tmx::commands {

namespace {
bool isSeparator(char ch) { return ch == ' ' || ch == ',' || ch == ';'; }
}  // namespace

int splitChatLine(const char* text, ChatTokens* tokens) {
    if (!text || !tokens) return -1;
    for (ChatToken& t : tokens->token) t.clear();
    tokens->count = 0;

    // One more byte than a token keeps, so that reaching the limit is seen.
    std::array<char, kChatTokenMax + 1> word{};
    std::size_t length = 0;
    bool quoted = false;
    int count = 0;

    auto store = [&](std::size_t n) {
        tokens->token[static_cast<std::size_t>(count)].assign(std::string_view(word.data(), n));
    };

    for (const char* p = text; *p != '\0'; ++p) {
        const char ch = *p;
        if (ch == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && isSeparator(ch)) {
            store(length);
            ++count;
            length = 0;
            quoted = false;
            if (count == kMaxChatTokens) {
                tokens->count = count;
                return count;
            }
            continue;
        }
        word[length++] = ch;
        if (length == word.size()) {
            // 50 characters: the word is cut to 49 and the line ends here.
            store(kChatTokenMax);
            tokens->count = count;
            return count;
        }
    }
    store(length);
    ++count;
    tokens->count = count;
    return count;
}

}  // namespace tmx::commands
