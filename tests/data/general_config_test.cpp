#include "data/general_config.h"

#include <gtest/gtest.h>

#include "data/config_reader.h"
#include "support/temp_dir.h"

namespace tmx::data {
namespace {

using testing::TempDir;

struct Split {
    int count;
    std::vector<std::string> tokens;
};

Split split(const char* line, std::size_t maxLength = 255) {
    ConfigTokens<4> t;
    Split s{splitConfigLine(line, t, maxLength), {}};
    for (int i = 0; i < s.count; ++i) s.tokens.push_back(t.token[static_cast<std::size_t>(i)].str());
    return s;
}

TEST(ConfigSplitter, SeparatorsQuotesAndRuns) {
    EXPECT_EQ(split("ip 127.0.0.1").tokens, (std::vector<std::string>{"ip", "127.0.0.1"}));
    EXPECT_EQ(split("a,b;c\td").tokens, (std::vector<std::string>{"a", "b", "c", "d"}));
    // a run of separators ends one token only
    EXPECT_EQ(split("a  ,; b").tokens, (std::vector<std::string>{"a", "b"}));
    // but a line that begins with a separator gets an empty first token
    EXPECT_EQ(split("  ip x").tokens, (std::vector<std::string>{"", "ip", "x"}));
    // quotes are never copied and protect separators
    EXPECT_EQ(split("nstext \"^7Sorry, too; low\"").tokens,
              (std::vector<std::string>{"nstext", "^7Sorry, too; low"}));
    // trailing separators leave an empty last token that is counted
    EXPECT_EQ(split("ip ").tokens, (std::vector<std::string>{"ip", ""}));
    EXPECT_EQ(split("passw \"\"").tokens, (std::vector<std::string>{"passw", ""}));
    EXPECT_EQ(split("").count, 1);
}

TEST(ConfigSplitter, StopsAfterTheFourthTokenAndAtTheLengthLimit) {
    EXPECT_EQ(split("a b c d e f").tokens, (std::vector<std::string>{"a", "b", "c", "d"}));
    // a token reaching the limit is cut, not counted, and splitting stops
    EXPECT_EQ(split("key abcdefghij more", 5).tokens, (std::vector<std::string>{"key"}));
    EXPECT_EQ(splitConfigLine(nullptr, nullptr, 4, 255), -1);
}

TEST(ConfigSplitter, DecimalValue) {
    EXPECT_EQ(decimalValue("42"), 42);
    EXPECT_EQ(decimalValue("  -7x"), -7);
    EXPECT_EQ(decimalValue("+3"), 3);
    EXPECT_EQ(decimalValue("x1"), 0);
    EXPECT_EQ(decimalValue(""), 0);
    EXPECT_EQ(decimalValue("99999999999999999999"), 2147483647);
    EXPECT_EQ(decimalValue("-99999999999999999999"), -2147483647 - 1);
}

class GeneralConfigTest : public ::testing::Test {
protected:
    int read(const std::string& text) {
        dir.write("tmx_server.cfg", text);
        return readGeneralConfig(dir.file("tmx_server.cfg"), servers, used, console);
    }
    TempDir dir;
    CaptureConsole console;
    ServerTable servers;
    int used = -1;
};

TEST_F(GeneralConfigTest, TwoServersWithDefaultsKept) {
    ASSERT_EQ(read("0:\r\nip 127.0.0.1\r\nport 29999\r\n1:\r\nport 30000\r\nmode 1\r\nskill 3\r\n"
                   "nstext \"^7Sorry, your skill is to low\"\r\nend\r\nport 1\r\n"),
              0);
    EXPECT_EQ(used, 2);
    EXPECT_EQ(servers[1].ip, "127.0.0.1");
    EXPECT_EQ(servers[1].port, "30000");
    EXPECT_EQ(servers[1].mode, 1);
    EXPECT_EQ(servers[1].skill, "3");
    EXPECT_EQ(servers[0].port, "29999") << "lines after end are not read";
    EXPECT_EQ(console.output(),
              "\nMCP: Reading general serverconfig from disk \n     Serverconfigs done. Got 2 servers to start\n");
}

TEST_F(GeneralConfigTest, SelectorRules) {
    // no selector: slot 0; "8:" falls back to 0 with a message; "12:" is no selector
    ASSERT_EQ(read("passw a\r\n5:\r\n8:\r\nport 1234\r\n12:\r\nip 10.0.0.1\r\n"), 0);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(servers[0].passw, "a");
    EXPECT_EQ(servers[0].port, "1234");
    EXPECT_EQ(servers[0].ip, "10.0.0.1");
    EXPECT_EQ(servers[5].used, 0) << "a selected slot without keys is not used";
    EXPECT_NE(console.output().find("\nfound server 8. Tmx is supporting 0-7 servers. Server set to 0:"),
              std::string::npos);
}

TEST_F(GeneralConfigTest, CommentsIndentationCutsAndEmptyValues) {
    ASSERT_EQ(read("2:\r\n ip 10.0.0.9\r\nport 30001 // the InSim port\r\n"
                   "ip 123456789012345678901234\r\nnstext\r\nmode 17\r\n"),
              0);
    EXPECT_EQ(servers[2].ip, "1234567890123456789") << "cut at 19 characters";
    EXPECT_EQ(servers[2].port, "30001");
    EXPECT_EQ(servers[2].nstext, "") << "a key without value stores an empty text";
    EXPECT_EQ(servers[2].mode, 1) << "only the first character of mode counts";
}

TEST_F(GeneralConfigTest, LineEndsAndEndOfFile) {
    // LF alone does not end a line: the whole file is one line
    ASSERT_EQ(read("ip 10.0.0.1\nport 1\n"), 0);
    EXPECT_EQ(servers[0].ip, "10.0.0.1port");
    // CR alone ends lines; the last line needs no line end
    ServerTable fresh;
    servers = fresh;
    ASSERT_EQ(read("ip 10.0.0.2\rport 2"), 0);
    EXPECT_EQ(servers[0].ip, "10.0.0.2");
    EXPECT_EQ(servers[0].port, "2");
}

TEST_F(GeneralConfigTest, OverlongLineIsCutNotOverrun) {
    std::string longValue(1000, 'x');
    ASSERT_EQ(read("nstext " + longValue + "\r\nport 7\r\n"), 0);
    EXPECT_EQ(servers[0].nstext.size(), 63u);
    EXPECT_EQ(servers[0].port, "7");
}

TEST_F(GeneralConfigTest, MissingFile) {
    servers[4].used = 1;
    EXPECT_EQ(readGeneralConfig(dir.file("nope.cfg"), servers, used, console), -1);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(servers[4].used, 0);
    EXPECT_NE(console.output().find("\nCouldn't open serverconfig \"tmx_server.cfg\" "), std::string::npos);
}

}  // namespace
}  // namespace tmx::data
