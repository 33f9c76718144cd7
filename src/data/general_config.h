// tmx_server.cfg: which LFS servers to control and how to reach them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/console.h"
#include "common/fixed_string.h"

namespace tmx::data {

constexpr int kMaxServers = 8;
constexpr const char* kGeneralConfigFile = "tmx_server.cfg";

// One server slot of tmx_server.cfg, with the defaults it has before reading.
struct ServerEntry {
    std::uint8_t used = 0;
    FixedString<20> ip{"127.0.0.1"};
    FixedString<8> port{"29999"};
    FixedString<64> passw{""};
    FixedString<10> skill{"0"};
    FixedString<64> nstext{"^7Sorry, your skill is to low"};
    std::int32_t mode = 0;
};

using ServerTable = std::array<ServerEntry, kMaxServers>;

// The keys of a slot block, then "end", which stops the reading ("N:"
// selectors are not keys).
constexpr std::array<const char*, 7> kGeneralConfigKeys{"ip", "port", "passw", "skill", "nstext", "mode", "end"};

// How the reader splits a line: a key and its value (further tokens are read
// but unused), each shorter than the length given.
constexpr std::size_t kGeneralConfigTokens = 4;
constexpr std::size_t kGeneralConfigTokenLength = 255;

// A slot selector is any first token whose second character is ':'; only its
// first character names the slot.
inline bool isSlotSelector(std::string_view key) { return key.size() >= 2 && key[1] == ':'; }

// What the reader did with one line, for a caller that explains it (the texts
// are valid during the call only).
struct GeneralConfigLine {
    enum class Kind { Blank, Selector, Key, Unknown, End };
    Kind kind = Kind::Blank;
    int line = 0;            // the editor line the line starts on
    std::string_view key;    // first token
    std::string_view value;  // second token
    int slot = 0;            // the slot selected (Selector) or written (Key)
    int selected = 0;        // Selector: the number its first character reads as
};
using GeneralConfigObserver = std::function<void(const GeneralConfigLine&)>;

// Reads the file at path into the table: clears every used flag first (other
// fields keep their values, so omitted keys keep their defaults), then applies
// the file's lines. usedCount receives the number of used slots.
// Returns 0 when the file was read to its end, -1 when it cannot be opened.
int readGeneralConfig(const std::string& path, ServerTable& servers, int& usedCount,
                      Console& console);
// The same, telling observe about every line read.
int readGeneralConfig(const std::string& path, ServerTable& servers, int& usedCount,
                      Console& console, const GeneralConfigObserver& observe);

}  // namespace tmx::data
