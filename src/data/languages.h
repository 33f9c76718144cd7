// Language files: every on-screen text comes from a language, the master
// language (__MASTER.lng) first, then every other *.lng of the languages folder.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/fixed_string.h"

namespace tmx::data {

constexpr int kMaxLanguages = 128;
constexpr int kLanguageLines = 376;
constexpr std::size_t kLanguageLineBytes = 244;  // 243 characters + terminator
constexpr std::size_t kLanguageLineKeep = 241;   // characters a file line keeps

using LanguageText = FixedString<kLanguageLineBytes>;

// The nine blocks of a language: key, first line and number of lines.
struct LanguageBlock {
    const char* key;
    int first;
    int lines;
    const char* overfullMessage;
};
enum LanguageBlockId { LB_CREATOR, LB_TMXM, LB_TEAM, LB_ORGA, LB_TIME, LB_PACE, LB_SAFE, LB_TRAC, LB_EVEN };
extern const std::array<LanguageBlock, 9> kLanguageBlocks;

struct cl_Language {
    std::array<LanguageText, kLanguageLines> lines;
    // Line 0 of the creator block: the three-letter language code.
    const char* code() const { return lines[0].c_str(); }
    const LanguageText& text(LanguageBlockId block, int line) const;
};

// What reading one language file met, for a caller that explains it. Lines
// are numbered as a text editor shows them.
class LanguageReadObserver {
public:
    virtual ~LanguageReadObserver() = default;
    // Language line index (0..kLanguageLines-1) was taken from file line.
    virtual void lineSet(int /*index*/, int /*line*/) {}
    // A line with one '"' only: its text runs to the end of the line.
    virtual void missingQuote(int /*line*/) {}
    // A line beyond the block's size: it overwrote the block's last line.
    virtual void overfull(std::size_t /*block*/, int /*line*/) {}
    // A NUL byte on line: the reading stopped there.
    virtual void stoppedAtNul(int /*line*/) {}
};

class LanguageTable {
public:
    explicit LanguageTable(Console& console) : console_(console) {}

    // Loads __MASTER.lng, then every other *.lng of directory (which ends with
    // the path separator). Returns the number of languages, or -1 when the
    // master file cannot be read or no language file is found.
    int loadAll(const std::string& directory);
    // Loads one file (name without directory). 0 or -1.
    int loadFile(const std::string& directory, const std::string& name,
                 LanguageReadObserver* observer = nullptr);

    int count() const { return static_cast<int>(languages_.size()); }
    const cl_Language* language(int index) const;
    // Index of the first language whose code equals code exactly, or -1.
    int find(const char* code) const;
    void clear() { languages_.clear(); }

private:
    Console& console_;
    std::vector<std::unique_ptr<cl_Language>> languages_;
};

}  // namespace tmx::data
