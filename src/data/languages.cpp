#include "data/languages.h"

#include <cstring>
#include <new>

#include "data/config_reader.h"
#include "platform/files.h"

namespace tmx::data {

const std::array<LanguageBlock, 9> kLanguageBlocks = {{
    {"(cr)", 0, 8, "\n        creator-block to many lines -> "},
    {"tmxm", 8, 72, "\n        tmx-block to many lines -> "},
    {"team", 80, 128, "\n        team-block to many lines -> "},
    {"orga", 208, 64, "\n        orga-block to many lines -> "},
    {"time", 272, 16, "\n        time-block to many lines -> "},
    {"pace", 288, 16, "\n        pace-block to many lines -> "},
    {"safe", 304, 24, "\n        safe-block to many lines -> "},
    {"trac", 328, 16, "\n        trac-block to many lines -> "},
    {"even", 344, 32, "\n        even-block to many lines -> "},
}};

const LanguageText& cl_Language::text(LanguageBlockId block, int line) const {
    const LanguageBlock& b = kLanguageBlocks[static_cast<std::size_t>(block)];
    if (line < 0) line = 0;
    if (line >= b.lines) line = b.lines - 1;
    return lines[static_cast<std::size_t>(b.first + line)];
}

const cl_Language* LanguageTable::language(int index) const {
    if (index < 0 || index >= count()) return nullptr;
    return languages_[static_cast<std::size_t>(index)].get();
}

int LanguageTable::find(const char* code) const {
    if (!code) return -1;
    for (int i = 0; i < count(); ++i) {
        if (std::strcmp(languages_[static_cast<std::size_t>(i)]->code(), code) == 0) return i;
    }
    return -1;
}

int LanguageTable::loadAll(const std::string& directory) {
    console_.out("\nMCP: Reading master-languagefile  --");
    if (loadFile(directory, "__MASTER.lng") != 0) {
        console_.out("Couldnt read!!!  Terminating.");
        return -1;
    }
    console_.out("\nMCP: Reading languagefiles from disk ");
    std::vector<std::string> names;
    std::string dir = directory.empty() ? std::string(".") : directory;
    if (!platform::listDirectory(dir, "*.lng", names) || names.empty()) {
        console_.out("\nMCP: Critical error. Didn't find the languagefiles.\n");
        console_.out("     need the files in \"languages\\\", ending with .lng\n");
        console_.out("     Terminating.\n");
        return -1;
    }
    for (const std::string& name : names) {
        if (name == "__MASTER.lng") continue;
        console_.out("\n     found: %s \t\t-> loading -> ", name.c_str());
        loadFile(directory, name);
    }
    return count();
}

int LanguageTable::loadFile(const std::string& directory, const std::string& name,
                            LanguageReadObserver* observer) {
    if (count() >= kMaxLanguages) {
        console_.out("\n     error, to many files in directory. reading stopped.");
        return -1;
    }
    std::unique_ptr<cl_Language> lang(new (std::nothrow) cl_Language());
    if (!lang) {
        console_.out("\n     error, coudlnt get memory for languagefile!?!?");
        return -1;
    }
    // Every later language starts as a copy of the master, so a line its file
    // leaves out shows the master's text.
    if (!languages_.empty()) lang->lines = languages_.front()->lines;

    platform::File file;
    if (!file.openRead(directory + name)) {
        console_.out("\n     error, Couldn't open languagefile!?!?");
        return -1;
    }

    std::size_t block = LB_CREATOR;
    int index = 0;
    int lineNumber = 0;
    std::array<char, kLanguageLineKeep + 1> line{};
    std::array<std::uint8_t, 4096> chunk{};
    int chunkLen = 0, chunkPos = 0;
    bool endOfFile = false;
    // Editor line numbers, for the observer only.
    EditorLines editor;
    int editorLine = 1;
    bool lineStarted = false;

    auto processLine = [&](const char* text, std::size_t len) {
        ++lineNumber;
        if (len > 0 && text[0] == '<') {
            char key[5] = {0, 0, 0, 0, 0};
            for (std::size_t k = 0; k < 4 && 1 + k < len; ++k) key[k] = text[1 + k];
            for (std::size_t b = 0; b < kLanguageBlocks.size(); ++b) {
                if (std::strcmp(key, kLanguageBlocks[b].key) == 0) {
                    block = b;
                    index = 0;
                    return;
                }
            }
        }
        const char* first = static_cast<const char*>(std::memchr(text, '"', len));
        if (!first) return;
        const char* last = first;
        for (const char* p = text + len - 1; p > first; --p) {
            if (*p == '"') {
                last = p;
                break;
            }
        }
        std::string_view content;
        if (last == first) {
            console_.out("\n\t\tmissing 2nd '\"' in line %d -> ", lineNumber);
            if (observer) observer->missingQuote(editorLine);
            content = std::string_view(first + 1, static_cast<std::size_t>(text + len - (first + 1)));
        } else {
            content = std::string_view(first + 1, static_cast<std::size_t>(last - (first + 1)));
        }
        if (content.empty()) return;
        const LanguageBlock& b = kLanguageBlocks[block];
        int slotIndex = index;
        if (index >= b.lines) {
            console_.out("%s", b.overfullMessage);
            if (observer) observer->overfull(block, editorLine);
            slotIndex = b.lines - 1;
        } else {
            ++index;
        }
        lang->lines[static_cast<std::size_t>(b.first + slotIndex)].assign(content);
        if (observer) observer->lineSet(b.first + slotIndex, editorLine);
    };

    std::size_t len = 0;
    bool stop = false;
    while (!stop) {
        if (chunkPos >= chunkLen) {
            int n = endOfFile ? 0 : file.read(chunk.data(), static_cast<int>(chunk.size()));
            if (n <= 0) {
                endOfFile = true;
                stop = true;
                break;
            }
            chunkLen = n;
            chunkPos = 0;
        }
        char c = static_cast<char>(chunk[static_cast<std::size_t>(chunkPos++)]);
        if (!lineStarted && c != '\n') {
            editorLine = editor.line();
            lineStarted = true;
        }
        editor.feed(static_cast<unsigned char>(c));
        if (c == '\n') continue;
        if (c == '\r' || c == '\0') {
            line[len] = '\0';
            processLine(line.data(), len);
            lineStarted = false;
            len = 0;
            if (c == '\0') {
                stop = true;
                if (observer) observer->stoppedAtNul(editorLine);
            }
            continue;
        }
        if (len < kLanguageLineKeep) line[len++] = c;
    }
    if (endOfFile && len > 0) {
        line[len] = '\0';
        processLine(line.data(), len);
    }
    file.close();

    console_.out(" Done");
    lang->lines[0].truncate(3);
    languages_.push_back(std::move(lang));
    return 0;
}

}  // namespace tmx::data
