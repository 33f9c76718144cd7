#include "data/general_config.h"

#include "data/config_reader.h"
#include "platform/files.h"

namespace tmx::data {

int readGeneralConfig(const std::string& path, ServerTable& servers, int& usedCount,
                      Console& console) {
    return readGeneralConfig(path, servers, usedCount, console, GeneralConfigObserver());
}

int readGeneralConfig(const std::string& path, ServerTable& servers, int& usedCount,
                      Console& console, const GeneralConfigObserver& observe) {
    for (auto& s : servers) s.used = 0;
    usedCount = 0;

    console.out("\nMCP: Reading general serverconfig from disk ");
    platform::File file;
    if (!file.openRead(path)) {
        console.out("\nCouldn't open serverconfig \"tmx_server.cfg\" ");
        return -1;
    }

    ConfigLineReader reader(file);
    ConfigLine line;
    ConfigTokens<kGeneralConfigTokens> tokens;
    int slot = 0;
    while (reader.next(line)) {
        splitConfigLine(line.c_str(), tokens, kGeneralConfigTokenLength);
        const auto& key = tokens.token[0];
        const char* value = tokens.token[1].c_str();
        ServerEntry& entry = servers[static_cast<std::size_t>(slot)];
        GeneralConfigLine seen;
        seen.line = reader.editorLine();
        seen.key = key.view();
        seen.value = tokens.token[1].view();
        seen.slot = slot;
        seen.kind = key.empty() ? GeneralConfigLine::Kind::Blank : GeneralConfigLine::Kind::Key;

        if (key == "end") {
            seen.kind = GeneralConfigLine::Kind::End;
            if (observe) observe(seen);
            break;
        }
        if (isSlotSelector(key.view())) {
            const char first[2] = {key.c_str()[0], '\0'};
            int selected = decimalValue(first);
            seen.kind = GeneralConfigLine::Kind::Selector;
            seen.selected = selected;
            if (selected < 0 || selected >= kMaxServers) {
                console.out("\nfound server %d. Tmx is supporting 0-7 servers. Server set to 0:",
                            selected);
                selected = 0;
            }
            slot = selected;
            seen.slot = slot;
        } else if (key == "ip") {
            entry.ip.assign(value);
            entry.used = 1;
        } else if (key == "port") {
            entry.port.assign(value);
            entry.used = 1;
        } else if (key == "passw") {
            entry.passw.assign(value);
            entry.used = 1;
        } else if (key == "skill") {
            entry.skill.assign(value);
            entry.used = 1;
        } else if (key == "nstext") {
            entry.nstext.assign(value);
            entry.used = 1;
        } else if (key == "mode") {
            const char first[2] = {value[0], '\0'};
            entry.mode = decimalValue(first);
            entry.used = 1;
        } else if (!key.empty()) {
            seen.kind = GeneralConfigLine::Kind::Unknown;
        }
        if (observe) observe(seen);
    }
    file.close();

    for (const auto& s : servers) usedCount += s.used;
    console.out("\n     Serverconfigs done. Got %d servers to start\n", usedCount);
    return 0;
}

}  // namespace tmx::data
