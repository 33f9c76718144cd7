#include "master/config_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "data/config_reader.h"
#include "data/general_config.h"
#include "data/languages.h"
#include "data/player_database.h"
#include "data/server_config.h"
#include "platform/files.h"

namespace tmx {

namespace {

using data::GeneralConfigLine;

// Collects the findings: problems make the check fail, notes are advice, the
// rest tells what was found. One finding is one line.
class Findings {
public:
    explicit Findings(Console& console) : console_(console) {}
    void info(const std::string& text) { console_.text(text + "\n"); }
    void problem(const std::string& text) {
        ++problems_;
        console_.text("problem: " + text + "\n");
    }
    void note(const std::string& text) {
        ++notes_;
        console_.text("note: " + text + "\n");
    }
    int problems() const { return problems_; }
    int notes() const { return notes_; }

private:
    Console& console_;
    int problems_ = 0;
    int notes_ = 0;
};

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string at(const std::string& file, int line) { return file + " line " + std::to_string(line) + ": "; }

std::string plural(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string joined(const std::vector<std::string>& parts, const char* separator = ", ") {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

// The editor line ended by the first LF without a CR before it (0 = none),
// and whether the file holds any CR at all.
struct LineEnds {
    int firstLoneLf = 0;
    bool anyCr = false;
};

LineEnds scanLineEnds(const std::string& path) {
    LineEnds ends;
    platform::File file;
    if (!file.openRead(path)) return ends;
    data::EditorLines lines;
    std::array<std::uint8_t, 16384> chunk{};
    for (int n; (n = file.read(chunk.data(), static_cast<int>(chunk.size()))) > 0;) {
        for (int i = 0; i < n; ++i) {
            lines.feed(chunk[static_cast<std::size_t>(i)]);
            if (chunk[static_cast<std::size_t>(i)] == '\r') ends.anyCr = true;
        }
        // The first lone LF is all that is reported; the rest of a large file
        // needs no reading.
        if (lines.firstLoneLf() != 0 && ends.anyCr) break;
    }
    ends.firstLoneLf = lines.firstLoneLf();
    return ends;
}

// Lone LF line ends: the readers end a line at CR only and drop LF, so every
// line ending in LF alone is joined with the next.
void checkLineEnds(Findings& findings, const std::string& path, const std::string& name) {
    const LineEnds ends = scanLineEnds(path);
    if (ends.firstLoneLf == 0) return;
    const std::string which = ends.anyCr ? "line " + std::to_string(ends.firstLoneLf) +
                                               " is the first that ends with LF only"
                                         : "every line ends with LF only (Unix line ends)";
    findings.problem(name + ": " + which +
                     "; lines must end with CR LF (Windows line ends): the program drops a lone LF "
                     "and joins the lines around it. Convert with: unix2dos " +
                     name + "  (or: sed -i 's/\\r*$/\\r/' " + name + ")");
}

bool isNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// ---- tmx_server.cfg -----------------------------------------------------------

struct SeenLine {
    GeneralConfigLine::Kind kind;
    int line;
    std::string key;
    std::string value;
    int slot;
    int selected;
};

std::string knownGeneralKeys() {
    std::vector<std::string> keys;
    for (const char* key : data::kGeneralConfigKeys) keys.emplace_back(key);
    return joined(keys);
}

// The first tokens of the lines after the one ending on endLine: the text the
// reader never reaches.
std::vector<SeenLine> linesAfter(const std::string& path, int endLine) {
    std::vector<SeenLine> after;
    platform::File file;
    if (!file.openRead(path)) return after;
    data::ConfigLineReader reader(file);
    data::ConfigLine line;
    data::ConfigTokens<data::kGeneralConfigTokens> tokens;
    while (reader.next(line)) {
        if (reader.editorLine() <= endLine) continue;
        data::splitConfigLine(line.c_str(), tokens, data::kGeneralConfigTokenLength);
        if (tokens.token[0].empty()) continue;
        after.push_back({GeneralConfigLine::Kind::Key, reader.editorLine(), tokens.token[0].str(), "", 0, 0});
    }
    return after;
}

// Checks one key's value against what the slot's field keeps.
void checkGeneralValue(Findings& findings, const SeenLine& seen) {
    const std::string where = at(data::kGeneralConfigFile, seen.line);
    const data::ServerEntry entry;
    const std::map<std::string, std::size_t> keeps = {
        {"ip", entry.ip.kMaxLength},         {"port", entry.port.kMaxLength},
        {"passw", entry.passw.kMaxLength},   {"skill", entry.skill.kMaxLength},
        {"nstext", entry.nstext.kMaxLength},
    };
    if (seen.key == "mode") {
        if (seen.value.size() != 1 || seen.value[0] < '0' || seen.value[0] > '9') {
            const char first[2] = {seen.value.empty() ? '\0' : seen.value[0], '\0'};
            findings.problem(where + "mode " + quoted(seen.value) + " reads as " +
                             std::to_string(data::decimalValue(first)) +
                             ": only its first character counts, as a digit (0 race control, other digits the city game)");
        }
        return;
    }
    const auto keep = keeps.find(seen.key);
    if (keep == keeps.end()) return;
    if (seen.value.size() > keep->second) {
        findings.problem(where + seen.key + " is " + std::to_string(seen.value.size()) +
                         " characters long; the program keeps the first " + std::to_string(keep->second) +
                         ": " + quoted(seen.value.substr(0, keep->second)));
    }
    if (seen.value.empty() && (seen.key == "ip" || seen.key == "port")) {
        findings.problem(where + seen.key + " has no value: the program uses an empty " + seen.key);
    }
}

// Reads tmx_server.cfg as the program does; fills servers with what it reads.
void checkGeneralConfig(Findings& findings, const std::string& path, data::ServerTable& servers) {
    const std::string name = data::kGeneralConfigFile;
    const platform::FileStatus status = platform::fileStatus(path);
    if (status.kind == platform::FileKind::Missing) {
        findings.problem(name + ": missing: the program starts no server and ends (\"All servers died\")");
        return;
    }
    if (status.kind == platform::FileKind::Other) {
        findings.problem(name + ": is not a regular file: the program starts no server and ends");
        return;
    }
    if (status.size > data::kConfigFileMax) {
        findings.problem(name + ": is " + std::to_string(status.size) + " bytes; the program reads only the first " +
                         std::to_string(data::kConfigFileMax));
    }
    checkLineEnds(findings, path, name);

    std::vector<SeenLine> seen;
    NullConsole quiet;
    int used = 0;
    if (data::readGeneralConfig(path, servers, used, quiet, [&](const GeneralConfigLine& l) {
            seen.push_back({l.kind, l.line, std::string(l.key), std::string(l.value), l.slot, l.selected});
        }) != 0) {
        findings.problem(name + ": cannot be opened: the program starts no server and ends");
        return;
    }

    int slot = 0;
    const SeenLine* openSelector = nullptr;  // the selector whose block has had no key yet
    auto closeBlock = [&]() {
        if (openSelector && servers[static_cast<std::size_t>(openSelector->slot)].used == 0) {
            findings.problem(at(name, openSelector->line) + "slot " + std::to_string(openSelector->slot) +
                             " is selected but no key follows: the slot is not started (a slot is used only "
                             "once a key sets something)");
        }
        openSelector = nullptr;
    };
    for (const SeenLine& l : seen) {
        const std::string where = at(name, l.line);
        switch (l.kind) {
            case GeneralConfigLine::Kind::Blank:
                break;
            case GeneralConfigLine::Kind::Selector: {
                closeBlock();
                openSelector = &l;
                const char digit = l.key[0];
                if (digit < '0' || digit >= static_cast<char>('0' + data::kMaxServers)) {
                    findings.problem(where + "selector " + quoted(l.key) + " names no slot 0-7 (read as " +
                                     std::to_string(l.selected) +
                                     "): the program puts the keys that follow into slot 0, over slot 0's own");
                }
                if (!l.value.empty()) {
                    findings.problem(where + "text after the selector " + quoted(l.key) +
                                     " is ignored: put each key on a line of its own");
                }
                slot = l.slot;
                break;
            }
            case GeneralConfigLine::Kind::Key:
                openSelector = nullptr;
                checkGeneralValue(findings, l);
                break;
            case GeneralConfigLine::Kind::Unknown:
                if (l.key.size() >= 2 && l.key.back() == ':' && l.key[0] >= '0' && l.key[0] <= '9') {
                    findings.problem(where + quoted(l.key) +
                                     " is no slot selector (a selector is one digit 0-7 and ':'): the program "
                                     "ignores the line, and the keys after it go to slot " +
                                     std::to_string(slot));
                } else {
                    findings.problem(where + "unknown key " + quoted(l.key) + " (known keys: " +
                                     knownGeneralKeys() + "); the program ignores the line");
                }
                break;
            case GeneralConfigLine::Kind::End: {
                closeBlock();
                std::vector<std::string> ignored;
                std::vector<std::string> lostSlots;
                for (const SeenLine& a : linesAfter(path, l.line)) {
                    ignored.push_back(a.key + " (line " + std::to_string(a.line) + ")");
                    if (data::isSlotSelector(a.key)) lostSlots.push_back(a.key);
                }
                if (!ignored.empty()) {
                    findings.problem(where + "\"end\" stops the reading, so everything after it is never read: " +
                                     joined(ignored) +
                                     (lostSlots.empty() ? std::string()
                                                        : "; the slots selected there (" + joined(lostSlots) +
                                                              ") get none of the keys that follow them") +
                                     ". \"end\" belongs once, after the last slot block");
                }
                break;
            }
        }
    }
    closeBlock();

    int usedCount = 0;
    for (int s = 0; s < data::kMaxServers; ++s) {
        const data::ServerEntry& e = servers[static_cast<std::size_t>(s)];
        if (e.used != 1) continue;
        ++usedCount;
        findings.info("slot " + std::to_string(s) + ": " + e.ip.str() + ":" + e.port.str() + ", mode " +
                      std::to_string(e.mode) + (e.mode == 0 ? " (race control)" : " (city game)"));
    }
    if (usedCount == 0) {
        findings.problem(name + ": no slot is used: the program starts no server and ends (\"All servers died\")");
    }
}

// ---- server_N.cfg -------------------------------------------------------------

std::string rangeText(const data::ValueRange& r) {
    if (r.max == std::numeric_limits<std::int32_t>::max()) return std::to_string(r.min) + " or more";
    return std::to_string(r.min) + "-" + std::to_string(r.max);
}

void checkServerConfig(Findings& findings, const std::string& path, int slot) {
    const std::string name = data::serverConfigName(slot);
    const platform::FileStatus status = platform::fileStatus(path);
    if (status.kind == platform::FileKind::Missing) {
        // Counted as a problem: a slot that is started usually has rules of its
        // own, and the program's "Couldn't open" looks like a failure. An empty
        // file says "the built-in rules" on purpose.
        findings.problem(name + ": missing: slot " + std::to_string(slot) +
                         " runs with the built-in rules (counted as a problem: a started slot normally has "
                         "rules of its own; if the built-in rules are meant, create an empty " +
                         name + ")");
        return;
    }
    if (status.kind == platform::FileKind::Other) {
        findings.problem(name + ": is not a regular file: the program ignores it and slot " + std::to_string(slot) +
                         " runs with the built-in rules");
        return;
    }
    if (status.size > data::kConfigFileMax) {
        findings.problem(name + ": is larger than " + std::to_string(data::kConfigFileMax) +
                         " bytes: the program ignores it and slot " + std::to_string(slot) +
                         " runs with the built-in rules");
        return;
    }
    checkLineEnds(findings, path, name);

    platform::File file;
    if (!file.openRead(path)) {
        findings.problem(name + ": cannot be opened: slot " + std::to_string(slot) + " runs with the built-in rules");
        return;
    }
    const std::vector<data::ServerKeyRanges> ranges = data::serverConfigRanges();
    const std::vector<std::string_view> known = data::serverConfigKeys();
    data::ConfigLineReader reader(file);
    data::ConfigLine line;
    data::ConfigTokens<data::kServerConfigTokens + 1> tokens;
    data::PitWindows windows;
    int settings = 0;
    int endLine = 0;
    std::vector<std::string> afterEnd;
    while (reader.next(line)) {
        data::splitConfigLine(line.c_str(), tokens.token.data(), data::kServerConfigTokens,
                              data::kServerConfigTokenLength);
        const std::string key = tokens.token[0].str();
        const std::string where = at(name, reader.editorLine());
        if (key.empty()) continue;
        if (endLine != 0) {
            afterEnd.push_back(key + " (line " + std::to_string(reader.editorLine()) + ")");
            continue;
        }
        if (key == "end") {
            endLine = reader.editorLine();
            continue;
        }
        bool isKnown = false;
        for (std::string_view k : known) isKnown = isKnown || k == key;
        if (!isKnown) {
            findings.problem(where + "unknown key " + quoted(key) + ": the program says so and ignores the line");
            continue;
        }
        ++settings;
        if (key == "pitmissedpen") {
            const std::string command = tokens.token[1].str();
            if (command.size() > data::kPitPenaltyMax) {
                findings.problem(where + "pitmissedpen is " + std::to_string(command.size()) +
                                 " characters long; the program keeps the first " +
                                 std::to_string(data::kPitPenaltyMax) + ": " +
                                 quoted(command.substr(0, data::kPitPenaltyMax)));
            }
            continue;
        }
        if (key == "pitwindow") {
            const std::int32_t from = data::decimalValue(tokens.token[1].c_str());
            const std::int32_t to = data::decimalValue(tokens.token[2].c_str());
            const int before = windows.count;
            if (!windows.add(from, to)) {
                findings.problem(where + "pitwindow " + std::to_string(from) + " " + std::to_string(to) +
                                 " is refused (\"mismatched pitwindow\"): windows must run from a lap to a later "
                                 "or equal one, each starting no earlier than the one before ends, 10 at most");
            } else if (before == 0 && windows.from[0] != from) {
                findings.problem(where + "the first pit window opens at lap " + std::to_string(windows.from[0]) +
                                 " at the earliest: " + std::to_string(from) + " is raised to " +
                                 std::to_string(windows.from[0]));
            }
            continue;
        }
        for (const data::ServerKeyRanges& r : ranges) {
            if (r.key != key) continue;
            for (std::size_t i = 0; i < r.values.size(); ++i) {
                const std::string text = tokens.token[i + 1].str();
                const std::int32_t v = data::decimalValue(text.c_str());
                const data::ValueRange& range = r.values[i];
                const std::int32_t kept = v < range.min ? range.min : (v > range.max ? range.max : v);
                const std::string what = r.values.size() == 1 ? key : key + " value " + std::to_string(i + 1);
                if (!isNumber(text)) {
                    findings.problem(where + what + (text.empty() ? " is missing" : " " + quoted(text) + " is no number") +
                                     ": the program reads " + std::to_string(kept) + " (range " + rangeText(range) + ")");
                } else if (kept != v) {
                    findings.problem(where + what + " " + std::to_string(v) + " is clamped to " +
                                     std::to_string(kept) + " (range " + rangeText(range) + ")");
                }
            }
        }
    }
    if (reader.exceeded()) {
        findings.problem(name + ": grew larger than " + std::to_string(data::kConfigFileMax) +
                         " bytes while read: the program ignores it");
        return;
    }
    if (!afterEnd.empty()) {
        findings.problem(at(name, endLine) + "\"end\" stops the reading, so these lines are never read: " +
                         joined(afterEnd));
    }
    findings.info(name + ": " + plural(settings, "setting", "settings") + ", " +
                  plural(windows.count, "pit window", "pit windows"));
}

// ---- languages ----------------------------------------------------------------

class LanguageFindings : public data::LanguageReadObserver {
public:
    void lineSet(int index, int) override { set[static_cast<std::size_t>(index)] = true; }
    void missingQuote(int line) override { missingQuotes.push_back(line); }
    void overfull(std::size_t block, int line) override { overfulls.push_back({block, line}); }
    void stoppedAtNul(int line) override { nulLine = line; }

    std::array<bool, data::kLanguageLines> set{};
    std::vector<int> missingQuotes;
    std::vector<std::pair<std::size_t, int>> overfulls;
    int nulLine = 0;
};

std::string blockName(std::size_t block) { return data::kLanguageBlocks[block].key; }

void reportLanguageFile(Findings& findings, const std::string& shown, const LanguageFindings& seen) {
    for (int line : seen.missingQuotes) {
        findings.problem(at(shown, line) + "missing second '\"': the text runs to the end of the line");
    }
    for (const auto& [block, line] : seen.overfulls) {
        const data::LanguageBlock& b = data::kLanguageBlocks[block];
        findings.problem(at(shown, line) + "the " + blockName(block) + " block holds " + std::to_string(b.lines) +
                         " lines; this one is too many and overwrites the block's last line");
    }
    if (seen.nulLine != 0) {
        findings.problem(at(shown, seen.nulLine) + "a NUL byte ends the reading: the rest of the file is never read");
    }
}

struct LoadedLanguage {
    std::string file;
    LanguageFindings seen;
};

void checkLanguages(Findings& findings, const std::string& directory, const std::string& shownDirectory) {
    const std::string folder = directory.substr(0, directory.size() - 1);
    if (platform::fileStatus(folder).kind != platform::FileKind::Other) {
        findings.problem(shownDirectory + ": no languages folder: the program needs " + shownDirectory +
                         "__MASTER.lng and ends (\"Couldnt read!!!  Terminating.\")");
        return;
    }
    NullConsole quiet;
    data::LanguageTable table(quiet);
    std::vector<LoadedLanguage> loaded;
    const std::string master = "__MASTER.lng";
    if (platform::fileStatus(directory + master).kind != platform::FileKind::Regular) {
        findings.problem(shownDirectory + master + ": missing: the program ends (\"Couldnt read!!!  Terminating.\")");
        return;
    }
    loaded.push_back({master, {}});
    if (table.loadFile(directory, master, &loaded.back().seen) != 0) {
        findings.problem(shownDirectory + master + ": cannot be opened: the program ends");
        return;
    }
    std::vector<std::string> names;
    platform::listDirectory(folder, "*.lng", names);
    for (const std::string& name : names) {
        if (name == master) continue;
        if (table.count() >= data::kMaxLanguages) {
            findings.problem(shownDirectory + name + ": not loaded: the program reads " +
                             std::to_string(data::kMaxLanguages) + " languages at most");
            continue;
        }
        LoadedLanguage next{name, {}};
        if (table.loadFile(directory, name, &next.seen) != 0) {
            findings.problem(shownDirectory + name + ": cannot be opened: the program skips it");
            continue;
        }
        loaded.push_back(std::move(next));
    }

    const LanguageFindings& masterSeen = loaded.front().seen;
    std::map<std::string, std::string> codeOwner;
    std::vector<std::string> summary;
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        const std::string shown = shownDirectory + loaded[i].file;
        const LanguageFindings& seen = loaded[i].seen;
        checkLineEnds(findings, directory + loaded[i].file, shown);
        reportLanguageFile(findings, shown, seen);

        const std::string code = table.language(static_cast<int>(i))->code();
        if (code.empty()) {
            findings.problem(shown + ": no language code (the first line of the (cr) block): players cannot choose "
                                     "this language");
        } else if (const auto owner = codeOwner.find(code); owner != codeOwner.end()) {
            findings.problem(shown + ": language code " + quoted(code) + " is already that of " + owner->second +
                             (seen.set[0] ? "" : " (this file gives no code, so it keeps the master's)") +
                             ": the program never chooses this file's language (codes are cut to 3 characters)");
        } else {
            codeOwner[code] = loaded[i].file;
        }
        summary.push_back((code.empty() ? std::string("(no code)") : code) + " (" + loaded[i].file + ")");

        if (i == 0) continue;
        std::vector<std::string> gaps;
        for (std::size_t b = 0; b < data::kLanguageBlocks.size(); ++b) {
            const data::LanguageBlock& block = data::kLanguageBlocks[b];
            int missing = 0;
            for (int l = block.first; l < block.first + block.lines; ++l) {
                const auto at = static_cast<std::size_t>(l);
                if (masterSeen.set[at] && !seen.set[at]) ++missing;
            }
            if (missing > 0) gaps.push_back(blockName(b) + " " + std::to_string(missing));
        }
        if (!gaps.empty()) {
            findings.note(shown + ": lines the master has and this file lacks, per block: " + joined(gaps) +
                          "; the program shows the master's text there");
        }
    }
    findings.info("languages: " + plural(static_cast<std::int64_t>(loaded.size()), "file", "files") + ": " +
                  joined(summary));
}

// ---- tmx_db.rdb ---------------------------------------------------------------

// Reads a file front to back in large blocks, without keeping it.
class ByteStream {
public:
    explicit ByteStream(platform::File& file) : file_(file) {}
    // Copies n bytes into out (or skips them when out is null); false at the
    // end of the file before n bytes.
    bool take(std::uint8_t* out, std::uint64_t n) {
        while (n > 0) {
            if (pos_ == len_ && !refill()) return false;
            const std::uint64_t here = std::min<std::uint64_t>(n, len_ - pos_);
            if (out) {
                std::copy(buf_.begin() + static_cast<std::ptrdiff_t>(pos_),
                          buf_.begin() + static_cast<std::ptrdiff_t>(pos_ + here), out);
                out += here;
            }
            pos_ += static_cast<std::size_t>(here);
            n -= here;
        }
        return true;
    }
    // Bytes left after the ones taken.
    std::uint64_t rest() {
        std::uint64_t n = len_ - pos_;
        pos_ = len_;
        while (refill()) {
            n += len_;
            pos_ = len_;
        }
        return n;
    }

private:
    bool refill() {
        const int n = file_.read(buf_.data(), static_cast<int>(buf_.size()));
        if (n <= 0) return false;
        len_ = static_cast<std::size_t>(n);
        pos_ = 0;
        return true;
    }
    platform::File& file_;
    std::vector<std::uint8_t> buf_ = std::vector<std::uint8_t>(1 << 16);
    std::size_t len_ = 0;
    std::size_t pos_ = 0;
};

std::int32_t int32At(const std::uint8_t* p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void checkDatabase(Findings& findings, const std::string& path) {
    const std::string name = data::kDatabaseFile;
    const platform::FileStatus status = platform::fileStatus(path);
    if (status.kind == platform::FileKind::Missing) {
        findings.info("database: " + name + " not there: fine on a first run; the program starts with no players "
                      "and writes it when it saves");
        return;
    }
    platform::File file;
    if (status.kind != platform::FileKind::Regular || !file.openRead(path)) {
        findings.problem(name + ": cannot be read: the program starts with no players");
        return;
    }
    const std::string replaced = " the program starts with no players, and its first save replaces the file (the old one "
                                 "is kept as " + name + ".bak only until the save after)";
    ByteStream in(file);
    std::uint8_t word[4];
    if (!in.take(word, 4)) {
        findings.problem(name + ": too short to hold a version (\"Wrong DB-Version\"):" + replaced);
        return;
    }
    const std::int32_t version = int32At(word);
    if (version != data::kDatabaseVersion) {
        findings.problem(name + ": version " + std::to_string(version) + ", the program reads version " +
                         std::to_string(data::kDatabaseVersion) + " only (\"Wrong DB-Version\"):" + replaced);
        return;
    }
    if (!in.take(word, 4)) {
        findings.problem(name + ": ends before the player count (\"Error while reading database\"):" + replaced);
        return;
    }
    const std::int32_t count = int32At(word);
    if (count < 0) {
        findings.problem(name + ": the player count is negative (" + std::to_string(count) +
                         "): the program reads no player from it, and its first save replaces the file");
        return;
    }
    std::array<std::uint8_t, data::kEntryBytes + 4> head{};
    std::int64_t whole = 0;
    std::int64_t records = 0;
    for (; whole < count; ++whole) {
        if (!in.take(head.data(), head.size())) break;
        const std::int32_t combos = int32At(head.data() + data::kEntryBytes);
        if (combos > 0 && !in.take(nullptr, static_cast<std::uint64_t>(combos) * data::kCombinationBytes)) break;
        if (combos > 0) records += combos;
    }
    findings.info("database: version " + std::to_string(version) + ", " + plural(count, "player", "players") +
                  ", " + plural(records, "combination record", "combination records") +
                  (whole < count ? " in the entries read whole" : ""));
    if (whole < count) {
        findings.problem(name + ": the file ends inside player entry " + std::to_string(whole + 1) + " of " +
                         std::to_string(count) + " (\"Error while reading database\"): the program keeps the " +
                         plural(whole, "entry", "entries") +
                         " read whole, makes no start backup, and its next save writes only those, so " +
                         plural(count - whole, "player is", "players are") + " lost");
        return;
    }
    const std::uint64_t extra = in.rest();
    if (extra > 0) {
        findings.problem(name + ": " + plural(static_cast<std::int64_t>(extra), "byte", "bytes") +
                         " after the last of the " + std::to_string(count) +
                         " entries are never read, and the next save drops them");
    }
}

}  // namespace

int CheckConfiguration(const std::string& dir, Console& console) {
    auto path = [&](const std::string& name) { return dir.empty() ? name : platform::joinPath(dir, name); };
    Findings findings(console);
    findings.info("Checking the configuration in " + (dir.empty() ? std::string(".") : dir));

    data::ServerTable servers;
    checkGeneralConfig(findings, path(data::kGeneralConfigFile), servers);
    for (int slot = 0; slot < data::kMaxServers; ++slot) {
        if (servers[static_cast<std::size_t>(slot)].used == 1)
            checkServerConfig(findings, path(data::serverConfigName(slot)), slot);
    }
    checkLanguages(findings, path(platform::languageDirectory()), platform::languageDirectory());
    checkDatabase(findings, path(data::kDatabaseFile));

    const std::string notes =
        findings.notes() == 0 ? std::string() : " (" + plural(findings.notes(), "note", "notes") + " above)";
    if (findings.problems() == 0) {
        findings.info("All is well: the program will read these files as they are meant" + notes + ".");
        return 0;
    }
    findings.info(plural(findings.problems(), "problem", "problems") + " found" + notes + ".");
    return 1;
}

}  // namespace tmx
