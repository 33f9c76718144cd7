#include "data/server_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "data/config_reader.h"
#include "support/temp_dir.h"

namespace tmx::data {
namespace {

using testing::TempDir;

class ServerConfigTest : public ::testing::Test {
protected:
    int read(const std::string& text, const std::string& name = "server_2.cfg") {
        dir.write(name, text);
        return readServerConfig(dir.file(name), name, 2, cfg, console);
    }
    std::vector<std::pair<int, int>> windows() const {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < cfg.pitwindow.count; ++i)
            out.emplace_back(cfg.pitwindow.from[static_cast<std::size_t>(i)],
                             cfg.pitwindow.to[static_cast<std::size_t>(i)]);
        return out;
    }

    TempDir dir;
    CaptureConsole console;
    ServerConfig cfg;
};

TEST_F(ServerConfigTest, DefaultsIncludingThoseOutsideTheFileRange) {
    EXPECT_EQ(cfg.starttype, 2);
    EXPECT_EQ(cfg.rs_speed, 100);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 60);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 110);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 90);
    EXPECT_EQ(cfg.qallowedtries, 254);
    EXPECT_EQ(cfg.autoopenpit, -2);
    EXPECT_EQ(cfg.pitmissedpen, "/p_sg ");
    EXPECT_EQ(cfg.pitwindow.count, 0);
    EXPECT_EQ(cfg.tmxmsg.left, 50);
    EXPECT_EQ(cfg.tmxmsg.top, 1);
    EXPECT_EQ(cfg.tmxmsg.height, 9);
    EXPECT_EQ(cfg.orgamsg.top, 43);
    EXPECT_EQ(cfg.crewmsg.top, 170);
    EXPECT_EQ(cfg.infomsg.height, 7);
    EXPECT_EQ(cfg.timeSectorRow().top, 70);
    EXPECT_EQ(cfg.pitbmsg.top, 90);
    EXPECT_EQ(cfg.pitbrnd, 3);
    EXPECT_EQ(cfg.qsessiontime, 60);
    EXPECT_EQ(cfg.eventshowtime, 5);
    EXPECT_EQ(serverConfigName(7), "server_7.cfg");
}

TEST_F(ServerConfigTest, ReadsEveryKeyAndPrintsItsTexts) {
    ASSERT_EQ(read("starttype 1\r\nrs_speed 120\r\nmaxerror 6\r\nmaxdistance 9\r\nstarttime 30\r\n"
                   "slowtime 4\r\ncloseuptime 6\r\nacceltime 8\r\nletpasstime 5\r\novertaketime 6\r\n"
                   "killtime 7\r\nsleepwarning 16\r\nsleepkill 17\r\nwrongnodes 11\r\nwrongnodeskill 21\r\n"
                   "wrongtime 6\r\nwrongtimekill 12\r\nstartpitclose 0\r\nautoopenpit 12\r\n"
                   "autopitclose 2\r\nautotrackclose 1\r\ntmxmsg 10 20 5\r\norgamsg 11,21,6\r\n"
                   "crewmsg 12;22;7\r\ninfomsg\t13 23 8\r\ntimemsg 14 24\r\npitbmsg 15 25\r\npitbrnd 5\r\n"
                   "pitwindow 10 15\r\npitmissedpen /wanted\r\npenaltysystem 0\r\nskillsystem 0\r\n"
                   "qtype 1\r\nqsessiontime 20\r\nqmaxlaps 12\r\nqallowedtries 3\r\nqstartwindow 10\r\n"
                   "qautospectate 1\r\neventshowtime 9\r\nend\r\n"),
              0);
    EXPECT_EQ(console.output(), "\nTMX: Reading serverconfig for server 2 from disk \n     Filename: server_2.cfg"
                                "\n     Reading serverconfig completed.\n");
    EXPECT_EQ(cfg.starttype, 1);
    EXPECT_EQ(cfg.rs_speed, 120);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 72);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 132);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 108);
    EXPECT_EQ(cfg.maxerror, 6);
    EXPECT_EQ(cfg.maxdistance, 9);
    EXPECT_EQ(cfg.starttime, 30);
    EXPECT_EQ(cfg.slowtime, 4);
    EXPECT_EQ(cfg.closeuptime, 6);
    EXPECT_EQ(cfg.acceltime, 8);
    EXPECT_EQ(cfg.letpasstime, 5);
    EXPECT_EQ(cfg.overtaketime, 6);
    EXPECT_EQ(cfg.killtime, 7);
    EXPECT_EQ(cfg.sleepwarning, 16);
    EXPECT_EQ(cfg.sleepkill, 17);
    EXPECT_EQ(cfg.wrongnodes, 11);
    EXPECT_EQ(cfg.wrongnodeskill, 21);
    EXPECT_EQ(cfg.wrongtime, 6);
    EXPECT_EQ(cfg.wrongtimekill, 12);
    EXPECT_EQ(cfg.startpitclose, 0);
    EXPECT_EQ(cfg.autoopenpit, 12);
    EXPECT_EQ(cfg.autopitclose, 2);
    EXPECT_EQ(cfg.autotrackclose, 1);
    EXPECT_EQ((std::array<int, 3>{cfg.tmxmsg.left, cfg.tmxmsg.top, cfg.tmxmsg.height}), (std::array<int, 3>{10, 20, 5}));
    EXPECT_EQ((std::array<int, 3>{cfg.orgamsg.left, cfg.orgamsg.top, cfg.orgamsg.height}), (std::array<int, 3>{11, 21, 6}));
    EXPECT_EQ((std::array<int, 3>{cfg.crewmsg.left, cfg.crewmsg.top, cfg.crewmsg.height}), (std::array<int, 3>{12, 22, 7}));
    EXPECT_EQ((std::array<int, 3>{cfg.infomsg.left, cfg.infomsg.top, cfg.infomsg.height}), (std::array<int, 3>{13, 23, 8}));
    EXPECT_EQ(cfg.timeLapRow().left, 14);
    EXPECT_EQ(cfg.timeLapRow().top, 24);
    EXPECT_EQ(cfg.timeSectorRow().left, 14);
    EXPECT_EQ(cfg.timeSectorRow().top, 34);
    EXPECT_EQ(cfg.pitbmsg.left, 15);
    EXPECT_EQ(cfg.pitbmsg.top, 25);
    EXPECT_EQ(cfg.pitbrnd, 5);
    EXPECT_EQ(windows(), (std::vector<std::pair<int, int>>{{10, 15}}));
    EXPECT_EQ(cfg.pitmissedpen, "/wanted ");
    EXPECT_EQ(cfg.penaltysystem, 0);
    EXPECT_EQ(cfg.skillsystem, 0);
    EXPECT_EQ(cfg.qtype, 1);
    EXPECT_EQ(cfg.qsessiontime, 20);
    EXPECT_EQ(cfg.qmaxlaps, 12);
    EXPECT_EQ(cfg.qallowedtries, 3);
    EXPECT_EQ(cfg.qstartwindow, 10);
    EXPECT_EQ(cfg.qautospectate, 1);
    EXPECT_EQ(cfg.eventshowtime, 9);
}

TEST_F(ServerConfigTest, ValuesAreClampedAtBothEnds) {
    ASSERT_EQ(read("starttype -4\r\nmaxerror 0\r\nmaxdistance 71\r\nsleepkill 301\r\nautoopenpit -150\r\n"
                   "autopitclose 1000\r\ntmxmsg -5 250 20\r\norgamsg -1 -3 -2\r\ntimemsg 300 181\r\n"
                   "pitbmsg -2 200\r\npitbrnd -7\r\nqallowedtries 250\r\nqmaxlaps -1\r\nqsessiontime 61\r\n"
                   "eventshowtime 601\r\nstarttime x\r\n"),
              0);
    EXPECT_EQ(cfg.starttype, 0);
    EXPECT_EQ(cfg.maxerror, 1);
    EXPECT_EQ(cfg.maxdistance, 70);
    EXPECT_EQ(cfg.sleepkill, 300);
    EXPECT_EQ(cfg.autoopenpit, -99);
    EXPECT_EQ(cfg.autopitclose, 99);
    EXPECT_EQ(cfg.tmxmsg.left, -1);
    EXPECT_EQ(cfg.tmxmsg.top, 199);
    EXPECT_EQ(cfg.tmxmsg.height, 15);
    EXPECT_TRUE(cfg.tmxmsg.isOff());
    EXPECT_EQ(cfg.orgamsg.top, 0);
    EXPECT_EQ(cfg.orgamsg.height, 0);
    EXPECT_EQ(cfg.timemsg.left, 199);
    EXPECT_EQ(cfg.timemsg.top, 180);
    EXPECT_EQ(cfg.pitbmsg.left, -1);
    EXPECT_EQ(cfg.pitbmsg.top, 199);
    EXPECT_EQ(cfg.pitbrnd, 0);
    EXPECT_EQ(cfg.qallowedtries, 99);
    EXPECT_EQ(cfg.qmaxlaps, 0);
    EXPECT_EQ(cfg.qsessiontime, 60);
    EXPECT_EQ(cfg.eventshowtime, 600);
    EXPECT_EQ(cfg.starttime, 1) << "no digits reads as 0, clamped to 1";
    ASSERT_EQ(read("pitbrnd 2000000000\r\n"), 0);
    EXPECT_EQ(cfg.pitbrnd, 2000000000) << "no maximum";
}

TEST_F(ServerConfigTest, DerivedSpeeds) {
    ASSERT_EQ(read("rs_speed 30\r\n"), 0);
    EXPECT_EQ(cfg.rs_speed, 50);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 45);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 55);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 45);
    ASSERT_EQ(read("rs_speed 200\r\n"), 0);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 120);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 220);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 180);
    ASSERT_EQ(read("rs_speed 999\r\n"), 0);
    EXPECT_EQ(cfg.rs_speed, 200);
    // the speed command sets the value it has checked itself
    cfg.setRollingSpeed(30);
    EXPECT_EQ(cfg.rs_speed, 30);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 45);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 33);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 45);
    cfg.setRollingSpeed(159);
    EXPECT_EQ(cfg.rs_derived.minBeforePickup, 90);
    EXPECT_EQ(cfg.rs_derived.maxBeforePickup, 174);
    EXPECT_EQ(cfg.rs_derived.minAfterPickup, 144);
}

TEST_F(ServerConfigTest, PitWindowRules) {
    ASSERT_EQ(read("pitwindow 1 5\r\npitwindow 6 4\r\npitwindow 5 8\r\npitwindow 4 9\r\npitwindow 9 8\r\n"
                   "pitwindow 10 10\r\n"),
              0);
    EXPECT_EQ(windows(), (std::vector<std::pair<int, int>>{{3, 5}, {5, 8}, {10, 10}}));
    const std::string mismatch = "\nmismatched pitwindow found - ignored!";
    EXPECT_EQ(console.output(), "\nTMX: Reading serverconfig for server 2 from disk \n     Filename: server_2.cfg" +
                                    mismatch + mismatch + mismatch + "\n     Reading serverconfig completed.\n");

    // a first window that ends before lap 3 is refused after raising its start
    ASSERT_EQ(read("pitwindow 1 2\r\npitwindow 0 4\r\n"), 0);
    EXPECT_EQ(windows(), (std::vector<std::pair<int, int>>{{3, 4}})) << "the list is emptied on every read";

    // ten fit; an eleventh accepted window is refused like a mismatch
    std::string ten;
    for (int i = 0; i < 11; ++i) ten += "pitwindow " + std::to_string(3 + 2 * i) + " " + std::to_string(4 + 2 * i) + "\r\n";
    console.clear();
    ASSERT_EQ(read(ten), 0);
    ASSERT_EQ(cfg.pitwindow.count, 10);
    EXPECT_EQ(windows().back(), (std::pair<int, int>{21, 22}));
    EXPECT_EQ(console.output().find(mismatch), console.output().rfind(mismatch));
    EXPECT_NE(console.output().find(mismatch), std::string::npos);
}

TEST_F(ServerConfigTest, UnknownKeysAreReportedWithTheirLineNumber) {
    ASSERT_EQ(read("// comment\r\n\r\nStarttype 1\r\n  starttype 0\r\nstarttype 1 // one\r\nbogus\r\nend\r\n"
                   "nonsense\r\n"),
              0);
    EXPECT_EQ(cfg.starttype, 1) << "an indented key is silent and sets nothing";
    EXPECT_EQ(console.output(), "\nTMX: Reading serverconfig for server 2 from disk \n     Filename: server_2.cfg"
                                "\nTMX: found unknown command in configfile (line 3)\n     Command: Starttype"
                                "\nTMX: found unknown command in configfile (line 6)\n     Command: bogus"
                                "\n     Reading serverconfig completed.\n");
}

TEST_F(ServerConfigTest, ReloadKeepsWhatTheFileOmits) {
    ASSERT_EQ(read("starttype 0\r\nmaxerror 9\r\npitwindow 4 6\r\npitmissedpen /p_dt\r\n"), 0);
    ASSERT_EQ(read("maxerror 3\r\n", "other.cfg"), 0);
    EXPECT_EQ(cfg.starttype, 0);
    EXPECT_EQ(cfg.maxerror, 3);
    EXPECT_EQ(cfg.pitmissedpen, "/p_dt ");
    EXPECT_EQ(cfg.pitwindow.count, 0);
    EXPECT_NE(console.output().find("\n     Filename: other.cfg"), std::string::npos);

    // a file that cannot be opened changes nothing, the pit windows neither
    ASSERT_EQ(read("pitwindow 4 6\r\n"), 0);
    console.clear();
    EXPECT_EQ(readServerConfig(dir.file("missing.cfg"), "missing.cfg", 5, cfg, console), -1);
    EXPECT_EQ(cfg.pitwindow.count, 1);
    EXPECT_EQ(cfg.maxerror, 3);
    EXPECT_EQ(console.output(), "\nTMX: Reading serverconfig for server 5 from disk \n     Filename: missing.cfg"
                                "\n     Couldn't open serverconfig \"missing.cfg\"\n");
}

TEST_F(ServerConfigTest, LineEndsCommentsAndOverlongLines) {
    // LF alone does not end a line: this is one line with the key "starttype"
    ASSERT_EQ(read("starttype 1\nmaxerror 9\n"), 0);
    EXPECT_EQ(cfg.starttype, 1);
    EXPECT_EQ(cfg.maxerror, 4);
    // CR alone ends lines; the last line needs neither a line end nor "end"
    ASSERT_EQ(read("starttype 0\rmaxerror 8"), 0);
    EXPECT_EQ(cfg.starttype, 0);
    EXPECT_EQ(cfg.maxerror, 8);
    // a NUL byte ends a line too
    ASSERT_EQ(read(std::string("maxerror 7\0slowtime 9\r\n", 23)), 0);
    EXPECT_EQ(cfg.maxerror, 7);
    EXPECT_EQ(cfg.slowtime, 9);

    // a line beyond 255 characters is cut; the next line is read normally
    const std::string longPen(400, 'p');
    ASSERT_EQ(read("pitmissedpen " + longPen + "\r\nkilltime 9\r\n"), 0);
    EXPECT_EQ(cfg.pitmissedpen, std::string(50, 'p') + " ");
    EXPECT_EQ(cfg.killtime, 9);
    // a key that fills a whole line reaches the token limit: cut, still reported
    console.clear();
    ASSERT_EQ(read(std::string(300, 'k') + "\r\n"), 0);
    EXPECT_NE(console.output().find("\n     Command: " + std::string(250, 'k') + "\n"), std::string::npos);
}

TEST_F(ServerConfigTest, QuotedPenaltyCommandKeepsItsBlanks) {
    ASSERT_EQ(read("pitmissedpen \"/p_dt, now\" // drive-through\r\n"), 0);
    EXPECT_EQ(cfg.pitmissedpen, "/p_dt, now ");
    ASSERT_EQ(read("pitmissedpen\r\n"), 0);
    EXPECT_EQ(cfg.pitmissedpen, " ") << "a key without value stores an empty command";
}

TEST(PlainConfigNameTest, OnlyAFileNameOfTheOwnFolderPasses) {
    struct Case {
        std::string name;
        bool plain;
    };
    const Case cases[] = {
        {"server_0.cfg", true}, {"my race.cfg", true}, {".hidden.cfg", true},
        {"console.cfg", true},  {"nullable", true},    {"com10.cfg", true},
        {"lpt0", true},         {"a.b.c", true},
        // folder parts, drives and streams
        {"", false}, {".", false}, {"..", false}, {"a..cfg", false}, {"/dev/zero", false},
        {"sub/x.cfg", false}, {"..\\x.cfg", false}, {"sub\\x.cfg", false}, {"c:x.cfg", false},
        {"x.cfg:hidden", false},
        // control characters
        {"tab\tname", false}, {"bell\x07", false}, {"del\x7f", false}, {std::string("a\0b", 3), false},
        // Windows devices, whatever the case and extension
        {"NUL", false}, {"nul.cfg", false}, {"Con", false}, {"aux.tar.gz", false}, {"prn", false},
        {"com1", false}, {"LPT9.cfg", false}, {"nul .cfg", false}, {"conout$", false},
    };
    for (const Case& t : cases) EXPECT_EQ(isPlainConfigName(t.name), t.plain) << '"' << t.name << '"';
}

#ifndef _WIN32
void makeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path; }
#endif

TEST_F(ServerConfigTest, ReadsOnlyARegularFileUpToTheCap) {
    // LF is dropped wherever it stands: the padding adds bytes, not lines
    const std::string settings = "maxerror 9\r\npitwindow 4 6\r\n";
    ASSERT_EQ(read(settings + std::string(kConfigFileMax - settings.size(), '\n')), kConfigRead)
        << "a file of exactly the cap is read";
    ASSERT_EQ(cfg.maxerror, 9);

    std::vector<std::string> refused{"folder.cfg", "big.cfg"};
    std::filesystem::create_directory(dir.file("folder.cfg"));
    dir.write("big.cfg", "maxerror 3\r\n" + std::string(kConfigFileMax, '\n'));
#ifndef _WIN32
    makeFifo(dir.file("pipe.cfg"));  // no writer: opening it would wait for ever
    refused.push_back("pipe.cfg");
#endif
    for (const std::string& name : refused) {
        console.clear();
        EXPECT_EQ(readServerConfig(dir.file(name), name, 2, cfg, console), kConfigRefused) << name;
        EXPECT_EQ(cfg.maxerror, 9) << name;
        EXPECT_EQ(cfg.pitwindow.count, 1) << name << ": the pit windows are kept too";
        EXPECT_NE(console.output().find(" - ignored\n"), std::string::npos) << name;
        EXPECT_EQ(console.output().find("completed"), std::string::npos) << name;
    }
}

TEST(ConfigLineReaderTest, StopsAtTheByteCap) {
    TempDir dir;
    dir.write("lines.cfg", "a\rb\rc\rd\r");  // 8 bytes
    struct Case {
        std::uint64_t cap;
        std::vector<std::string> lines;
        bool exceeded;
    };
    const Case cases[] = {
        {100, {"a", "b", "c", "d"}, false},
        {8, {"a", "b", "c", "d"}, false},
        {7, {"a", "b", "c", "d"}, true},  // the last line ends with the cap
        {4, {"a", "b"}, true},
        {0, {}, true},
    };
    for (const Case& t : cases) {
        platform::File file;
        ASSERT_TRUE(file.openRead(dir.file("lines.cfg")));
        ConfigLineReader reader(file, t.cap);
        std::vector<std::string> lines;
        ConfigLine line;
        while (lines.size() < 10 && reader.next(line)) lines.push_back(line.str());
        EXPECT_EQ(lines, t.lines) << "cap " << t.cap;
        EXPECT_EQ(reader.exceeded(), t.exceeded) << "cap " << t.cap;
    }
}

#ifndef _WIN32
TEST(ConfigLineReaderTest, AnEndlessDeviceEndsAtTheCap) {
    platform::File zero;
    if (!zero.openRead("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    ConfigLineReader reader(zero);
    ConfigLine line;
    std::uint64_t lines = 0;  // every NUL ends an empty line
    while (lines <= kConfigFileMax && reader.next(line)) ++lines;
    EXPECT_EQ(lines, kConfigFileMax);
    EXPECT_TRUE(reader.exceeded());
}
#endif

}  // namespace
}  // namespace tmx::data
