#include "master/config_check.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>

#include "support/temp_dir.h"

namespace tmx {
namespace {

using testing::TempDir;

// A file of the good setup that a case leaves out.
const char* const kRemove = "<remove>";

std::string word(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
    return s;
}

// A player database: version, the count it claims, then one entry of 96 bytes
// with its combination count and records per element of combos.
std::string database(std::uint32_t version, std::uint32_t count, std::initializer_list<std::uint32_t> combos) {
    std::string bytes = word(version) + word(count);
    for (std::uint32_t c : combos) bytes += std::string(96, 'e') + word(c) + std::string(64 * c, 'c');
    return bytes;
}

// A setup that is all right; each case changes some of its files.
std::map<std::string, std::string> goodSetup() {
    return {
        {"tmx_server.cfg", "0:\r\nip 127.0.0.1\r\nport 29999\r\n1:\r\nport 30000\r\nend\r\n"},
        {"server_0.cfg", "rs_speed 100\r\ntmxmsg 50 1 9\r\npitwindow 5 9\r\nend\r\n"},
        {"server_1.cfg", ""},
        {"languages/__MASTER.lng", "<(cr)>\r\n\"eng\"\r\n<tmxm>\r\n\"one\"\r\n\"two\"\r\n"},
        {"languages/deu.lng", "<(cr)>\r\n\"deu\"\r\n<tmxm>\r\n\"eins\"\r\n\"zwei\"\r\n"},
        {"tmx_db.rdb", database(2, 2, {0, 3})},
    };
}

struct Case {
    const char* name;
    std::map<std::string, std::string> changes;  // file -> content, or kRemove
    std::string phrase;                          // the output must contain it
    int status;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

// The time block holds 16 lines: the 17th, on line 20, is one too many.
std::string overfullLanguage() {
    std::string text = "<(cr)>\r\n\"deu\"\r\n<time>\r\n";
    for (int i = 0; i < 17; ++i) text += "\"t\"\r\n";
    return text;
}

const std::string kLongIp(25, '1');
const std::string kLongPenalty = "/msg " + std::string(55, 'p');

const Case kCases[] = {
    {"clean", {}, "All is well", 0},
    {"lf_server_list", {{"tmx_server.cfg", "0:\nip 127.0.0.1\nend\n"}},
     "tmx_server.cfg: every line ends with LF only (Unix line ends); lines must end with CR LF (Windows line "
     "ends)",
     1},
    {"lf_no_slot", {{"tmx_server.cfg", "0:\nip 127.0.0.1\nend\n"}}, "no slot is used", 1},
    {"mixed_rules", {{"server_0.cfg", "rs_speed 100\r\nmaxerror 4\nend\r\n"}},
     "server_0.cfg: line 2 is the first that ends with LF only", 1},
    {"lf_language", {{"languages/deu.lng", "<(cr)>\n\"deu\"\n"}}, "unix2dos languages/deu.lng", 1},
    {"unknown_key", {{"tmx_server.cfg", "0:\r\nip 127.0.0.1\r\nprot 29999\r\nend\r\n"}},
     "tmx_server.cfg line 3: unknown key \"prot\" (known keys: ip, port, passw, skill, nstext, mode, end)", 1},
    {"unknown_rule", {{"server_0.cfg", "rs_speed 100\r\nrs_sped 90\r\n"}}, "server_0.cfg line 2: unknown key \"rs_sped\"", 1},
    {"end_per_block", {{"tmx_server.cfg", "0:\r\nip a\r\nend\r\n1:\r\nip b\r\nend\r\n"}},
     "tmx_server.cfg line 3: \"end\" stops the reading, so everything after it is never read: 1: (line 4), ip "
     "(line 5), end (line 6)",
     1},
    {"selector_9", {{"tmx_server.cfg", "0:\r\nip a\r\n9:\r\nip b\r\n"}},
     "tmx_server.cfg line 3: selector \"9:\" names no slot 0-7 (read as 9): the program puts the keys that follow "
     "into slot 0",
     1},
    {"selector_x", {{"tmx_server.cfg", "x:\r\nip a\r\n"}}, "selector \"x:\" names no slot 0-7 (read as 0)", 1},
    {"selector_12", {{"tmx_server.cfg", "0:\r\nip a\r\n12:\r\nip b\r\n"}},
     "line 3: \"12:\" is no slot selector (a selector is one digit 0-7 and ':'): the program ignores the line, and "
     "the keys after it go to slot 0",
     1},
    {"empty_slot", {{"tmx_server.cfg", "0:\r\nip a\r\n3:\r\n1:\r\nip b\r\nend\r\n"}},
     "tmx_server.cfg line 3: slot 3 is selected but no key follows: the slot is not started", 1},
    {"rules_missing", {{"server_1.cfg", kRemove}}, "server_1.cfg: missing: slot 1 runs with the built-in rules", 1},
    {"rules_folder", {{"server_1.cfg", kRemove}, {"server_1.cfg/x", ""}}, "server_1.cfg: is not a regular file", 1},
    {"rules_huge", {{"server_1.cfg", std::string(600 * 1024, ' ')}}, "server_1.cfg: is larger than 524288 bytes", 1},
    {"clamped", {{"server_0.cfg", "rs_speed 300\r\n"}}, "server_0.cfg line 1: rs_speed 300 is clamped to 200 (range 50-200)",
     1},
    {"channel_missing_value", {{"server_0.cfg", "infomsg 50 1\r\n"}},
     "infomsg value 3 is missing: the program reads 0 (range 0-15)", 1},
    {"pitwindow", {{"server_0.cfg", "pitwindow 5 9\r\npitwindow 7 12\r\n"}},
     "server_0.cfg line 2: pitwindow 7 12 is refused (\"mismatched pitwindow\")", 1},
    {"penalty_cut", {{"server_0.cfg", "pitmissedpen \"" + kLongPenalty + "\"\r\n"}},
     "pitmissedpen is 60 characters long; the program keeps the first 50", 1},
    {"ip_cut", {{"tmx_server.cfg", "0:\r\nip " + kLongIp + "\r\n"}},
     "tmx_server.cfg line 2: ip is 25 characters long; the program keeps the first 19", 1},
    {"mode_digit", {{"tmx_server.cfg", "0:\r\nip a\r\nmode 12\r\n"}}, "mode \"12\" reads as 1", 1},
    {"no_language_folder", {{"languages/__MASTER.lng", kRemove}, {"languages/deu.lng", kRemove}},
     "no languages folder", 1},
    {"no_master", {{"languages/__MASTER.lng", kRemove}}, "languages/__MASTER.lng: missing: the program ends", 1},
    {"lines_lacking", {{"languages/deu.lng", "<(cr)>\r\n\"deu\"\r\n<tmxm>\r\n\"eins\"\r\n"}},
     "note: languages/deu.lng: lines the master has and this file lacks, per block: tmxm 1; the program shows the "
     "master's text there",
     0},
    {"overfull", {{"languages/deu.lng", overfullLanguage()}},
     "languages/deu.lng line 20: the time block holds 16 lines; this one is too many", 1},
    {"second_quote", {{"languages/deu.lng", "<(cr)>\r\n\"deu\"\r\n<tmxm>\r\n\"eins\r\n\"zwei\"\r\n"}},
     "languages/deu.lng line 4: missing second '\"'", 1},
    {"no_code", {{"languages/__MASTER.lng", "<tmxm>\r\n\"one\"\r\n"}}, "languages/__MASTER.lng: no language code", 1},
    {"same_code", {{"languages/deu.lng", "<(cr)>\r\n\"english\"\r\n<tmxm>\r\n\"a\"\r\n\"b\"\r\n"}},
     "languages/deu.lng: language code \"eng\" is already that of __MASTER.lng", 1},
    {"first_run", {{"tmx_db.rdb", kRemove}}, "not there: fine on a first run", 0},
    {"db_version", {{"tmx_db.rdb", database(3, 2, {0, 3})}}, "tmx_db.rdb: version 3, the program reads version 2 only",
     1},
    {"db_counts", {}, "database: version 2, 2 players, 3 combination records", 0},
    {"db_truncated", {{"tmx_db.rdb", database(2, 3, {1, 2}) + std::string(96, 'e')}},
     "the file ends inside player entry 3 of 3 (\"Error while reading database\"): the program keeps the 2 entries "
     "read whole",
     1},
};

class CheckTest : public ::testing::TestWithParam<Case> {};

TEST_P(CheckTest, ExplainsWhatTheProgramWouldDo) {
    const Case& c = GetParam();
    TempDir dir;
    auto files = goodSetup();
    for (const auto& [name, content] : c.changes) files[name] = content;
    for (const auto& [name, content] : files)
        if (content != kRemove) dir.write(name, content);

    CaptureConsole console;
    const int status = CheckConfiguration(dir.path(), console);
    const std::string out = console.output();
    EXPECT_EQ(status, c.status) << out;
    EXPECT_NE(out.find(c.phrase), std::string::npos) << out;
    if (c.status == 0) {
        EXPECT_EQ(out.find("problem:"), std::string::npos) << out;
        EXPECT_NE(out.find("All is well"), std::string::npos) << out;
    } else {
        EXPECT_NE(out.find(" found"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, CheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tmx
