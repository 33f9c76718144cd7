// File access, directory listing and wildcard matching, in a scratch folder
// under the build directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/files.h"

namespace tmx::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(TMX_BINARY_DIR) / "platform-files-test" / info->name();
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override {
        // Tests may run as parallel processes: remove only this test's folder,
        // and the shared parent once it is empty.
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        fs::remove(dir_.parent_path(), ignored);
    }

    std::string path(const std::string& name) const { return joinPath(dir_.string(), name); }

    void writeText(const std::string& name, const std::string& text) {
        File file;
        ASSERT_TRUE(file.openWrite(path(name)));
        ASSERT_EQ(file.write(text.data(), static_cast<int>(text.size())),
                  static_cast<int>(text.size()));
    }

    std::string readText(const std::string& name) {
        File file;
        if (!file.openRead(path(name))) {
            return "<missing>";
        }
        std::string text;
        std::array<char, 7> chunk{};  // small on purpose: several reads per file
        for (;;) {
            const int got = file.read(chunk.data(), static_cast<int>(chunk.size()));
            EXPECT_GE(got, 0);
            if (got <= 0) {
                break;
            }
            text.append(chunk.data(), static_cast<std::size_t>(got));
        }
        return text;
    }

    fs::path dir_;
};

TEST_F(FilesTest, WriteThenReadBackBinary) {
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data += static_cast<char>(i % 256);  // includes NUL, CR and LF bytes
    }
    {
        File file;
        ASSERT_TRUE(file.openWrite(path("db.rdb")));
        EXPECT_TRUE(file.isOpen());
        ASSERT_EQ(file.write(data.data(), static_cast<int>(data.size())), 1000);
        EXPECT_TRUE(file.flushToDisk());
    }
    EXPECT_EQ(fs::file_size(dir_ / "db.rdb"), 1000U);
    EXPECT_EQ(readText("db.rdb"), data);
    EXPECT_TRUE(fileExists(path("db.rdb")));
}

TEST_F(FilesTest, OpenWriteTruncates) {
    writeText("a.cfg", "a long first version of the file");
    writeText("a.cfg", "short");
    EXPECT_EQ(readText("a.cfg"), "short");
}

TEST_F(FilesTest, ReadAtEndGivesZero) {
    writeText("e.txt", "ab");
    File file;
    ASSERT_TRUE(file.openRead(path("e.txt")));
    std::array<char, 8> buffer{};
    EXPECT_EQ(file.read(buffer.data(), 8), 2);
    EXPECT_EQ(file.read(buffer.data(), 8), 0);
}

TEST_F(FilesTest, MissingFileAndClosedFileFail) {
    File file;
    EXPECT_FALSE(file.openRead(path("missing.cfg")));
    EXPECT_FALSE(file.isOpen());
    std::array<char, 4> buffer{};
    EXPECT_EQ(file.read(buffer.data(), 4), -1);
    EXPECT_EQ(file.write(buffer.data(), 4), -1);
    EXPECT_FALSE(file.flushToDisk());
    EXPECT_FALSE(fileExists(path("missing.cfg")));
    EXPECT_FALSE(fileExists(dir_.string())) << "a directory is not a file";
    EXPECT_FALSE(file.openWrite(path("no-such-dir/x.cfg")));
}

TEST_F(FilesTest, WriteOnReadOnlyFileFails) {
    writeText("r.txt", "data");
    File file;
    ASSERT_TRUE(file.openRead(path("r.txt")));
    EXPECT_EQ(file.write("x", 1), -1);
}

TEST_F(FilesTest, MoveKeepsTheOpenFile) {
    writeText("m.txt", "moved");
    File first;
    ASSERT_TRUE(first.openRead(path("m.txt")));
    File second(std::move(first));
    EXPECT_FALSE(first.isOpen());
    ASSERT_TRUE(second.isOpen());
    File third;
    third = std::move(second);
    EXPECT_FALSE(second.isOpen());
    std::array<char, 8> buffer{};
    ASSERT_EQ(third.read(buffer.data(), 8), 5);
    EXPECT_EQ(std::string(buffer.data(), 5), "moved");
    third.close();
    EXPECT_FALSE(third.isOpen());
}

TEST_F(FilesTest, ReplaceFileSwapsContentAndRemovesSource) {
    writeText("tmx_db.rdb", "old database");
    writeText("tmx_db.tmp", "new database");
    ASSERT_TRUE(replaceFile(path("tmx_db.tmp"), path("tmx_db.rdb")));
    EXPECT_EQ(readText("tmx_db.rdb"), "new database");
    EXPECT_FALSE(fileExists(path("tmx_db.tmp")));
    EXPECT_FALSE(replaceFile(path("tmx_db.tmp"), path("tmx_db.rdb")));
    EXPECT_EQ(readText("tmx_db.rdb"), "new database");
}

TEST_F(FilesTest, RemoveFile) {
    writeText("gone.txt", "x");
    EXPECT_TRUE(removeFile(path("gone.txt")));
    EXPECT_FALSE(fileExists(path("gone.txt")));
    EXPECT_FALSE(removeFile(path("gone.txt")));
}

TEST_F(FilesTest, ListDirectoryReturnsMatchingPlainFilesOnly) {
    writeText("__MASTER.lng", "m");
    writeText("English.lng", "e");
    writeText("x.lngx", "no");
    writeText("readme.txt", "no");
    writeText(".lng", "hidden but matching");
    fs::create_directory(dir_ / "folder.lng");

    std::vector<std::string> names{"stale entry"};
    ASSERT_TRUE(listDirectory(dir_.string(), "*.lng", names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".lng", "English.lng", "__MASTER.lng"}));

    ASSERT_TRUE(listDirectory(dir_.string(), "*.none", names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(listDirectory(path("missing"), "*", names));
}

TEST_F(FilesTest, OpenReadRegularOpensNothingButAFile) {
    writeText("plain.cfg", "12345");
    fs::create_directory(dir_ / "folder");
    struct Case {
        std::string path;
        FileKind kind;
        std::uint64_t size;
    };
    std::vector<Case> cases{{path("plain.cfg"), FileKind::Regular, 5},
                            {path("missing.cfg"), FileKind::Missing, 0},
                            {path("folder"), FileKind::Other, 0}};
#ifndef _WIN32
    // A pipe without writer: opening it for reading would wait for ever.
    ASSERT_EQ(::mkfifo(path("pipe.cfg").c_str(), 0600), 0);
    cases.push_back({path("pipe.cfg"), FileKind::Other, 0});
    if (fs::exists("/dev/zero")) cases.push_back({"/dev/zero", FileKind::Other, 0});
#endif
    for (const Case& t : cases) {
        EXPECT_EQ(fileStatus(t.path).kind, t.kind) << t.path;
        File file;
        FileStatus status;
        const bool opened = file.openReadRegular(t.path, status);
        EXPECT_EQ(opened, t.kind == FileKind::Regular) << t.path;
        EXPECT_EQ(file.isOpen(), opened) << t.path;
        EXPECT_EQ(status.kind, t.kind) << t.path;
        EXPECT_EQ(status.size, t.size) << t.path;
        if (opened) {
            std::array<char, 8> buffer{};
            ASSERT_EQ(file.read(buffer.data(), 8), 5);
            EXPECT_EQ(std::string(buffer.data(), 5), "12345");
        }
    }
}

TEST(PathTest, JoinAndLanguageDirectory) {
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(languageDirectory(), "languages" + sep);
    EXPECT_EQ(joinPath("languages", "English.lng"), "languages" + sep + "English.lng");
    EXPECT_EQ(joinPath(languageDirectory(), "English.lng"), "languages" + sep + "English.lng");
    EXPECT_EQ(joinPath("", "tmx_db.rdb"), "tmx_db.rdb");
}

TEST(WildcardTest, Matches) {
    EXPECT_TRUE(wildcardMatch("*.lng", "English.lng"));
    EXPECT_TRUE(wildcardMatch("*.lng", ".lng"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("*", "anything"));
    EXPECT_TRUE(wildcardMatch("", ""));
    EXPECT_TRUE(wildcardMatch("server_?.cfg", "server_3.cfg"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXXbYYbZc"));
    EXPECT_TRUE(wildcardMatch("*a*a*a", "aaaa"));
    EXPECT_TRUE(wildcardMatch("**x", "x"));
    EXPECT_TRUE(wildcardMatch("?*", "z"));
}

TEST(WildcardTest, Rejects) {
    EXPECT_FALSE(wildcardMatch("*.lng", "x.lngx"));
    EXPECT_FALSE(wildcardMatch("*.lng", "x.ln"));
    EXPECT_FALSE(wildcardMatch("", "a"));
    EXPECT_FALSE(wildcardMatch("?", ""));
    EXPECT_FALSE(wildcardMatch("server_?.cfg", "server_10.cfg"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXXbYYc_"));
    EXPECT_FALSE(wildcardMatch("*a*a*a", "aab"));
    EXPECT_FALSE(wildcardMatch("?*", ""));
}

#ifndef _WIN32
TEST(WildcardTest, CaseSensitiveOnPosix) {
    EXPECT_FALSE(wildcardMatch("*.lng", "ENGLISH.LNG"));
    EXPECT_TRUE(wildcardMatch("*.LNG", "ENGLISH.LNG"));
}
#endif

}  // namespace
}  // namespace tmx::platform
