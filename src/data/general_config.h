// tmx_server.cfg: which LFS servers to control and how to reach them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

// Reads the file at path into the table: clears every used flag first (other
// fields keep their values, so omitted keys keep their defaults), then applies
// the file's lines. usedCount receives the number of used slots.
// Returns 0 when the file was read to its end, -1 when it cannot be opened.
int readGeneralConfig(const std::string& path, ServerTable& servers, int& usedCount,
                      Console& console);

}  // namespace tmx::data
