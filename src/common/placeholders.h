// Texts that take values: a language line marks each value's place with "%%".
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tmx {

// The line with its n-th "%%" replaced by the n-th value. Every placeholder is
// looked for in the line alone, in one pass, so a value that itself contains
// "%%" (a nickname, say) is put in as it is and never receives a later value.
// A null value leaves its placeholder as it is; placeholders beyond the last
// value stay too.
inline std::string fillPlaceholders(std::string_view line, std::initializer_list<const char*> values) {
    constexpr std::string_view kMark = "%%";
    std::string filled;
    filled.reserve(line.size());
    std::size_t from = 0;
    for (const char* value : values) {
        const std::size_t at = line.find(kMark, from);
        if (at == std::string_view::npos) break;
        filled.append(line.substr(from, at - from));
        filled.append(value ? std::string_view(value) : kMark);
        from = at + kMark.size();
    }
    filled.append(line.substr(from));
    return filled;
}

}  // namespace tmx
